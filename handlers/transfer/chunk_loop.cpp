#include "handlers/transfer/chunk_loop.h"

#include <sys/mman.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <system_error>
#include <thread>
#include <utility>

namespace kt {
namespace {

class Loop {
public:
    Loop(const ChunkPlan& plan, ChunkSink& sink, const std::atomic<int>& running)
        : plan_(plan),
          sink_(sink),
          running_(running),
          limit_(plan.chunk_sectors),
          next_(plan.first),
          remaining_(plan.count) {}

    bool Read();
    bool Write();

private:
    // One chunk's device calls: up to three, the same arguments each time, no
    // more once a cancel has been requested.
    std::int32_t DeviceCalls(std::uint32_t n, std::uint8_t* data) {
        for (int failures = 0;;) {
            // The library's reason for a failure must be this call's, not an earlier try's.
            (void)kt62LastMessage(nullptr, 0);
            if (plan_.in_device_call) *plan_.in_device_call = true;
            const std::int32_t r = Call(next_, data, n);
            if (plan_.in_device_call) *plan_.in_device_call = false;
            if (r == 0 || running_.load() == 0) return r;
            ++retries_;
            if (++failures == kCallsPerChunk) return r;
        }
    }
    // Unit 0 through the calls of unit 0, so that its trace lines stay those of the bench tool.
    std::int32_t Call(std::uint32_t lba, std::uint8_t* data, std::uint32_t n) const {
        const bool read = plan_.direction == Direction::Read;
        if (plan_.lun == 0)
            return read ? kt62ScsiRead10(plan_.device, lba, plan_.sector_size, data, n)
                        : kt62ScsiWrite10(plan_.device, lba, plan_.sector_size, data, n);
        return read ? kt62ScsiRead10Unit(plan_.device, plan_.lun, lba, plan_.sector_size, data, n)
                    : kt62ScsiWrite10Unit(plan_.device, plan_.lun, lba, plan_.sector_size, data, n);
    }
    bool Fail(const std::string& line) {
        sink_.Failed(line);
        return false;
    }
    bool DeviceFailed(std::int32_t r) {
        return Fail(DeviceFailureText(plan_.direction, r, next_, remaining_));
    }
    bool FileFailed(std::uint32_t sector, std::uint32_t left, int error) {
        return Fail(FileFailureText(plan_.direction, plan_.path, sector, left, error));
    }
    std::uint32_t ChunkAt() const { return std::min(limit_, remaining_); }
    std::size_t Bytes(std::uint32_t n) const { return std::size_t{n} * plan_.sector_size; }
    void Advance(std::uint32_t n) {
        next_ += n;
        remaining_ -= n;
        offset_ += Bytes(n);
    }

    const ChunkPlan& plan_;
    ChunkSink& sink_;
    const std::atomic<int>& running_;
    const std::uint32_t limit_;
    std::uint32_t next_;
    std::uint32_t remaining_;
    std::uint64_t offset_ = 0;  // of the chunk at next_ in the image file
    int retries_ = 0;
    int current_ = 0;      // the buffer the device call uses
    HelperThread helper_;  // last: it finishes its job before the rest goes
};

bool Loop::Read() {
    ImageFile* const file = plan_.file;
    // A chunk read from the device whose file write (and then its report, as
    // soon as it is written) is still running.
    struct Pending {
        std::uint32_t first, left_before;
    };
    std::optional<Pending> pending;
    // Waits for the pending write; false when it failed (reported: the file
    // keeps the chunks before it).
    auto settle = [&] {
        if (!pending) return true;
        const Pending p = *pending;
        pending.reset();
        if (const int error = helper_.Wait(); error != 0) return FileFailed(p.first, p.left_before, error);
        return true;
    };
    while (remaining_ != 0 && running_.load() != 0) {
        const std::uint32_t n = ChunkAt();
        std::uint8_t* data = plan_.buffers[current_];
        if (const std::int32_t r = DeviceCalls(n, data); r != 0) {
            // A failed file write came first, and is what ended the transfer.
            return settle() && DeviceFailed(r);
        }
        if (!settle()) return false;
        const std::uint32_t left = remaining_ - n;
        if (file) {
            pending = Pending{next_, remaining_};
            helper_.Start(
                [this, file, data, bytes = Bytes(n), offset = offset_, n, left, retries = retries_] {
                    const int error = file->WriteAt(data, bytes, offset);
                    if (error == 0) sink_.ChunkDone(n, left, retries);
                    return error;
                });
            current_ ^= 1;
        } else {
            sink_.ChunkDone(n, left, retries_);
        }
        Advance(n);
    }
    if (!settle()) return false;
    if (file)
        if (const int error = file->Close(); error != 0) return FileFailed(next_, remaining_, error);
    return true;
}

bool Loop::Write() {
    ImageFile* const file = plan_.file;
    // The file's next chunk, read while the device takes this one.
    bool ahead = false;
    while (remaining_ != 0 && running_.load() != 0) {
        const std::uint32_t n = ChunkAt();
        std::uint8_t* data = plan_.buffers[current_];
        if (file) {
            const int error = ahead ? helper_.Wait() : file->ReadAt(data, Bytes(n), offset_);
            ahead = false;
            // Nothing of a chunk the file could not fill reaches the device.
            if (error != 0) return FileFailed(next_, remaining_, error);
            if (const std::uint32_t following = std::min(limit_, remaining_ - n); following != 0) {
                helper_.Start([file, spare = plan_.buffers[current_ ^ 1], bytes = Bytes(following),
                               offset = offset_ + Bytes(n)] { return file->ReadAt(spare, bytes, offset); });
                ahead = true;
            }
        }
        if (const std::int32_t r = DeviceCalls(n, data); r != 0) return DeviceFailed(r);
        Advance(n);
        sink_.ChunkDone(n, remaining_, retries_);
        if (file) current_ ^= 1;
    }
    if (ahead) (void)helper_.Wait();
    if (file) file->Close();
    return true;
}

}  // namespace

HelperThread::~HelperThread() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void HelperThread::Start(std::function<int()> job) {
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread([this] { Serve(); });
        } catch (const std::system_error&) {
            result_ = job();
            return;
        }
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        job_ = std::move(job);
        done_ = false;
    }
    wake_.notify_all();
}

int HelperThread::Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, [this] { return done_; });
    return result_;
}

void HelperThread::Serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || job_; });
        if (!job_) return;
        const std::function<int()> job = std::exchange(job_, nullptr);
        lock.unlock();
        const int result = job();
        lock.lock();
        result_ = result;
        done_ = true;
        wake_.notify_all();
    }
}

bool RunChunks(const ChunkPlan& plan, ChunkSink& sink, const std::atomic<int>& running) {
    Loop loop(plan, sink, running);
    return plan.direction == Direction::Read ? loop.Read() : loop.Write();
}

void TransferBuffers::Free::operator()(std::uint8_t* p) const { std::free(p); }

bool TransferBuffers::Reserve(bool both) {
    // Aligned to a huge page, so that the system may back the block with a
    // few of them instead of thousands of small pages.
    constexpr std::size_t kAlign = std::size_t{2} << 20;
    for (auto& buffer : std::span(buffers_).first(both ? 2 : 1)) {
        if (buffer) continue;
        void* p = nullptr;
        if (posix_memalign(&p, kAlign, kTransferBufferBytes) != 0) return false;
#ifdef MADV_HUGEPAGE
        (void)madvise(p, kTransferBufferBytes, MADV_HUGEPAGE);
#endif
        buffer.reset(static_cast<std::uint8_t*>(p));
    }
    return true;
}

}  // namespace kt
