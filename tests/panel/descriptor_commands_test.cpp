// Descriptor read (dump and save) and descriptor write from a file, against
// fault-rule answers.
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "tests/support/emulated_dialog.h"

namespace kt {
namespace {

namespace fs = std::filesystem;

// A descriptor whose byte 0 claims `length` and which holds `size` bytes.
std::string Descriptor(std::size_t size, std::uint8_t length, std::uint8_t idn) {
    std::string d(size, '\0');
    for (std::size_t i = 0; i < size; ++i) d[i] = static_cast<char>(i * 5 + 3);
    if (size > 0) d[0] = static_cast<char>(length);
    if (size > 1) d[1] = static_cast<char>(idn);
    return d;
}

std::string HexString(const std::string& bytes) {
    std::string out;
    char b[4];
    for (unsigned char c : bytes) {
        std::snprintf(b, sizeof b, "%02X ", c);
        out += b;
    }
    return out;
}

std::string ReadRule(const std::string& bytes, const char* extra = "") {
    return std::string(R"({"call": "kt62UfsReadDescriptor", "result": 0, )") + extra + R"("bytes": ")" +
           HexString(bytes) + R"("})";
}

// The pane after a successful read: the done line, then 16 bytes a line.
std::string DumpPane(const std::string& shown) {
    std::string pane = "ufs descriptor read done.";
    for (std::size_t i = 0; i < shown.size(); i += 16) pane += "\r\n" + HexString(shown.substr(i, 16));
    return pane;
}

struct ReadCase {
    const char* name;
    std::uint8_t length;
    const char* idnText;
    std::vector<std::string> calls;
    std::size_t shown;
    std::string tail;                  // lines after the dump
    std::optional<std::size_t> saved;  // size of configuration.descr, nullopt: none
};

class DescriptorRead : public test::EmulatedDialogTest, public testing::WithParamInterface<ReadCase> {};

TEST_P(DescriptorRead, DumpsWhatWasReadAndSavesOnlyACompleteConfiguration) {
    const ReadCase& c = GetParam();
    const std::string descriptor = Descriptor(std::max<std::size_t>(c.length, 2), c.length, 1);
    OpenWithFaults("[" + ReadRule(descriptor) + "]");
    ui_.SetText(IDC_EDIT_IDN, c.idnText);
    EXPECT_EQ(Click(IDC_BTN_DESC_READ), c.calls);
    EXPECT_EQ(ui_.Pane(), DumpPane(descriptor.substr(0, c.shown)) + c.tail);
    const std::string saved = dir_.Path() + "/configuration.descr";
    if (c.saved) {
        EXPECT_EQ(test::TempDir::Read(saved), descriptor.substr(0, *c.saved));
        EXPECT_EQ(fs::file_size(saved), *c.saved);
    } else {
        EXPECT_FALSE(fs::exists(saved));
    }
}

std::vector<std::string> Reads(const char* idn, std::uint32_t second) {
    const std::string a = std::string("kt62UfsReadDescriptor idn=") + idn + " index=0 selector=0 length=";
    return {a + "2 -> 0", a + std::to_string(second) + " -> 0"};
}

const ReadCase kReadCases[] = {
    {"Empty", 0, "1", Reads("1", 0), 0, "\r\nSaved.", 0},
    {"OneLine", 16, "1", Reads("1", 16), 16, "\r\nSaved.", 16},
    {"TwoLinesNotConfiguration", 32, "2", Reads("2", 32), 32, "", std::nullopt},
    {"PartialLastLine", 35, "1", Reads("1", 35), 35, "\r\nSaved.", 35},
    {"Configuration", 144, "1", Reads("1", 144), 144, "\r\nSaved.", 144},
    {"Configuration31", 0xE6, "1", Reads("1", 0xE6), 0xE6, "\r\nSaved.", 0xE6},
    {"WideIdnReadsOneButSavesNothing", 144, "101", Reads("1", 144), 144, "", std::nullopt},
};

INSTANTIATE_TEST_SUITE_P(Table, DescriptorRead, testing::ValuesIn(kReadCases),
                         [](const testing::TestParamInfo<ReadCase>& i) { return std::string(i.param.name); });

using DescriptorCommands = test::EmulatedDialogTest;

TEST_F(DescriptorCommands, LengthReadIsMaskedFullReadIsRawAndNeitherSaves) {
    const std::string previous = dir_.Write("configuration.descr", "previous");
    OpenWithFaults(R"([{"call": "kt62UfsReadDescriptor", "result": -2}])");
    ui_.SetText(IDC_EDIT_IDN, "1");
    EXPECT_EQ(Click(IDC_BTN_DESC_READ),
              std::vector<std::string>{"kt62UfsReadDescriptor idn=1 index=0 selector=0 length=2 -> -2"});
    EXPECT_EQ(ui_.Pane(), "Fail to UFS Read Descriptor scsi err 254.");

    OpenWithFaults("[" + ReadRule(Descriptor(144, 0x90, 1), R"("times": 1, )") +
                   R"(, {"call": "kt62UfsReadDescriptor", "result": -2}])");
    EXPECT_EQ(Click(IDC_BTN_DESC_READ).size(), 2u);
    EXPECT_EQ(ui_.Pane(), "Fail to ufs read decriptor -2.");
    EXPECT_EQ(test::TempDir::Read(previous), "previous");
}

TEST_F(DescriptorCommands, ALengthThatGrowsBetweenReadsShowsOnlyTheBytesRead) {
    const std::string descriptor = Descriptor(144, 0x90, 1);
    OpenWithFaults("[" + ReadRule(Descriptor(2, 0x40, 1), R"("times": 1, )") + ", " + ReadRule(descriptor) +
                   "]");
    ui_.SetText(IDC_EDIT_IDN, "1");
    EXPECT_EQ(Click(IDC_BTN_DESC_READ), Reads("1", 64));
    EXPECT_EQ(ui_.Pane(), DumpPane(descriptor.substr(0, 64)) +
                              "\r\nDescriptor length changed between reads: 64, then 144 bytes."
                              "\r\nNot saved: the descriptor is 144 bytes long, only 64 bytes were read.");
    EXPECT_FALSE(fs::exists(dir_.Path() + "/configuration.descr"));
}

TEST_F(DescriptorCommands, ASaveThatCannotBeWrittenSaysWhy) {
    // Something that is not a file holds the name: the save must fail
    // visibly, whoever runs the program (root ignores read-only folders).
    dir_.Write("configuration.descr/keep", "");
    OpenWithFaults("[" + ReadRule(Descriptor(16, 16, 1)) + "]");
    ui_.SetText(IDC_EDIT_IDN, "1");
    Click(IDC_BTN_DESC_READ);
    EXPECT_EQ(ui_.Pane(), DumpPane(Descriptor(16, 16, 1)) + "\r\nFail to save " + dir_.Path() +
                              "/configuration.descr: not a regular file (a directory); not replaced.");
    EXPECT_TRUE(fs::is_directory(dir_.Path() + "/configuration.descr"));
}

TEST_F(DescriptorCommands, AnInstalledProgramSavesInTheUsersDataFolder) {
    // The installed layout: the shipped Config.ini in the data folder, none
    // beside the executable, whoever runs it.
    dir_.Write("usr/share/kt6200/Config.ini", "[Setting]\n0=EN\n");
    fs::create_directories(dir_.Path() + "/usr/bin");
    dlg_.m_strAppDir = dir_.Path() + "/usr/bin/";
    const std::string kept = std::getenv("XDG_DATA_HOME") ? std::getenv("XDG_DATA_HOME") : "";
    setenv("XDG_DATA_HOME", (dir_.Path() + "/home/data").c_str(), 1);
    const std::string descriptor = Descriptor(144, 0x90, 1);
    OpenWithFaults("[" + ReadRule(descriptor) + "]");
    ui_.SetText(IDC_EDIT_IDN, "1");
    Click(IDC_BTN_DESC_READ);
    setenv("XDG_DATA_HOME", kept.c_str(), 1);
    EXPECT_EQ(ui_.Pane(), DumpPane(descriptor) + "\r\nSaved.");
    EXPECT_EQ(test::TempDir::Read(dir_.Path() + "/home/data/kt6200/configuration.descr"), descriptor);
    EXPECT_TRUE(fs::is_empty(dir_.Path() + "/usr/bin"));
}

TEST_F(DescriptorCommands, ASavedConfigurationIsWrittenBackUnchanged) {
    const std::string descriptor = Descriptor(144, 0x90, 1);
    OpenWithFaults("[" + ReadRule(descriptor) + R"(,
        {"call": "kt62UfsReadAttribute", "match": {"idn": 11}, "result": 0, "value": 0},
        {"call": "kt62UfsWriteDescriptor", "result": 0}])");
    ui_.SetText(IDC_EDIT_IDN, "1");
    Click(IDC_BTN_DESC_READ);
    ASSERT_EQ(test::TempDir::Read(dir_.Path() + "/configuration.descr"), descriptor);
    ui_.QueueFile(dir_.Path() + "/configuration.descr");
    EXPECT_EQ(Click(IDC_BTN_DESC_WRITE),
              (std::vector<std::string>{"kt62UfsReadAttribute idn=11 index=0 selector=0 -> 0",
                                        "kt62UfsWriteDescriptor idn=1 index=0 selector=0 length=144 -> 0"}));
    EXPECT_EQ(ui_.Pane(), "write descriptor done. Press \"Reset\" button to make it effective.");
}

// Descriptor write: the lock rule, the chooser and the file check.
enum class Pick { File, Cancel, Missing, Folder };

struct WriteCase {
    const char* name;
    const char* idnText;
    std::string file;  // content, when pick is File
    const char* lockRule;
    std::string pane;
    std::vector<std::string> calls;
    bool chooser = true;
    Pick pick = Pick::File;
    const char* indexText = "0";
    const char* selectorText = "0";
    std::int32_t writeResult = 0;
};

class DescriptorWrite : public test::EmulatedDialogTest, public testing::WithParamInterface<WriteCase> {};

TEST_P(DescriptorWrite, ChecksLockAndFileBeforeWriting) {
    const WriteCase& c = GetParam();
    OpenWithFaults(std::string("[") + c.lockRule + R"(, {"call": "kt62UfsWriteDescriptor", "result": )" +
                   std::to_string(c.writeResult) + "}]");
    ui_.SetText(IDC_EDIT_IDN, c.idnText);
    ui_.SetText(IDC_EDIT_INDEX, c.indexText);
    ui_.SetText(IDC_EDIT_SELECTOR, c.selectorText);
    switch (c.pick) {
        case Pick::File:
            ui_.QueueFile(dir_.Write("chosen.descr", c.file));
            break;
        case Pick::Cancel:
            ui_.QueueFile(std::nullopt);
            break;
        case Pick::Missing:
            ui_.QueueFile(dir_.Path() + "/missing.descr");
            break;
        case Pick::Folder:
            ui_.QueueFile(dir_.Path());
            break;
    }
    ui_.SetText(IDC_EDIT_LOG, "earlier text");
    EXPECT_EQ(Click(IDC_BTN_DESC_WRITE), c.calls);
    EXPECT_EQ(ui_.Pane(), c.pane);
    EXPECT_EQ(ChooserOpened(), c.chooser);
    if (c.chooser) {
        EXPECT_EQ(
            Chooser()->rfind("ChooseFile open decriptor File(*.descr)|*.descr|All files(*.*)|*.*|| -> ", 0),
            0u);
    }
}

const char* const kUnlocked =
    R"({"call": "kt62UfsReadAttribute", "match": {"idn": 11}, "result": 0, "value": 0})";
const char* const kLocked =
    R"({"call": "kt62UfsReadAttribute", "match": {"idn": 11}, "result": 0, "value": 1})";
const char* const kLockTwo =
    R"({"call": "kt62UfsReadAttribute", "match": {"idn": 11}, "result": 0, "value": 2})";
const char* const kLockFails =
    R"({"call": "kt62UfsReadAttribute", "match": {"idn": 11}, "result": -1, "value": 1})";
const std::string kLockRead = "kt62UfsReadAttribute idn=11 index=0 selector=0 -> 0";
const std::string kWrite144 = "kt62UfsWriteDescriptor idn=1 index=0 selector=0 length=144 -> 0";
const std::string kDone = "write descriptor done. Press \"Reset\" button to make it effective.";
const std::string kInvalid = "Invalid idn or length with your setting.";

const WriteCase kWriteCases[] = {
    {"Locked", "1", "", kLocked, "Configuration descriptor is locked.", {kLockRead}, false},
    {"Unlocked", "1", Descriptor(144, 0x90, 1), kUnlocked, kDone, {kLockRead, kWrite144}},
    {"LockValueTwoIsNotLocked", "1", Descriptor(144, 0x90, 1), kLockTwo, kDone, {kLockRead, kWrite144}},
    {"FailedLockReadDoesNotBlock",
     "1",
     Descriptor(144, 0x90, 1),
     kLockFails,
     kDone,
     {"kt62UfsReadAttribute idn=11 index=0 selector=0 -> -1", kWrite144}},
    {"OtherIdnReadsNoLock",
     "2",
     Descriptor(35, 35, 2),
     kLocked,
     kDone,
     {"kt62UfsWriteDescriptor idn=2 index=255 selector=3 length=35 -> 0"},
     true,
     Pick::File,
     "1FF",
     "3"},
    {"OneByteTooMany", "1", Descriptor(145, 0x90, 1), kUnlocked, kInvalid, {kLockRead}},
    {"WideIdnComparedWhole", "101", Descriptor(144, 0x90, 1), kLocked, kInvalid, {}},
    {"Cancelled", "1", "", kUnlocked, "earlier text", {kLockRead}, true, Pick::Cancel},
    {"MissingFile", "1", "", kUnlocked, "Fail to open file.", {kLockRead}, true, Pick::Missing},
    {"FolderIsNoFile", "1", "", kUnlocked, "Fail to open file.", {kLockRead}, true, Pick::Folder},
    {"DeviceRefuses",
     "1",
     Descriptor(144, 0x90, 1),
     kUnlocked,
     "Fail to UFS Write Descriptor scsi err 247.",
     {kLockRead, "kt62UfsWriteDescriptor idn=1 index=0 selector=0 length=144 -> -9"},
     true,
     Pick::File,
     "0",
     "0",
     -9},
    {"LibraryError",
     "1",
     Descriptor(144, 0x90, 1),
     kUnlocked,
     "Fail to UFS Write Descriptor 5.",
     {kLockRead, "kt62UfsWriteDescriptor idn=1 index=0 selector=0 length=144 -> 5"},
     true,
     Pick::File,
     "0",
     "0",
     5},
};

INSTANTIATE_TEST_SUITE_P(Table, DescriptorWrite, testing::ValuesIn(kWriteCases),
                         [](const testing::TestParamInfo<WriteCase>& i) {
                             return std::string(i.param.name);
                         });

}  // namespace
}  // namespace kt
