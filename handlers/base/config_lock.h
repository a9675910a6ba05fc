// The configuration lock rule, shared by every command that writes the
// configuration descriptor.
#pragma once

#include <kt62/apiKT6200.h>

#include <cstdint>

#include "ufs/idn.h"

namespace kt {

inline constexpr const char* kConfigLockedText = "Configuration descriptor is locked.";

// Only a successful read of exactly 1 blocks. A failed read lets the write
// go ahead: the device itself still refuses a locked descriptor, while a
// programmer that cannot read the attribute would otherwise be unable to
// provision at all.
constexpr bool ConfigDescriptorLocked(std::int32_t read_result, std::uint32_t value) {
    return read_result == 0 && value == 1;
}

// Reads bConfigDescrLock (index 0, selector 0) and applies the rule.
inline bool ConfigDescriptorLockedOnDevice(KT62_HANDLE h) {
    std::uint32_t value = 0;
    const std::int32_t r = kt62UfsReadAttribute(h, ufs::kAttrConfigDescrLock, 0, 0, &value);
    return ConfigDescriptorLocked(r, value);
}

}  // namespace kt
