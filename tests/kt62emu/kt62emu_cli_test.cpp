// kt62emu run as a user would run it; what it makes is then opened through the C functions.
#include <sys/wait.h>

#include "fw_fixture.h"

namespace kt62emutest {
namespace {

class Kt62emuTest : public FirmwareTest {
protected:
    // Runs kt62emu; whether it ended with `status` and said `text` on its output or error.
    void Says(const std::string& args, int status, const std::string& text) {
        const std::string out = dir_.Path() + "/out.txt";
        const int got = std::system((KT62EMU_PATH " " + args + " >" + out + " 2>&1").c_str());
        const std::string said = kt::test::TempDir::Read(out);
        EXPECT_EQ(WIFEXITED(got) ? WEXITSTATUS(got) : -1, status) << args << ": " << said;
        EXPECT_NE(said.find(text), std::string::npos) << args << ": " << said;
    }
    std::string Profile() const { return dir_.Path() + "/dev.json"; }
};

TEST_F(Kt62emuTest, CreatedDeviceIsWhatTheLibraryOpensAndPowerCycleAppliesAConfiguration) {
    Says("create --profile " + Profile() + " --capacity 1G --manufacturer ACME", 0,
         "created a factory-fresh device for programmer 0");
    setenv("KT62_EMULATOR", Profile().c_str(), 1);
    KT62_HANDLE h = Open();
    uint8_t inquiry[192] = {}, config[144];
    ASSERT_EQ(kt62ScsiInquiry(h, inquiry), KT62_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(inquiry + 8), 8), "ACME    ");
    Says("show --profile " + Profile(), 3, "in use by process " + std::to_string(getpid()));
    // A written configuration is pending until the tool power-cycles the device.
    ASSERT_EQ(kt62UfsReadDescriptor(h, 0x01, 0, 0, config, sizeof config), KT62_OK);
    config[0x14] = config[0x15] = config[0x16] = 0, config[0x17] = 100;  // unit 0: 100 allocation units
    ASSERT_EQ(kt62UfsWriteDescriptor(h, 0x01, 0, 0, config, sizeof config), KT62_OK);
    kt62Close(h);
    Says("show --json --profile " + Profile(), 0, R"("configuration_pending": true)");
    Says("power-cycle --profile " + Profile(), 0, "the written configuration took effect");
    Says("show --json --profile " + Profile(), 0, R"("configuration_pending": false)");
    Says("create --profile " + Profile() + ".locked --capacity 1G --lock", 0, "created");
    setenv("KT62_EMULATOR", (Profile() + ".locked").c_str(), 1);
    uint32_t lock = 0;
    EXPECT_EQ(kt62UfsReadAttribute(Open(), 0x0B, 0, 0, &lock), KT62_OK);
    EXPECT_EQ(lock, 1u) << "bConfigDescrLock";
}

TEST_F(Kt62emuTest, MistakesOfUseGetAMessageAndStatus2) {
    for (const auto& [args, message] :
         {std::pair{"", "no command given"},
          {"show --colour", "unknown option --colour"},
          {"firmware build --version 1.2 --payload x -o x.bin", "expected X.Y.Z"}})
        Says(args, 2, message);
}

}  // namespace
}  // namespace kt62emutest
