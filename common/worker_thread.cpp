#include "common/worker_thread.h"

#include <system_error>

namespace kt {

std::unique_ptr<WorkerThread> WorkerThread::Start(std::function<void()> body) {
    std::unique_ptr<WorkerThread> w(new WorkerThread);
    WorkerThread* self = w.get();
    try {
        w->thread_ = std::thread([self, body = std::move(body)] {
            body();
            std::lock_guard lock(self->mutex_);
            self->finished_ = true;
            self->ended_.notify_all();
        });
    } catch (const std::system_error&) {
        return nullptr;
    }
    return w;
}

WorkerThread::~WorkerThread() {
    if (thread_.joinable()) thread_.join();
}

bool WorkerThread::WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return ended_.wait_for(lock, timeout, [this] { return finished_; });
}

}  // namespace kt
