// The programmer firmware image: any bytes a user may choose for an update.
#include <span>

#include "emu/firmware.h"
#include "fuzz/fuzz_support.h"

KT_FUZZ_TARGET(data, size) {
    namespace emu = kt62::emu;
    emu::FirmwareImage image;
    const std::int32_t r = emu::ParseFirmwareImage(std::span(data, size), image);
    if (r != KT62_OK) {
        KT_FUZZ_CHECK(r == KT62_E_FW_FORMAT || r == KT62_E_FW_TRUNCATED || r == KT62_E_FW_CRC ||
                      r == KT62_E_FW_MODEL);
        return;
    }
    // An accepted image is what the builder makes of its version and payload, byte for byte, but
    // for the reserved bytes (31, 40-43), which the check leaves to later formats.
    KT_FUZZ_CHECK(!image.payload.empty() && image.payload.size() <= emu::kMaxFirmwarePayload);
    KT_FUZZ_CHECK(emu::Crc32(image.payload) == image.payload_crc);
    emu::ImageRecipe recipe;
    recipe.version = image.version;
    recipe.payload = image.payload;
    std::string why;
    const auto rebuilt = emu::BuildFirmwareImage(recipe, why);
    KT_FUZZ_CHECK(rebuilt && rebuilt->size() == size);
    for (std::size_t i = 0; i < size; ++i) {
        const bool reserved = i == 31 || (i >= 40 && i < 44);
        const bool header_crc = i >= 44 && i < 48;  // covers the reserved bytes
        KT_FUZZ_CHECK(reserved || header_crc || (*rebuilt)[i] == data[i]);
    }
}
