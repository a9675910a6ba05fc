// kt62emu end to end: the built binary is run as a user would run it, and what it makes is then
// opened through the library's C functions.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "fw_fixture.h"

namespace kt62emutest {
namespace {

using nlohmann::json;

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

class Kt62emuTest : public FirmwareTest {
protected:
    // Runs kt62emu with these arguments and the test's environment.
    ToolRun Tool(const std::vector<std::string>& args) {
        const std::string out_file = dir_.Path() + "/out.txt", err_file = dir_.Path() + "/err.txt";
        std::vector<char*> argv;
        std::string program = KT62EMU_PATH;
        argv.push_back(program.data());
        std::vector<std::string> copies = args;
        for (std::string& a : copies) argv.push_back(a.data());
        argv.push_back(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            const int out = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, 1);
            dup2(err, 2);
            execv(argv[0], argv.data());
            _exit(127);
        }
        ToolRun r;
        int status = 0;
        waitpid(pid, &status, 0);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = kt::test::TempDir::Read(out_file);
        r.err = kt::test::TempDir::Read(err_file);
        return r;
    }

    std::string Profile() const { return dir_.Path() + "/dev.json"; }

    json ShowJson(const std::string& profile) {
        const ToolRun r = Tool({"show", "--profile", profile, "--json"});
        EXPECT_EQ(r.status, 0) << r.err;
        return json::parse(r.out, nullptr, false);
    }

    static const json* Find(const json& list, const std::string& name) {
        for (const json& item : list)
            if (item.value("name", "") == name) return &item;
        return nullptr;
    }
    static json FieldOf(const json& show, const std::string& descriptor, const std::string& field) {
        const json* d = Find(show["device"]["descriptors"], descriptor);
        if (!d) return nullptr;
        const json* f = Find((*d)["fields"], field);
        return f ? *f : json(nullptr);
    }
};

// A 4.0 part's descriptors: the 3.1 layouts' WriteBooster and health fields, the RPMB regions.
TEST_F(Kt62emuTest, ShowDecodesAModernPartsFields) {
    ASSERT_EQ(Tool({"create", "--profile", Profile(), "--spec-version", "4.0"}).status, 0);
    const json show = ShowJson(Profile());
    ASSERT_FALSE(show.is_discarded());
    EXPECT_EQ(FieldOf(show, "Device", "wSpecVersion")["value"], 0x0400);
    EXPECT_EQ((*Find(show["device"]["descriptors"], "Configuration"))["length"], 0xE6);
    for (const auto& [descriptor, field] : {std::pair{"Device", "bWriteBoosterBufferType"},
                                            {"Configuration", "LU7.dLUNumWriteBoosterBufferAllocUnits"},
                                            {"Device health", "dRefreshProgress"},
                                            {"RPMB unit", "bRPMBRegion3Size"}})
        EXPECT_FALSE(FieldOf(show, descriptor, field).is_null()) << descriptor << " " << field;
}

TEST_F(Kt62emuTest, CreatedDeviceIsWhatTheLibraryOpens) {
    const ToolRun made =
        Tool({"create", "--profile", Profile(), "--capacity", "8G", "--manufacturer", "ACME", "--product",
              "Bench UFS", "--serial", "SN-0042", "--spec-version", "2.1", "--lock"});
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_NE(made.out.find("created a factory-fresh device for programmer 0"), std::string::npos)
        << made.out;

    const json show = ShowJson(Profile());
    ASSERT_FALSE(show.is_discarded());
    EXPECT_EQ(FieldOf(show, "Geometry", "qTotalRawDeviceCapacity")["value"], 8ull << 30 >> 9);
    EXPECT_EQ(FieldOf(show, "Device", "wSpecVersion")["value"], 0x0210);
    const json* lock = Find(show["device"]["attributes"], "bConfigDescrLock");
    ASSERT_TRUE(lock);
    EXPECT_EQ((*lock)["value"], 1);
    std::vector<std::string> texts;
    for (const json& d : show["device"]["descriptors"])
        if (d["idn"] == 5 && d["fields"].size() > 2) texts.push_back(d["fields"][2]["text"]);
    EXPECT_NE(std::find(texts.begin(), texts.end(), "SN-0042"), texts.end());

    // The same device through the C functions.
    setenv("KT62_EMULATOR", Profile().c_str(), 1);
    KT62_HANDLE h = Open();
    ASSERT_NE(h, KT62_INVALID_HANDLE);
    uint32_t value = 0;
    ASSERT_EQ(kt62UfsReadAttribute(h, 0x0B, 0, 0, &value), KT62_OK);
    EXPECT_EQ(value, 1u);
    uint8_t inquiry[192] = {};
    ASSERT_EQ(kt62ScsiInquiry(h, inquiry), KT62_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(inquiry + 8), 8), "ACME    ");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(inquiry + 16), 16), "Bench UFS       ");

    // Open in this process: the tool must not touch it meanwhile.
    const ToolRun busy = Tool({"show", "--profile", Profile()});
    EXPECT_EQ(busy.status, 3);
    EXPECT_NE(busy.err.find("in use by process " + std::to_string(getpid())), std::string::npos) << busy.err;
}

TEST_F(Kt62emuTest, PowerCycleAppliesAWrittenConfiguration) {
    ASSERT_EQ(Tool({"create", "--profile", Profile(), "--capacity", "1G"}).status, 0);
    setenv("KT62_EMULATOR", Profile().c_str(), 1);
    KT62_HANDLE h = Open();
    ASSERT_NE(h, KT62_INVALID_HANDLE);
    uint8_t config[144];
    ASSERT_EQ(kt62UfsReadDescriptor(h, 0x01, 0, 0, config, sizeof config), KT62_OK);
    const uint32_t units =
        uint32_t(config[0x14]) << 24 | config[0x15] << 16 | config[0x16] << 8 | config[0x17];
    ASSERT_GT(units, 1u);
    const uint32_t half = units / 2;
    for (int i = 0; i < 4; ++i) config[0x14 + i] = static_cast<uint8_t>(half >> (24 - 8 * i));
    ASSERT_EQ(kt62UfsWriteDescriptor(h, 0x01, 0, 0, config, sizeof config), KT62_OK);
    ASSERT_EQ(kt62Close(h), KT62_OK);
    opened_.clear();

    json show = ShowJson(Profile());
    EXPECT_EQ(show["device"]["configuration_pending"], true);
    const ToolRun cycled = Tool({"power-cycle", "--profile", Profile()});
    ASSERT_EQ(cycled.status, 0) << cycled.err;
    EXPECT_NE(cycled.out.find("the written configuration took effect"), std::string::npos) << cycled.out;
    show = ShowJson(Profile());
    EXPECT_EQ(show["device"]["configuration_pending"], false);
    const json count = FieldOf(show, "Unit 0", "qLogicalBlockCount")["value"];
    const json au_segments = FieldOf(show, "Geometry", "bAllocationUnitSize")["value"];
    const json segment = FieldOf(show, "Geometry", "dSegmentSize")["value"];
    ASSERT_TRUE(count.is_number() && au_segments.is_number() && segment.is_number());
    EXPECT_EQ(count.get<uint64_t>(),
              uint64_t{half} * au_segments.get<uint64_t>() * segment.get<uint64_t>() * 512 / 4096);
}

TEST_F(Kt62emuTest, BuiltImagesAreJudgedAlikeByTheToolAndTheLibrary) {
    const std::string payload = dir_.Write("payload.bin", std::string(5000, '\x5A'));
    struct Case {
        std::vector<std::string> extra;
        int32_t result;
    };
    const Case cases[] = {
        {{"--truncate", "1"}, KT62_E_FW_TRUNCATED}, {{"--bad-crc"}, KT62_E_FW_CRC},
        {{"--bad-header-crc"}, KT62_E_FW_CRC},      {{"--model", "KT6100"}, KT62_E_FW_MODEL},
        {{"--bad-magic"}, KT62_E_FW_FORMAT},        {{}, KT62_OK},  // last: the programmer restarts after it
    };
    for (const Case& c : cases) {
        const std::string image = dir_.Path() + "/image.bin";
        std::vector<std::string> args = {"firmware",  "build", "--version", "3.1.4",
                                         "--payload", payload, "-o",        image};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const ToolRun built = Tool(args);
        ASSERT_EQ(built.status, 0) << built.err;
        const ToolRun checked = Tool({"firmware", "check", image});
        EXPECT_EQ(checked.status, c.result == KT62_OK ? 0 : 1) << checked.out;
        EXPECT_NE(checked.out.find(c.result == KT62_OK ? "firmware 3.1.4" : kt62ResultName(c.result)),
                  std::string::npos)
            << checked.out;

        KT62_HANDLE h = Open();
        ASSERT_NE(h, KT62_INVALID_HANDLE);
        EXPECT_EQ(kt62Update(h, Wide(Utf16(image))), c.result) << kt62ResultName(c.result);
        kt62Close(h);
        opened_.clear();
    }
    // The good image went in: the tool shows it as the stored firmware.
    ASSERT_TRUE(WaitForCount(1));
    const json show = ShowJson(dir_.Path() + "/profile.json");
    EXPECT_EQ(show["programmer"]["firmware"]["version"], "3.1.4");
    EXPECT_EQ(show["programmer"]["firmware"]["source"], "stored");
}

TEST_F(Kt62emuTest, MistakesGetAMessageAndTheirOwnStatus) {
    unsetenv("KT62_EMULATOR");  // the built-in programmer unless --profile says otherwise
    const std::string payload = dir_.Write("payload.bin", "x");
    dir_.Write("dev.json", R"({"programmers":[{"product_name":"keep me"}]})");
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {{}, 2, "no command given"},
        {{"frobnicate"}, 2, "unknown command \"frobnicate\""},
        {{"show", "--colour"}, 2, "unknown option --colour"},
        {{"show", "--position"}, 2, "--position needs a value"},
        {{"create", "--profile", Profile(), "--capacity", "8X"}, 2, "--capacity: expected a number"},
        {{"create", "--capacity", "8G"}, 2, "the built-in programmer has the default device only"},
        {{"create", "--profile", Profile(), "--capacity", "1000"},
         1,
         "programmers[0].ufs.raw_capacity_bytes"},
        {{"create", "--profile", Profile(), "--spec-version", "9.9"}, 1, "programmers[0].ufs.spec_version"},
        {{"show", "--profile", Profile(), "--position", "1"}, 1, "there is no position 1"},
        {{"show", "--profile", dir_.Path() + "/absent.json"}, 1, "cannot be read"},
        {{"firmware", "build", "--version", "1.2", "--payload", payload, "-o", "x.bin"},
         2,
         "--version: expected X.Y.Z"},
        {{"firmware", "build", "--version", "1.2.3", "--payload", dir_.Path() + "/none", "-o", "x.bin"},
         1,
         "cannot be read"},
        {{"firmware", "build", "--version", "1.2.3", "--payload", payload}, 2, "--output is required"},
        {{"firmware", "check", dir_.Path() + "/none.bin"}, 1, ""},
    };
    for (const Case& c : cases) {
        const ToolRun r = Tool(c.args);
        const std::string shown =
            c.args.empty() ? "(none)" : c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : "");
        EXPECT_EQ(r.status, c.status) << shown << ": " << r.err;
        EXPECT_NE((r.err + r.out).find(c.message), std::string::npos) << shown << ": " << r.err;
    }
    EXPECT_EQ(kt::test::TempDir::Read(Profile()), R"({"programmers":[{"product_name":"keep me"}]})")
        << "a refused create leaves the profile alone";
}

TEST_F(Kt62emuTest, CreateKeepsTheProfilesOtherKeys) {
    dir_.Write("dev.json",
               R"({"state_dir":"st","programmers":[{"product_name":"P0","ufs":{"serial_number":"old"}}]})");
    ASSERT_EQ(Tool({"create", "--profile", Profile(), "--serial", "new", "--position", "1"}).status, 0);
    const json doc = json::parse(kt::test::TempDir::Read(Profile()));
    EXPECT_EQ(doc["state_dir"], "st");
    EXPECT_EQ(doc["programmers"][0]["product_name"], "P0");
    EXPECT_EQ(doc["programmers"][0]["ufs"]["serial_number"], "old");
    EXPECT_EQ(doc["programmers"][1]["ufs"]["serial_number"], "new");
    EXPECT_TRUE(fs::exists(dir_.Path() + "/st/programmer1.lock"));
}

TEST_F(Kt62emuTest, WithoutAProfileTheBuiltInProgrammerIsUsed) {
    unsetenv("KT62_EMULATOR");
    ASSERT_EQ(Tool({"create"}).status, 0);
    const ToolRun shown = Tool({"show"});
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_NE(shown.out.find("state folder  " + dir_.Path() + "/xdg/kt6200/emulator"), std::string::npos)
        << shown.out;
    EXPECT_NE(shown.out.find("firmware      1.0.0 (the profile's; no update stored)"), std::string::npos);
}

}  // namespace
}  // namespace kt62emutest
