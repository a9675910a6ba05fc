// The hidden DME group's read.
#include "common/control_ids.h"
#include "common/query_text.h"
#include "common/text_format.h"
#include "handlers/ufs/dme.h"
#include "handlers/ufs/hex_field.h"
#include "handlers/ufs/panel.h"

namespace kt {

std::string DmeSuccessText(std::uint8_t kind, std::uint32_t attr_id, std::uint32_t value) {
    return Format("Get %s (%04Xh) = 0x%08X", kind == kDmeGet ? "DME" : "DME PEER", attr_id, value);
}

void panel::DmeRead(CommandContext& ctx) {
    const auto reg = ReadHexField(ctx, kDmeRegField);
    if (!reg) return;
    const std::uint8_t kind = DmeKindForSelection(ctx.Ui().ListSelection(IDC_COMBO_DME_TYPE));
    std::uint32_t value = 0;
    const std::int32_t r = kt62UfsGetDME(ctx.Device(), *reg, 0, kind, &value);
    ctx.ShowLog(QueryOutcomeText(r, "UFS Get DME", [&] { return DmeSuccessText(kind, *reg, value); }));
}

}  // namespace kt
