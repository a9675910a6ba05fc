// Exit, the cancel timer, the control lock of a running transfer and the
// throughput line.
#include <chrono>

#include "app/KT6200DemoDlg.h"
#include "app/control_ids.h"
#include "app/platform.h"
#include "transfer/throughput.h"

namespace kt {
namespace {

constexpr int kCancelTimer = 0;

// Controls a running transfer locks, in the order they are switched.
constexpr int kLockedControls[] = {
    IDC_BTN_READ_SECTORS,
    IDC_BTN_WRITE_SECTORS,
    IDC_BTN_ATTR_READ,
    IDC_BTN_ATTR_WRITE,
    IDC_BTN_DESC_READ,
    IDC_BTN_DESC_WRITE,
    IDC_BTN_FLAG_READ,
    IDC_BTN_FLAG_CLEAR,
    IDC_BTN_FLAG_SET,
    IDC_BTN_FLAG_TOGGLE,
    IDC_BTN_INQUIRY,
    IDC_BTN_CAPACITY,
    IDOK,
    IDC_COMBO_DEVICE,
};

}  // namespace

void CKT6200DemoDlg::EnableControls(bool bEnable) {
    for (int id : kLockedControls) m_ui.EnableControl(id, bEnable);
    m_bRunning = bEnable ? 0 : 1;
}

void CKT6200DemoDlg::OnExit() {
    if (m_hThread.load() == -1) {
        m_ui.EndDialog(IDCANCEL);
        return;
    }
    m_bRunning = 0;
    m_ui.StartTimer(kCancelTimer, 100);
    m_ui.EnableControl(IDCANCEL, false);
}

void CKT6200DemoDlg::OnTimer(std::uintptr_t nIDEvent) {
    if (nIDEvent != kCancelTimer) return;
    const bool ended =
        m_hThread.load() == -1 || !m_worker || m_worker->WaitFor(std::chrono::milliseconds(10));
    if (!ended) return;
    m_ui.StopTimer(kCancelTimer);
    m_ui.EnableControl(IDCANCEL, true);
}

void CKT6200DemoDlg::ReportThroughput(const std::int64_t& start, std::uint32_t totalMB) {
    AppendLog(ThroughputText(ElapsedMs(start, QueryPerformanceCounter(), m_liFrequency), totalMB));
}

void CKT6200DemoDlg::OnReadSectors() {}
void CKT6200DemoDlg::OnWriteSectors() {}

}  // namespace kt
