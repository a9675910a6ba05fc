#include <span>

#include "emu/firmware.h"
#include "fuzz/fuzz_support.h"

KT_FUZZ_TARGET(data, size) {
    namespace emu = kt62::emu;
    emu::FirmwareImage image;
    const std::int32_t r = emu::ParseFirmwareImage(std::span(data, size), image);
    KT_FUZZ_CHECK(r == KT62_OK || r == KT62_E_FW_FORMAT || r == KT62_E_FW_TRUNCATED || r == KT62_E_FW_CRC ||
                  r == KT62_E_FW_MODEL);
    if (r != KT62_OK) return;
    // Accepted: what the builder makes of it, but for reserved bytes (31, 40-43) and the CRC (44-47).
    std::string why;
    const auto rebuilt = emu::BuildFirmwareImage({.version = image.version, .payload = image.payload}, why);
    KT_FUZZ_CHECK(rebuilt);
    KT_FUZZ_CHECK(rebuilt->size() == size);
    KT_FUZZ_CHECK(emu::Crc32(image.payload) == image.payload_crc);
    for (std::size_t i = 0; i < size; ++i)
        KT_FUZZ_CHECK(i == 31 || (i >= 40 && i < 48) || (*rebuilt)[i] == data[i]);
}
