// Single-LUN provisioning: the whole raw capacity as logical unit 0 with
// 4096-byte blocks, units 1 to 7 disabled, in the configuration layout of
// the device at hand.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "handlers/features/descriptors.h"

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

// Where the configuration descriptor's unit entries start and how long each
// is (the device descriptor's bUD0BaseOffset and bUDConfigPLength).
struct ConfigLayout {
    std::uint8_t header_length = 0;
    std::uint8_t unit_length = 0;
    bool operator==(const ConfigLayout&) const = default;
};
inline constexpr ConfigLayout kConfigLayout2x{0x10, 0x10};
inline constexpr ConfigLayout kConfigLayout31{0x16, 0x1A};

// Device descriptor bytes holding the layout.
inline constexpr std::size_t kUd0BaseOffset = 0x1A;
inline constexpr std::size_t kUdConfigPLength = 0x1B;

// A geometry descriptor no longer than the 2.x one belongs to a 2.x part:
// its layout is known without asking the device descriptor.
inline constexpr std::uint8_t kGeometryLength2x = 0x48;

// The layout, when it is one this command can fill.
std::optional<ConfigLayout> KnownConfigLayout(std::uint8_t header_length, std::uint8_t unit_length);

// The configuration descriptor: header + 8 unit entries; unit 0 over
// allocUnits units, enabled or not, everything else zero but the fixed
// header bytes.
std::vector<std::uint8_t> SingleLunConfiguration(const ConfigLayout& layout, std::uint32_t alloc_units,
                                                 bool enable_unit0);

}  // namespace kt
