// A board's job run on emulated 2.1, 3.1 and 4.0 parts at once, then with a fault at each step and
// with the refusals that must come before anything is written.
#include <gtest/gtest.h>
#include <kt62/apiKT6200.h>

#include <nlohmann/json.hpp>

#include <functional>
#include <regex>
#include <sstream>

#include "encoding/big_endian.h"
#include "production/facts_source.h"
#include "production/run.h"
#include "production/run_steps.h"
#include "tests/support/temp_dir.h"
#include "ufs/idn.h"

namespace kt::production {
namespace {

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
constexpr std::uint32_t kBlock = 4096;
constexpr std::uint8_t kBackgroundOpsEn = 0x04;

struct NoSink : RunSink {
    void StepStarted(int, Step) override {}
    void Progress(int, std::uint64_t, std::uint64_t) override {
        if (stop_after_chunk) running->store(0);
    }
    void StepEnded(int, const StepResult&) override {}
    bool stop_after_chunk = false;
    std::atomic<int>* running = nullptr;
};

// 1 GiB parts in 1 MiB allocation units; `faults` for every programmer.
std::string Profile(const std::vector<const char*>& versions, const std::string& faults = "[]") {
    std::string profile = R"({"programmers": [)";
    for (const char* v : versions)
        profile += std::string(profile.back() == '[' ? "" : ",") + R"({"faults": )" + faults +
                   R"(, "ufs": {"spec_version": ")" + v + R"(", "raw_capacity_bytes": 1073741824,
                   "segment_size_bytes": 1048576, "serial_number": "SN-)" +
                   v + R"("}})";
    return profile + "]}";
}

std::string Pattern(int lun, std::size_t bytes) {
    std::string b(bytes, '\0');
    for (std::size_t i = 0; i < bytes; ++i) b[i] = static_cast<char>(lun * 31 + i * 7 + (i >> 12));
    return b;
}

// Boot A and B and an enhanced unit of enhanced 1 memory, a system code unit, the rest normal, and an
// image of (lun + 1) x 64 KiB for each unit.
Job BoardJob(const test::TempDir& dir) {
    Job job;
    job.folder = dir.Path();
    Layout l;
    auto unit = [](int lun, std::uint64_t mib, MemoryType type, BootRole boot = BootRole::None) {
        return UnitRequest{
            .lun = lun, .rest = mib == 0, .size_bytes = mib * kMiB, .memory_type = type, .boot = boot};
    };
    l.units = {unit(0, 0, MemoryType::Normal), unit(1, 2, MemoryType::Enhanced1, BootRole::A),
               unit(2, 2, MemoryType::Enhanced1, BootRole::B), unit(3, 8, MemoryType::SystemCode),
               unit(4, 4, MemoryType::Enhanced1)};
    l.boot_lun_en = 1;
    job.layout = l;
    job.flags = {{.idn = kBackgroundOpsEn, .value = false}};  // on from power-on
    for (int lun = 0; lun < 5; ++lun) {
        const std::string name = "lu" + std::to_string(lun) + ".img";
        dir.Write(name, Pattern(lun, (lun + 1) * 64 * 1024));
        job.images.push_back(
            {.path = name, .lun = lun, .start_sector = static_cast<std::uint32_t>(lun) * 3, .sha256 = {}});
    }
    return job;
}

struct Emulator {
    explicit Emulator(const std::string& profile) {
        setenv("KT62_EMULATOR", dir.Write("profile.json", profile).c_str(), 1);
        setenv("KT62_TRACE", trace.c_str(), 1);
    }
    ~Emulator() {
        unsetenv("KT62_EMULATOR");
        unsetenv("KT62_TRACE");
    }
    std::vector<DeviceRecord> Run(const Job& job, bool confirm_lock = false) {
        Report report(dir.Path() + "/report.jsonl");
        const RunOptions options{.confirm_lock = confirm_lock, .report = &report};
        return RunAll(job, {}, options, sink, running);
    }
    test::TempDir dir;
    std::string trace = dir.Path() + "/trace.log";
    NoSink sink;
    std::atomic<int> running{1};
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The unit descriptors of each part are those of its plan, each image reads back as its file, the
// report holds one record per part; a second run finds every part configured already.
TEST(Run, BoardJobOnThreePartsAtOnce) {
    const char* versions[] = {"2.1", "3.1", "4.0"};
    Emulator emu(Profile({versions[0], versions[1], versions[2]}));
    const Job job = BoardJob(emu.dir);
    const auto records = emu.Run(job);
    ASSERT_EQ(records.size(), 3u);
    const auto lines = Lines(test::TempDir::Read(emu.dir.Path() + "/report.jsonl"));
    ASSERT_EQ(lines.size(), 3u);
    const std::regex iso(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)");
    for (int i = 0; i < 3; ++i) {
        const DeviceRecord& r = records[i];
        ASSERT_TRUE(r.Ok()) << RecordJson(r);
        const auto j = nlohmann::json::parse(lines[i]);
        const int at = j["programmer"].get<int>();
        EXPECT_EQ(j["serial"], std::string("SN-") + versions[at]);
        EXPECT_EQ(j["manufacturer"], "EMUVEND");
        EXPECT_EQ(j["ufs_version"], versions[at]);
        EXPECT_EQ(j["result"], "ok");
        EXPECT_TRUE(std::regex_match(j["started"].get<std::string>(), iso));
        EXPECT_TRUE(std::regex_match(j["ended"].get<std::string>(), iso));
        EXPECT_EQ(j["steps"].size(), std::size_t{kStepCount});
        EXPECT_EQ(j["steps"][2]["outcome"], "ok");
        EXPECT_EQ(j["steps"][6]["detail"], "bBootLunEn 1; fBackgroundOpsEn 0");
        EXPECT_EQ(j["images"][4]["bytes"], 5 * 64 * 1024);
        EXPECT_EQ(j["bytes"], 15 * 64 * 1024);

        const KT62_HANDLE h = kt62Open(i);
        ASSERT_NE(h, KT62_INVALID_HANDLE);
        const auto plan = std::get<Plan>(MakePlan(*job.layout, std::get<DeviceFacts>(ReadDeviceFacts(h))));
        for (const UnitPlan& u : plan.units) {
            std::uint8_t d[255] = {};
            ASSERT_EQ(kt62UfsReadDescriptor(h, ufs::kUnitDescriptor, u.request.lun, 0, d, sizeof d), 0);
            EXPECT_EQ(d[ufs::kUnitMemoryType], static_cast<int>(u.request.memory_type));
            EXPECT_EQ(d[ufs::kUnitBootLunId], static_cast<int>(u.request.boot));
            EXPECT_EQ(BigEndian64(&d[ufs::kUnitLogicalBlockCount]), u.blocks);
        }
        for (const ImageEntry& image : job.images) {
            const std::string file = test::TempDir::Read(emu.dir.Path() + "/" + image.path);
            std::string read(file.size(), '\0');
            ASSERT_EQ(kt62ScsiRead10Unit(h, image.lun, image.start_sector, kBlock,
                                         reinterpret_cast<std::uint8_t*>(read.data()), file.size() / kBlock),
                      0);
            EXPECT_TRUE(read == file) << image.path;
        }
        kt62Close(h);
    }
    Job by_hash = job;
    by_hash.verify = Verify::Hash;
    for (const DeviceRecord& r : emu.Run(by_hash)) {
        EXPECT_EQ(r.steps[2].outcome, Outcome::AlreadyConfigured) << RecordJson(r);
        ASSERT_TRUE(r.Ok()) << RecordJson(r);
        EXPECT_EQ(r.images[0].read_sha256, r.images[0].sha256);
        EXPECT_EQ(r.images[0].sha256.size(), 64u);
    }
}

TEST(Run, PartMismatchNamesTheFact) {
    DeviceFacts part;
    part.manufacturer_id = 0x0A5A;
    part.spec_version = 0x0310;
    part.raw_capacity = 2097152;  // 1 GiB
    struct Case {
        std::function<void(Expected&)> expect;
        const char* named;  // "" the part matches
    };
    const Case cases[] = {
        {[](Expected&) {}, ""},
        {[](Expected& e) { e.manufacturer_id = 0x0A5B; }, "manufacturer ID 0x0A5A"},
        {[](Expected& e) { e.product_pattern = "EMU-UFS3?-*"; }, ""},
        {[](Expected& e) { e.product_pattern = "EMU-UFS2?-*"; }, "product"},
        {[](Expected& e) { e.min_version = 0x0310, e.max_version = 0x0310; }, ""},
        {[](Expected& e) { e.min_version = 0x0400; }, "UFS version 3.1 outside 4.0"},
        {[](Expected& e) { e.max_version = 0x0300; }, "UFS version 3.1"},
        {[](Expected& e) { e.min_raw_capacity_bytes = kMiB * 1024; }, ""},
        {[](Expected& e) { e.min_raw_capacity_bytes = kMiB * 1024 + 1; }, "raw capacity"},
    };
    for (const Case& c : cases) {
        Expected expect;
        c.expect(expect);
        const std::string why = Mismatch(expect, part, "EMU-UFS31-1G");
        EXPECT_EQ(why.empty(), c.named[0] == '\0') << why;
        EXPECT_NE(why.find(c.named), std::string::npos) << why;
    }
}

// The trace's lines from the first that failed on: only that call again (its retries), the
// library's message and the close may follow.
std::vector<std::string> AfterFailure(const std::string& trace) {
    std::vector<std::string> after;
    std::string failed;
    for (const std::string& line : Lines(trace)) {
        const std::string call = line.substr(0, line.find(' '));
        if (failed.empty() && line.substr(line.rfind(' ') + 1) != "0" && call != "kt62Search" &&
            call != "kt62Open")
            failed = call;
        else if (!failed.empty() && call != failed && call != "kt62Close" && call != "kt62LastMessage")
            after.push_back(line);
    }
    return after;
}

TEST(Run, FaultAtEachStepEndsThePartThere) {
    struct Case {
        Step step;
        std::string rule;
    };
    const Case cases[] = {
        {Step::Identify, R"({"call": "kt62UfsReadDescriptor", "match": {"idn": 0}, "result": -1})"},
        {Step::Configure, R"({"call": "kt62UfsWriteDescriptor", "result": -6})"},
        {Step::Configure, R"({"call": "kt62UfsReset", "result": 4})"},
        {Step::Compare, R"({"call": "kt62UfsReadDescriptor", "match": {"idn": 2}, "result": -1})"},
        {Step::Images, R"({"call": "kt62ScsiWrite10Unit", "match": {"lun": 2}, "result": -127997})"},
        {Step::Verify, R"({"call": "kt62ScsiRead10Unit", "match": {"lun": 2}, "result": 5})"},
        {Step::Settings, R"({"call": "kt62UfsWriteAttribute", "match": {"idn": 0}, "result": -6})"},
        {Step::Settings, R"({"call": "kt62UfsClearFlag", "result": -6})"},
        {Step::Lock, R"({"call": "kt62UfsWriteAttribute", "match": {"idn": 11}, "result": -8})"},
    };
    for (const Case& c : cases) {
        Emulator emu(Profile({"3.1"}, "[" + c.rule + "]"));
        Job job = BoardJob(emu.dir);
        job.lock = true;
        const DeviceRecord r = emu.Run(job, true).at(0);
        const StepResult* ended = r.Ended();
        ASSERT_NE(ended, nullptr) << c.rule;
        EXPECT_EQ(ended->step, c.step) << RecordJson(r);
        for (int later = static_cast<int>(c.step) + 1; later < kStepCount; ++later)
            EXPECT_EQ(r.steps[later].outcome, Outcome::Skipped);
        EXPECT_EQ(AfterFailure(test::TempDir::Read(emu.trace)), std::vector<std::string>{}) << c.rule;
        const auto j = nlohmann::json::parse(test::TempDir::Read(emu.dir.Path() + "/report.jsonl"));
        EXPECT_EQ(j["step"], StepName(c.step));
        // Unit 2's image starts at sector 6: its transfer's failure names it.
        EXPECT_EQ(j.contains("sector"), c.step == Step::Images || c.step == Step::Verify);
        EXPECT_EQ(j.value("sector", 6), 6);
    }
}

TEST(Run, RefusalsWriteNothing) {
    struct Case {
        const char* what;
        Step step;
        std::function<void(Job&)> change;
        const char* detail;
    };
    const Case cases[] = {
        {"plan too large", Step::Check, [](Job& j) { j.layout->units[3].size_bytes = 512 * kMiB; }, "unit 3"},
        {"image larger than its unit", Step::Check, [](Job& j) { j.images[1].start_sector = 481; },
         "do not fit"},
        {"missing image", Step::Check, [](Job& j) { j.images[2].path = "none.img"; }, "none.img"},
        {"image of another hash", Step::Check, [](Job& j) { j.images[0].sha256.emplace(); }, "SHA-256"},
        {"flag a 2.1 part lacks", Step::Check, [](Job& j) { j.flags.push_back({.idn = 0x0E}); },
         "fWriteBoosterEn: a UFS 2.1 part has no such flag"},
        {"another part", Step::Identify, [](Job& j) { j.expect.product_pattern = "OTHER-*"; }, "OTHER-*"},
        {"lock without consent", Step::Identify, [](Job& j) { j.lock = true; }, "--confirm-lock"},
    };
    for (const Case& c : cases) {
        Emulator emu(Profile({"2.1"}));
        Job job = BoardJob(emu.dir);
        c.change(job);
        const DeviceRecord r = emu.Run(job).at(0);
        ASSERT_NE(r.Ended(), nullptr) << c.what;
        EXPECT_EQ(r.Ended()->step, c.step) << c.what;
        EXPECT_NE(r.Ended()->detail.find(c.detail), std::string::npos) << r.Ended()->detail;
        EXPECT_FALSE(
            std::regex_search(test::TempDir::Read(emu.trace), std::regex("Write|Set|Clear|Toggle|Reset")))
            << c.what;
    }
}

TEST(Run, StopEndsAtAChunkBoundary) {
    Emulator emu(Profile({"4.0"}));
    Job job = BoardJob(emu.dir);
    job.images = {{.path = "big.img", .lun = 0, .start_sector = 0, .sha256 = {}}};
    emu.dir.Write("big.img", Pattern(0, kChunkBytes + kMiB));
    emu.sink.stop_after_chunk = true;
    emu.sink.running = &emu.running;
    const DeviceRecord r = emu.Run(job).at(0);
    ASSERT_NE(r.Ended(), nullptr);
    EXPECT_EQ(r.Ended()->step, Step::Images);
    EXPECT_EQ(r.Ended()->outcome, Outcome::Stopped);
    EXPECT_EQ(r.failed_sector, kChunkBytes / kBlock);
}

}  // namespace
}  // namespace kt::production
