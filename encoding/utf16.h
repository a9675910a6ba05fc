// UTF-8 and UTF-16, both ways, for every floor: the library's paths, trace
// lines and string descriptors, the program's texts and its settings files.
// One decoder each way; the callers differ only in what becomes of a lone
// surrogate.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kt {

enum class Unpaired {
    Replace,  // becomes U+FFFD: text that is only shown
    Refuse,   // the whole text is refused: a path must name exactly one file
    Keep,     // carried as its own three-byte sequence, so a file's code units survive a round trip
};

// Appends a code point as UTF-8 (surrogates and values above U+10FFFF become U+FFFD).
void AppendUtf8(std::string& out, char32_t cp);

// UTF-16 code units to UTF-8. nullopt only for Unpaired::Refuse.
std::optional<std::string> Utf16ToUtf8(std::u16string_view units, Unpaired unpaired);
// As above, unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view units);
// A zero-terminated UTF-16 text (as the library's C functions take paths).
std::optional<std::string> Utf16ToUtf8(const std::uint16_t* text, Unpaired unpaired);
// Big-endian UTF-16 bytes (as string descriptors hold them); an odd last byte
// is dropped, unpaired surrogates become U+FFFD.
std::string Utf16BeToUtf8(std::span<const std::uint8_t> bytes);

// UTF-8 to UTF-16. Replace: a sequence of the right shape whose value is no
// character (an overlong form, a surrogate, above U+10FFFF) is one U+FFFD, as
// is a byte that starts no sequence. Keep (the inverse of Utf16ToUtf8 with
// Keep): an encoded surrogate is that code unit, and every byte of a sequence
// that is not well formed is a U+FFFD of its own. Refuse is taken as Replace.
std::u16string Utf8ToUtf16(std::string_view text, Unpaired unpaired = Unpaired::Replace);

}  // namespace kt
