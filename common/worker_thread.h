// A joinable thread with a bounded wait, standing in for a thread handle.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace kt {

class WorkerThread {
public:
    // Starts body on a new thread; nullptr when the thread cannot be created.
    static std::unique_ptr<WorkerThread> Start(std::function<void()> body);
    ~WorkerThread();  // joins

    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // True once body has returned; waits at most timeout for it.
    bool WaitFor(std::chrono::milliseconds timeout);

private:
    WorkerThread() = default;
    std::mutex mutex_;
    std::condition_variable ended_;
    bool finished_ = false;
    std::thread thread_;
};

}  // namespace kt
