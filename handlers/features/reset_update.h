// Device reset and programmer firmware update.
#pragma once

#include <chrono>
#include <cstdint>

namespace kt {

inline constexpr std::uint8_t kHardwareReset = 1;
// Time the device gets after a reset before the next command reaches it.
inline constexpr std::chrono::milliseconds kResetPause{100};

inline constexpr const char* kFirmwareFileFilter = "Binary file(*.bin)|*.bin| All files(*.*) | *.* ||";
inline constexpr const char* kUpdatingText = "Updating... Please wait.";
inline constexpr const char* kUpdateDoneText = "Command done.\r\nPlease wait device restart.";

}  // namespace kt
