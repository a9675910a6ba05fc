#include "emu/firmware.h"

#include "diag.h"
#include "encoding/utf16.h"
#include "fileio/file_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

namespace kt62::emu {
namespace {

constexpr std::array<uint32_t, 256> MakeCrcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}
constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

// Field offsets of the header.
constexpr size_t kOffFormat = 8;
constexpr size_t kOffHeaderSize = 10;
constexpr size_t kOffModel = 12;
constexpr size_t kOffVersion = 28;
constexpr size_t kOffLength = 32;
constexpr size_t kOffPayloadCrc = 36;
constexpr size_t kOffHeaderCrc = 44;

uint16_t Get16(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
uint32_t Get32(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
           static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

std::array<uint8_t, kFirmwareModelSize> ModelField(const std::string& model) {
    std::array<uint8_t, kFirmwareModelSize> field{};
    std::memcpy(field.data(), model.data(), std::min(model.size(), field.size()));
    return field;
}

}  // namespace

uint32_t Crc32(std::span<const uint8_t> bytes, uint32_t crc) {
    crc = ~crc;
    for (uint8_t b : bytes) crc = kCrcTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

int32_t ParseFirmwareImage(std::span<const uint8_t> bytes, FirmwareImage& out) {
    const size_t magic_seen = std::min(bytes.size(), sizeof kFirmwareMagic);
    // A file too short for its header is a truncated image only when what it has is the magic's start.
    if (!std::equal(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(magic_seen), kFirmwareMagic))
        return KT62_E_FW_FORMAT;
    if (bytes.size() < kFirmwareHeaderSize) return KT62_E_FW_TRUNCATED;
    if (Get16(bytes, kOffFormat) != kFirmwareFormat || Get16(bytes, kOffHeaderSize) != kFirmwareHeaderSize)
        return KT62_E_FW_FORMAT;
    if (Crc32(bytes.first(kOffHeaderCrc)) != Get32(bytes, kOffHeaderCrc)) return KT62_E_FW_CRC;
    const auto want_model = ModelField(kFirmwareModel);
    if (std::memcmp(bytes.data() + kOffModel, want_model.data(), want_model.size()) != 0)
        return KT62_E_FW_MODEL;
    const uint32_t length = Get32(bytes, kOffLength);
    if (length == 0 || length > kMaxFirmwarePayload) return KT62_E_FW_FORMAT;
    const size_t total = kFirmwareHeaderSize + length;
    if (bytes.size() < total) return KT62_E_FW_TRUNCATED;
    if (bytes.size() > total) return KT62_E_FW_FORMAT;
    const std::span<const uint8_t> payload = bytes.subspan(kFirmwareHeaderSize);
    const uint32_t crc = Get32(bytes, kOffPayloadCrc);
    if (Crc32(payload) != crc) return KT62_E_FW_CRC;
    out.version = {bytes[kOffVersion], bytes[kOffVersion + 1], bytes[kOffVersion + 2]};
    out.payload.assign(payload.begin(), payload.end());
    out.payload_crc = crc;
    return KT62_OK;
}

int32_t ReadFirmwareImage(const std::filesystem::path& file, FirmwareImage& out) {
    // A FIFO, a device or a folder is no image: refused without blocking.
    std::string why;
    kt::fileio::File f = kt::fileio::OpenForReading(file.string(), why);
    if (!f.IsOpen()) {
        Complain(file.string() + ": " + why);
        return KT62_E_FW_MISSING;
    }
    // The header first; then no more than its length promises plus one byte, which is enough to
    // tell an image with trailing bytes from a good one.
    std::vector<uint8_t> bytes(kFirmwareHeaderSize);
    std::size_t got = 0;
    int error = kt::fileio::ReadAllAt(f.Get(), bytes.data(), bytes.size(), 0, got);
    const uint32_t length = got == kFirmwareHeaderSize ? Get32(bytes, kOffLength) : 0;
    if (error == 0 && length > 0 && length <= kMaxFirmwarePayload) {
        bytes.resize(kFirmwareHeaderSize + length + 1);
        std::size_t more = 0;
        error = kt::fileio::ReadAllAt(f.Get(), bytes.data() + kFirmwareHeaderSize, length + 1,
                                      kFirmwareHeaderSize, more);
        got += more;
    }
    if (error != 0) return KT62_E_FW_MISSING;
    bytes.resize(got);
    return ParseFirmwareImage(bytes, out);
}

std::optional<std::filesystem::path> PathFromUtf16(const kt62_char16* text) {
    const std::optional<std::string> path = kt::Utf16ToUtf8(text, kt::Unpaired::Refuse);
    if (!path || path->empty()) return std::nullopt;
    return std::filesystem::path(*path);
}

std::optional<std::vector<uint8_t>> BuildFirmwareImage(const ImageRecipe& r, std::string& why) {
    if (r.model.size() > kFirmwareModelSize) {
        why = "model name longer than " + std::to_string(kFirmwareModelSize) + " bytes";
        return std::nullopt;
    }
    if (r.payload.empty() || r.payload.size() > kMaxFirmwarePayload) {
        why = "payload must hold 1 to " + std::to_string(kMaxFirmwarePayload) + " bytes, not " +
              std::to_string(r.payload.size());
        return std::nullopt;
    }
    std::vector<uint8_t> b(kFirmwareHeaderSize, 0);
    std::memcpy(b.data(), kFirmwareMagic, sizeof kFirmwareMagic);
    if (r.bad_magic) b[0] ^= 0x20;  // "kT62FWIM": close enough to look deliberate
    Put16(b, kOffFormat, kFirmwareFormat);
    Put16(b, kOffHeaderSize, kFirmwareHeaderSize);
    const auto model = ModelField(r.model);
    std::memcpy(b.data() + kOffModel, model.data(), model.size());
    std::memcpy(b.data() + kOffVersion, r.version.data(), r.version.size());
    Put32(b, kOffLength, static_cast<uint32_t>(r.payload.size()));
    uint32_t payload_crc = Crc32(r.payload);
    if (r.bad_payload_crc) payload_crc ^= 0x00000001u;
    Put32(b, kOffPayloadCrc, payload_crc);
    uint32_t header_crc = Crc32(std::span<const uint8_t>(b).first(kOffHeaderCrc));
    if (r.bad_header_crc) header_crc ^= 0x80000000u;
    Put32(b, kOffHeaderCrc, header_crc);
    b.insert(b.end(), r.payload.begin(), r.payload.end());
    if (r.truncate_by > b.size()) {
        why = "cannot cut " + std::to_string(r.truncate_by) + " bytes off an image of " +
              std::to_string(b.size());
        return std::nullopt;
    }
    b.resize(b.size() - r.truncate_by);
    return b;
}

std::string VersionText(const FirmwareVersion& v) {
    return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]);
}

std::optional<FirmwareVersion> ParseVersionText(const std::string& text) {
    FirmwareVersion v{};
    const char* p = text.data();
    const char* end = text.data() + text.size();
    for (size_t i = 0; i < v.size(); ++i) {
        if (i > 0) {
            if (p == end || *p != '.') return std::nullopt;
            ++p;
        }
        if (p == end || *p < '0' || *p > '9') return std::nullopt;
        unsigned n = 0;
        const auto [next, ec] = std::from_chars(p, end, n);
        if (ec != std::errc() || n > 255) return std::nullopt;
        v[i] = static_cast<uint8_t>(n);
        p = next;
    }
    if (p != end) return std::nullopt;
    return v;
}

}  // namespace kt62::emu
