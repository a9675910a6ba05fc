// What the emulated programmer adds to its device: a power cycle at every
// open, the state folder that outlives the process and a reload of the
// profile (unusable state is reported, never a crash; a process killed while
// it changes the state leaves one whole version), and the profile's checks.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <thread>

#include "device_fixture.h"
#include "emu/device_state.h"
#include "profile.h"

namespace kt62test {
namespace {

using Provisioning = DeviceTest;

// 8 GiB in 2048 allocation units of 4 MiB, two units, as a profile may describe.
constexpr const char* kTwoUnits = R"({"raw_capacity_bytes":8589934592,"logical_units":[
    {"boot_lun_id":1,"alloc_units":512},{"alloc_units":1024}]})";

TEST_F(Provisioning, PendingConfigurationTakesEffectWhenTheProgrammerIsOpenedAgain) {
    ASSERT_NE(OpenDevice(), KT62_INVALID_HANDLE);
    ASSERT_EQ(WriteConfig(SingleUnitConfig(100)), KT62_OK);
    EXPECT_EQ(UnitBlocks(0), 8192u * 1024);
    Reopen();
    EXPECT_EQ(UnitBlocks(0), 100u * 1024);
}

// A unit whose layout changes loses its data; one that keeps its layout keeps it.
TEST_F(Provisioning, DataSurvivesOnlyWhereTheLayoutStays) {
    ASSERT_NE(OpenDevice(kTwoUnits), KT62_INVALID_HANDLE);
    const std::vector<uint8_t> data = Pattern(4, 1);
    ASSERT_EQ(kt62ScsiWrite10(h_, 10, kBlock, data.data(), 4), KT62_OK);
    std::vector<uint8_t> config = Descriptor(1);
    config[0x10 + 2] = 1;  // unit 0 write protect: not a layout change
    ASSERT_EQ(WriteConfig(config), KT62_OK);
    ASSERT_EQ(kt62UfsReset(h_, 1), KT62_OK);
    std::vector<uint8_t> back(data.size());
    ASSERT_EQ(kt62ScsiRead10(h_, 10, kBlock, back.data(), 4), KT62_OK);
    EXPECT_EQ(back, data);

    config[0x17] = 0x01;  // unit 0: 513 allocation units
    ASSERT_EQ(WriteConfig(config), KT62_OK);
    ASSERT_EQ(kt62UfsReset(h_, 1), KT62_OK);
    ASSERT_EQ(kt62ScsiRead10(h_, 10, kBlock, back.data(), 4), KT62_OK);
    EXPECT_EQ(back, std::vector<uint8_t>(data.size(), 0)) << "a resized unit starts empty";
    const std::string device = dir_.Path() + "/profile.json.state/device0/";
    EXPECT_FALSE(std::filesystem::exists(device + "lu0.g0.data")) << "the old unit 0 data file is gone";
    EXPECT_TRUE(std::filesystem::exists(device + "lu0.g1.data"));
}

TEST_F(Provisioning, LockRefusesConfigurationWritesForGoodAcrossReopenAndReload) {
    ASSERT_NE(OpenDevice(), KT62_INVALID_HANDLE);
    ASSERT_EQ(WriteConfig(SingleUnitConfig(100)), KT62_OK);
    ASSERT_EQ(kt62UfsWriteAttribute(h_, 0x0B, 0, 0, 1), KT62_OK);
    EXPECT_EQ(WriteConfig(SingleUnitConfig(200)), KT62_QUERY_NOT_WRITEABLE);
    ASSERT_EQ(kt62UfsReset(h_, 1), KT62_OK);
    EXPECT_EQ(UnitBlocks(0), 100u * 1024) << "the configuration written before the lock still takes effect";
    Reopen();
    EXPECT_EQ(Attribute(0x0B), 1u);
    EXPECT_EQ(kt62UfsWriteAttribute(h_, 0x0B, 0, 0, 0), KT62_QUERY_ALREADY_WRITTEN);
    EXPECT_EQ(WriteConfig(SingleUnitConfig(200)), KT62_QUERY_NOT_WRITEABLE);

    // New fault rules are a reload of the same device.
    kt62Close(h_);
    UseProfile(
        R"({"programmers":[{"ufs":{},"faults":[{"call":"kt62UfsReadFlag","match":{"idn":1},"value":1}]}]})");
    h_ = OpenAfterSearch(0);
    EXPECT_EQ(Attribute(0x0B), 1u);
    EXPECT_EQ(UnitBlocks(0), 100u * 1024);
}

TEST_F(Provisioning, AProfileDescribingAnotherDeviceStartsFactoryFresh) {
    ASSERT_NE(OpenDevice(), KT62_INVALID_HANDLE);
    ASSERT_EQ(kt62UfsWriteAttribute(h_, 0x0B, 0, 0, 1), KT62_OK);
    kt62Close(h_);
    UseProfile(R"({"programmers":[{"ufs":{"raw_capacity_bytes":8589934592}}]})");
    testing::internal::CaptureStderr();
    h_ = OpenAfterSearch(0);
    EXPECT_EQ(Attribute(0x0B), 0u);
    EXPECT_EQ(UnitBlocks(0), 2048u * 1024);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("factory-fresh"), std::string::npos);
}

// Keys that are each valid but describe no device are refused with the key that does not fit.
TEST_F(Provisioning, InconsistentUfsKeysAreRefusedWithTheirKey) {
    struct Case {
        const char* ufs;
        const char* message;
    };
    const Case cases[] = {
        {R"({"raw_capacity_bytes":1048576})",
         "programmers[0].ufs.raw_capacity_bytes: smaller than one allocation unit"},
        {R"({"logical_units":[{"alloc_units":8000},{"alloc_units":193}]})",
         "programmers[0].ufs.logical_units[1].alloc_units"},
        {R"({"logical_units":[{"boot_lun_id":1,"alloc_units":1},{"boot_lun_id":1,"alloc_units":1}]})",
         "programmers[0].ufs.logical_units[1].boot_lun_id: boot unit A is unit 0"},
        {R"({"link":{"tx_gear":4}})", "programmers[0].ufs.link.tx_gear: UFS 2.1 links run HS gears 1 to 3"},
    };
    for (const Case& c : cases) {
        UseProfile(R"({"programmers":[{"ufs":)" + std::string(c.ufs) + "}]}");
        testing::internal::CaptureStderr();
        EXPECT_EQ(kt62Search(), 0) << c.ufs;
        EXPECT_NE(testing::internal::GetCapturedStderr().find(c.message), std::string::npos) << c.ufs;
    }
}

using State = DeviceTest;

std::string StateFile(const std::string& dir) { return dir + "/profile.json.state/device0/state.json"; }

TEST_F(State, UnusableStateIsReportedAndRefusedNotFatal) {
    const struct {
        const char* name;
        const char* content;
        const char* message;
    } cases[] = {
        {"garbage", "\x01\x02not json", "not a valid state file"},
        {"empty", "", "not a valid state file"},
        {"missing_key", R"({"format":1})", "not a valid state file"},
        {"bad_lock", nullptr, "bConfigDescrLock holds 7"},
        {"short_configuration", nullptr, "not 144 bytes"},
    };
    for (const auto& c : cases) {
        ASSERT_NE(OpenDevice(), KT62_INVALID_HANDLE);
        ASSERT_EQ(Attribute(0x0B), 0u);  // the first call stores the fresh device
        kt62Close(h_);
        std::string content = c.content ? c.content : kt::test::TempDir::Read(StateFile(dir_.Path()));
        if (!c.content && std::string(c.name) == "bad_lock") {
            const size_t at = content.find("\"11\": 0");
            ASSERT_NE(at, std::string::npos) << content;
            content.replace(at, 7, "\"11\": 7");
        } else if (!c.content) {
            const size_t at = content.find("\"configuration_written\": \"90");
            ASSERT_NE(at, std::string::npos);
            content.replace(at + 26, 3, "");
        }
        std::ofstream(StateFile(dir_.Path()), std::ios::trunc) << content;

        testing::internal::CaptureStderr();
        h_ = OpenAfterSearch(0);
        uint32_t v = 0;
        EXPECT_EQ(kt62UfsReadAttribute(h_, 0x0B, 0, 0, &v), KT62_E_STATE_IO) << c.name;
        EXPECT_EQ(kt62ScsiReadCapacity(h_, &v, &v), KT62_E_STATE_IO) << c.name;
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(StateFile(dir_.Path())), std::string::npos) << err;
        EXPECT_NE(err.find(c.message), std::string::npos) << c.name << ": " << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << "reported once: " << err;
        EXPECT_EQ(kt62Close(h_), KT62_OK);
        std::filesystem::remove_all(dir_.Path() + "/profile.json.state");
    }
}

// Lost or inconsistent unit data, and a state that does not fit its data: the device refuses to
// load, names the file, and leaves every file as it was.
TEST_F(State, LostDataIsRefusedAndNothingIsDeleted) {
    namespace fs = std::filesystem;
    const std::string state = StateFile(dir_.Path()), device = fs::path(state).parent_path().string();
    const std::string data = device + "/lu0.g0.data";
    auto generation = [&](const char* value) {  // of unit 0
        std::string content = kt::test::TempDir::Read(state);
        content.replace(content.find("\"unit_generations\": [\n  0") + 24, 1, value);
        std::ofstream(state, std::ios::trunc) << content;
    };
    auto files = [&] {
        std::map<std::string, uintmax_t> sizes;
        for (const auto& e : fs::directory_iterator(device))
            sizes[e.path().string()] = fs::file_size(e.path());
        return sizes;
    };
    // clang-format off
    const struct { const char* name; std::function<void()> damage; std::string file; const char* message; } cases[] = {
        {"data deleted", [&] { fs::remove(data); }, data, "No such file or directory"},
        {"data cut", [&] { fs::resize_file(data, 4096); }, data, "4096 bytes where unit 0 holds"},
        {"state deleted", [&] { fs::remove(state); }, state, "missing beside the logical units' data files"},
        {"generation 5", [&] { generation("5"); }, device + "/lu0.g5.data", "No such file"},
        {"generation -1", [&] { generation("-1"); }, state, "-1 is not a whole number from 0 to 4294967294"},
        {"generation 1.5", [&] { generation("1.5"); }, state, "1.5 is not a whole number"},
    };
    // clang-format on
    for (const auto& c : cases) {
        ASSERT_NE(OpenDevice(), KT62_INVALID_HANDLE);
        const std::vector<uint8_t> written = Pattern(1, 7);
        ASSERT_EQ(kt62ScsiWrite10(h_, 0, kBlock, written.data(), 1), KT62_OK);
        kt62Close(h_);
        c.damage();
        const auto before = files();
        testing::internal::CaptureStderr();
        h_ = OpenAfterSearch(0);
        std::vector<uint8_t> back(kBlock);
        EXPECT_EQ(kt62ScsiRead10(h_, 0, kBlock, back.data(), 1), KT62_E_STATE_IO) << c.name;
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(c.file + ": "), std::string::npos) << c.name << ": " << err;
        EXPECT_NE(err.find(c.message), std::string::npos) << c.name << ": " << err;
        EXPECT_EQ(kt62Close(h_), KT62_OK);
        EXPECT_EQ(files(), before) << c.name << ": files changed";
        fs::remove_all(dir_.Path() + "/profile.json.state");
    }
}

// A state stored by an earlier version made a unit's file at first use: there a missing file is a
// unit never written, which reads as zeros, and the state is stored again so that from then on a
// missing file is lost data.
TEST_F(State, EarlierStateWithoutUnitFilesLoads) {
    namespace fs = std::filesystem;
    const std::string state = StateFile(dir_.Path()),
                      data = fs::path(state).parent_path().string() + "/lu0.g0.data";
    ASSERT_NE(OpenDevice(), KT62_INVALID_HANDLE);
    ASSERT_EQ(Attribute(0x0B), 0u);
    kt62Close(h_);
    std::string content = kt::test::TempDir::Read(state);
    const size_t at = content.find("\"unit_files\": true,");
    ASSERT_NE(at, std::string::npos) << content;
    content.erase(at, content.find('"', at + 20) - at);
    std::ofstream(state, std::ios::trunc) << content;
    fs::remove(data);

    h_ = OpenAfterSearch(0);
    std::vector<uint8_t> back(kBlock, 0xEE);
    EXPECT_EQ(kt62ScsiRead10(h_, 0, kBlock, back.data(), 1), KT62_OK);
    EXPECT_EQ(back, std::vector<uint8_t>(kBlock, 0));
    EXPECT_TRUE(fs::exists(data));
    EXPECT_NE(kt::test::TempDir::Read(state).find("\"unit_files\": true"), std::string::npos);
}

// A child changes the state as fast as it can and is killed at random moments; every time, the
// state that is left loads and is one the child wrote.
TEST_F(State, KilledWhileChangingStateLeavesOneWholeVersion) {
    UseProfile(R"({"programmers":[{}]})");
    kt62::UfsProfile profile;
    const kt62::emu::DeviceContext where{dir_.Path() + "/profile.json.state", 0};
    std::mt19937 random(12345);
    for (int round = 0; round < 25; ++round) {
        int written[2];
        ASSERT_EQ(pipe(written), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(written[0]);
            kt62Search();
            KT62_HANDLE h = kt62Open(0);
            if (h == KT62_INVALID_HANDLE) _exit(3);
            for (uint32_t i = 1;; ++i) {
                // Both values change in every version: configuration (unit 0 size) and bRefClkFreq.
                const std::vector<uint8_t> c = SingleUnitConfig(i % 8000 + 1);
                if (kt62UfsWriteDescriptor(h, 1, 0, 0, c.data(), 0x90) != KT62_OK) _exit(4);
                if (kt62UfsWriteAttribute(h, 0x0A, 0, 0, i % 4) != KT62_OK) _exit(5);
                if (i == 1 && write(written[1], "1", 1) != 1) _exit(6);
            }
        }
        // Kill only once the child has stored a configuration of its own: before that the state
        // on disk is the factory layout (or, in later rounds, the previous child's), which is
        // whole but not one this round wrote. A slow child (sanitizers) must not fail the test.
        close(written[1]);
        char one = 0;
        ASSERT_EQ(read(written[0], &one, 1), 1) << "the child never stored a configuration";
        close(written[0]);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child stopped on its own: " << WEXITSTATUS(status);

        kt62::emu::DeviceView view;
        std::string error;
        ASSERT_EQ(kt62::emu::ReadDeviceView(where, profile, view, error), KT62_OK)
            << "round " << round << ": " << error;
        ASSERT_FALSE(view.factory_fresh) << "round " << round;
        const std::vector<uint8_t>& config = view.descriptors[1].bytes;
        const uint32_t units =
            uint32_t{config[0x14]} << 24 | config[0x15] << 16 | config[0x16] << 8 | config[0x17];
        EXPECT_EQ(config, SingleUnitConfig(units)) << "round " << round;
        EXPECT_GE(units, 1u);
    }
}

TEST_F(State, ToolsCreatePowerCycleAndViewTheSameDevice) {
    kt62::UfsProfile profile;
    profile.raw_capacity_bytes = uint64_t{1} << 30;
    const kt62::emu::DeviceContext where{dir_.Path() + "/state", 1};
    std::string error;
    ASSERT_EQ(kt62::emu::CreateFreshDevice(where, profile, error), KT62_OK) << error;
    kt62::emu::DeviceView view;
    ASSERT_EQ(kt62::emu::ReadDeviceView(where, profile, view, error), KT62_OK) << error;
    EXPECT_FALSE(view.factory_fresh);
    EXPECT_FALSE(view.configuration_pending);
    ASSERT_GE(view.descriptors.size(), 20u);
    EXPECT_EQ(view.descriptors[0].name, "Device");
    EXPECT_EQ(view.descriptors[0].bytes.size(), 0x40u);

    UseProfile(R"({"state_dir":"state","programmers":[{},{"ufs":{"raw_capacity_bytes":1073741824}}]})");
    kt62Search();
    h_ = kt62Open(1);
    opened_.push_back(h_);
    ASSERT_EQ(WriteConfig(SingleUnitConfig(10)), KT62_OK);
    kt62Close(h_);
    ASSERT_EQ(kt62::emu::ReadDeviceView(where, profile, view, error), KT62_OK) << error;
    EXPECT_TRUE(view.configuration_pending);
    ASSERT_EQ(kt62::emu::PowerCycleDevice(where, profile, error), KT62_OK) << error;
    ASSERT_EQ(kt62::emu::ReadDeviceView(where, profile, view, error), KT62_OK) << error;
    EXPECT_FALSE(view.configuration_pending);
    const auto unit0 = std::find_if(view.descriptors.begin(), view.descriptors.end(),
                                    [](const auto& d) { return d.name == "Unit 0"; });
    ASSERT_NE(unit0, view.descriptors.end());
    EXPECT_EQ(unit0->bytes[0x11] << 8 | unit0->bytes[0x12], 10 * 1024);
    const auto lock = std::find_if(view.attributes.begin(), view.attributes.end(),
                                   [](const auto& a) { return a.name == "bConfigDescrLock"; });
    ASSERT_NE(lock, view.attributes.end());
    EXPECT_EQ(lock->value, 0u);
}

}  // namespace
}  // namespace kt62test
