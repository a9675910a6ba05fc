// The main dialog's command table, in the program's order.
#include "common/control_ids.h"
#include "dialog/KT6200DemoDlg.h"

namespace kt {
namespace {

using D = CKT6200DemoDlg;
using M = DialogMessage;

#define KT_CLICK(id, handler)                                                              \
    {                                                                                      \
        M::Command, id, #handler, [](D& d, std::uintptr_t, std::intptr_t) { d.handler(); } \
    }

constexpr CommandEntry kCommandTable[] = {
    {M::SysCommand, 0, "OnSysCommand",
     [](D& d, std::uintptr_t w, std::intptr_t l) { d.OnSysCommand(static_cast<unsigned>(w), l); }},
    {M::Paint, 0, "OnPaint", [](D& d, std::uintptr_t, std::intptr_t) { d.OnPaint(); }},
    {M::QueryDragIcon, 0, "OnQueryDragIcon",
     [](D& d, std::uintptr_t, std::intptr_t) { d.OnQueryDragIcon(); }},
    {M::SelChange, IDC_COMBO_DEVICE, "OnSelChangeDevice",
     [](D& d, std::uintptr_t, std::intptr_t) { d.OnSelChangeDevice(); }},
    KT_CLICK(IDOK, OnRefresh),
    KT_CLICK(IDC_BTN_INQUIRY, OnInquiry),
    KT_CLICK(IDC_BTN_CAPACITY, OnGetCapacity),
    KT_CLICK(IDC_BTN_READ_SECTORS, OnReadSectors),
    KT_CLICK(IDC_BTN_WRITE_SECTORS, OnWriteSectors),
    KT_CLICK(IDC_BTN_FLAG_READ, OnFlagRead),
    KT_CLICK(IDC_BTN_FLAG_CLEAR, OnFlagClear),
    KT_CLICK(IDC_BTN_FLAG_SET, OnFlagSet),
    KT_CLICK(IDC_BTN_FLAG_TOGGLE, OnFlagToggle),
    KT_CLICK(IDC_BTN_ATTR_READ, OnAttributeRead),
    KT_CLICK(IDC_BTN_ATTR_WRITE, OnAttributeWrite),
    KT_CLICK(IDC_BTN_DESC_READ, OnDescriptorRead),
    KT_CLICK(IDC_BTN_DESC_WRITE, OnDescriptorWrite),
    KT_CLICK(IDCANCEL, OnExit),
    {M::Timer, 0, "OnTimer", [](D& d, std::uintptr_t w, std::intptr_t) { d.OnTimer(w); }},
    KT_CLICK(IDC_BTN_DME_READ, OnDmeRead),
    KT_CLICK(IDC_BTN_IC_INFO, OnBnClickedBtnIcInfo),
    KT_CLICK(IDC_BTN_LUN_INFO, OnBnClickedBtnLunInfo),
    KT_CLICK(IDC_BTN_CFG_1_LUN, OnBnClickedBtnCfg1Lun),
    KT_CLICK(IDC_BTN_WORK_MODE, OnBnClickedBtnWorkMode),
    KT_CLICK(IDC_BUTTON_LANGUAGE, OnLanguage),
    KT_CLICK(IDC_BUTTON_RESET, OnBnClickedButtonReset),
    KT_CLICK(IDC_BUTTON_UPDATE, OnBnClickedButtonUpdate),
    {M::Close, 0, "OnClose", [](D& d, std::uintptr_t, std::intptr_t) { d.OnClose(); }},
    KT_CLICK(IDC_BTN_CFG_1_LUN_DISABLED, OnBnClickedBtnCfg1LunDisabled),
};

#undef KT_CLICK

}  // namespace

std::span<const CommandEntry> DialogCommandTable() { return kCommandTable; }

}  // namespace kt
