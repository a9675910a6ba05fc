// Starting a transfer, Exit, the cancel timer, the control lock of a running
// transfer, the throughput line and a window close during a transfer.
#include <chrono>
#include <mutex>

#include "common/control_ids.h"
#include "common/platform.h"
#include "common/text_format.h"
#include "handlers/transfer/sector_transfer.h"
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

SectorTransfer::SectorTransfer(CommandContext& ctx) : m_liFrequency(QueryPerformanceFrequency()), ctx_(ctx) {}

SectorTransfer::~SectorTransfer() {
    CancelTransfer();
    worker_.reset();
}

void SectorTransfer::EnableControls(bool enable) {
    for (int id : kLockedControls) ctx_.Ui().EnableControl(id, enable);
    // A cancel requested before the worker got here stands: the flag is
    // raised only for a transfer nobody has asked to stop.
    std::lock_guard lock(mutex_);
    m_bRunning = enable || cancel_requested_ ? 0 : 1;
}

void SectorTransfer::CancelTransfer() {
    std::lock_guard lock(mutex_);
    cancel_requested_ = true;
    m_bRunning = 0;
}

void SectorTransfer::OnExit() {
    if (m_hThread.load() == -1) {
        ctx_.Ui().EndDialog(IDCANCEL);
        return;
    }
    CancelTransfer();
    ctx_.Ui().StartTimer(kCancelTimer, 100);
    ctx_.Ui().EnableControl(IDCANCEL, false);
}

void SectorTransfer::OnTimer(std::uintptr_t timer_id) {
    if (timer_id != kCancelTimer) return;
    const bool ended = !worker_ || worker_->WaitFor(std::chrono::milliseconds(10));
    if (!ended) return;
    ctx_.Ui().StopTimer(kCancelTimer);
    ctx_.Ui().EnableControl(IDCANCEL, true);
}

void SectorTransfer::OnReadSectors() { StartTransfer(Direction::Read); }
void SectorTransfer::OnWriteSectors() { StartTransfer(Direction::Write); }

void SectorTransfer::StartTransfer(Direction direction) {
    if (worker_) {
        // A worker that has unlocked the controls ends within moments; one
        // still running keeps the start buttons locked, and a command that
        // reaches here all the same starts nothing.
        if (!worker_->WaitFor(std::chrono::milliseconds(10))) return;
        worker_.reset();
    }
    const std::optional<std::uint32_t> packet_ki_b =
        ParseDecimalField(ctx_.Ui().GetText(IDC_EDIT_PACKET_SIZE));
    // The library takes the size in bytes, in 32 bits: a larger one would arrive cut.
    constexpr std::uint32_t kMaxPacketKiB = UINT32_MAX >> 10;
    if (!packet_ki_b || *packet_ki_b > kMaxPacketKiB) {
        ctx_.ShowLog("invalid packet size.");
        if (packet_ki_b)
            ctx_.ShowStatus(Format("Packet size(KiB): at most %u. Nothing was sent.", kMaxPacketKiB));
        return;
    }
    kt62SetPacketSize(*packet_ki_b << 10);
    {
        // Set before the thread exists, since the thread's last act resets it.
        std::lock_guard lock(mutex_);
        cancel_requested_ = false;
        m_hThread = ++last_thread_id_;
    }
    worker_ = start_thread_([this, direction] {
        if (direction == Direction::Read)
            ReadSectorsThread(this);
        else
            WriteSectorsThread(this);
    });
    if (!worker_) {
        m_hThread = -1;
        ctx_.ShowLog("can't create the transfer thread.");
    }
}

void SectorTransfer::CloseDevice() {
    KT62_HANDLE h = KT62_INVALID_HANDLE;
    {
        std::lock_guard lock(mutex_);
        if (m_hThread.load() != -1)
            close_when_worker_ends_ = true;
        else
            h = ctx_.ExchangeDevice(KT62_INVALID_HANDLE);
    }
    if (h != KT62_INVALID_HANDLE) kt62Close(h);
}

void SectorTransfer::EndOfWorker() {
    std::lock_guard lock(mutex_);
    if (close_when_worker_ends_) {
        close_when_worker_ends_ = false;
        const KT62_HANDLE h = ctx_.ExchangeDevice(KT62_INVALID_HANDLE);
        if (h != KT62_INVALID_HANDLE) kt62Close(h);
    }
    m_hThread = -1;
}

}  // namespace kt
