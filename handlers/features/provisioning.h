// Single-LUN provisioning: the whole raw capacity as logical unit 0 with
// 4096-byte blocks, units 1 to 7 disabled, in the configuration layout of
// the device at hand.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "handlers/features/descriptors.h"
#include "ufs/configuration.h"

namespace kt {

inline constexpr const char* kProvisionedText = "write descriptor done.\r\nPlease reset VARNEL.";

// What the geometry descriptor says the device has; sizes in 512-byte units.
struct RawGeometry {
    std::uint8_t length = 0;                // bLength
    std::uint64_t total_raw_capacity = 0;   // qTotalRawDeviceCapacity
    std::uint32_t segment_size = 0;         // dSegmentSize
    std::uint8_t allocation_unit_size = 0;  // bAllocationUnitSize, in segments
};
RawGeometry DecodeGeometry(std::span<const std::uint8_t, kGeometryReadLength> geometry);

// The allocation units of the whole capacity (one unit = bAllocationUnitSize
// segments, the remainder dropped), or the message that refuses the
// provisioning: a segment or allocation unit of 0 divides nothing, and a
// count beyond 32 bits cannot be written without giving the unit a wrong size.
std::variant<std::uint32_t, std::string> WholeCapacityAllocUnits(const RawGeometry& geometry);

// The configuration descriptor: unit 0 over alloc_units units of 4096-byte
// blocks, enabled or not, everything else zero but the fixed header bytes.
std::vector<std::uint8_t> SingleLunConfiguration(const ufs::ConfigLayout& layout, std::uint32_t alloc_units,
                                                 bool enable_unit0);

}  // namespace kt
