// The flags and attributes the model has: those UFS defines for the device's version, less the
// features it lacks, with the values the model gives where UFS leaves them to the device.
#include <algorithm>

#include "emu/ufs_model.h"

namespace kt62::emu {
namespace {

// The reference clock's gating wait, refresh control and the host hint cache: the model has never
// had them, hosts and stored states expect exactly the parameters it has always had.
constexpr uint8_t kNotModelled[] = {0x17, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F};
constexpr uint8_t kTemperatureOffset = 80;  // bDeviceCaseRoughTemperature: value - 80 = degrees C

AttributeInfo WithModelValues(AttributeInfo a) {
    switch (a.idn) {
        case 0x0C:  // bMaxNumOfRTT: at most the device's bDeviceRTTCap
            a.max = kDeviceRttCap;
            break;
        case 0x16:  // dPSADataSize: dPSAMaxDataSize is 0
            a.max = 0;
            break;
        case 0x18:
            a.power_on = kTemperatureOffset + 25;
            break;
        case 0x19:
            a.power_on = kTemperatureOffset + 85;
            break;
        case 0x1A:
            a.power_on = kTemperatureOffset - 20;
            break;
        default:
            break;
    }
    return a;
}

std::vector<FlagInfo> ModelFlags() {
    std::vector<FlagInfo> out;
    for (const FlagInfo& f : kt::ufs::Flags())
        if (f.feature == kt::ufs::Feature::None) out.push_back(f);
    return out;
}

std::vector<AttributeInfo> ModelAttributes() {
    std::vector<AttributeInfo> out;
    for (const AttributeInfo& a : kt::ufs::Attributes())
        if (std::find(std::begin(kNotModelled), std::end(kNotModelled), a.idn) == std::end(kNotModelled))
            out.push_back(WithModelValues(a));
    return out;
}

}  // namespace

const std::vector<FlagInfo>& FlagTable() {
    static const std::vector<FlagInfo> kFlags = ModelFlags();
    return kFlags;
}

const std::vector<AttributeInfo>& AttributeTable() {
    static const std::vector<AttributeInfo> kAttributes = ModelAttributes();
    return kAttributes;
}

}  // namespace kt62::emu
