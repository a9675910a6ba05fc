#include "encoding/utf16.h"

namespace kt {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsHigh(char32_t u) { return u >= 0xD800 && u < 0xDC00; }
bool IsLow(char32_t u) { return u >= 0xDC00 && u < 0xE000; }

void AppendThreeBytes(std::string& out, char32_t cp) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
}

// unit(i) gives code unit i of count units.
template <typename UnitAt>
std::optional<std::string> Decode(std::size_t count, UnitAt unit, Unpaired unpaired) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        const char32_t u = unit(i);
        if (IsHigh(u) && i + 1 < count && IsLow(unit(i + 1))) {
            AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
            ++i;
        } else if (!IsHigh(u) && !IsLow(u)) {
            AppendUtf8(out, u);
        } else if (unpaired == Unpaired::Keep) {
            AppendThreeBytes(out, u);
        } else if (unpaired == Unpaired::Refuse) {
            return std::nullopt;
        } else {
            AppendUtf8(out, kReplacement);
        }
    }
    return out;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        AppendThreeBytes(out, cp);
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::optional<std::string> Utf16ToUtf8(std::u16string_view units, Unpaired unpaired) {
    return Decode(
        units.size(), [units](std::size_t i) { return static_cast<char32_t>(units[i]); }, unpaired);
}

std::string Utf16ToUtf8(std::u16string_view units) { return *Utf16ToUtf8(units, Unpaired::Replace); }

std::optional<std::string> Utf16ToUtf8(const std::uint16_t* text, Unpaired unpaired) {
    std::size_t count = 0;
    while (text[count] != 0) ++count;
    return Decode(
        count, [text](std::size_t i) { return static_cast<char32_t>(text[i]); }, unpaired);
}

std::string Utf16BeToUtf8(std::span<const std::uint8_t> bytes) {
    auto unit = [bytes](std::size_t i) {
        return static_cast<char32_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
    };
    return *Decode(bytes.size() / 2, unit, Unpaired::Replace);
}

std::u16string Utf8ToUtf16(std::string_view text, Unpaired unpaired) {
    const bool keep = unpaired == Unpaired::Keep;
    std::u16string out;
    auto byte_at = [text](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    auto cont = [&](std::size_t k) { return k < text.size() && (byte_at(k) & 0xC0) == 0x80; };
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned b = byte_at(i);
        char32_t cp = kReplacement;
        std::size_t len = 1;
        char32_t lowest = 0;
        if (b < 0x80) {
            cp = b;
        } else if ((b & 0xE0) == 0xC0 && cont(i + 1)) {
            cp = ((b & 0x1Fu) << 6) | (byte_at(i + 1) & 0x3Fu);
            len = 2;
            lowest = 0x80;
        } else if ((b & 0xF0) == 0xE0 && cont(i + 1) && cont(i + 2)) {
            cp = ((b & 0x0Fu) << 12) | ((byte_at(i + 1) & 0x3Fu) << 6) | (byte_at(i + 2) & 0x3Fu);
            len = 3;
            lowest = 0x800;
        } else if ((b & 0xF8) == 0xF0 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
            cp = ((b & 0x07u) << 18) | ((byte_at(i + 1) & 0x3Fu) << 12) | ((byte_at(i + 2) & 0x3Fu) << 6) |
                 (byte_at(i + 3) & 0x3Fu);
            len = 4;
            lowest = 0x10000;
        }
        const bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
        if (cp < lowest || cp > 0x10FFFF || (surrogate && !keep)) {
            cp = kReplacement;
            if (keep) len = 1;
        }
        if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += len;
    }
    return out;
}

}  // namespace kt
