// Pure text helpers behind the pane messages: printf-style formatting,
// hex dumps and byte-to-text widening.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kt {

// printf-style formatting into a string (UTF-8).
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Lines of a hex dump: 16 bytes a line, each byte "%02X " (a partial last
// line is returned too).
std::vector<std::string> HexDumpLines(std::span<const std::uint8_t> bytes);

// Each byte becomes one UTF-16 code unit, widened as a signed 8-bit value
// (0x80..0xFF become U+FF80..U+FFFF), as a wide-character program does with
// char; the text ends at the first zero byte. Returned as UTF-8.
std::string WidenSignedBytes(std::span<const std::uint8_t> bytes);
// As above, each byte widened as an unsigned value (Latin-1).
std::string WidenUnsignedBytes(std::span<const std::uint8_t> bytes);

// Program directory from the executable's full path: the text up to the last
// path separator, followed by exactly one separator.
std::string AppDirFromExePath(std::string_view exe_path);

}  // namespace kt
