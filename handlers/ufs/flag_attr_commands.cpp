// Flag and attribute query commands of the engineering panel.
#include "common/query_text.h"
#include "common/text_format.h"
#include "handlers/ufs/hex_field.h"
#include "handlers/ufs/panel.h"

namespace kt::panel {
namespace {

using FlagCall = std::int32_t (*)(KT62_HANDLE, std::uint8_t);

// Clear, set and toggle differ only in the call, the label and the verb.
void RunFlagChange(CommandContext& ctx, FlagCall call, const char* label, const char* verb) {
    const auto idn = ReadHexField(ctx, kIdnField);
    if (!idn) return;
    const std::int32_t r = call(ctx.Device(), Low8(*idn));
    ctx.ShowLog(QueryOutcomeText(r, label, [&] { return Format("Flag(%02Xh) %s.", *idn, verb); }));
}

}  // namespace

void FlagRead(CommandContext& ctx) {
    const auto idn = ReadHexField(ctx, kIdnField);
    if (!idn) return;
    std::uint8_t state = 0;
    const std::int32_t r = kt62UfsReadFlag(ctx.Device(), Low8(*idn), &state);
    ctx.ShowLog(QueryOutcomeText(r, "UFS Read Flag",
                                 [&] { return Format("Flag(%02Xh) = %d", *idn, state != 0 ? 1 : 0); }));
}

void FlagClear(CommandContext& ctx) { RunFlagChange(ctx, kt62UfsClearFlag, "UFS Clear Flag", "clear"); }
void FlagSet(CommandContext& ctx) { RunFlagChange(ctx, kt62UfsSetFlag, "UFS Set Flag", "set"); }
void FlagToggle(CommandContext& ctx) { RunFlagChange(ctx, kt62UfsToggleFlag, "UFS Toggle Flag", "toggle"); }

void AttributeRead(CommandContext& ctx) {
    const auto a = ReadQueryAddress(ctx);
    if (!a) return;
    std::uint32_t value = 0;
    const std::int32_t r =
        kt62UfsReadAttribute(ctx.Device(), Low8(a->idn), Low8(a->index), Low8(a->selector), &value);
    ctx.ShowLog(QueryOutcomeText(r, "UFS Read Attribute",
                                 [&] { return Format("Attriubte(%02Xh) = 0x%08X", a->idn, value); }));
}

void AttributeWrite(CommandContext& ctx) {
    const auto a = ReadQueryAddress(ctx);
    if (!a) return;
    const auto value = ReadHexField(ctx, kValueField);
    if (!value) return;
    const std::int32_t r =
        kt62UfsWriteAttribute(ctx.Device(), Low8(a->idn), Low8(a->index), Low8(a->selector), *value);
    ctx.ShowLog(QueryOutcomeText(r, "UFS Write Attribute",
                                 [&] { return Format("Attriubte(%02Xh) written.", a->idn); }));
}

}  // namespace kt::panel
