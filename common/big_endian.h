// Byte order of the UFS descriptors: every multi-byte field is big-endian.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace kt {

// Reverses the byte order of a 64-bit value.
constexpr std::uint64_t SwapBytes64(std::uint64_t v) {
    v = ((v & 0x00FF00FF00FF00FFull) << 8) | ((v >> 8) & 0x00FF00FF00FF00FFull);
    v = ((v & 0x0000FFFF0000FFFFull) << 16) | ((v >> 16) & 0x0000FFFF0000FFFFull);
    return (v << 32) | (v >> 32);
}

// The 64-bit big-endian field starting at p (8 bytes).
inline std::uint64_t BigEndian64(const std::uint8_t* p) {
    std::uint64_t v = 0;
    std::memcpy(&v, p, sizeof v);
    return std::endian::native == std::endian::little ? SwapBytes64(v) : v;
}

// The 32-bit big-endian field starting at p (4 bytes).
constexpr std::uint32_t BigEndian32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

}  // namespace kt
