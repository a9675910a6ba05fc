// Single-LUN provisioning: the whole raw capacity as logical unit 0 with
// 4096-byte blocks, units 1 to 7 disabled.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <variant>

#include "features/descriptors.h"

namespace kt {

inline constexpr std::size_t kConfigDescriptorLength = 0x90;
inline constexpr const char* kProvisionedText = "write descriptor done.\r\nPlease reset VARNEL.";

// What the geometry descriptor says the device has, in 512-byte units.
struct RawGeometry {
    std::uint64_t totalRawCapacity = 0;  // qTotalRawDeviceCapacity
    std::uint32_t segmentSize = 0;       // dSegmentSize
};
RawGeometry DecodeGeometry(std::span<const std::uint8_t, kGeometryReadLength> geometry);

// The allocation units of the whole capacity (one unit = one segment, the
// remainder dropped), or the message that refuses the provisioning: a
// segment size of 0 divides nothing, and a count beyond 32 bits cannot be
// written without giving the unit a wrong size.
std::variant<std::uint32_t, std::string> WholeCapacityAllocUnits(const RawGeometry& geometry);

// The 144-byte configuration descriptor: unit 0 over allocUnits units,
// enabled or not, everything else zero but the fixed header bytes.
std::array<std::uint8_t, kConfigDescriptorLength> SingleLunConfiguration(std::uint32_t allocUnits,
                                                                         bool enableUnit0);

}  // namespace kt
