// "Get Work mode": six local DME reads, transmit first; the gear attribute
// read depends on the mode just read.
#include "handlers/features/work_mode.h"

#include "common/failure_text.h"
#include "common/text_format.h"
#include "handlers/features/features.h"

namespace kt {
namespace {

constexpr std::uint8_t kLocal = 1;

std::string DirectionText(const char* name, const LinkState& s) {
    return Format("    %s: %s-G%d%c", name, s.mode == kPwmMode ? "PWM" : "HS", static_cast<int>(s.gear),
                  s.rate_series == 1 ? 'A' : 'B');
}

// Reads one direction; on a failure returns its result with the rest unread.
std::int32_t ReadDirection(KT62_HANDLE h, const LinkAttributes& a, LinkState& s) {
    if (const std::int32_t r = kt62UfsGetDME(h, a.mode, a.selector, kLocal, &s.mode); r != 0) return r;
    if (const std::int32_t r = kt62UfsGetDME(h, a.rate_series, a.selector, kLocal, &s.rate_series); r != 0)
        return r;
    return kt62UfsGetDME(h, GearAttribute(a, s.mode), a.selector, kLocal, &s.gear);
}

}  // namespace

std::string WorkModeText(const LinkState& tx, const LinkState& rx) {
    return "Power Mode:\r\n" + DirectionText("Tx", tx) + "\r\n" + DirectionText("Rx", rx);
}

void features::WorkMode(CommandContext& ctx) {
    const KT62_HANDLE h = ctx.Device();
    LinkState tx;
    LinkState rx;
    std::int32_t r = ReadDirection(h, kTxAttributes, tx);
    if (r == 0) r = ReadDirection(h, kRxAttributes, rx);
    if (r != 0) {
        ctx.AppendLog(CommandFailText(r));
        return;
    }
    ctx.ShowLog(WorkModeText(tx, rx));
}

}  // namespace kt
