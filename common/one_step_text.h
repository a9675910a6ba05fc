// The failure line every one-step report ends with when a library call fails.
#pragma once

#include <cstdint>
#include <string>

namespace kt {

// "Command fail scsi err <r & 0xFF>." for a device failure (r < 0),
// "Command fail err <r>." for a library error (r > 0).
std::string CommandFailText(std::int32_t r);

}  // namespace kt
