// kt62emu run as a user would run it; what it makes is then opened through the C functions.
#include <sys/wait.h>

#include <map>

#include <nlohmann/json.hpp>

#include "fw_fixture.h"

namespace kt62emutest {
namespace {

class Kt62emuTest : public FirmwareTest {
protected:
    // Runs kt62emu with these arguments; its exit status and standard output and error together.
    std::pair<int, std::string> Tool(const std::string& args) {
        const std::string out = dir_.Path() + "/out.txt";
        const int status = std::system((KT62EMU_PATH " " + args + " >" + out + " 2>&1").c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, kt::test::TempDir::Read(out)};
    }
    std::string Profile() const { return dir_.Path() + "/dev.json"; }
};

TEST_F(Kt62emuTest, CreatedDeviceIsWhatTheLibraryOpensAndPowerCycleAppliesAConfiguration) {
    const auto made =
        Tool("create --profile " + Profile() + " --capacity 1G --manufacturer ACME --serial SN-42 --lock");
    ASSERT_EQ(made.first, 0) << made.second;
    EXPECT_NE(made.second.find("created a factory-fresh device for programmer 0"), std::string::npos);
    setenv("KT62_EMULATOR", Profile().c_str(), 1);
    KT62_HANDLE h = Open();
    uint8_t inquiry[192] = {}, config[144];
    ASSERT_EQ(kt62ScsiInquiry(h, inquiry), KT62_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(inquiry + 8), 8), "ACME    ");
    const auto busy = Tool("show --profile " + Profile());
    EXPECT_EQ(busy.first, 3);
    EXPECT_NE(busy.second.find("in use by process " + std::to_string(getpid())), std::string::npos)
        << busy.second;

    // The lock holds the configuration; a written one is pending until the tool power-cycles.
    EXPECT_EQ(kt62UfsReadDescriptor(h, 0x01, 0, 0, config, sizeof config), KT62_OK);
    EXPECT_EQ(kt62UfsWriteDescriptor(h, 0x01, 0, 0, config, sizeof config), KT62_QUERY_NOT_WRITEABLE);
    kt62Close(h);
    const std::string other = dir_.Path() + "/other.json";
    ASSERT_EQ(Tool("create --profile " + other + " --capacity 1G").first, 0);
    setenv("KT62_EMULATOR", other.c_str(), 1);
    h = Open();
    config[0x14] = config[0x15] = config[0x16] = 0, config[0x17] = 100;  // unit 0: 100 allocation units
    ASSERT_EQ(kt62UfsWriteDescriptor(h, 0x01, 0, 0, config, sizeof config), KT62_OK);
    kt62Close(h);
    EXPECT_EQ(nlohmann::json::parse(
                  Tool("show --json --profile " + other).second)["device"]["configuration_pending"],
              true);
    const auto cycled = Tool("power-cycle --profile " + other);
    EXPECT_NE(cycled.second.find("the written configuration took effect"), std::string::npos)
        << cycled.second;
    const auto show = nlohmann::json::parse(Tool("show --json --profile " + other).second);
    EXPECT_EQ(show["device"]["configuration_pending"], false);
    std::map<std::string, uint64_t> fields;
    for (const auto& d : show["device"]["descriptors"])
        for (const auto& f : d["fields"])
            if (f["value"].is_number())
                fields[d["name"].get<std::string>() + "." + f["name"].get<std::string>()] = f["value"];
    EXPECT_EQ(fields["Unit 0.qLogicalBlockCount"] * 4096,
              100 * fields["Geometry.bAllocationUnitSize"] * fields["Geometry.dSegmentSize"] * 512);
}

TEST_F(Kt62emuTest, MistakesGetAMessageAndTheirOwnStatus) {
    unsetenv("KT62_EMULATOR");
    const struct {
        std::string args;
        int status;
        const char* message;
    } cases[] = {
        {"", 2, "no command given"},
        {"show --colour", 2, "unknown option --colour"},
        {"create --capacity 8G", 2, "the built-in programmer has the default device only"},
        {"create --profile " + Profile() + " --capacity 1000", 1, "programmers[0].ufs.raw_capacity_bytes"},
        {"show --profile " + Profile() + " --position 1", 1, "there is no position 1"},
        {"firmware build --version 1.2 --payload x -o x.bin", 2, "--version: expected X.Y.Z"},
    };
    dir_.Write("dev.json", R"({"programmers":[{"product_name":"keep me"}]})");
    for (const auto& c : cases) {
        const auto r = Tool(c.args);
        EXPECT_EQ(r.first, c.status) << c.args << ": " << r.second;
        EXPECT_NE(r.second.find(c.message), std::string::npos) << c.args << ": " << r.second;
    }
    EXPECT_EQ(kt::test::TempDir::Read(Profile()), R"({"programmers":[{"product_name":"keep me"}]})");
}

}  // namespace
}  // namespace kt62emutest
