// kt62Update beyond the e2e case: the restart's effect on the list and on handles, a state file that
// cannot be read, and a process killed mid-update.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "fw_fixture.h"

namespace kt62emutest {
namespace {

using Bytes4 = std::vector<uint8_t>;
using kt62::emu::FirmwareSlot;

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

// A child installs images A and B in turn until it is killed at a random moment; the file then runs
// the factory firmware (only before the first switch), A or B, the other slot whole. Every other
// round the kill waits until the child has finished an install, so some rounds see a switch.
TEST(FirmwareCrashSafety, AKilledUpdateLeavesOneVersionOrTheOther) {
    kt::test::TempDir dir;
    const fs::path file = dir.Path() + "/programmer0.firmware";
    const kt62::emu::FirmwareImage images[] = {
        {{1, 1, 1}, Payload(40000, 1), kt62::emu::Crc32(Payload(40000, 1))},
        {{2, 2, 2}, Payload(30000, 2), kt62::emu::Crc32(Payload(30000, 2))}};
    const auto whole = [&](const FirmwareSlot& s) {
        for (const auto& i : images)
            if (s.kind == FirmwareSlot::Kind::Image && s.version == i.version && s.payload == i.payload)
                return true;
        return s.kind == FirmwareSlot::Kind::Factory && s.version == FirmwareVersion{0, 0, 1};
    };
    std::mt19937 rng(12345);
    int switched = 0;
    for (int round = 0; round < 40; ++round) {
        kt62::emu::ProgrammerState s;
        std::string why;
        int installed[2];
        ASSERT_EQ(pipe(installed), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        for (unsigned i = 0; child == 0; ++i) {
            if (kt62::emu::InstallFirmware(file, {0, 0, 1}, images[i % 2], s, why) != KT62_OK) _exit(3);
            if (i == 0 && write(installed[1], "i", 1) != 1) _exit(4);
        }
        char c = 0;
        ASSERT_TRUE(round % 2 == 0 || read(installed[0], &c, 1) == 1) << "the child's first install";
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 20000));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        close(installed[0]), close(installed[1]);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child failed an install: " << status;
        const auto load = kt62::emu::LoadProgrammerState(file, s, why);
        if (load == kt62::emu::StateLoad::Absent) continue;  // killed before the first rename
        ASSERT_EQ(load, kt62::emu::StateLoad::Loaded) << "round " << round << ": " << why;
        const FirmwareSlot& other = s.slots[1 - s.active];
        EXPECT_TRUE(whole(s.Active())) << round;
        EXPECT_TRUE(whole(other) || other.kind == FirmwareSlot::Kind::Empty) << round;
        switched += s.Active().kind == FirmwareSlot::Kind::Image;
    }
    EXPECT_GT(switched, 0);
}

}  // namespace
}  // namespace kt62emutest
