// Exit, the cancel timer, the control lock of a running transfer and the
// throughput line.
#include <chrono>
#include <mutex>

#include "common/control_ids.h"
#include "common/platform.h"
#include "common/text_format.h"
#include "dialog/KT6200DemoDlg.h"
#include "handlers/transfer/throughput.h"
#include "handlers/transfer/transfer_rules.h"

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
    // A cancel requested before the worker got here stands: the flag is
    // raised only for a transfer nobody has asked to stop.
    std::lock_guard lock(m_transferMutex);
    m_bRunning = bEnable || m_cancelRequested ? 0 : 1;
}

void CKT6200DemoDlg::CancelTransfer() {
    std::lock_guard lock(m_transferMutex);
    m_cancelRequested = true;
    m_bRunning = 0;
}

void CKT6200DemoDlg::OnExit() {
    if (m_hThread.load() == -1) {
        m_ui.EndDialog(IDCANCEL);
        return;
    }
    CancelTransfer();
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

void CKT6200DemoDlg::OnReadSectors() { StartTransfer(TransferKind::Read); }
void CKT6200DemoDlg::OnWriteSectors() { StartTransfer(TransferKind::Write); }

void CKT6200DemoDlg::StartTransfer(TransferKind kind) {
    if (m_worker) {
        // A worker that has unlocked the controls ends within moments; one
        // still running keeps the start buttons locked, and a command that
        // reaches here all the same starts nothing.
        if (!m_worker->WaitFor(std::chrono::milliseconds(10))) return;
        m_worker.reset();
    }
    const std::optional<std::uint32_t> packetKiB = ParseDecimalField(m_ui.GetText(IDC_EDIT_PACKET_SIZE));
    // The library takes the size in bytes, in 32 bits: a larger one would arrive cut.
    constexpr std::uint32_t kMaxPacketKiB = UINT32_MAX >> 10;
    if (!packetKiB || *packetKiB > kMaxPacketKiB) {
        ShowLog("invalid packet size.");
        if (packetKiB) ShowStatus(Format("Packet size(KiB): at most %u. Nothing was sent.", kMaxPacketKiB));
        return;
    }
    kt62SetPacketSize(*packetKiB << 10);
    {
        // Set before the thread exists, since the thread's last act resets it.
        std::lock_guard lock(m_transferMutex);
        m_cancelRequested = false;
        m_hThread = ++m_lastThreadId;
    }
    m_worker = m_startThread([this, kind] {
        if (kind == TransferKind::Read)
            ReadSectorsThread(this);
        else
            WriteSectorsThread(this);
    });
    if (!m_worker) {
        m_hThread = -1;
        ShowLog("can't create the transfer thread.");
    }
}

void CKT6200DemoDlg::EndOfWorker() {
    std::lock_guard lock(m_transferMutex);
    if (m_closeWhenWorkerEnds) {
        m_closeWhenWorkerEnds = false;
        const KT62_HANDLE h = m_hDevice.exchange(KT62_INVALID_HANDLE);
        if (h != KT62_INVALID_HANDLE) kt62Close(h);
    }
    m_hThread = -1;
}

}  // namespace kt
