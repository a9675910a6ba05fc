// The chunk loop of a sector transfer: the device calls, their retries, the
// keep-going test and the image file's side, with no user interface. What it
// has to say goes to a sink; the worker around it turns that into pane lines.
#pragma once

#include <kt62/apiKT6200.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "handlers/transfer/image_file.h"
#include "handlers/transfer/transfer_rules.h"

namespace kt {

// What one transfer moves, checked by the caller: the range fits the device.
struct ChunkPlan {
    KT62_HANDLE device = KT62_INVALID_HANDLE;
    Direction direction = Direction::Read;
    std::uint8_t lun = 0;           // the logical unit the sectors are on
    std::uint32_t first = 0;        // first sector
    std::uint32_t count = 0;        // sectors to move
    std::uint32_t sector_size = 0;  // bytes
    // Sectors of a whole chunk, not 0: ChunkLimit(sector_size), a full buffer.
    std::uint32_t chunk_sectors = 0;
    ImageFile* file = nullptr;  // open; nullptr in the test modes
    std::string path;           // the file's name, for its failure lines
    // chunk_sectors * sector_size bytes each; the second only when there is a
    // file. The test write sends the first as it is.
    std::uint8_t* buffers[2] = {};
    // Raised while a sector read or write call runs, when given: what a
    // caller waiting for the device call in progress looks at.
    std::atomic<bool>* in_device_call = nullptr;
};

class ChunkSink {
public:
    // n sectors moved (device and file), `left` still to go, `retries` failed
    // device calls so far. Reading with a file it comes from a helper thread,
    // once that chunk is in the file, while the device reads the next one.
    virtual void ChunkDone(std::uint32_t n, std::uint32_t left, int retries) = 0;
    // The line that ends a failed transfer; nothing comes after it.
    virtual void Failed(const std::string& line) = 0;

protected:
    ~ChunkSink() = default;
};

// Moves the range one chunk of at most chunk_sectors after the other
// while `running` is not 0: true when it got to the end or was stopped, false
// after Failed. With a file, the file's side of one chunk runs beside the
// device call of the next, in the other buffer; the device calls, the sink's
// order and what the file holds after a stop are those of one chunk after
// the other. Reading, the file is closed at the end, and a failed close is a
// failure.
bool RunChunks(const ChunkPlan& plan, ChunkSink& sink, const std::atomic<int>& running);

// Runs the file's side of the chunks beside the device's, one job at a time,
// on one thread for the whole transfer: a thread of its own for each chunk
// costs its start on every chunk, and the file's side waits for it.
class HelperThread {
public:
    HelperThread() = default;
    HelperThread(const HelperThread&) = delete;
    HelperThread& operator=(const HelperThread&) = delete;
    // Finishes the job that is running, if any: it uses the caller's buffers.
    ~HelperThread();
    // Starts job once the one before has been waited for; where no thread
    // can be had, runs it at once.
    void Start(std::function<int()> job);
    // The result of the job last started.
    int Wait();

private:
    void Serve();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::function<int()> job_;
    bool done_ = true;
    bool stop_ = false;
    int result_ = 0;
    std::thread thread_;
};

// The two transfer buffers, kept from one transfer to the next: a fresh
// 32 MiB block costs its page faults and its zeroing on every transfer.
class TransferBuffers {
public:
    // Both buffers, or the first alone; false when memory could not be had.
    bool Reserve(bool both);
    std::uint8_t* operator[](int i) const { return buffers_[i].get(); }

private:
    struct Free {
        void operator()(std::uint8_t* p) const;
    };
    std::unique_ptr<std::uint8_t[], Free> buffers_[2];
};

}  // namespace kt
