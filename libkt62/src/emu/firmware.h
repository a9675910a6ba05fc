// Programmer firmware images: the file format kt62Update accepts and kt62emu builds.
//
// An image is a 48-byte header followed by the payload. Multi-byte fields are little-endian.
//
//   offset size  field
//    0      8    magic "KT62FWIM"
//    8      2    format, 1
//   10      2    header size, 48
//   12     16    target model, ASCII, zero-padded ("KT6200")
//   28      3    firmware version: major, minor, patch
//   31      1    reserved, 0
//   32      4    payload length in bytes, 1 .. kMaxFirmwarePayload
//   36      4    CRC-32 of the payload
//   40      4    reserved, 0
//   44      4    CRC-32 of header bytes 0..43
//   48      ...  payload, exactly `payload length` bytes, nothing after it
//
// CRC-32 is the common reflected one (polynomial 0xEDB88320, initial and final value all ones),
// so standard tools can check an image.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <kt62/apiKT6200.h>

namespace kt62::emu {

using FirmwareVersion = std::array<uint8_t, 3>;

inline constexpr char kFirmwareMagic[8] = {'K', 'T', '6', '2', 'F', 'W', 'I', 'M'};
inline constexpr uint16_t kFirmwareFormat = 1;
inline constexpr size_t kFirmwareHeaderSize = 48;
inline constexpr size_t kFirmwareModelSize = 16;
inline constexpr const char* kFirmwareModel = "KT6200";
// Larger than any real programmer's flash; bounds what a hostile header can make us read.
inline constexpr uint32_t kMaxFirmwarePayload = 16u << 20;

uint32_t Crc32(std::span<const uint8_t> bytes, uint32_t crc = 0);

struct FirmwareImage {
    FirmwareVersion version{};
    std::vector<uint8_t> payload;
    uint32_t payload_crc = 0;
};

// Checks a whole image file's bytes. KT62_OK and `out` filled, or the KT62_E_FW_* code of the
// first fault: KT62_E_FW_FORMAT (bad magic, format, header size, payload length, or bytes after
// the payload), KT62_E_FW_TRUNCATED (fewer bytes than the header or its length promise; an empty
// file counts here), KT62_E_FW_CRC (header or payload checksum), KT62_E_FW_MODEL.
int32_t ParseFirmwareImage(std::span<const uint8_t> bytes, FirmwareImage& out);

// Reads and checks an image file: KT62_E_FW_MISSING when it cannot be opened or read or is not
// a regular file, else as ParseFirmwareImage. Reads at most one byte past what the header
// promises, whatever the file's size.
int32_t ReadFirmwareImage(const std::filesystem::path& file, FirmwareImage& out);

// A zero-terminated UTF-16 path as the file system's (UTF-8) path. Empty for an empty text or
// one with an unpaired surrogate: no file name can match it.
std::optional<std::filesystem::path> PathFromUtf16(const kt62_char16* text);

// What kt62emu can build: good images and, for tests, deliberately broken ones.
struct ImageRecipe {
    FirmwareVersion version{};
    std::vector<uint8_t> payload;
    std::string model = kFirmwareModel;  // at most kFirmwareModelSize bytes
    bool bad_magic = false;
    bool bad_payload_crc = false;  // the stored checksum does not fit the payload
    bool bad_header_crc = false;
    size_t truncate_by = 0;  // bytes cut off the end
};

// The image bytes; nullopt (with `why`) when the recipe cannot be built (model too long, payload
// empty or too large, more cut than there are bytes).
std::optional<std::vector<uint8_t>> BuildFirmwareImage(const ImageRecipe& recipe, std::string& why);

std::string VersionText(const FirmwareVersion& v);
// "1.2.3" -> {1, 2, 3}; nullopt unless three numbers 0-255 separated by dots.
std::optional<FirmwareVersion> ParseVersionText(const std::string& text);

}  // namespace kt62::emu
