// Construction, initialisation, the output pane, the window-level handlers
// of the main dialog, and the commands it hands to the device, panel and
// feature handlers.
#include "dialog/KT6200DemoDlg.h"

#include <algorithm>

#include "common/control_ids.h"
#include "common/platform.h"
#include "common/text_format.h"
#include "dialog/dialog_template.h"
#include "handlers/device/device.h"
#include "handlers/features/features.h"

namespace kt {

std::string CAboutDlg::VersionLine() {
    return Format("Varnel Software version: %d.%d.%d", kVersionMajor, kVersionMinor, kVersionPatch);
}

CKT6200DemoDlg::CKT6200DemoDlg(IUiPort& ui, std::string exe_path)
    : m_ui(ui),
      m_exePath(std::move(exe_path)),
      m_hIcon(IDR_MAINFRAME),
      m_strAppDir(AppDirFromExePath(m_exePath)) {}

// The transfer, the last member, is asked to stop and joined first.
CKT6200DemoDlg::~CKT6200DemoDlg() = default;

bool CKT6200DemoDlg::OnInitDialog() {
    // The front end has created the controls and filled the DME type list;
    // it also offers the About entry and sets the icons.
    m_ui.SetTitle(Format("Varnel Software: %d.%d.%d", kVersionMajor, kVersionMinor, kVersionPatch));
    m_strAppDir = AppDirFromExePath(m_exePath);
    m_hDevice = KT62_INVALID_HANDLE;
    m_ui.SetText(IDC_EDIT_IDN, "0");
    m_ui.SetText(IDC_EDIT_INDEX, "0");
    m_ui.SetText(IDC_EDIT_SELECTOR, "0");
    m_ui.SetText(IDC_EDIT_VALUE, "0");
    m_ui.SetText(IDC_EDIT_DME_REG, "0100");
    m_ui.ListSelect(IDC_COMBO_DME_TYPE, 1);
    ApplyLanguage(-1);
    OnRefresh();
    // After the search, whose pane message would clear it; a reason the search gave comes first.
    if (!m_statusShown) ShowConfigRefusal();
    return true;
}

void CKT6200DemoDlg::ShowLog(const std::string& text) {
    m_ui.SetText(IDC_EDIT_LOG, text);
    if (m_statusShown.exchange(false)) m_ui.SetText(IDC_STATIC_STATUS, "");
}

void CKT6200DemoDlg::ShowStatus(const std::string& text) {
    m_statusShown = true;
    m_ui.SetText(IDC_STATIC_STATUS, text);
}

void CKT6200DemoDlg::ShowLibraryReason() {
    std::string reason(4096, '\0');
    const std::int32_t n = kt62LastMessage(reason.data(), static_cast<std::uint32_t>(reason.size()));
    if (n <= 0) return;
    reason.resize(std::min<std::size_t>(static_cast<std::size_t>(n), reason.size() - 1));
    ShowStatus(reason);
}

void CKT6200DemoDlg::AppendLog(const std::string& line) { m_ui.AppendText(IDC_EDIT_LOG, "\r\n" + line); }

void CKT6200DemoDlg::OnSysCommand(unsigned command_id, std::intptr_t /*lParam*/) {
    if ((command_id & 0xFFF0) == IDM_ABOUTBOX) m_ui.RunAboutBox(CAboutDlg::VersionLine());
    // Every other system command belongs to the window system, which has
    // already acted on it before the dialog hears of it.
}

// The minimised window's icon is drawn by the window system here.
void CKT6200DemoDlg::OnPaint() {}

// NOLINTNEXTLINE(readability-make-member-function-const): a handler, routed as the others are
int CKT6200DemoDlg::OnQueryDragIcon() { return m_hIcon; }

void CKT6200DemoDlg::OnClose() {
    // The handle is closed once and never used afterwards: m_hDevice drops
    // it, now or as the running transfer ends.
    transfer_.CloseDevice();
    // Default close processing: Exit, unless the Exit button is disabled.
    if (m_ui.IsControlEnabled(IDCANCEL))
        Dispatch(DialogMessage::Command, IDCANCEL);
    else
        m_ui.Beep();
}

void CKT6200DemoDlg::OnReadSectors() { transfer_.OnReadSectors(); }
void CKT6200DemoDlg::OnWriteSectors() { transfer_.OnWriteSectors(); }
void CKT6200DemoDlg::OnExit() { transfer_.OnExit(); }
void CKT6200DemoDlg::OnTimer(std::uintptr_t timer_id) { transfer_.OnTimer(timer_id); }

void CKT6200DemoDlg::OnSelChangeDevice() { device::Select(*this); }
void CKT6200DemoDlg::OnRefresh() { device::Refresh(*this); }
void CKT6200DemoDlg::OnInquiry() { device::Inquiry(*this); }
void CKT6200DemoDlg::OnGetCapacity() { device::Capacity(*this); }

void CKT6200DemoDlg::OnFlagRead() { panel::FlagRead(*this); }
void CKT6200DemoDlg::OnFlagClear() { panel::FlagClear(*this); }
void CKT6200DemoDlg::OnFlagSet() { panel::FlagSet(*this); }
void CKT6200DemoDlg::OnFlagToggle() { panel::FlagToggle(*this); }
void CKT6200DemoDlg::OnAttributeRead() { panel::AttributeRead(*this); }
void CKT6200DemoDlg::OnAttributeWrite() { panel::AttributeWrite(*this); }
void CKT6200DemoDlg::OnDescriptorRead() { panel::DescriptorRead(*this, panel_); }
void CKT6200DemoDlg::OnDescriptorWrite() { panel::DescriptorWrite(*this); }
void CKT6200DemoDlg::OnDmeRead() { panel::DmeRead(*this); }
std::uint16_t CKT6200DemoDlg::DeviceSpecVersion() {
    return panel::DeviceSpecVersion(*this, panel_, TransferRunning());
}

void CKT6200DemoDlg::OnBnClickedBtnIcInfo() { features::IcInfo(*this); }
void CKT6200DemoDlg::OnBnClickedBtnLunInfo() { features::LunInfo(*this); }
void CKT6200DemoDlg::OnBnClickedBtnCfg1Lun() { features::ProvisionSingleLun(*this, true); }
void CKT6200DemoDlg::OnBnClickedBtnCfg1LunDisabled() { features::ProvisionSingleLun(*this, false); }
void CKT6200DemoDlg::OnBnClickedBtnWorkMode() { features::WorkMode(*this); }
void CKT6200DemoDlg::OnBnClickedButtonReset() { features::Reset(*this); }
void CKT6200DemoDlg::OnBnClickedButtonUpdate() { features::Update(*this); }

bool CKT6200DemoDlg::Dispatch(DialogMessage message, std::uintptr_t wparam, std::intptr_t lparam) {
    const bool has_id = message == DialogMessage::Command || message == DialogMessage::SelChange;
    const auto table = DialogCommandTable();
    const auto entry = std::ranges::find_if(table, [&](const CommandEntry& e) {
        return e.message == message && (!has_id || static_cast<std::uintptr_t>(e.id) == wparam);
    });
    if (entry == table.end()) return false;
    entry->invoke(*this, wparam, lparam);
    return true;
}

}  // namespace kt
