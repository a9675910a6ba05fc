// Flag and attribute query commands of the engineering panel.
#include "common/query_text.h"
#include "common/text_format.h"
#include "dialog/KT6200DemoDlg.h"
#include "handlers/ufs/hex_field.h"

namespace kt {

namespace {

using FlagCall = std::int32_t (*)(KT62_HANDLE, std::uint8_t);

// Clear, set and toggle differ only in the call, the label and the verb.
void RunFlagChange(CKT6200DemoDlg& dlg, FlagCall call, const char* label, const char* verb) {
    const auto idn = ReadHexField(dlg, kIdnField);
    if (!idn) return;
    const std::int32_t r = call(dlg.m_hDevice.load(), Low8(*idn));
    dlg.ShowLog(QueryOutcomeText(r, label, [&] { return Format("Flag(%02Xh) %s.", *idn, verb); }));
}

}  // namespace

void CKT6200DemoDlg::OnFlagRead() {
    const auto idn = ReadHexField(*this, kIdnField);
    if (!idn) return;
    std::uint8_t state = 0;
    const std::int32_t r = kt62UfsReadFlag(m_hDevice.load(), Low8(*idn), &state);
    ShowLog(QueryOutcomeText(r, "UFS Read Flag",
                             [&] { return Format("Flag(%02Xh) = %d", *idn, state != 0 ? 1 : 0); }));
}

void CKT6200DemoDlg::OnFlagClear() { RunFlagChange(*this, kt62UfsClearFlag, "UFS Clear Flag", "clear"); }
void CKT6200DemoDlg::OnFlagSet() { RunFlagChange(*this, kt62UfsSetFlag, "UFS Set Flag", "set"); }
void CKT6200DemoDlg::OnFlagToggle() { RunFlagChange(*this, kt62UfsToggleFlag, "UFS Toggle Flag", "toggle"); }

void CKT6200DemoDlg::OnAttributeRead() {
    const auto a = ReadQueryAddress(*this);
    if (!a) return;
    std::uint32_t value = 0;
    const std::int32_t r =
        kt62UfsReadAttribute(m_hDevice.load(), Low8(a->idn), Low8(a->index), Low8(a->selector), &value);
    ShowLog(QueryOutcomeText(r, "UFS Read Attribute",
                             [&] { return Format("Attriubte(%02Xh) = 0x%08X", a->idn, value); }));
}

void CKT6200DemoDlg::OnAttributeWrite() {
    const auto a = ReadQueryAddress(*this);
    if (!a) return;
    const auto value = ReadHexField(*this, kValueField);
    if (!value) return;
    const std::int32_t r =
        kt62UfsWriteAttribute(m_hDevice.load(), Low8(a->idn), Low8(a->index), Low8(a->selector), *value);
    ShowLog(QueryOutcomeText(r, "UFS Write Attribute",
                             [&] { return Format("Attriubte(%02Xh) written.", a->idn); }));
}

}  // namespace kt
