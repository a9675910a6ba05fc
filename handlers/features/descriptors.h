// How much of each UFS descriptor the one-step features ask for.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ufs/idn.h"

namespace kt {

inline constexpr std::uint32_t kDeviceDescriptorReadLength = 64;
inline constexpr std::uint32_t kUnitDescriptorReadLength = 35;
inline constexpr std::uint32_t kInterconnectReadLength = 6;
inline constexpr std::uint32_t kGeometryReadLength = 28;

}  // namespace kt
