// kt62Update through the C functions: refused images leave the running firmware, a good one
// restarts the programmer into the new version, which then persists; and a process killed in
// the middle of updates leaves one version or the other.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "fw_fixture.h"

namespace kt62emutest {
namespace {

using Bytes4 = std::vector<uint8_t>;

struct BadImage {
    const char* name;
    std::function<std::string(FirmwareTest&)> make;  // returns the path to pass
    int32_t result;
};

class RefusedUpdate : public FirmwareTest, public ::testing::WithParamInterface<BadImage> {};

TEST_P(RefusedUpdate, KeepsTheRunningFirmwareAndTheHandle) {
    const BadImage& c = GetParam();
    KT62_HANDLE h = Open();
    ASSERT_NE(h, KT62_INVALID_HANDLE);
    const std::u16string path = Utf16(c.make(*this));
    EXPECT_EQ(kt62Update(h, Wide(path)), c.result);
    EXPECT_EQ(Version(h), (Bytes4{1, 2, 3, 0}));
    EXPECT_EQ(kt62Search(), 1) << "no restart";
    EXPECT_FALSE(fs::exists(StateFile())) << "nothing stored";
}

std::string WriteImage(FirmwareTest& t, const std::string& name,
                       const std::function<void(ImageRecipe&)>& change) {
    ImageRecipe r = Recipe({2, 0, 0});
    change(r);
    return t.Dir().Write(name, Build(r));
}

std::vector<BadImage> BadImages() {
    return {
        BadImage{"missing", [](FirmwareTest& t) { return t.Dir().Path() + "/absent.bin"; },
                 KT62_E_FW_MISSING},
        BadImage{"folder", [](FirmwareTest& t) { return t.Dir().Path(); }, KT62_E_FW_MISSING},
        BadImage{"empty_path", [](FirmwareTest&) { return std::string(); }, KT62_E_FW_MISSING},
        BadImage{"truncated",
                 [](FirmwareTest& t) { return WriteImage(t, "t.bin", [](auto& r) { r.truncate_by = 10; }); },
                 KT62_E_FW_TRUNCATED},
        BadImage{
            "corrupt_crc",
            [](FirmwareTest& t) { return WriteImage(t, "c.bin", [](auto& r) { r.bad_payload_crc = true; }); },
            KT62_E_FW_CRC},
        BadImage{"wrong_model",
                 [](FirmwareTest& t) { return WriteImage(t, "m.bin", [](auto& r) { r.model = "KT6100"; }); },
                 KT62_E_FW_MODEL},
        BadImage{"bad_magic",
                 [](FirmwareTest& t) { return WriteImage(t, "g.bin", [](auto& r) { r.bad_magic = true; }); },
                 KT62_E_FW_FORMAT}};
}

std::string CaseName(const ::testing::TestParamInfo<BadImage>& param) { return param.param.name; }

INSTANTIATE_TEST_SUITE_P(Images, RefusedUpdate, ::testing::ValuesIn(BadImages()), CaseName);

TEST_F(FirmwareTest, GoodUpdateFromANonAsciiPathRestartsIntoTheNewVersion) {
    KT62_HANDLE h = Open();
    ASSERT_NE(h, KT62_INVALID_HANDLE);
    const std::string path =
        dir_.Write("\xE5\x9B\xBA\xE4\xBB\xB6/fw \xC3\xA9\xF0\x9F\x98\x80.bin", Build(Recipe({2, 7, 9})));
    ASSERT_EQ(kt62Update(h, Wide(Utf16(path))), KT62_OK);

    // Restarting: gone from the list, the old handle dead, nothing to open.
    EXPECT_EQ(kt62Search(), 0);
    EXPECT_EQ(kt62Open(0), KT62_INVALID_HANDLE);
    uint8_t v[4];
    EXPECT_EQ(kt62GetVersion(h, v), KT62_E_NO_PROGRAMMER);
    EXPECT_EQ(kt62UfsReset(h, 1), KT62_E_NO_PROGRAMMER);

    ASSERT_TRUE(WaitForCount(1));
    EXPECT_EQ(kt62GetVersion(h, v), KT62_E_NO_PROGRAMMER) << "the old handle stays dead after the restart";
    KT62_HANDLE again = Open();
    ASSERT_NE(again, KT62_INVALID_HANDLE) << "the dead handle holds no lock";
    EXPECT_EQ(Version(again), (Bytes4{2, 7, 9, 0}));

    // The dead handle can still be closed, once.
    EXPECT_EQ(kt62Close(h), KT62_OK);
    EXPECT_EQ(kt62Close(h), KT62_E_NOT_OPEN);
    EXPECT_EQ(Version(again), (Bytes4{2, 7, 9, 0}));
}

TEST_F(FirmwareTest, StoredVersionOutlivesReloadsAndOverridesTheProfile) {
    KT62_HANDLE h = Open();
    ASSERT_NE(h, KT62_INVALID_HANDLE);
    ASSERT_EQ(kt62Update(h, Wide(Utf16(dir_.Write("a.bin", Build(Recipe({3, 0, 0})))))), KT62_OK);
    ASSERT_TRUE(WaitForCount(1));

    // A changed profile is a new load: new programmer objects, which read the stored state.
    UseProfile(R"({"programmers":[{"firmware_version":[1,2,4],"product_name":"reloaded"}]})");
    KT62_HANDLE after_reload = Open();
    ASSERT_NE(after_reload, KT62_INVALID_HANDLE);
    EXPECT_EQ(Version(after_reload), (Bytes4{3, 0, 0, 0}));

    // A second update goes into the other slot; the first image is kept beside it.
    ASSERT_EQ(kt62Update(after_reload, Wide(Utf16(dir_.Write("b.bin", Build(Recipe({0, 9, 1})))))), KT62_OK);
    ASSERT_TRUE(WaitForCount(1));
    EXPECT_EQ(Version(Open()), (Bytes4{0, 9, 1, 0})) << "a downgrade is an update like any other";
    kt62::emu::ProgrammerState state;
    std::string why;
    ASSERT_EQ(kt62::emu::LoadProgrammerState(StateFile(), state, why), kt62::emu::StateLoad::Loaded) << why;
    EXPECT_EQ(state.slots[1 - state.active].version, (FirmwareVersion{3, 0, 0}));

    // Without the stored state the profile's version is back.
    for (KT62_HANDLE o : opened_) kt62Close(o);
    opened_.clear();
    fs::remove(StateFile());
    EXPECT_EQ(Version(Open()), (Bytes4{1, 2, 4, 0}));
}

TEST_F(FirmwareTest, ARestartingProgrammerLeavesTheListAndTheOthersMoveUp) {
    UseProfile(R"({"programmers":[{},{}]})");
    KT62_HANDLE first = Open(0);
    ASSERT_NE(first, KT62_INVALID_HANDLE);
    ASSERT_EQ(kt62Update(first, Wide(Utf16(dir_.Write("a.bin", Build(Recipe({4, 0, 0})))))), KT62_OK);
    EXPECT_EQ(kt62Search(), 1);
    KT62_HANDLE h = kt62Open(0);
    ASSERT_NE(h, KT62_INVALID_HANDLE);
    opened_.push_back(h);
    uint8_t version[4], name[16], extra[8];
    ASSERT_EQ(kt62GetProduct(h, version, name, extra), KT62_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(extra), 8), "KT000002")
        << "position 0 is now the second one";
    EXPECT_EQ(Version(h), (Bytes4{1, 0, 0, 0})) << "the other programmer keeps its firmware";
    ASSERT_TRUE(WaitForCount(2));
}

TEST_F(FirmwareTest, UnreadableStoredStateIsReportedNotGuessed) {
    dir_.Write("profile.json.state/programmer0.firmware", "KT62PGST but cut short");
    KT62_HANDLE h = Open();
    ASSERT_NE(h, KT62_INVALID_HANDLE);
    uint8_t v[4];
    EXPECT_EQ(kt62GetVersion(h, v), KT62_E_STATE_IO);
    EXPECT_EQ(kt62Update(h, Wide(Utf16(dir_.Write("a.bin", Build(Recipe({2, 0, 0})))))), KT62_E_STATE_IO);
    EXPECT_EQ(kt::test::TempDir::Read(StateFile()), "KT62PGST but cut short") << "left as it was";
    EXPECT_EQ(kt62Search(), 1);
}

// The desktop program may update on one thread and reopen on another; run under ThreadSanitizer too.
TEST_F(FirmwareTest, ReopenOnAnotherThreadWhileTheUpdateRuns) {
    KT62_HANDLE h = Open();
    ASSERT_NE(h, KT62_INVALID_HANDLE);
    const std::u16string path = Utf16(dir_.Write("a.bin", Build(Recipe({5, 0, 0}))));
    std::vector<uint8_t> seen;
    std::thread reopener([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        KT62_HANDLE again = KT62_INVALID_HANDLE;
        while (again == KT62_INVALID_HANDLE && std::chrono::steady_clock::now() < deadline) {
            if (kt62Search() == 1) again = kt62Open(0);
            if (again == KT62_INVALID_HANDLE) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (again == KT62_INVALID_HANDLE) return;
        seen = Version(again);
        kt62Close(again);
    });
    EXPECT_EQ(kt62Update(h, Wide(path)), KT62_OK);
    reopener.join();
    EXPECT_EQ(seen, (Bytes4{5, 0, 0, 0}));
}

// The real restart time, measured once: absent for its whole length, then back.
TEST_F(FirmwareTest, DefaultRestartKeepsTheProgrammerAwayForItsWholeTime) {
    kt62::emu::Restarts::SetDuration(kt62::emu::kRestartTime);
    KT62_HANDLE h = Open();
    ASSERT_NE(h, KT62_INVALID_HANDLE);
    const std::u16string path = Utf16(dir_.Write("a.bin", Build(Recipe({2, 0, 0}))));
    ASSERT_EQ(kt62Update(h, Wide(path)), KT62_OK);
    const auto done = std::chrono::steady_clock::now();
    std::this_thread::sleep_until(done + kt62::emu::kRestartTime - std::chrono::milliseconds(200));
    if (std::chrono::steady_clock::now() < done + kt62::emu::kRestartTime) {
        EXPECT_EQ(kt62Search(), 0);
    }
    ASSERT_TRUE(WaitForCount(1));
    EXPECT_GE(std::chrono::steady_clock::now() - done, kt62::emu::kRestartTime);
}

// A child installs images A and B in turn until it is killed; whenever that happens, the file
// loads and runs the factory firmware (only before the first switch), A or B, and the other slot
// holds a whole image or the factory entry.
TEST(FirmwareCrashSafety, AKilledUpdateLeavesOneVersionOrTheOther) {
    kt::test::TempDir dir;
    const fs::path file = dir.Path() + "/programmer0.firmware";
    const kt62::emu::FirmwareImage a{{1, 1, 1}, Payload(40000, 1), kt62::emu::Crc32(Payload(40000, 1))};
    const kt62::emu::FirmwareImage b{{2, 2, 2}, Payload(30000, 2), kt62::emu::Crc32(Payload(30000, 2))};
    const FirmwareVersion factory{0, 0, 1};
    auto is = [](const kt62::emu::FirmwareSlot& slot, const kt62::emu::FirmwareImage& image) {
        return slot.kind == kt62::emu::FirmwareSlot::Kind::Image && slot.version == image.version &&
               slot.payload == image.payload;
    };
    // Kill times spread over a few installs, however fast fsync is on this machine.
    const auto start = std::chrono::steady_clock::now();
    {
        kt62::emu::ProgrammerState s;
        std::string why;
        ASSERT_EQ(kt62::emu::InstallFirmware(dir.Path() + "/probe", factory, a, s, why), KT62_OK) << why;
    }
    const auto one_install =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    const uint64_t window_us = static_cast<uint64_t>(one_install.count()) * 4 + 1000;
    std::mt19937 rng(12345);
    int switched = 0;
    for (int round = 0; round < 40; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (unsigned i = 0;; ++i) {
                kt62::emu::ProgrammerState s;
                std::string why;
                if (kt62::emu::InstallFirmware(file, factory, i % 2 ? b : a, s, why) != KT62_OK) _exit(3);
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % window_us));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child failed an install: " << status;

        kt62::emu::ProgrammerState s;
        std::string why;
        const auto load = kt62::emu::LoadProgrammerState(file, s, why);
        if (load == kt62::emu::StateLoad::Absent) continue;  // killed before the first rename
        ASSERT_EQ(load, kt62::emu::StateLoad::Loaded) << "round " << round << ": " << why;
        const auto& active = s.Active();
        const bool factory_running =
            active.kind == kt62::emu::FirmwareSlot::Kind::Factory && active.version == factory;
        EXPECT_TRUE(factory_running || is(active, a) || is(active, b)) << "round " << round;
        if (!factory_running) ++switched;
        const auto& other = s.slots[1 - s.active];
        const bool whole = other.kind == kt62::emu::FirmwareSlot::Kind::Empty ||
                           other.kind == kt62::emu::FirmwareSlot::Kind::Factory || is(other, a) ||
                           is(other, b);
        EXPECT_TRUE(whole) << "round " << round;
    }
    EXPECT_GT(switched, 0) << "no kill came after a finished install: the test saw no switch";
}

}  // namespace
}  // namespace kt62emutest
