// The arithmetic and the texts of a sector transfer, apart from the worker
// that applies them: field values, the range check, chunking, progress.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kt {

// The transfer buffer: the most bytes one chunk moves.
inline constexpr std::uint32_t kTransferBufferBytes = 32u << 20;
// Device calls one chunk may take before the transfer gives up.
inline constexpr int kCallsPerChunk = 3;

// A decimal field's value: digits only (blanks around them allowed), at
// most 4294967295. nullopt for anything else, the empty text included.
std::optional<std::uint32_t> ParseDecimalField(std::string_view text);

// Whether sectors start .. start + count - 1 exist on a device of `sectors`
// sectors; the sum is taken in 64 bits, so it never wraps.
bool RangeFits(std::uint32_t start, std::uint32_t count, std::uint32_t sectors);

// Whole sectors of one chunk: as many as fill the transfer buffer. 0 for a
// sector size of 0 or above the buffer, which no chunk can carry.
std::uint32_t ChunkLimit(std::uint32_t sector_size);

// Whole MiB a chunk of n sectors adds to the running total (truncated).
std::uint32_t ChunkMB(std::uint32_t n, std::uint32_t sector_size);

// Progress bar position for `done` of `total`, 0 to 1000 (1000 when total is 0).
int ProgressPermille(std::uint64_t done, std::uint64_t total);

enum class Direction { Read, Write };

// "left N sectors. / Retried N times." The read transfer breaks the line
// with "\r\n", the write transfer with a line feed alone.
std::string ProgressText(Direction direction, std::uint32_t remaining, int retries);

// The failure line of a chunk whose device calls failed.
std::string DeviceFailureText(Direction direction, std::int32_t r, std::uint32_t sector, std::uint32_t left);

// The image file failed at the chunk that starts at `sector`, with `left`
// sectors still to go (that chunk included). error: an errno value, or
// kShortFile for a file that ends before the chunk does.
inline constexpr int kShortFile = -1;
std::string FileFailureText(Direction direction, const std::string& path, std::uint32_t sector,
                            std::uint32_t left, int error);

}  // namespace kt
