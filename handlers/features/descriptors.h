// The UFS descriptors the one-step features read and write, and how much of
// each they ask for.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kt {

inline constexpr std::uint8_t kDeviceDescriptorIdn = 0x00;
inline constexpr std::uint8_t kConfigDescriptorIdn = 0x01;
inline constexpr std::uint8_t kUnitDescriptorIdn = 0x02;
inline constexpr std::uint8_t kInterconnectDescriptorIdn = 0x04;
inline constexpr std::uint8_t kStringDescriptorIdn = 0x05;
inline constexpr std::uint8_t kGeometryDescriptorIdn = 0x07;

inline constexpr std::uint32_t kDeviceDescriptorReadLength = 64;
inline constexpr std::uint32_t kUnitDescriptorReadLength = 35;
inline constexpr std::uint32_t kInterconnectReadLength = 6;
inline constexpr std::uint32_t kGeometryReadLength = 28;

// Geometry descriptor: qTotalRawDeviceCapacity and dSegmentSize, both in
// 512-byte units.
inline constexpr std::size_t kRawCapacityOffset = 0x04;
inline constexpr std::size_t kSegmentSizeOffset = 0x0D;

}  // namespace kt
