// The hidden DME group's read.
#include "common/control_ids.h"
#include "common/query_text.h"
#include "common/text_format.h"
#include "dialog/KT6200DemoDlg.h"
#include "handlers/ufs/dme.h"
#include "handlers/ufs/hex_field.h"

namespace kt {

std::string DmeSuccessText(std::uint8_t kind, std::uint32_t attrId, std::uint32_t value) {
    return Format("Get %s (%04Xh) = 0x%08X", kind == kDmeGet ? "DME" : "DME PEER", attrId, value);
}

void CKT6200DemoDlg::OnDmeRead() {
    const auto reg = ReadHexField(*this, kDmeRegField);
    if (!reg) return;
    const std::uint8_t kind = DmeKindForSelection(m_ui.ListSelection(IDC_COMBO_DME_TYPE));
    std::uint32_t value = 0;
    const std::int32_t r = kt62UfsGetDME(m_hDevice.load(), *reg, 0, kind, &value);
    ShowLog(QueryOutcomeText(r, "UFS Get DME", [&] { return DmeSuccessText(kind, *reg, value); }));
}

}  // namespace kt
