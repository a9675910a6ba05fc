// The two transfer workers: device sectors to an image file and back.
//
// Both move the range in chunks of up to 32 MiB, one device call a chunk
// (three at most with the retries), and report each chunk in the pane.
// With an image file the file's input or output for one chunk runs beside
// the device call of the next, in a second buffer; what the pane shows,
// what the file holds after a failure or a cancel and which calls reach the
// device stay as if each chunk were done after the other.
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <system_error>

#include "common/control_ids.h"
#include "common/failure_text.h"
#include "common/platform.h"
#include "common/text_format.h"
#include "dialog/KT6200DemoDlg.h"
#include "handlers/transfer/image_file.h"
#include "handlers/transfer/transfer_rules.h"

namespace kt {
namespace {

constexpr const char* kImageFilter = "Binary File(*.bin)|*.bin|All files(*.*)|*.*||";

struct FreeBuffer {
    void operator()(std::uint8_t* p) const { std::free(p); }
};
// Zeroed at allocation; test write mode sends these zeros.
using Buffer = std::unique_ptr<std::uint8_t[], FreeBuffer>;

Buffer AllocateBuffer() { return Buffer(static_cast<std::uint8_t*>(std::calloc(kTransferBufferBytes, 1))); }

// Runs job on a thread of its own; where no thread can be had, at once.
std::future<int> InBackground(const std::function<int()>& job) {
    try {
        return std::async(std::launch::async, job);
    } catch (const std::system_error&) {
        std::promise<int> done;
        done.set_value(job());
        return done.get_future();
    }
}

}  // namespace

std::uint32_t CKT6200DemoDlg::ReadSectorsThread(CKT6200DemoDlg* dlg) {
    dlg->RunTransfer(TransferKind::Read);
    return 0;
}

std::uint32_t CKT6200DemoDlg::WriteSectorsThread(CKT6200DemoDlg* dlg) {
    dlg->RunTransfer(TransferKind::Write);
    return 0;
}

void CKT6200DemoDlg::RunTransfer(TransferKind kind) {
    const Direction direction = kind == TransferKind::Read ? Direction::Read : Direction::Write;
    const bool reading = direction == Direction::Read;
    EnableControls(false);

    // Everything between locking and unlocking the controls; every return
    // ends the transfer, with the file closed and the buffers released.
    [&] {
        const KT62_HANDLE h = m_hDevice.load();
        std::uint32_t sectors = 0;
        std::uint32_t sectorSize = 0;
        (void)kt62LastMessage(nullptr, 0);
        if (const std::int32_t r = kt62ScsiReadCapacity(h, &sectors, &sectorSize); r != 0) {
            ShowLog(FailToText("scsi read capacity", r));
            ShowLibraryReason();  // a device whose state cannot be loaded says why
            return;
        }
        const std::optional<std::uint32_t> start = ParseDecimalField(m_ui.GetText(IDC_EDIT_START_SECTOR));
        if (!start) {
            ShowLog("invalid start sector.");
            return;
        }
        const std::optional<std::uint32_t> count = ParseDecimalField(m_ui.GetText(IDC_EDIT_SECTOR_COUNT));
        if (!count) {
            ShowLog("invalid sector count.");
            return;
        }
        const std::uint32_t limit = ChunkLimit(sectorSize);
        if (limit == 0) {
            ShowLog(Format("invalid sector size %u.", sectorSize));
            return;
        }
        if (!RangeFits(*start, *count, sectors)) {
            ShowLog("out of range.");
            return;
        }

        std::uint32_t remaining = *count;
        ImageFile file;
        const std::optional<std::string> path =
            m_ui.ChooseFile(reading ? FileChooserMode::Save : FileChooserMode::Open, kImageFilter);
        if (path) {
            std::string why;
            if (!(reading ? file.Create(*path, why) : file.OpenForReading(*path, why))) {
                ShowLog("can't open file.");
                ShowStatus(*path + ": " + why);
                return;
            }
            if (!reading) {
                const std::uint64_t whole = file.Size() / sectorSize;
                if (whole < remaining) {
                    if (!m_ui.AskYesNo("file too small. resize?", "File size")) return;
                    remaining = static_cast<std::uint32_t>(whole);
                }
            }
        } else if (!m_ui.AskYesNo(reading ? "Using test reading mode?" : "Fill memory with zero?",
                                  reading ? "Test read" : "Test write")) {
            return;
        }

        // Two buffers take turns when there is a file: the device uses one while
        // the file's input or output runs on the other.
        const Buffer bufferA = AllocateBuffer();
        const Buffer bufferB = file.IsOpen() ? AllocateBuffer() : Buffer();
        if (!bufferA || (file.IsOpen() && !bufferB)) {
            ShowLog("can't allocate the transfer buffer.");
            return;
        }
        std::uint8_t* const buffers[2] = {bufferA.get(), bufferB.get()};
        const std::int64_t startTime = QueryPerformanceCounter();
        const std::uint32_t total = remaining;
        std::uint32_t next = *start;
        std::uint32_t totalMB = 0;
        int retries = 0;
        m_ui.SetProgress(IDC_PROGRESS_TRANSFER, 0);

        // One chunk's device calls: up to three, the same arguments each time,
        // no more once a cancel has been requested.
        auto deviceCalls = [&](std::uint32_t first, std::uint32_t n, std::uint8_t* data) {
            for (int failures = 0;;) {
                const std::int32_t r = reading ? kt62ScsiRead10(h, first, sectorSize, data, n)
                                               : kt62ScsiWrite10(h, first, sectorSize, data, n);
                if (r == 0 || m_bRunning.load() == 0) return r;
                ++retries;
                if (++failures == kCallsPerChunk) return r;
            }
        };
        // A completed chunk: progress, total, throughput.
        auto report = [&](std::uint32_t n, std::uint32_t left, int retriesSoFar) {
            ShowLog(ProgressText(direction, left, retriesSoFar));
            m_ui.SetProgress(IDC_PROGRESS_TRANSFER, ProgressPermille(total - left, total));
            totalMB += ChunkMB(n, sectorSize);
            ReportThroughput(startTime, totalMB);
        };
        auto finish = [&] { AppendLog(m_bRunning.load() != 0 ? "Done." : "Cancelled."); };

        std::uint64_t offset = 0;  // of the chunk at `next` in the image file
        int current = 0;           // the buffer the device call uses
        if (reading) {
            // A chunk read from the device whose file write (and then its
            // report, as soon as it is written) is still running.
            struct Pending {
                std::uint32_t first, leftBefore;
                std::future<int> written;
            };
            std::optional<Pending> pending;
            // Waits for the pending write; false when it failed (reported:
            // the file keeps the chunks before it).
            auto settle = [&] {
                if (!pending) return true;
                Pending p = std::move(*pending);
                pending.reset();
                if (const int error = p.written.get(); error != 0) {
                    AppendLog(FileFailureText(direction, *path, p.first, p.leftBefore, error));
                    return false;
                }
                return true;
            };
            while (remaining != 0 && m_bRunning.load() != 0) {
                const std::uint32_t n = std::min(limit, remaining);
                const std::size_t bytes = std::size_t{n} * sectorSize;
                std::uint8_t* data = buffers[current];
                if (const std::int32_t r = deviceCalls(next, n, data); r != 0) {
                    // A failed file write came first, and is what ended the transfer.
                    if (settle()) AppendLog(DeviceFailureText(direction, r, next, remaining));
                    return;
                }
                if (!settle()) return;
                if (file.IsOpen()) {
                    const std::uint32_t left = remaining - n;
                    const int retriesSoFar = retries;
                    pending = Pending{next, remaining,
                                      InBackground([&, data, bytes, offset, n, left, retriesSoFar] {
                                          const int error = file.WriteAt(data, bytes, offset);
                                          if (error == 0) report(n, left, retriesSoFar);
                                          return error;
                                      })};
                    current ^= 1;
                } else {
                    report(n, remaining - n, retries);
                }
                next += n;
                remaining -= n;
                offset += bytes;
            }
            if (!settle()) return;
            if (const int error = file.Close(); error != 0) {
                AppendLog(FileFailureText(direction, *path, next, remaining, error));
                return;
            }
            finish();
            return;
        }

        // Writing: the file's next chunk is read while the device takes this one.
        std::optional<std::future<int>> ahead;
        while (remaining != 0 && m_bRunning.load() != 0) {
            const std::uint32_t n = std::min(limit, remaining);
            const std::size_t bytes = std::size_t{n} * sectorSize;
            std::uint8_t* data = buffers[current];
            if (file.IsOpen()) {
                int error = 0;
                if (ahead) {
                    error = ahead->get();
                    ahead.reset();
                } else {
                    error = file.ReadAt(data, bytes, offset);
                }
                // Nothing of a chunk the file could not fill reaches the device.
                if (error != 0) {
                    AppendLog(FileFailureText(direction, *path, next, remaining, error));
                    return;
                }
                if (const std::uint32_t following = std::min(limit, remaining - n); following != 0) {
                    std::uint8_t* spare = buffers[current ^ 1];
                    const std::size_t spareBytes = std::size_t{following} * sectorSize;
                    const std::uint64_t spareOffset = offset + bytes;
                    ahead = InBackground([&file, spare, spareBytes, spareOffset] {
                        return file.ReadAt(spare, spareBytes, spareOffset);
                    });
                }
            }
            if (const std::int32_t r = deviceCalls(next, n, data); r != 0) {
                AppendLog(DeviceFailureText(direction, r, next, remaining));
                return;
            }
            next += n;
            remaining -= n;
            offset += bytes;
            report(n, remaining, retries);
            if (file.IsOpen()) current ^= 1;
        }
        if (ahead) ahead->wait();
        file.Close();
        finish();
    }();

    EnableControls(true);
    EndOfWorker();
}

}  // namespace kt
