#include <gtest/gtest.h>
#include <kt62/apiKT6200.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

#include "emu/firmware.h"
#include "emu/programmer_state.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using Bytes4 = std::vector<uint8_t>;
using kt62::emu::Crc32;
using kt62::emu::FirmwareSlot;
using kt62::emu::FirmwareVersion;
using kt62::emu::ImageRecipe;
using kt62::emu::ProgrammerState;

std::vector<uint8_t> Payload(size_t size, uint8_t seed = 1) {  // a shifted byte shows
    std::vector<uint8_t> p(size);
    for (size_t i = 0; i < size; ++i) p[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return p;
}

std::string Build(FirmwareVersion version, size_t size = 1000, void (*change)(ImageRecipe&) = nullptr) {
    ImageRecipe r{.version = version, .payload = Payload(size, version[0])};
    if (change) change(r);
    std::string why;
    const auto image = kt62::emu::BuildFirmwareImage(r, why);
    EXPECT_TRUE(image) << why;
    return image ? std::string(image->begin(), image->end()) : std::string();
}

// A restart is keyed by a state file in the test's own folder: none reaches the next test.
class FirmwareTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_DATA_HOME", (dir_.Path() + "/xdg").c_str(), 1);
        unsetenv("KT62_TRACE");
        kt62::emu::Restarts::SetDuration(std::chrono::milliseconds(60));
        UseProfile(R"({"programmers":[{"firmware_version":[1,2,3]}]})");
    }
    void TearDown() override {
        for (KT62_HANDLE h : opened_) kt62Close(h);
        kt62::emu::Restarts::SetDuration(kt62::emu::kRestartTime);
    }

    void UseProfile(const std::string& json) {
        setenv("KT62_EMULATOR", dir_.Write("profile.json", json).c_str(), 1);
    }
    KT62_HANDLE Open(int32_t position = 0) { return kt62Search(), opened_.emplace_back(kt62Open(position)); }
    void Says(const std::string& args, int status, const std::string& text) {
        const std::string out = dir_.Path() + "/out.txt";
        const int got = std::system((KT62EMU_PATH " " + args + " >" + out + " 2>&1").c_str());
        const std::string said = kt::test::TempDir::Read(out);
        EXPECT_EQ(WIFEXITED(got) ? WEXITSTATUS(got) : -1, status) << args << ": " << said;
        EXPECT_NE(said.find(text), std::string::npos) << args << ": " << said;
    }

    kt::test::TempDir dir_;
    std::vector<KT62_HANDLE> opened_;
};

// A header field rewritten and the header checksum made to fit again, so that only the field is wrong.
std::string Patched(std::string image, size_t offset, uint32_t value, size_t bytes = 4) {
    for (size_t i = 0; i < bytes; ++i) image[offset + i] = static_cast<char>(value >> (8 * i));
    const uint32_t crc = Crc32({reinterpret_cast<const uint8_t*>(image.data()), 44});
    for (size_t i = 0; i < 4; ++i) image[44 + i] = static_cast<char>(crc >> (8 * i));
    return image;
}

TEST(FirmwareImage, EachFaultHasItsOwnResult) {
    const std::string good = Build({2, 0, 1}, 300);
    const std::tuple<const char*, std::string, int32_t> cases[] = {
        {"good", good, KT62_OK},
        {"empty file", "", KT62_E_FW_TRUNCATED},
        {"bad magic", Build({2, 0, 1}, 300, [](ImageRecipe& r) { r.bad_magic = true; }), KT62_E_FW_FORMAT},
        {"header cut", good.substr(0, 47), KT62_E_FW_TRUNCATED},
        {"payload cut by one", good.substr(0, good.size() - 1), KT62_E_FW_TRUNCATED},
        {"byte after the payload", good + "x", KT62_E_FW_FORMAT},
        {"payload byte changed", good.substr(0, 100) + char(good[100] ^ 1) + good.substr(101), KT62_E_FW_CRC},
        {"header byte changed", good.substr(0, 29) + char(good[29] ^ 4) + good.substr(30), KT62_E_FW_CRC},
        {"other model", Build({2, 0, 1}, 300, [](ImageRecipe& r) { r.model = "KT6300"; }), KT62_E_FW_MODEL},
        {"a model of all 16 bytes",
         Build({2, 0, 1}, 300, [](ImageRecipe& r) { r.model = "KT6300-ABCDEFGHI"; }), KT62_E_FW_MODEL},
        {"format 2", Patched(good, 8, 2, 2), KT62_E_FW_FORMAT},
        {"length 0", Patched(good, 32, 0), KT62_E_FW_FORMAT},
        {"length past the limit", Patched(good, 32, kt62::emu::kMaxFirmwarePayload + 1), KT62_E_FW_FORMAT},
        {"length promises more", Patched(good, 32, 301), KT62_E_FW_TRUNCATED}};
    kt::test::TempDir dir;
    for (const auto& [name, bytes, result] : cases) {
        kt62::emu::FirmwareImage image;
        EXPECT_EQ(kt62::emu::ReadFirmwareImage(dir.Write("image.bin", bytes), image), result) << name;
        EXPECT_TRUE(result != KT62_OK || image.payload == Payload(300, 2));
    }
    ASSERT_EQ(mkfifo((dir.Path() + "/fifo").c_str(), 0600), 0);
    for (const std::string& path :
         {dir.Path() + "/absent.bin", dir.Path(), dir.Path() + "/fifo", std::string()}) {
        kt62::emu::FirmwareImage image;
        EXPECT_EQ(kt62::emu::ReadFirmwareImage(path, image), KT62_E_FW_MISSING) << path;
    }
}

TEST(FirmwareVersionText, IsThreeDecimalBytes) {
    EXPECT_EQ(kt62::emu::ParseVersionText("255.0.9"), (FirmwareVersion{255, 0, 9}));
    for (const char* bad : {"1.256.0", "1.2", "1.2.3.", "1..3", "1.2.x", "-1.2.3"})
        EXPECT_EQ(kt62::emu::ParseVersionText(bad), std::nullopt) << bad;
}

TEST(ProgrammerStateFile, RoundTripsAndRefusesAnyChangedMissingOrInconsistentByte) {
    ProgrammerState two;  // the factory firmware and an image, which runs
    two.active = 1;
    two.slots = {FirmwareSlot{FirmwareSlot::Kind::Factory, {1, 0, 0}, {}, 0},
                 FirmwareSlot{FirmwareSlot::Kind::Image, {2, 3, 4}, Payload(64, 9), Crc32(Payload(64, 9))}};
    const std::vector<uint8_t> bytes = kt62::emu::EncodeProgrammerState(two);
    std::string why;
    EXPECT_EQ(kt62::emu::DecodeProgrammerState(bytes, why), std::optional(two)) << why;
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::vector<uint8_t> flipped = bytes;
        flipped[i] ^= 0x10;
        EXPECT_FALSE(kt62::emu::DecodeProgrammerState(flipped, why)) << "byte " << i;
        EXPECT_FALSE(kt62::emu::DecodeProgrammerState(std::span(bytes).first(i), why)) << "first " << i;
    }
    // Checksums that fit over contents that do not: only the slot checks can tell.
    std::vector<ProgrammerState> bad(5, two);
    bad[0].slots[1] = {};
    bad[4].slots[1].payload.clear(), bad[4].slots[1].payload_crc = Crc32({});  // an image of nothing
    bad[1].slots[0].payload = {1, 2, 3};
    bad[2].slots[1].payload_crc ^= 1;
    bad[3].active = 2;
    for (const ProgrammerState& s : bad)
        EXPECT_FALSE(kt62::emu::DecodeProgrammerState(kt62::emu::EncodeProgrammerState(s), why));
}

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
    EXPECT_EQ(kt62Search(), 1);
    EXPECT_EQ(Version(h), (Bytes4{KT62_E_NO_PROGRAMMER}));
    for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
         kt62Search() != 2 && std::chrono::steady_clock::now() < until;)  // far longer than a restart
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(kt62Search(), 2) << "still restarting";
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

// A child installs A and B in turn until killed (every other round after its first install): each slot
// then holds A, B, the factory firmware or (not the running one) nothing.
TEST(FirmwareCrashSafety, AKilledUpdateLeavesOneVersionOrTheOther) {
    using kt62::emu::StateLoad;
    const kt::test::TempDir dir;
    const fs::path file = dir.Path() + "/programmer0.firmware";
    const auto image = [](uint8_t v, size_t size) {
        return FirmwareSlot{FirmwareSlot::Kind::Image, {v, v, v}, Payload(size, v), Crc32(Payload(size, v))};
    };
    const FirmwareSlot whole[] = {
        image(1, 40000), image(2, 30000), {FirmwareSlot::Kind::Factory, {0, 0, 1}, {}, 0}};
    std::mt19937 rng(12345);
    for (int round = 0; round < 40; ++round) {
        ProgrammerState s;
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

TEST_F(FirmwareTest, Kt62emuCreatesWhatTheLibraryOpensAndItsPowerCycleAppliesAConfiguration) {
    const std::string profile = dir_.Path() + "/dev.json";
    Says("create --profile " + profile + " --capacity 1G --manufacturer ACME", 0,
         "created a factory-fresh device for programmer 0");
    setenv("KT62_EMULATOR", profile.c_str(), 1);
    KT62_HANDLE h = Open();
    uint8_t inquiry[192] = {}, config[144];
    ASSERT_EQ(kt62ScsiInquiry(h, inquiry), KT62_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(inquiry + 8), 8), "ACME    ");
    Says("show --profile " + profile, 3, "in use by process " + std::to_string(getpid()));
    // A written configuration is pending until the tool power-cycles the device.
    ASSERT_EQ(kt62UfsReadDescriptor(h, 0x01, 0, 0, config, sizeof config), KT62_OK);
    config[0x14] = config[0x15] = config[0x16] = 0, config[0x17] = 100;  // unit 0: 100 allocation units
    ASSERT_EQ(kt62UfsWriteDescriptor(h, 0x01, 0, 0, config, sizeof config), KT62_OK);
    kt62Close(h);
    Says("show --json --profile " + profile, 0, R"("configuration_pending": true)");
    Says("power-cycle --profile " + profile, 0, "the written configuration took effect");
    Says("show --json --profile " + profile, 0, R"("configuration_pending": false)");
    std::vector<uint8_t> block(4096, 0xA5);  // create discards what the units held, in the same layout too
    Says("create --profile " + profile, 0, "factory-fresh");
    KT62_HANDLE w = Open();
    ASSERT_EQ(kt62ScsiWrite10(w, 0, 4096, block.data(), 1), KT62_OK);
    kt62Close(w);
    Says("create --profile " + profile, 0, "factory-fresh");
    ASSERT_EQ(kt62ScsiRead10(Open(), 0, 4096, block.data(), 1), KT62_OK);
    EXPECT_EQ(block, std::vector<uint8_t>(4096, 0));
}

}  // namespace

// Everything `show` says of a fresh device of each version, against the view kept beside this test.
TEST_F(FirmwareTest, ShowOfAFreshDeviceIsTheRecordedView) {
    for (const std::string version : {"2.1", "3.1", "4.0"}) {
        const std::string profile = dir_.Path() + "/" + version + ".json", out = dir_.Path() + "/show.txt";
        Says("create --profile " + profile + " --capacity 1G --spec-version " + version, 0, "factory-fresh");
        ASSERT_EQ(std::system((KT62EMU_PATH " show --profile " + profile + " >" + out).c_str()), 0);
        std::string said = kt::test::TempDir::Read(out);
        for (size_t at = 0; (at = said.find(profile, at)) != std::string::npos;)
            said.replace(at, profile.size(), "@PROFILE@");
        EXPECT_EQ(said, kt::test::TempDir::Read(KT62EMU_VIEWS "/" + version + ".txt")) << version;
    }
}
