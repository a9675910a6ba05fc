// kt62Update beyond the e2e case: the restart's effect on the list and on handles, a state file that
// cannot be read, and a process killed mid-update.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include "fw_fixture.h"

namespace kt62emutest {
namespace {

using Bytes4 = std::vector<uint8_t>;
using kt62::emu::FirmwareSlot;

// An ASCII path and what may follow it, as kt62Update takes it.
int32_t UpdateFrom(KT62_HANDLE h, const std::string& ascii, const std::u16string& rest = u"") {
    const std::u16string path = std::u16string(ascii.begin(), ascii.end()) + rest;
    return kt62Update(h, reinterpret_cast<const kt62_char16*>(path.c_str()));
}

Bytes4 Version(KT62_HANDLE h) {
    uint8_t v[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    const int32_t r = kt62GetVersion(h, v);
    return r == KT62_OK ? Bytes4(v, v + 4) : Bytes4{static_cast<uint8_t>(r)};
}

TEST_F(FirmwareTest, GoodUpdateRestartsIntoTheNewVersionWhichOutlivesReloads) {
    UseProfile(R"({"programmers":[{"firmware_version":[1,2,3]},{}]})");
    KT62_HANDLE h = Open();
    dir_.Write("\xE5\x9B\xBA\xE4\xBB\xB6 \xC3\xA9\xF0\x9F\x98\x80.bin", Build({2, 7, 9}));  // CJK, é, emoji
    ASSERT_EQ(UpdateFrom(h, dir_.Path() + "/", u"\u56FA\u4EF6 \u00E9\U0001F600.bin"), KT62_OK);
    // Restarting: gone from the list, the others move up, the old handle dead.
    EXPECT_EQ(kt62Search(), 1);
    uint8_t version[4], name[16], extra[8];
    ASSERT_EQ(kt62GetProduct(Open(0), version, name, extra), KT62_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(extra), 8), "KT000002");
    EXPECT_EQ(Version(h), (Bytes4{KT62_E_NO_PROGRAMMER}));
    ASSERT_TRUE(Listed(2)) << "still restarting";
    EXPECT_EQ(Version(h), (Bytes4{KT62_E_NO_PROGRAMMER})) << "the old handle stays dead after the restart";
    EXPECT_EQ(Version(Open(0)), (Bytes4{2, 7, 9, 0})) << "the dead handle holds no lock";
    EXPECT_EQ(kt62Close(h), KT62_OK);
}

TEST_F(FirmwareTest, UnreadableStoredStateIsReportedNotGuessed) {
    const std::string state = dir_.Write("profile.json.state/programmer0.firmware", "KT62PGST but cut short");
    KT62_HANDLE h = Open();
    EXPECT_EQ(Version(h), (Bytes4{KT62_E_STATE_IO}));
    EXPECT_EQ(UpdateFrom(h, dir_.Write("a.bin", Build({2, 0, 0}))), KT62_E_STATE_IO);
    EXPECT_EQ(kt::test::TempDir::Read(state), "KT62PGST but cut short");
}

// A child installs images A and B in turn until it is killed at a random moment, in every other
// round only after its first install. Each slot then holds A, B, the factory firmware or (not the
// running one) nothing; after a finished install an image runs.
TEST(FirmwareCrashSafety, AKilledUpdateLeavesOneVersionOrTheOther) {
    using kt62::emu::StateLoad;
    const kt::test::TempDir dir;
    const fs::path file = dir.Path() + "/programmer0.firmware";
    const auto image = [](uint8_t v, size_t size) {
        return FirmwareSlot{
            FirmwareSlot::Kind::Image, {v, v, v}, Payload(size, v), kt62::emu::Crc32(Payload(size, v))};
    };
    const FirmwareSlot whole[] = {
        image(1, 40000), image(2, 30000), {FirmwareSlot::Kind::Factory, {0, 0, 1}, {}, 0}};
    std::mt19937 rng(12345);
    for (int round = 0; round < 40; ++round) {
        kt62::emu::ProgrammerState s;
        std::string why;
        int installed[2];
        ASSERT_EQ(pipe(installed), 0);
        const pid_t child = fork();
        for (unsigned i = 0; child == 0; ++i) {
            const kt62::emu::FirmwareImage next{whole[i % 2].version, whole[i % 2].payload,
                                                whole[i % 2].payload_crc};
            if (kt62::emu::InstallFirmware(file, {0, 0, 1}, next, s, why) != KT62_OK ||
                (i == 0 && write(installed[1], "i", 1) != 1))
                _exit(3);
        }
        char c = 0;
        ASSERT_TRUE(round % 2 == 0 || read(installed[0], &c, 1) == 1) << "the child's first install";
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 20000));
        int status = 0;
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child failed an install: " << status;
        close(installed[0]), close(installed[1]);
        const StateLoad load = kt62::emu::LoadProgrammerState(file, s, why);
        if (load == StateLoad::Absent) continue;  // killed before the first rename
        ASSERT_EQ(load, StateLoad::Loaded) << "round " << round << ": " << why;
        for (int i = 0; i < 2; ++i) {
            const bool spare_empty = i != s.active && s.slots[i].kind == FirmwareSlot::Kind::Empty;
            EXPECT_TRUE(spare_empty || std::ranges::count(whole, s.slots[i]) == 1) << round << ", slot " << i;
        }
        EXPECT_TRUE(round % 2 == 0 || s.Active().kind == FirmwareSlot::Kind::Image) << round;
    }
}

}  // namespace
}  // namespace kt62emutest
