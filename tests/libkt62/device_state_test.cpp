// What the emulated programmer adds to its device: the state folder that outlives the process and
// a reload of the profile. Unusable state is reported and refused, never a crash, and never deleted.
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "device_fixture.h"

namespace kt62test {
namespace {

namespace fs = std::filesystem;
using State = DeviceTest;

// A unit whose layout changes loses its data (and its file); one that keeps its layout keeps it.
TEST_F(State, DataSurvivesOnlyWhereTheLayoutStays) {
    ASSERT_NE(
        OpenDevice(
            R"({"raw_capacity_bytes":8589934592,"logical_units":[{"alloc_units":512},{"alloc_units":1024}]})"),
        KT62_INVALID_HANDLE);
    const std::vector<uint8_t> data = Pattern(4, 1);
    ASSERT_EQ(kt62ScsiWrite10(h_, 10, kBlock, data.data(), 4), KT62_OK);
    std::vector<uint8_t> config = Descriptor(1);
    config[0x12] = 1;  // unit 0 write protect: not a layout change
    ASSERT_EQ(WriteConfig(config), KT62_OK);
    ASSERT_EQ(kt62UfsReset(h_, 1), KT62_OK);
    EXPECT_EQ(Read(10, 4), data);
    config[0x17] = 0x01;  // unit 0: 513 allocation units
    ASSERT_EQ(WriteConfig(config), KT62_OK);
    ASSERT_EQ(kt62UfsReset(h_, 1), KT62_OK);
    EXPECT_EQ(Read(10, 4), std::vector<uint8_t>(data.size(), 0)) << "a resized unit starts empty";
    const std::string device = dir_.Path() + "/profile.json.state/device0/";
    EXPECT_FALSE(fs::exists(device + "lu0.g0.data")) << "the old unit 0 data file is gone";
    EXPECT_TRUE(fs::exists(device + "lu0.g1.data"));
}

// The lock holds across reopening and a reload with new fault rules; a profile describing another
// device starts factory-fresh.
TEST_F(State, LockRefusesConfigurationWritesForGoodUntilTheDeviceChanges) {
    ASSERT_NE(OpenDevice(), KT62_INVALID_HANDLE);
    ASSERT_EQ(WriteConfig(SingleUnitConfig(100)), KT62_OK);
    ASSERT_EQ(kt62UfsWriteAttribute(h_, 0x0B, 0, 0, 1), KT62_OK);
    EXPECT_EQ(WriteConfig(SingleUnitConfig(200)), KT62_QUERY_NOT_WRITEABLE);
    Reopen();
    EXPECT_EQ(UnitBlocks(0), 100u * 1024) << "the configuration written before the lock still takes effect";
    EXPECT_EQ(kt62UfsWriteAttribute(h_, 0x0B, 0, 0, 0), KT62_QUERY_ALREADY_WRITTEN);
    kt62Close(h_);
    UseProfile(
        R"({"programmers":[{"ufs":{},"faults":[{"call":"kt62UfsReadFlag","match":{"idn":1},"value":1}]}]})");
    h_ = OpenAfterSearch(0);
    EXPECT_EQ(Attribute(0x0B) << 8 | UnitBlocks(0) >> 10, 0x164u) << "the same device, locked, 100 units";
    kt62Close(h_);
    const std::string err = Stderr([this] {
        OpenDevice(R"({"raw_capacity_bytes":8589934592})");
        EXPECT_EQ(Attribute(0x0B) << 24 | UnitBlocks(0) >> 10, 2048u);
    });
    EXPECT_NE(err.find("factory-fresh"), std::string::npos) << err;
}

// Keys that are each valid but describe no device are refused with the key that does not fit.
TEST_F(State, InconsistentUfsKeysAreRefusedWithTheirKey) {
    const char* cases[][2] = {
        {R"({"raw_capacity_bytes":1048576})", "ufs.raw_capacity_bytes: smaller than one allocation unit"},
        {R"({"logical_units":[{"alloc_units":8000},{"alloc_units":193}]})",
         "ufs.logical_units[1].alloc_units"},
        {R"({"logical_units":[{"boot_lun_id":1,"alloc_units":1},{"boot_lun_id":1,"alloc_units":1}]})",
         "ufs.logical_units[1].boot_lun_id: boot unit A is unit 0"},
        {R"({"link":{"tx_gear":4}})", "ufs.link.tx_gear: UFS 2.1 links run HS gears 1 to 3"},
    };
    for (const auto& [ufs, message] : cases) {
        UseProfile(R"({"programmers":[{"ufs":)" + std::string(ufs) + "}]}");
        const std::string err = Stderr([] { EXPECT_EQ(kt62Search(), 0); });
        EXPECT_NE(err.find(std::string("programmers[0].") + message), std::string::npos) << err;
    }
}

// A damaged state or unit data: the device refuses to load, names the file, and leaves every
// file as it was.
TEST_F(State, UnusableStateIsReportedAndRefusedNotDeleted) {
    const std::string state = dir_.Path() + "/profile.json.state/device0/state.json",
                      device = fs::path(state).parent_path();
    const std::string data = device + "/lu0.g0.data";
    const auto replace = [&](const std::string& from, const std::string& to) {
        std::string content = kt::test::TempDir::Read(state);
        const size_t at = content.find(from);
        ASSERT_NE(at, std::string::npos) << from << " in " << content;
        std::ofstream(state, std::ios::trunc) << content.replace(at, from.size(), to);
    };
    const auto write = [&](const char* content) {
        return [&state, content] { std::ofstream(state) << content; };
    };
    // clang-format off
    const struct { const char* name; std::function<void()> damage; std::string file; const char* message; } cases[] = {
        {"garbage", write("\x01\x02not json"), state, "not a valid state file"},
        {"empty", write(""), state, "not a valid state file"},
        {"missing key", write(R"({"format":1})"), state, "not a valid state file"},
        {"bad lock", [&] { replace("\"11\": 0", "\"11\": 7"); }, state, "bConfigDescrLock holds 7"},
        {"short configuration", [&] { replace("\"configuration_written\": \"90 ", "\"configuration_written\": \""); }, state, "not 144 bytes"},
        {"data deleted", [&] { fs::remove(data); }, data, "No such file or directory"},
        {"data cut", [&] { fs::resize_file(data, 4096); }, data, "4096 bytes where unit 0 holds"},
        {"state deleted", [&] { fs::remove(state); }, state, "missing beside the logical units' data files"},
        {"generation 5", [&] { replace("\"unit_generations\": [\n  0", "\"unit_generations\": [\n  5"); }, device + "/lu0.g5.data", "No such file"},
        {"generation -1", [&] { replace("\"unit_generations\": [\n  0", "\"unit_generations\": [\n  -1"); }, state, "-1 is not a whole number from 0 to 4294967294"},
        {"generation 1.5", [&] { replace("\"unit_generations\": [\n  0", "\"unit_generations\": [\n  1.5"); }, state, "1.5 is not a whole number"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(OpenDevice(), KT62_INVALID_HANDLE);
        ASSERT_EQ(kt62ScsiWrite10(h_, 0, kBlock, Pattern(1, 7).data(), 1), KT62_OK);
        kt62Close(h_);
        c.damage();
        std::map<std::string, uintmax_t> before, after;
        for (const auto& e : fs::directory_iterator(device)) before[e.path()] = fs::file_size(e.path());
        const std::string err = Stderr([&] {
            h_ = OpenAfterSearch(0);
            uint32_t v = 0;
            EXPECT_EQ(kt62UfsReadAttribute(h_, 0x0B, 0, 0, &v), KT62_E_STATE_IO);
            EXPECT_EQ(kt62ScsiReadCapacity(h_, &v, &v), KT62_E_STATE_IO);
        });
        EXPECT_NE(err.find(c.file + ": "), std::string::npos) << err;
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << "reported once: " << err;
        EXPECT_EQ(kt62Close(h_), KT62_OK);
        for (const auto& e : fs::directory_iterator(device)) after[e.path()] = fs::file_size(e.path());
        EXPECT_EQ(after, before) << "files changed";
        fs::remove_all(dir_.Path() + "/profile.json.state");
    }
}

// A state stored by an earlier version made a unit's file at first use: there a missing file is a
// unit never written, which reads as zeros, and the state is stored again so that from then on a
// missing file is lost data.
TEST_F(State, EarlierStateWithoutUnitFilesLoads) {
    const std::string state = dir_.Path() + "/profile.json.state/device0/state.json";
    ASSERT_NE(OpenDevice(), KT62_INVALID_HANDLE);
    ASSERT_EQ(Attribute(0x0B), 0u);  // the first call stores the fresh device
    kt62Close(h_);
    std::string content = kt::test::TempDir::Read(state);
    const size_t at = content.find("\"unit_files\": true,");
    ASSERT_NE(at, std::string::npos) << content;
    std::ofstream(state, std::ios::trunc) << content.erase(at, content.find('"', at + 20) - at);
    fs::remove(fs::path(state).parent_path() / "lu0.g0.data");
    h_ = OpenAfterSearch(0);
    EXPECT_EQ(Read(0, 1), std::vector<uint8_t>(kBlock, 0));
    EXPECT_TRUE(fs::exists(fs::path(state).parent_path() / "lu0.g0.data"));
    EXPECT_NE(kt::test::TempDir::Read(state).find("\"unit_files\": true"), std::string::npos);
}

}  // namespace
}  // namespace kt62test
