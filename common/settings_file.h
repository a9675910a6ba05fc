// The settings file: sections of key=value lines, read and written the way
// INI files behave on Windows, so a Config.ini made there works here as is.
//
// Rules: section and key names match without regard to ASCII letter case;
// blanks around names and values are dropped; a value in matching quotes
// ('...' or "...") loses them; lines starting with ';' or '#' are comments.
// Text is UTF-8 with or without a byte-order mark, or UTF-16 (LE or BE)
// with one. A write changes the one line it must and keeps every other
// byte, the encoding and the line endings; it goes through a temporary file
// and a rename, so a failed write leaves the old file as it was (a file
// that may be written in a folder that may not is rewritten in place,
// without ever being left half-written).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kt {

// The largest settings file read; a larger one reads as missing and is never rewritten. Language
// captions take a few KiB.
inline constexpr std::size_t kSettingsFileLimit = std::size_t{1} << 20;

// Why an existing file is not read as settings (larger than the limit), with its name and the
// limit; empty when it is read, or missing.
std::string SettingsFileRefusal(const std::string& path);

// The integer of a key: leading blanks, an optional sign and decimal digits
// up to the first other character (no digits: 0; wraps like a 32-bit
// value). A missing file, section or key, or an empty value, gives
// default_value.
int ReadSettingInt(const std::string& path, std::string_view section, std::string_view key,
                   int default_value);

// The value of a key, or default_value when the file, section or key is
// missing, as a buffer of buffer_chars UTF-16 characters would hold it: at
// most buffer_chars - 1 code units, never ending inside a surrogate pair.
// The result is valid UTF-8 (bytes that are not become U+FFFD).
std::string ReadSettingString(const std::string& path, std::string_view section, std::string_view key,
                              std::string_view default_value, std::size_t buffer_chars);

// Whether the file holds the key (a value, empty or not).
bool HasSetting(const std::string& path, std::string_view section, std::string_view key);

// Sets a key, creating the file, the section or the key when missing. A new
// key goes after the last entry of its section, a new section at the end of
// the file. False when nothing could be written (names that cannot be
// stored, a file that cannot be read, a directory that cannot be written, a
// full disk); the file is then unchanged, and `why`, when given, says why
// (without the file's name).
bool WriteSettingString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value, std::string* why = nullptr);

}  // namespace kt
