#include "common/text_format.h"

#include <cstdarg>
#include <cstdio>

#include "encoding/utf16.h"

namespace kt {

std::string Format(const char* fmt, ...) {  // NOLINT(cert-dcl50-cpp): printf formats, checked by the compiler
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string out;
    if (needed > 0) {
        out.resize(static_cast<std::size_t>(needed) + 1);
        const int written = std::vsnprintf(out.data(), out.size(), fmt, args);
        out.resize(static_cast<std::size_t>(written == needed ? needed : 0));
    }
    va_end(args);
    return out;
}

std::vector<std::string> HexDumpLines(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        line += kDigits[bytes[i] >> 4];
        line += kDigits[bytes[i] & 0xF];
        line += ' ';
        if (i % 16 == 15) {
            lines.push_back(std::move(line));
            line.clear();
        }
    }
    if (!line.empty()) lines.push_back(std::move(line));
    return lines;
}

std::string WidenSignedBytes(std::span<const std::uint8_t> bytes) {
    std::string out;
    for (std::uint8_t b : bytes) {
        if (b == 0) break;
        const auto wide = static_cast<char16_t>(static_cast<std::int16_t>(static_cast<std::int8_t>(b)));
        AppendUtf8(out, wide);
    }
    return out;
}

std::string WidenUnsignedBytes(std::span<const std::uint8_t> bytes) {
    std::string out;
    for (std::uint8_t b : bytes) {
        if (b == 0) break;
        AppendUtf8(out, b);
    }
    return out;
}

std::string AppDirFromExePath(std::string_view exe_path) {
    const auto cut = exe_path.find_last_of('/');
    if (cut == std::string_view::npos) return "./";
    return std::string(exe_path.substr(0, cut)) + "/";
}

}  // namespace kt
