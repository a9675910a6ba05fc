// kt62emu run as a user would run it; what it makes is then opened through the C functions.
#include <sys/wait.h>

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
    bool Says(const std::string& args, int status, const std::string& text) {
        const auto [got, out] = Tool(args);
        EXPECT_TRUE(got == status && out.find(text) != std::string::npos)
            << args << ": " << got << " " << out;
        return got == status;
    }
    bool Pending(const std::string& profile) {
        return nlohmann::json::parse(
            Tool("show --json --profile " + profile).second)["device"]["configuration_pending"];
    }
};

TEST_F(Kt62emuTest, CreatedDeviceIsWhatTheLibraryOpensAndPowerCycleAppliesAConfiguration) {
    ASSERT_TRUE(
        Says("create --profile " + Profile() + " --capacity 1G --manufacturer ACME --serial SN-42 --lock", 0,
             "created a factory-fresh device for programmer 0"));
    setenv("KT62_EMULATOR", Profile().c_str(), 1);
    KT62_HANDLE h = Open();
    uint8_t inquiry[192] = {}, config[144];
    ASSERT_EQ(kt62ScsiInquiry(h, inquiry), KT62_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(inquiry + 8), 8), "ACME    ");
    Says("show --profile " + Profile(), 3, "in use by process " + std::to_string(getpid()));

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
    EXPECT_TRUE(Pending(other));
    Says("power-cycle --profile " + other, 0, "the written configuration took effect");
    EXPECT_FALSE(Pending(other));
}

TEST_F(Kt62emuTest, MistakesGetAMessageAndTheirOwnStatus) {
    unsetenv("KT62_EMULATOR");
    const std::tuple<std::string, int, const char*> cases[] = {
        {"", 2, "no command given"},
        {"show --colour", 2, "unknown option --colour"},
        {"create -o x", 2, "unknown option -o"},
        {"create --capacity 8G", 2, "the built-in programmer has the default device only"},
        {"create --profile " + Profile() + " --capacity 1000", 1, "programmers[0].ufs.raw_capacity_bytes"},
        {"show --profile " + Profile() + " --position 1", 1, "there is no position 1"},
        {"firmware build --version 1.2 --payload x -o x.bin", 2, "--version: expected X.Y.Z"}};
    dir_.Write("dev.json", R"({"programmers":[{"product_name":"keep me"}]})");
    for (const auto& [args, status, message] : cases) Says(args, status, message);
    EXPECT_EQ(kt::test::TempDir::Read(Profile()), R"({"programmers":[{"product_name":"keep me"}]})");
}

}  // namespace
}  // namespace kt62emutest
