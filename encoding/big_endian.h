// Byte order of the UFS data: every multi-byte field of a descriptor, a
// query and a command block is big-endian. Every floor reads and writes such
// fields through these.
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

// The 16-bit big-endian field starting at p (2 bytes).
constexpr std::uint16_t BigEndian16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(std::uint32_t{p[0]} << 8 | std::uint32_t{p[1]});
}

// The 32-bit big-endian field starting at p (4 bytes).
constexpr std::uint32_t BigEndian32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

// The 64-bit big-endian field starting at p (8 bytes).
inline std::uint64_t BigEndian64(const std::uint8_t* p) {
    std::uint64_t v = 0;
    std::memcpy(&v, p, sizeof v);
    return std::endian::native == std::endian::little ? SwapBytes64(v) : v;
}

// Writes v as a big-endian field at p.
constexpr void PutBigEndian16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}
constexpr void PutBigEndian32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}
constexpr void PutBigEndian64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (56 - 8 * i));
}

}  // namespace kt
