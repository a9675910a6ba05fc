// The two transfers end to end on the emulated device: image files against
// the device's sectors byte for byte, the pane, retries, cancel, test modes,
// the size question, file failures and the refusals before any chunk.

#include <fstream>

#include "tests/transfer/transfer_fixture.h"

namespace kt::test {
namespace {

class Transfer : public TransferFixture<FakeUiPort> {
protected:
    // Every text the pane was given, in order (shows and appends alike).
    std::vector<std::string> PaneHistory() {
        std::vector<std::string> texts;
        for (const std::string& entry : ui_.Log()) {
            for (const char* op : {"SetText 1001 ", "AppendText 1001 \r\n"})
                if (entry.rfind(op, 0) == 0) texts.push_back(entry.substr(std::string(op).size()));
        }
        return texts;
    }
    // The MB figure of every throughput line so far.
    std::vector<int> ThroughputMB() {
        std::vector<int> mb;
        for (const std::string& text : PaneHistory()) {
            unsigned s = 0, ms = 0;
            int total = 0;
            if (std::sscanf(text.c_str(), "Takes %u.%us to trans %dMB", &s, &ms, &total) == 3)
                mb.push_back(total);
        }
        return mb;
    }
    bool Asked(const std::string& what) {
        for (const std::string& entry : ui_.Log())
            if (entry.rfind(what, 0) == 0) return true;
        return false;
    }
    std::string Image(const std::string& name) { return dir_.Path() + "/" + name; }
};

TEST_F(Transfer, ReadPutsTheDeviceSectorsIntoTheFileAndWriteTakesThemBack) {
    Open();
    const std::string data = Pattern(100, 20000);  // chunks of 8192, 8192 and 3616 sectors
    PutSectors(100, data);
    ui_.SetText(IDC_EDIT_LOG, "before");
    Fields(100, 20000);
    ui_.QueueFile(Image("read.bin"));
    RunToEnd(IDC_BTN_READ_SECTORS);
    EXPECT_TRUE(TempDir::Read(Image("read.bin")) == data);
    const auto lines = SplitLines(ui_.Pane());
    ASSERT_EQ(lines.size(), 4u) << ui_.Pane();
    EXPECT_EQ(lines[0], "left 0 sectors. ");
    EXPECT_EQ(lines[1], "Retried 0 times.");
    EXPECT_EQ(lines[2].rfind("Takes ", 0), 0u);
    EXPECT_EQ(lines[3], "Done.");
    EXPECT_EQ(ThroughputMB(), (std::vector<int>{32, 64, 78}));
    EXPECT_EQ(ui_.Progress(IDC_PROGRESS_TRANSFER), 1000);

    // Back to another place through the write transfer, from the same file.
    Fields(30000, 20000);
    ui_.QueueFile(Image("read.bin"));
    RunToEnd(IDC_BTN_WRITE_SECTORS);
    EXPECT_TRUE(GetSectors(30000, 20000) == data);
    EXPECT_EQ(ui_.Pane().substr(0, 34), "left 0 sectors. \nRetried 0 times.\r");
    EXPECT_EQ(SplitLines(ui_.Pane()).back(), "Done.");
    EXPECT_EQ(ui_.Progress(IDC_PROGRESS_TRANSFER), 1000);
    EXPECT_TRUE(ui_.IsControlEnabled(IDC_BTN_READ_SECTORS));
    EXPECT_EQ(dlg_.m_bRunning.load(), 0);
}

TEST_F(Transfer, CountZeroCreatesAnEmptyFileAndIsDone) {
    Open();
    ui_.SetText(IDC_EDIT_LOG, "X");
    std::ofstream(Image("old.bin")) << "old contents";
    Fields(5, 0);
    ui_.QueueFile(Image("old.bin"));
    RunToEnd(IDC_BTN_READ_SECTORS);
    EXPECT_EQ(ui_.Pane(), "X\r\nDone.");
    EXPECT_EQ(TempDir::Read(Image("old.bin")), "");
    EXPECT_TRUE(Trace("kt62ScsiRead10").empty());
}

// The range check, before any chooser: start + count may end at the last
// sector, never beyond it, and never wraps around 32 bits.
struct RangeCase {
    std::uint32_t sectors, start, count;
    bool accepted;
};

class TransferRange : public Transfer, public testing::WithParamInterface<RangeCase> {};

TEST_P(TransferRange, IsCheckedInSixtyFourBits) {
    const RangeCase& c = GetParam();
    Open(
        Format(R"("faults": [{"call": "kt62ScsiReadCapacity", "result": 0, "sectors": %u, "sector_size": 512},
                              {"call": "kt62ScsiRead10", "result": 0}])",
               c.sectors));
    Fields(c.start, c.count);
    RunToEnd(IDC_BTN_READ_SECTORS);  // no file queued: test read, declined
    EXPECT_EQ(Asked("ChooseFile"), c.accepted);
    if (!c.accepted) {
        EXPECT_EQ(ui_.Pane(), "out of range.");
    }
}

INSTANTIATE_TEST_SUITE_P(Table, TransferRange,
                         testing::Values(RangeCase{1000, 990, 10, true}, RangeCase{1000, 990, 11, false},
                                         RangeCase{1000, 1000, 0, true}, RangeCase{1000, 1001, 0, false},
                                         RangeCase{0xFFFFFFFFu, 0xFFFFFFF0u, 0x20, false},
                                         RangeCase{0xFFFFFFFFu, 0xFFFFFFF0u, 0x0F, true}));

// 512-byte sectors answered by fault rules: the chunking and the MB total.
struct ChunkCase {
    std::uint32_t count;
    std::vector<int> mb;
    std::vector<std::string> calls;
};

class TransferChunks : public Transfer, public testing::WithParamInterface<ChunkCase> {};

TEST_P(TransferChunks, MoveAtMostThirtyTwoMiBACall) {
    Open(R"("faults": [{"call": "kt62ScsiReadCapacity", "result": 0, "sectors": 200000, "sector_size": 512},
                       {"call": "kt62ScsiWrite10", "result": 0}])");
    Fields(0, GetParam().count);
    ui_.QueueFile(std::nullopt);
    ui_.QueueAnswer(true);  // test write: zeros
    RunToEnd(IDC_BTN_WRITE_SECTORS);
    EXPECT_EQ(ThroughputMB(), GetParam().mb);
    std::vector<std::string> counts;
    for (const std::string& call : Trace("kt62ScsiWrite10")) counts.push_back(call.substr(call.find("lba=")));
    EXPECT_EQ(counts, GetParam().calls);
    EXPECT_EQ(SplitLines(ui_.Pane()).back(), "Done.");
}

INSTANTIATE_TEST_SUITE_P(Table, TransferChunks,
                         testing::Values(ChunkCase{1000, {0}, {"lba=0 bytes_per_sector=512 count=1000 -> 0"}},
                                         ChunkCase{
                                             65536, {32}, {"lba=0 bytes_per_sector=512 count=65536 -> 0"}},
                                         ChunkCase{100000,
                                                   {32, 48},
                                                   {"lba=0 bytes_per_sector=512 count=65536 -> 0",
                                                    "lba=65536 bytes_per_sector=512 count=34464 -> 0"}}));

// Failures of the second chunk: two are retried, a third ends the transfer
// with the failure line and no closing word; what came before stays.
struct RetryCase {
    bool reading;
    int failures;
};

class TransferRetries : public Transfer, public testing::WithParamInterface<RetryCase> {};

TEST_P(TransferRetries, CountOverTheTransferAndStopAtTheThird) {
    const RetryCase& c = GetParam();
    const char* call = c.reading ? "kt62ScsiRead10" : "kt62ScsiWrite10";
    Open(Format(R"(%s, "faults": [{"call": "%s", "match": {"lba_from": %u}, "times": %d, "result": -5}])",
                kSmallDevice, call, 1000 + kChunk, c.failures));
    const std::string data = Pattern(1000, 3 * kChunk);
    if (c.reading) {
        PutSectors(1000, data);
    } else {
        std::ofstream(Image("in.bin"), std::ios::binary) << data;
    }
    Fields(1000, 3 * kChunk);
    ui_.QueueFile(Image(c.reading ? "out.bin" : "in.bin"));
    RunToEnd(c.reading ? IDC_BTN_READ_SECTORS : IDC_BTN_WRITE_SECTORS);
    const auto lines = SplitLines(ui_.Pane());
    const std::string stored = c.reading ? TempDir::Read(Image("out.bin")) : GetSectors(1000, 3 * kChunk);
    if (c.failures < 3) {
        EXPECT_EQ(lines.back(), "Done.");
        EXPECT_NE(ui_.Pane().find(Format("Retried %d times.", c.failures)), std::string::npos);
        EXPECT_TRUE(stored == data);
        return;
    }
    // Progress and throughput of the first chunk, then the failure line.
    ASSERT_EQ(lines.size(), c.reading ? 4u : 3u) << ui_.Pane();  // the write progress breaks with \n alone
    EXPECT_EQ(ui_.Pane().rfind("left 16384 sectors. ", 0), 0u);
    EXPECT_NE(ui_.Pane().find("Retried 0 times."), std::string::npos);
    EXPECT_EQ(lines.back(), Format("scsi %s10 fail -5 at sector:%u, left %u sectors.",
                                   c.reading ? "read" : "write", 1000 + kChunk, 2 * kChunk));
    EXPECT_EQ(Trace(call).size(), 1u + 3u);
    const std::size_t firstChunk = std::size_t{kChunk} * kSector;
    if (c.reading) {
        EXPECT_TRUE(stored == data.substr(0, firstChunk));
    } else {
        EXPECT_TRUE(stored.substr(0, firstChunk) == data.substr(0, firstChunk));
        EXPECT_TRUE(stored.substr(firstChunk) == std::string(2 * firstChunk, '\0'));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, TransferRetries,
                         testing::Values(RetryCase{true, 2}, RetryCase{true, 3}, RetryCase{false, 2},
                                         RetryCase{false, 3}));

// Exit while the second chunk's device call runs: that chunk completes, then
// "Cancelled."; Exit stays disabled until the timer sees the worker gone.
class TransferCancel : public Transfer, public testing::WithParamInterface<bool> {};

TEST_P(TransferCancel, StopsAfterTheChunkInProgress) {
    const bool reading = GetParam();
    Open();
    const std::string data = Pattern(0, 4 * kChunk);
    if (reading) {
        PutSectors(0, data);
    } else {
        std::ofstream(Image("in.bin"), std::ios::binary) << data;
    }
    Fields(0, 4 * kChunk);
    ui_.QueueFile(Image(reading ? "out.bin" : "in.bin"));
    call_gate::Hold(reading ? "kt62ScsiRead10" : "kt62ScsiWrite10", kChunk);
    dlg_.Dispatch(DialogMessage::Command, reading ? IDC_BTN_READ_SECTORS : IDC_BTN_WRITE_SECTORS);
    ASSERT_TRUE(WaitUntil(call_gate::Entered));  // inside the second chunk's call
    dlg_.Dispatch(DialogMessage::Command, IDCANCEL);
    EXPECT_FALSE(ui_.EndResult().has_value());
    EXPECT_FALSE(ui_.IsControlEnabled(IDCANCEL));
    call_gate::Release();
    ASSERT_TRUE(WaitUntil([&] { return !dlg_.TransferRunning(); }));
    EXPECT_FALSE(ui_.IsControlEnabled(IDCANCEL));
    EXPECT_EQ(SplitLines(ui_.Pane()).back(), "Cancelled.");
    const std::size_t twoChunks = 2 * std::size_t{kChunk} * kSector;
    if (reading) {
        EXPECT_TRUE(TempDir::Read(Image("out.bin")) == data.substr(0, twoChunks));
    } else {
        EXPECT_TRUE(GetSectors(0, 2 * kChunk) == data.substr(0, twoChunks));
        EXPECT_TRUE(GetSectors(2 * kChunk, 2 * kChunk) == std::string(twoChunks, '\0'));
    }
    dlg_.OnTimer(0);
    EXPECT_TRUE(ui_.IsControlEnabled(IDCANCEL));
    EXPECT_TRUE(ui_.Timers().empty());
    dlg_.Dispatch(DialogMessage::Command, IDCANCEL);
    EXPECT_EQ(ui_.EndResult(), IDCANCEL);
}

INSTANTIATE_TEST_SUITE_P(Directions, TransferCancel, testing::Bool());

TEST_F(Transfer, CancelBeforeTheFirstChunkStillAsksAndLeavesTheFileEmpty) {
    Open(Format(R"(%s, "faults": [{"call": "kt62ScsiReadCapacity", "delay_ms": 300}])", kSmallDevice));
    Fields(0, 100);
    ui_.QueueFile(Image("out.bin"));
    dlg_.Dispatch(DialogMessage::Command, IDC_BTN_READ_SECTORS);
    dlg_.Dispatch(DialogMessage::Command, IDCANCEL);  // at once: the worker may not have locked anything yet
    ASSERT_TRUE(WaitUntil([&] { return !dlg_.TransferRunning(); }));
    EXPECT_TRUE(Asked("ChooseFile save"));
    EXPECT_EQ(SplitLines(ui_.Pane()).back(), "Cancelled.");
    EXPECT_EQ(TempDir::Read(Image("out.bin")), "");
    EXPECT_TRUE(Trace("kt62ScsiRead10").empty());
}

// The chooser cancelled: the test mode question decides.
struct TestModeCase {
    bool reading, yes;
};

class TransferTestMode : public Transfer, public testing::WithParamInterface<TestModeCase> {};

TEST_P(TransferTestMode, MovesNoFileData) {
    const TestModeCase& c = GetParam();
    Open();
    PutSectors(0, Pattern(0, 100));
    MarkTrace();
    ui_.SetText(IDC_EDIT_LOG, "before");
    Fields(0, 100);
    ui_.QueueFile(std::nullopt);
    ui_.QueueAnswer(c.yes);
    RunToEnd(c.reading ? IDC_BTN_READ_SECTORS : IDC_BTN_WRITE_SECTORS);
    EXPECT_TRUE(Asked(c.reading ? "AskYesNo Test read|Using test reading mode? -> "
                                : "AskYesNo Test write|Fill memory with zero? -> "));
    EXPECT_EQ(Trace(c.reading ? "kt62ScsiRead10" : "kt62ScsiWrite10").size(), c.yes ? 1u : 0u);
    EXPECT_EQ(c.yes ? SplitLines(ui_.Pane()).back() : ui_.Pane(), c.yes ? "Done." : "before");
    const bool zeroed = !c.reading && c.yes;
    EXPECT_TRUE(GetSectors(0, 100) == (zeroed ? std::string(100 * kSector, '\0') : Pattern(0, 100)));
}

INSTANTIATE_TEST_SUITE_P(Table, TransferTestMode,
                         testing::Values(TestModeCase{true, true}, TestModeCase{true, false},
                                         TestModeCase{false, true}, TestModeCase{false, false}));

// Image files of other lengths than the range.
struct FileSizeCase {
    std::size_t fileBytes;
    std::uint32_t count;
    bool asked, yes;
    std::uint32_t written;  // sectors written from the start sector
};

class TransferFileSize : public Transfer, public testing::WithParamInterface<FileSizeCase> {};

TEST_P(TransferFileSize, WritesWholeSectorsTheFileHolds) {
    const FileSizeCase& c = GetParam();
    Open();
    PutSectors(50, Pattern(50, 20));
    const std::string image = Pattern(900, 20).substr(0, c.fileBytes);
    std::ofstream(Image("in.bin"), std::ios::binary) << image;
    ui_.SetText(IDC_EDIT_LOG, "before");
    Fields(50, c.count);
    ui_.QueueFile(Image("in.bin"));
    ui_.QueueAnswer(c.yes);
    RunToEnd(IDC_BTN_WRITE_SECTORS);
    EXPECT_EQ(Asked("AskYesNo File size|file too small. resize? -> "), c.asked);
    const std::string after = GetSectors(50, 20);
    const std::size_t written = std::size_t{c.written} * kSector;
    EXPECT_TRUE(after.substr(0, written) == image.substr(0, written));
    EXPECT_TRUE(after.substr(written) == Pattern(50, 20).substr(written));
    if (c.asked && !c.yes) {
        EXPECT_EQ(ui_.Pane(), "before");
    } else {
        EXPECT_EQ(SplitLines(ui_.Pane()).back(), "Done.");
        // Nothing written, nothing reported but the closing word.
        if (c.written == 0) {
            EXPECT_EQ(ui_.Pane(), "before\r\nDone.");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, TransferFileSize,
                         testing::Values(FileSizeCase{10 * kSector + kSector / 2, 12, true, true, 10},
                                         FileSizeCase{10 * kSector + kSector / 2, 12, true, false, 0},
                                         FileSizeCase{kSector - 1, 3, true, true, 0},
                                         FileSizeCase{20 * kSector, 7, false, false, 7},
                                         FileSizeCase{0, 0, false, false, 0}));

TEST_F(Transfer, ADeviceThatTakesNothingEndsTheReadAtTheFirstChunk) {
    Open();
    Fields(0, 10);
    ui_.QueueFile("/dev/full");
    RunToEnd(IDC_BTN_READ_SECTORS);
    EXPECT_EQ(SplitLines(ui_.Pane()).back(),
              "write file fail at sector:0, left 10 sectors. /dev/full: No space left on device");
}

// Refusals before any chunk: fields that are no decimal numbers, sector
// sizes no chunk can carry, a failed capacity call, a file that cannot be
// opened.
struct RefusalCase {
    const char* start;
    const char* count;
    const char* capacityRule;  // outputs and result of a kt62ScsiReadCapacity rule
    const char* file;
    const char* pane;
};

class TransferRefusal : public Transfer, public testing::WithParamInterface<RefusalCase> {};

TEST_P(TransferRefusal, EndsWithItsMessageAndUnlocks) {
    const RefusalCase& c = GetParam();
    Open(
        Format(R"("faults": [{"call": "kt62ScsiReadCapacity", %s}, {"call": "kt62ScsiRead10", "result": 0}])",
               c.capacityRule));
    ui_.SetText(IDC_EDIT_START_SECTOR, c.start);
    ui_.SetText(IDC_EDIT_SECTOR_COUNT, c.count);
    if (*c.file) ui_.QueueFile(std::string(c.file));
    RunToEnd(IDC_BTN_READ_SECTORS);
    EXPECT_EQ(ui_.Pane(), c.pane);
    EXPECT_TRUE(ui_.IsControlEnabled(IDC_BTN_READ_SECTORS));
    EXPECT_EQ(dlg_.m_hThread.load(), -1);
}

constexpr const char* k512 = R"("result": 0, "sectors": 1000, "sector_size": 512)";

INSTANTIATE_TEST_SUITE_P(
    Table, TransferRefusal,
    testing::Values(RefusalCase{"abc", "10", k512, "", "invalid start sector."},
                    RefusalCase{"0", "-5", k512, "", "invalid sector count."},
                    RefusalCase{"0", "", k512, "", "invalid sector count."},
                    RefusalCase{"0", "4294967296", k512, "", "invalid sector count."},
                    RefusalCase{"0", "10", R"("result": 0, "sectors": 1000, "sector_size": 0)", "",
                                "invalid sector size 0."},
                    RefusalCase{"0", "10", R"("result": 0, "sectors": 1000, "sector_size": 33554433)", "",
                                "invalid sector size 33554433."},
                    RefusalCase{"0", "2", R"("result": 0, "sectors": 1000, "sector_size": 33554432)",
                                "/nonexistent/dir/x.bin", "can't open file."},
                    RefusalCase{"0", "10", R"("result": -3)", "", "Fail to scsi read capacity -3."}));

TEST_F(Transfer, APacketSizeThatIsNoNumberOrNoByteCountStartsNothing) {
    Open();
    for (const auto& [text, status] :
         {std::pair{"64k", ""},
          std::pair{"4194304", "Packet size(KiB): at most 4194303. Nothing was sent."}}) {
        ui_.SetText(IDC_EDIT_PACKET_SIZE, text);
        dlg_.Dispatch(DialogMessage::Command, IDC_BTN_READ_SECTORS);
        EXPECT_EQ(ui_.Pane(), "invalid packet size.");
        EXPECT_EQ(ui_.GetText(IDC_STATIC_STATUS), status);
        EXPECT_FALSE(dlg_.TransferRunning());
        EXPECT_TRUE(Trace("kt62SetPacketSize").empty());
    }
}

TEST_F(Transfer, AThreadThatCannotBeCreatedLeavesNoTransferBehind) {
    Open();
    dlg_.SetThreadStarter([](std::function<void()>) { return std::unique_ptr<WorkerThread>(); });
    dlg_.Dispatch(DialogMessage::Command, IDC_BTN_WRITE_SECTORS);
    EXPECT_EQ(dlg_.m_hThread.load(), -1);
    EXPECT_EQ(ui_.Pane(), "can't create the transfer thread.");
    dlg_.Dispatch(DialogMessage::Command, IDCANCEL);
    EXPECT_EQ(ui_.EndResult(), IDCANCEL);
}

}  // namespace
}  // namespace kt::test
