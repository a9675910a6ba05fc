// Two whole chunks and a short one, stopped at each in turn: the file or device range and the sink
// hold exactly the chunks completed, then the stop.
#include "handlers/transfer/chunk_loop.h"

#include <sys/resource.h>

#include <csignal>
#include <fstream>

#include "tests/transfer/transfer_fixture.h"

namespace kt::test {
namespace {

// Chunks of a few sectors behave as those of 32 MiB, at a thousandth of the cost.
constexpr std::uint32_t kWhole = 16;
constexpr std::uint32_t kRange = 2 * kWhole + 3;  // sectors, from sector 0
std::uint32_t ChunkSectors(std::uint32_t k) { return k < 2 ? kWhole : kRange - 2 * kWhole; }
std::size_t BytesOfChunks(std::uint32_t n) { return std::size_t{std::min(n * kWhole, kRange)} * kSector; }

struct Recorder : ChunkSink {
    void ChunkDone(std::uint32_t n, std::uint32_t left, int retries) override {
        Failed(Format("%u left %u retried %d", n, left, retries));
    }
    void Failed(const std::string& line) override { events.push_back(line); }
    std::vector<std::string> events;
};

enum class Stop { Cancel, Device, File, TwoRetries };
struct LoopCase {
    bool reading;
    Stop stop;
    std::uint32_t k;  // the chunk at which it happens
};

class ChunkLoop : public Transfer, public testing::WithParamInterface<LoopCase> {};

TEST_P(ChunkLoop, KeepsExactlyTheChunksCompletedBeforeTheStop) {
    const auto [reading, stop, k] = GetParam();
    const char* call = reading ? "kt62ScsiRead10" : "kt62ScsiWrite10";
    const bool failed = stop == Stop::Device || stop == Stop::File;
    std::string rules;
    if (stop == Stop::Device || stop == Stop::TwoRetries)  // writing, after the call of PutSectors below
        rules = Format(R"(, "faults": [{"call": "%s", "match": {"lba_from": %u}, "after": %u, "times": %d,
                                       "result": -5}])",
                       call, k * kWhole, reading ? 0 : 1, failed ? 3 : 2);
    Open(kSmallDevice + rules);
    const std::string before = Pattern(1, kRange), image = Pattern(2, kRange);
    PutSectors(0, before);
    ImageFile file;
    std::string why;
    if (!reading)  // a failing file ends inside chunk k
        std::ofstream(File("image.bin"))
            << image.substr(0, stop == Stop::File ? BytesOfChunks(k) + 1 : image.size());
    ASSERT_TRUE(reading ? file.Create(File("image.bin"), why) : file.OpenForReading(File("image.bin"), why));
    std::vector<std::uint8_t> one(kWhole * kSector), two(kWhole * kSector);
    const ChunkPlan plan{.device = handle_,
                         .direction = reading ? Direction::Read : Direction::Write,
                         .count = kRange,
                         .sector_size = kSector,
                         .chunk_sectors = kWhole,
                         .file = &file,
                         .path = File("image.bin"),
                         .buffers = {one.data(), two.data()}};
    std::atomic<int> running{1};
    if (stop == Stop::Cancel) call_gate::Hold(call, k * kWhole);
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit old = limit;
    if (reading && stop == Stop::File) {  // the image file may grow into chunk k, no further
        std::signal(SIGXFSZ, SIG_IGN);
        limit.rlim_cur = BytesOfChunks(k) + std::size_t{ChunkSectors(k)} * kSector / 2;
    }
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    Recorder sink;
    bool ended = false;
    std::thread loop([&] { ended = RunChunks(plan, sink, running); });
    if (stop == Stop::Cancel) {  // during chunk k's device call
        EXPECT_TRUE(WaitUntil(call_gate::Entered));
        running = 0;
        call_gate::Release();
    }
    loop.join();
    EXPECT_EQ(ended, !failed);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);

    const std::uint32_t completed = failed ? k : stop == Stop::Cancel ? k + 1 : 3;
    std::vector<std::string> expected;
    for (std::uint32_t j = 0, left = kRange; j < completed; ++j)
        expected.push_back(Format("%u left %u retried %d", ChunkSectors(j), left -= ChunkSectors(j),
                                  stop == Stop::TwoRetries && j >= k ? 2 : 0));
    const std::uint32_t left = kRange - k * kWhole;
    if (stop == Stop::Device)
        expected.push_back(Format("scsi %s10 fail -5 at sector:%u, left %u sectors.",
                                  reading ? "read" : "write", k * kWhole, left));
    if (stop == Stop::File)
        expected.push_back(Format("%s file fail at sector:%u, left %u sectors. %s: %s",
                                  reading ? "write" : "read", k * kWhole, left, File("image.bin").c_str(),
                                  reading ? "File too large" : "the file is shorter than the range"));
    EXPECT_EQ(sink.events, expected);
    const std::size_t kept = BytesOfChunks(completed);
    if (reading) {
        EXPECT_TRUE(TempDir::Read(File("image.bin")) == before.substr(0, kept)) << "the image file differs";
    } else {
        const std::string device = GetSectors(0, kRange);
        EXPECT_TRUE(device == image.substr(0, kept) + before.substr(kept)) << "the device range differs";
    }
    if (stop == Stop::Device) {
        EXPECT_EQ(Calls(call), (reading ? 0 : 1) + k + 3u);  // the chunks before, then three tries
    }
}

std::vector<LoopCase> AllCases() {
    std::vector<LoopCase> cases;
    for (bool reading : {true, false}) {
        for (Stop stop : {Stop::Cancel, Stop::Device, Stop::File})
            for (std::uint32_t k = 0; k < 3; ++k) cases.push_back({reading, stop, k});
        cases.push_back({reading, Stop::TwoRetries, 1});
    }
    return cases;
}

std::string Name(const testing::TestParamInfo<LoopCase>& i) {
    const char* const stops[] = {"CancelAt", "DeviceFailsAt", "FileFailsAt", "TwoRetriesAt"};
    return (i.param.reading ? "Read" : "Write") +
           (stops[static_cast<int>(i.param.stop)] + std::to_string(i.param.k));
}
INSTANTIATE_TEST_SUITE_P(EveryChunk, ChunkLoop, testing::ValuesIn(AllCases()), Name);

// In a child whose address space is full: the buffers cannot be had, and Reserve says so.
int ReserveWithNoMemory() {
    const rlimit none{0, RLIM_INFINITY};
    TransferBuffers buffers;
    return setrlimit(RLIMIT_AS, &none) == 0 && !buffers.Reserve(false) ? 0 : 1;
}
TEST(TransferBuffersDeathTest, ReserveFailsWhenMemoryCannotBeHad) {
#ifdef KT_SANITIZED
    GTEST_SKIP() << "a sanitizer's allocator aborts where the address space runs out";
#endif
    EXPECT_EXIT(std::_Exit(ReserveWithNoMemory()), testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kt::test
