// UTF-16 to UTF-8 for the library's paths, trace lines and string
// descriptors: one decoder, two ways to treat an unpaired surrogate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include <kt62/apiKT6200.h>

namespace kt62 {

enum class Unpaired {
    Replace,  // becomes U+FFFD: text that is only shown
    Refuse,   // the whole text is refused: a path must name exactly one file
};

void AppendUtf8(std::string& out, uint32_t cp);

// A zero-terminated UTF-16 text (as the C functions take paths).
std::optional<std::string> Utf16ToUtf8(const kt62_char16* text, Unpaired unpaired);
// Big-endian UTF-16 bytes (as string descriptors hold them); an odd last byte is dropped.
std::string Utf16BeToUtf8(std::span<const uint8_t> bytes);

}  // namespace kt62
