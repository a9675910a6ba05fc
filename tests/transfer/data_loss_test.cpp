// Nothing lost, nothing extra: a transfer of three chunks (two whole ones of
// 32 MiB and a short last one) stopped at each chunk in turn, by a cancel,
// by a device call that fails three times and by an image file that fails.
// Afterwards the image file (reading) or the device range (writing) holds
// exactly the chunks completed before the stop, byte for byte, and nothing
// of the others.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fstream>
#include <mutex>

#include "tests/transfer/transfer_fixture.h"

namespace kt::test {
namespace {

constexpr std::uint32_t kChunks = 3;
constexpr std::uint32_t kLastChunk = 100;                  // sectors of the short last chunk
constexpr std::uint32_t kRange = 2 * kChunk + kLastChunk;  // sectors, from sector 0

std::uint32_t ChunkSectors(std::uint32_t k) { return k + 1 < kChunks ? kChunk : kLastChunk; }
std::size_t BytesOfChunks(std::uint32_t n) {
    std::size_t bytes = 0;
    for (std::uint32_t k = 0; k < n; ++k) bytes += std::size_t{ChunkSectors(k)} * kSector;
    return bytes;
}

// Sectors that differ from each other and from those of another seed: each
// starts with the seed and its number, and the rest repeats a pattern of the
// seed, so that a sector out of place or a shift inside one shows. Built a
// sector at a time, as byte-wise loops over 64 MiB are slow under the
// sanitizers.
std::string Sectors(std::uint32_t seed) {
    std::string sector(kSector, '\0');
    for (std::uint32_t i = 0; i < kSector; ++i)
        sector[i] = static_cast<char>((i * 7 + seed * 13 + (i >> 8)) & 0xFF);
    std::string bytes(std::size_t{kRange} * kSector, '\0');
    for (std::uint32_t n = 0; n < kRange; ++n) {
        const std::uint64_t tag = (std::uint64_t{seed} << 32) | n;
        std::memcpy(bytes.data() + std::size_t{n} * kSector, sector.data(), kSector);
        std::memcpy(bytes.data() + std::size_t{n} * kSector, &tag, sizeof tag);
    }
    return bytes;
}
// What the device range holds before the transfer, and what the image file
// to write holds.
const std::string& DeviceBefore() {
    static const std::string bytes = Sectors(1);
    return bytes;
}
const std::string& ImageToWrite() {
    static const std::string bytes = Sectors(2);
    return bytes;
}

// A recording port that can hold a progress report until the test has
// pressed Exit, and that shortens the image file while the size question
// is asked.
class GatePort : public FakeUiPort {
public:
    // Progress reports count from 0: the one before the first chunk, then
    // one after each chunk. Report `gateAt` waits for Release().
    void SetProgress(int id, int permille) override {
        FakeUiPort::SetProgress(id, permille);
        std::unique_lock lock(mutex_);
        if (reports_++ != gateAt) return;
        reached_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return released_; });
    }
    bool AskYesNo(const std::string& text, const std::string& caption) override {
        if (onAsk) onAsk();
        return FakeUiPort::AskYesNo(text, caption);
    }
    void WaitReached() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return reached_; });
    }
    void Release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

    int gateAt = -1;
    std::function<void()> onAsk;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int reports_ = 0;
    bool reached_ = false;
    bool released_ = false;
};

enum class Stop { Cancel, Device, File };

struct LossCase {
    bool reading;
    Stop stop;
    std::uint32_t k;  // the chunk at which the transfer stops
};

std::string CaseName(const testing::TestParamInfo<LossCase>& info) {
    const LossCase& c = info.param;
    static const char* const kStops[] = {"CancelAfterChunk", "DeviceFailsAtChunk", "FileFailsAtChunk"};
    return std::string(c.reading ? "Read" : "Write") + kStops[static_cast<int>(c.stop)] + std::to_string(c.k);
}

class DataLoss : public TransferFixture<GatePort>, public testing::WithParamInterface<LossCase> {
protected:
    std::string Image() { return dir_.Path() + "/image.bin"; }
    const char* Call() const { return GetParam().reading ? "kt62ScsiRead10" : "kt62ScsiWrite10"; }

    // Runs the read in a child process whose file size limit stops the
    // image file inside chunk k; the child leaves the pane in a file.
    std::string ReadUnderFileSizeLimit(std::uint32_t k) {
        const std::string paneFile = dir_.Path() + "/pane.txt";
        const pid_t child = fork();
        if (child == 0) {
            rlimit limit{};
            limit.rlim_cur = limit.rlim_max = BytesOfChunks(k) + std::size_t{ChunkSectors(k)} * kSector / 2;
            std::signal(SIGXFSZ, SIG_IGN);
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(2);
            GatePort ui;
            {
                CKT6200DemoDlg dlg(ui, dir_.Path() + "/kt6200");
                dlg.SetDeviceHandle(handle_);
                ui.SetText(IDC_EDIT_START_SECTOR, "0");
                ui.SetText(IDC_EDIT_SECTOR_COUNT, std::to_string(kRange));
                ui.SetText(IDC_EDIT_PACKET_SIZE, "64");
                ui.QueueFile(Image());
                dlg.Dispatch(DialogMessage::Command, IDC_BTN_READ_SECTORS);
                while (dlg.TransferRunning()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
                if (!ui.IsControlEnabled(IDC_BTN_READ_SECTORS)) _exit(3);
            }
            std::ofstream(paneFile, std::ios::binary) << ui.Pane();
            _exit(0);
        }
        int status = 0;
        EXPECT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
        return TempDir::Read(paneFile);
    }
};

TEST_P(DataLoss, KeepsExactlyTheChunksCompletedBeforeTheStop) {
    const LossCase& c = GetParam();
    const std::uint32_t first = c.k * kChunk;  // the stopping chunk's first sector
    std::string rules;
    if (c.stop == Stop::Device)
        // Writing, the rule lets the calls that lay out the device's old
        // contents pass first (one a chunk, from the start).
        rules = Format(R"(, "faults": [{"call": "%s", "match": {"lba_from": %u}, "after": %u, "times": 3,
                                       "result": -5}])",
                       Call(), first, c.reading ? 0 : kChunks - c.k);
    Open(std::string(kSmallDevice) + rules);
    PutSectors(0, DeviceBefore());
    MarkTrace();
    Fields(0, kRange);

    std::string pane;
    std::uint32_t completed = c.k;  // chunks the stop leaves in place
    std::uint32_t range = kRange;   // sectors the transfer moves
    std::string lastLine;
    if (c.stop == Stop::File && c.reading) {
        pane = ReadUnderFileSizeLimit(c.k);
        lastLine = Format("write file fail at sector:%u, left %u sectors. %s: File too large", first,
                          kRange - first, Image().c_str());
    } else {
        if (c.reading) {
            ui_.QueueFile(Image());
        } else {
            // One sector short, so the size question is asked; while it is,
            // the file shrinks to end inside chunk k.
            std::ofstream(Image(), std::ios::binary)
                << ImageToWrite().substr(0, (kRange - 1) * std::size_t{kSector});
            ui_.QueueFile(Image());
            ui_.QueueAnswer(true);
            range = kRange - 1;
            if (c.stop == Stop::File)
                ui_.onAsk = [this, k = c.k] {
                    std::filesystem::resize_file(Image(), BytesOfChunks(k) + kSector / 2);
                };
        }
        if (c.stop == Stop::Cancel) {
            completed = c.k + 1;
            // Writing, the report after chunk k holds the worker before
            // chunk k + 1; reading, the report of chunk k - 1 runs beside
            // chunk k's device call, and is held until that call is done.
            ui_.gateAt = c.reading ? static_cast<int>(c.k) : static_cast<int>(c.k + 1);
        }
        dlg_.Dispatch(DialogMessage::Command, c.reading ? IDC_BTN_READ_SECTORS : IDC_BTN_WRITE_SECTORS);
        if (c.stop == Stop::Cancel) {
            ui_.WaitReached();
            if (c.reading && c.k > 0) {
                const bool called = WaitUntil([&] { return Trace("kt62ScsiRead10").size() == c.k + 1; });
                dlg_.Dispatch(DialogMessage::Command, IDCANCEL);
                ui_.Release();
                ASSERT_TRUE(called) << "chunk " << c.k << "'s device read did not end";
            } else if (c.reading) {
                // No report comes between the first chunk's device call and
                // the second's: Exit is pressed while the first call is held.
                call_gate::Hold("kt62ScsiRead10", 0);
                ui_.Release();
                const bool entered = WaitUntil(call_gate::Entered);
                dlg_.Dispatch(DialogMessage::Command, IDCANCEL);
                call_gate::Release();
                ASSERT_TRUE(entered) << "the first chunk's device read did not begin";
            } else {
                dlg_.Dispatch(DialogMessage::Command, IDCANCEL);
                ui_.Release();
            }
        }
        ASSERT_TRUE(WaitUntil([&] { return !dlg_.TransferRunning(); }));
        pane = ui_.Pane();
        EXPECT_TRUE(ui_.IsControlEnabled(c.reading ? IDC_BTN_READ_SECTORS : IDC_BTN_WRITE_SECTORS));
        if (c.stop == Stop::Cancel)
            lastLine = "Cancelled.";
        else if (c.stop == Stop::Device)
            lastLine = Format("scsi %s10 fail -5 at sector:%u, left %u sectors.",
                              c.reading ? "read" : "write", first, range - first);
        else
            lastLine =
                Format("read file fail at sector:%u, left %u sectors. %s: the file is shorter than the range",
                       first, range - first, Image().c_str());
    }

    EXPECT_EQ(SplitLines(pane).back(), lastLine) << pane;
    const std::size_t kept = std::min(BytesOfChunks(completed), std::size_t{range} * kSector);
    if (c.reading) {
        const std::string file = TempDir::Read(Image());
        EXPECT_EQ(file.size(), kept);
        EXPECT_TRUE(file == DeviceBefore().substr(0, kept)) << "the image file differs from the device";
    } else {
        const std::string device = GetSectors(0, kRange);
        EXPECT_TRUE(device.substr(0, kept) == ImageToWrite().substr(0, kept)) << "the written chunks differ";
        EXPECT_TRUE(device.substr(kept) == DeviceBefore().substr(kept)) << "sectors after the stop changed";
    }
    if (c.stop == Stop::Device) {
        EXPECT_EQ(Trace(Call()).size(), c.k + 3u);  // the chunks before, then three tries
    }
}

std::vector<LossCase> AllCases() {
    std::vector<LossCase> cases;
    for (bool reading : {true, false})
        for (Stop stop : {Stop::Cancel, Stop::Device, Stop::File})
            for (std::uint32_t k = 0; k < kChunks; ++k) cases.push_back({reading, stop, k});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryChunk, DataLoss, testing::ValuesIn(AllCases()), CaseName);

}  // namespace
}  // namespace kt::test
