// The sector transfers as the user runs them: the start commands, the worker
// thread with its questions and pane lines, Exit's cancel and the timer that
// gives Exit back, and a window close during a transfer. The dialog owns one
// and routes its commands here.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "common/worker_thread.h"
#include "handlers/base/command_context.h"
#include "handlers/transfer/chunk_loop.h"

namespace kt {

class SectorTransfer {
public:
    explicit SectorTransfer(CommandContext& ctx);
    // A worker still running is asked to stop and joined, so it never outlives
    // the state it uses.
    ~SectorTransfer();
    SectorTransfer(const SectorTransfer&) = delete;
    SectorTransfer& operator=(const SectorTransfer&) = delete;

    void OnReadSectors();
    void OnWriteSectors();
    void OnExit();
    void OnTimer(std::uintptr_t timer_id);
    // The transfer's part of a window close: the device is closed now, or by
    // the worker as it ends when one runs (closing under its device call would
    // hold the user-interface thread until the call ends).
    void CloseDevice();

    bool Running() const { return m_hThread.load() != -1; }
    // Whether the running worker is inside a sector read or write call now.
    bool InDeviceCall() const { return in_device_call_.load(); }
    // The worker's keep-going flag as it stands (0 once a cancel has reached it).
    int RunningFlag() const { return m_bRunning.load(); }
    // The cancel request of Exit: the running transfer stops after its device
    // call in progress (also when the worker has not locked the controls yet).
    void CancelTransfer();
    // How the start commands create the worker (tests replace it).
    using ThreadStarter = std::function<std::unique_ptr<WorkerThread>(std::function<void()>)>;
    void SetThreadStarter(ThreadStarter starter) { start_thread_ = std::move(starter); }

private:
    // Thread procedures of the two transfers; each returns 0.
    static std::uint32_t ReadSectorsThread(SectorTransfer* transfer);
    static std::uint32_t WriteSectorsThread(SectorTransfer* transfer);
    void StartTransfer(Direction direction);
    void RunTransfer(Direction direction);
    // The transfer's checks and questions: the plan, or nullopt when the
    // pane has said why nothing moves.
    std::optional<ChunkPlan> PlanTransfer(Direction direction, ImageFile& file);
    void ExecuteTransfer(ChunkPlan& plan);
    void EnableControls(bool enable);
    // The worker's last step: a window close that came during the transfer
    // closes the device now, then m_hThread returns to -1.
    void EndOfWorker();

    std::int64_t m_liFrequency;
    // The running worker's number (1, 2, 3, ...), -1 when none runs.
    std::atomic<std::intptr_t> m_hThread{-1};
    // 1 while the worker may go on; Exit clears it.
    std::atomic<int> m_bRunning{0};
    std::atomic<bool> in_device_call_{false};

    CommandContext& ctx_;
    std::unique_ptr<WorkerThread> worker_;  // the thread behind m_hThread
    ThreadStarter start_thread_ = WorkerThread::Start;
    std::intptr_t last_thread_id_ = 0;
    // Orders the cancel request against the worker's raising of m_bRunning,
    // and a window close against the worker's end.
    std::mutex mutex_;
    bool cancel_requested_ = false;
    bool close_when_worker_ends_ = false;
    TransferBuffers buffers_;  // the worker's alone
};

}  // namespace kt
