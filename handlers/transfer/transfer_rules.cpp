#include "handlers/transfer/transfer_rules.h"

#include <system_error>

#include "common/text_format.h"

namespace kt {

std::optional<std::uint32_t> ParseDecimalField(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > UINT32_MAX) return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

bool RangeFits(std::uint32_t start, std::uint32_t count, std::uint32_t sectors) {
    return std::uint64_t{start} + count <= sectors;
}

std::uint32_t ChunkLimit(std::uint32_t sector_size) {
    if (sector_size == 0 || sector_size > kTransferBufferBytes) return 0;
    return kTransferBufferBytes / sector_size;
}

std::uint32_t ChunkMB(std::uint32_t n, std::uint32_t sector_size) {
    return static_cast<std::uint32_t>((std::uint64_t{n} * sector_size) >> 20);
}

int ProgressPermille(std::uint64_t done, std::uint64_t total) {
    if (total == 0 || done >= total) return 1000;
    // done < total <= 2^32, so done * 1000 stays far inside 64 bits.
    return static_cast<int>(done * 1000 / total);
}

std::string ProgressText(Direction direction, std::uint32_t remaining, int retries) {
    return Format(direction == Direction::Read ? "left %d sectors. \r\nRetried %d times."
                                               : "left %d sectors. \nRetried %d times.",
                  static_cast<int>(remaining), retries);
}

std::string DeviceFailureText(Direction direction, std::int32_t r, std::uint32_t sector, std::uint32_t left) {
    return Format(direction == Direction::Read ? "scsi read10 fail %d at sector:%d, left %d sectors."
                                               : "scsi write10 fail %d at sector:%d, left %d sectors.",
                  static_cast<int>(r), static_cast<int>(sector), static_cast<int>(left));
}

std::string FileFailureText(Direction direction, const std::string& path, std::uint32_t sector,
                            std::uint32_t left, int error) {
    const std::string reason = error == kShortFile
                                   ? std::string("the file is shorter than the range")
                                   : std::error_code(error, std::generic_category()).message();
    return Format(direction == Direction::Read ? "write file fail at sector:%d, left %d sectors. %s: %s"
                                               : "read file fail at sector:%d, left %d sectors. %s: %s",
                  static_cast<int>(sector), static_cast<int>(left), path.c_str(), reason.c_str());
}

}  // namespace kt
