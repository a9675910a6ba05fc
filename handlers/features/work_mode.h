// The link power mode report: the programmer's own transmit and receive
// side of the M-PHY link (lane 0 each way).
#pragma once

#include <cstdint>
#include <string>

namespace kt {

// M-PHY attributes of one direction, read locally.
struct LinkAttributes {
    std::uint32_t mode;
    std::uint32_t rate_series;
    std::uint32_t pwm_gear;
    std::uint32_t hs_gear;
    std::uint8_t selector;  // 0 = transmit lane 0, 4 = receive lane 0
};
inline constexpr LinkAttributes kTxAttributes{0x21, 0x22, 0x24, 0x23, 0};
inline constexpr LinkAttributes kRxAttributes{0xA1, 0xA2, 0xA4, 0xA3, 4};

// Mode value 1 is PWM; any other value is taken as HS.
inline constexpr std::uint32_t kPwmMode = 1;
constexpr std::uint32_t GearAttribute(const LinkAttributes& a, std::uint32_t mode) {
    return mode == kPwmMode ? a.pwm_gear : a.hs_gear;
}

// What one direction reads.
struct LinkState {
    std::uint32_t mode = 0;
    std::uint32_t rate_series = 0;
    std::uint32_t gear = 0;
};

// "Power Mode:" and one line per direction, e.g. "    Tx: HS-G3B".
std::string WorkModeText(const LinkState& tx, const LinkState& rx);

}  // namespace kt
