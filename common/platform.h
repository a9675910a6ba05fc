// Kernel services the dialog logic uses: the performance counter and the
// executable's location.
#pragma once

#include <cstdint>
#include <string>

namespace kt {

std::int64_t QueryPerformanceCounter();
std::int64_t QueryPerformanceFrequency();
// Full path of the running executable ("" when it cannot be found).
std::string ExecutablePath();

}  // namespace kt
