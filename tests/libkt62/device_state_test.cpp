#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "device_fixture.h"

namespace kt62test {
namespace {

namespace fs = std::filesystem;
using State = DeviceTest;

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
    // clang-format off
    const struct { const char* name; std::function<void()> damage; std::string file; const char* message; } cases[] = {
        {"garbage", [&] { std::ofstream(state) << "\x01\x02not json"; }, state, "not a valid state file"},
        {"bad lock", [&] { replace("\"11\": 0", "\"11\": 7"); }, state, "bConfigDescrLock holds 7"},
        {"unknown attribute", [&] { replace("\"11\": 0", "\"250\": 0"); }, state, "attribute 250 is not a persistent attribute"},
        {"short configuration", [&] { replace("\"configuration_written\": \"90 ", "\"configuration_written\": \""); }, state, "not 144 bytes"},
        {"data deleted", [&] { fs::remove(data); }, data, "No such file or directory"},
        {"data cut", [&] { fs::resize_file(data, 4096); }, data, "4096 bytes where unit 0 holds"},
        {"generation 5", [&] { replace("\"unit_generations\": [\n  0", "\"unit_generations\": [\n  5"); }, device + "/lu0.g5.data", "No such file"},
        {"generation -1", [&] { replace("\"unit_generations\": [\n  0", "\"unit_generations\": [\n  -1"); }, state, "-1 is not a whole number from 0 to 4294967294"},
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

// A configuration that cannot take effect at the power-up fails the load.
TEST_F(State, APendingConfigurationThatCannotTakeEffectFailsThePowerUp) {
    ASSERT_NE(OpenDevice(), KT62_INVALID_HANDLE);
    ASSERT_EQ(WriteConfig(SingleUnitConfig(4096)), KT62_OK);
    kt62Close(h_);
    fs::create_directories(dir_.Path() + "/profile.json.state/device0/lu0.g1.data.new");
    const std::string err = Stderr([&] {
        uint32_t v = 0;
        EXPECT_EQ(kt62UfsReadAttribute(OpenAfterSearch(0), 0x0B, 0, 0, &v), KT62_E_STATE_IO);
    });
    EXPECT_NE(err.find("lu0.g1.data.new: cannot create"), std::string::npos) << err;
}

}  // namespace
}  // namespace kt62test
