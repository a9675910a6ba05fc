#include "common/platform.h"

#include <chrono>
#include <filesystem>
#include <system_error>

namespace kt {

std::int64_t QueryPerformanceCounter() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::int64_t QueryPerformanceFrequency() { return 1'000'000'000; }

std::string ExecutablePath() {
    std::error_code ec;
    auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}

}  // namespace kt
