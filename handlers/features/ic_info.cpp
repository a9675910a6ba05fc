// "Get IC INFO": identification strings, raw capacity, gear capabilities,
// M-PHY version and data lanes, one library call after the other. The first
// failing call ends the report under the lines written so far.
#include <array>

#include "common/failure_text.h"
#include "common/text_format.h"
#include "encoding/big_endian.h"
#include "handlers/features/features.h"
#include "handlers/features/ic_info.h"

namespace kt {
namespace {

constexpr std::uint8_t kPeer = 3;

class IcReport {
public:
    explicit IcReport(CommandContext& ctx) : ctx_(ctx), h_(ctx.Device()) {}

    void Run() {
        ctx_.ShowLog("");
        std::array<std::uint8_t, kDeviceDescriptorReadLength> device{};
        if (!Ok(kt62UfsReadDescriptor(h_, ufs::kDeviceDescriptor, 0, 0, device.data(), device.size())))
            return;

        const std::uint8_t product = device[ufs::kDeviceProductName];
        const std::uint8_t manufacturer = device[ufs::kDeviceManufacturerName];
        const std::uint8_t serial = device[ufs::kDeviceSerialNumber];
        ctx_.ShowLog(Format("Part Number(%d):", product));
        if (!AppendString(product)) return;
        ctx_.AppendLog(Format("Manufacturer Name(%d):", manufacturer));
        if (!AppendString(manufacturer)) return;
        ctx_.AppendLog(Format("Serial Number(%d):", serial));
        if (!AppendString(serial)) return;

        ctx_.AppendLog("IC Density:");
        std::array<std::uint8_t, kGeometryReadLength> geometry{};
        if (!Ok(kt62UfsReadDescriptor(h_, ufs::kGeometryDescriptor, 0, 0, geometry.data(), geometry.size())))
            return;
        for (const std::string& line : DensityLines(BigEndian64(&geometry[ufs::kGeometryRawCapacity])))
            ctx_.AppendLog(line);

        ctx_.AppendLog("HS GEAR capability:");
        std::uint32_t hs_gear = 0;
        if (!Ok(kt62UfsGetDME(h_, kTxHsGearCapability, 0, kPeer, &hs_gear))) return;
        if (const auto line = HsGearLine(hs_gear)) ctx_.AppendLog(*line);

        ctx_.AppendLog("PWM GEAR capability:");
        std::uint32_t pwm_g0 = 0;
        std::uint32_t pwm_gear = 0;
        if (!Ok(kt62UfsGetDME(h_, kTxPwmG0Capability, 0, kPeer, &pwm_g0))) return;
        if (!Ok(kt62UfsGetDME(h_, kTxPwmGearCapability, 0, kPeer, &pwm_gear))) return;
        if (const auto line = PwmGearLine(pwm_g0, pwm_gear)) ctx_.AppendLog(*line);

        ctx_.AppendLog("Support M-PHY version:");
        std::array<std::uint8_t, kInterconnectReadLength> interconnect{};
        if (!Ok(kt62UfsReadDescriptor(h_, ufs::kInterconnectDescriptor, 0, 0, interconnect.data(),
                                      interconnect.size())))
            return;
        ctx_.AppendLog(MphyVersionLine(interconnect[4], interconnect[5]));

        ctx_.AppendLog("Available Data Lane:");
        std::uint32_t lanes = 0;
        if (!Ok(kt62UfsGetDME(h_, kAvailTxDataLanes, 0, kPeer, &lanes))) return;
        ctx_.AppendLog(Format("    TX:%d.", static_cast<int>(lanes)));
        lanes = 0;
        if (!Ok(kt62UfsGetDME(h_, kAvailRxDataLanes, 0, kPeer, &lanes))) return;
        ctx_.AppendLog(Format("    RX:%d.", static_cast<int>(lanes)));

        ctx_.AppendLog("\r\n    DONE");
    }

private:
    bool Ok(std::int32_t r) {
        if (r != 0) ctx_.AppendLog(CommandFailText(r));
        return r == 0;
    }

    // Header first, then as many bytes as it claims (at most the read limit).
    // A fresh zeroed buffer for each string, so that a device answering short
    // never shows the tail of an earlier string.
    bool AppendString(std::uint8_t index) {
        std::array<std::uint8_t, kStringReadLimit> buffer{};
        if (!Ok(kt62UfsReadDescriptor(h_, ufs::kStringDescriptor, index, 0, buffer.data(),
                                      kStringHeaderLength)))
            return false;
        const std::uint32_t n = StringDescriptorReadLength(buffer[0]);
        if (!Ok(kt62UfsReadDescriptor(h_, ufs::kStringDescriptor, index, 0, buffer.data(), n))) return false;
        ctx_.AppendLog("    " + DecodeStringDescriptor(std::span(buffer.data(), n)));
        return true;
    }

    CommandContext& ctx_;
    const KT62_HANDLE h_;
};

}  // namespace

void features::IcInfo(CommandContext& ctx) { IcReport(ctx).Run(); }

}  // namespace kt
