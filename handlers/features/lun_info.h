// The LUN information report: the device's unit counts and one line per
// enabled logical unit.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "handlers/features/descriptors.h"

namespace kt {

inline constexpr int kReportedUnits = ufs::kConfigUnits;

// "NumberLU: %d, NumberWLU: %d" and the CR LF that leaves an empty line
// under it.
std::string LunHeaderText(std::uint8_t number_lu, std::uint8_t number_wlu);

// The name of a bMemoryType, with its trailing comma and blank.
const char* MemoryTypeName(std::uint8_t memory_type);

// blockCount blocks of 2^blockSizeExponent bytes, in GB from 2^30 bytes on,
// else in MB ("%7.3lfGB, "). Exact for every exponent a byte can hold.
std::string UnitCapacityText(std::uint64_t block_count, std::uint8_t block_size_exponent);

// The report line of one unit descriptor; none for a disabled unit.
std::optional<std::string> LunLine(std::span<const std::uint8_t, kUnitDescriptorReadLength> unit);

}  // namespace kt
