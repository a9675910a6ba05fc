#include <cmath>

#include "common/text_format.h"
#include "encoding/utf16.h"
#include "handlers/features/ic_info.h"

namespace kt {

std::string DecodeStringDescriptor(std::span<const std::uint8_t> bytes) {
    std::u16string text;
    for (std::size_t i = kStringHeaderLength; i + 1 < bytes.size(); i += 2) {
        const auto unit = static_cast<char16_t>((bytes[i] << 8) | bytes[i + 1]);
        if (unit == 0) break;
        text.push_back(unit);
    }
    return Utf16ToUtf8(text);
}

std::vector<std::string> DensityLines(std::uint64_t raw_capacity) {
    // 512-byte units: 512 / 2^30 = 2^-21.
    return {Format("    %lld, 0x%llX", static_cast<long long>(raw_capacity),
                   static_cast<unsigned long long>(raw_capacity)),
            Format("    %7.3fGB", std::ldexp(static_cast<double>(raw_capacity), -21))};
}

std::optional<std::string> HsGearLine(std::uint32_t hs_gear_capability) {
    if (hs_gear_capability == 0) return std::nullopt;
    return Format("    G1 to G%d.", static_cast<int>(hs_gear_capability));
}

std::optional<std::string> PwmGearLine(std::uint32_t pwm_g0_capability, std::uint32_t pwm_gear_capability) {
    if (pwm_gear_capability == 0) return std::nullopt;
    return Format("    G%d to G%d.", pwm_g0_capability != 0 ? 0 : 1, static_cast<int>(pwm_gear_capability));
}

std::string MphyVersionLine(std::uint8_t high, std::uint8_t low) {
    return Format("    %04X.", (unsigned{high} << 8) | low);
}

}  // namespace kt
