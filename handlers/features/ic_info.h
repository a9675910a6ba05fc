// The IC information report: what the device descriptors and the peer's
// M-PHY and PHY adapter attributes say, turned into report lines.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "handlers/features/descriptors.h"

namespace kt {

// A string descriptor is read twice: its 2-byte header, then this many bytes.
inline constexpr std::uint32_t kStringHeaderLength = 2;
inline constexpr std::uint32_t kStringReadLimit = 100;
constexpr std::uint32_t StringDescriptorReadLength(std::uint8_t b_length) {
    return b_length < kStringReadLimit ? b_length : kStringReadLimit;
}

// The text of a string descriptor from the bytes read of it: big-endian
// UTF-16 from byte 2, a trailing odd byte dropped, ending at the first zero
// code unit. Fewer than 2 bytes give an empty text.
std::string DecodeStringDescriptor(std::span<const std::uint8_t> bytes);

// Peer attributes the report reads (selector 0).
inline constexpr std::uint32_t kTxHsGearCapability = 0x0002;
inline constexpr std::uint32_t kTxPwmG0Capability = 0x0003;
inline constexpr std::uint32_t kTxPwmGearCapability = 0x0004;
inline constexpr std::uint32_t kAvailTxDataLanes = 0x1520;
inline constexpr std::uint32_t kAvailRxDataLanes = 0x1540;

// The two lines under "IC Density:": the raw capacity (512-byte units) as a
// number, then in units of 2^30 bytes.
std::vector<std::string> DensityLines(std::uint64_t raw_capacity);
// The line under "HS GEAR capability:"; none for a capability of 0.
std::optional<std::string> HsGearLine(std::uint32_t hs_gear_capability);
// The line under "PWM GEAR capability:" (the range starts at G0 when gear 0
// is supported); none for a PWM gear capability of 0.
std::optional<std::string> PwmGearLine(std::uint32_t pwm_g0_capability, std::uint32_t pwm_gear_capability);
// The line under "Support M-PHY version:" from bcdMphyVersion's two bytes.
std::string MphyVersionLine(std::uint8_t high, std::uint8_t low);

}  // namespace kt
