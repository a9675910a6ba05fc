#include "utf16.h"

namespace kt62 {
namespace {

bool IsHigh(uint32_t u) { return u >= 0xD800 && u < 0xDC00; }
bool IsLow(uint32_t u) { return u >= 0xDC00 && u < 0xE000; }

// unit(i) gives code unit i of count units.
template <typename UnitAt>
std::optional<std::string> Decode(size_t count, UnitAt unit, Unpaired unpaired) {
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t u = unit(i);
        if (IsHigh(u) && i + 1 < count && IsLow(unit(i + 1))) {
            AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
            ++i;
        } else if (IsHigh(u) || IsLow(u)) {
            if (unpaired == Unpaired::Refuse) return std::nullopt;
            AppendUtf8(out, 0xFFFD);
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

}  // namespace

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::optional<std::string> Utf16ToUtf8(const kt62_char16* text, Unpaired unpaired) {
    size_t count = 0;
    while (text[count] != 0) ++count;
    return Decode(
        count, [text](size_t i) { return static_cast<uint32_t>(text[i]); }, unpaired);
}

std::string Utf16BeToUtf8(std::span<const uint8_t> bytes) {
    auto unit = [bytes](size_t i) { return static_cast<uint32_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]); };
    return *Decode(bytes.size() / 2, unit, Unpaired::Replace);
}

}  // namespace kt62
