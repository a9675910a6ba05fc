// The settings file layer: lookup rules, cuts, byte-exact writes in every
// encoding, and writes that fail without harming the file.
#include "common/settings_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/text_format.h"
#include "tests/language/unprivileged.h"
#include "tests/support/temp_dir.h"

namespace kt {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// UTF-16 bytes with a byte-order mark for UTF-8 text.
std::string Utf16Bytes(std::string_view utf8, bool littleEndian) {
    std::string out = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
    for (char16_t u : Utf8ToUtf16(utf8)) {
        const char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>(u >> 8);
        out += littleEndian ? lo : hi;
        out += littleEndian ? hi : lo;
    }
    return out;
}

// A literal with the zero bytes it holds.
template <std::size_t N>
std::string Bytes(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class SettingsFile : public testing::Test {
protected:
    std::string Put(const std::string& bytes) { return dir_.Write("Config.ini", bytes); }
    std::string Path() const { return dir_.Path() + "/Config.ini"; }
    TempDir dir_;
};

// ---- reading ----

struct ReadCase {
    const char* what;
    std::optional<std::string> file;  // nullopt: no file
    const char* section;
    const char* key;
    std::optional<std::string> value;  // nullopt: the default comes back
};

const ReadCase kReadCases[] = {
    {"names ignore letter case", "[setting]\nlang_id=3\n", "SETTING", "Lang_Id", "3"},
    {"blanks around names and values", "  [ EN ]  \n\t IDOK \t=  Get IC INFO \t\n", "EN", "IDOK",
     "Get IC INFO"},
    {"double quotes removed, inner blanks kept", "[S]\nk=\"  a b \"\n", "S", "k", "  a b "},
    {"single quotes removed", "[S]\nk='x'\n", "S", "k", "x"},
    {"unmatched quotes kept", "[S]\nk=\"x'\n", "S", "k", "\"x'"},
    {"a lone quote kept", "[S]\nk=\"\n", "S", "k", "\""},
    {"'=' in a value", "[S]\nk=a=b\n", "S", "k", "a=b"},
    {"comments are not entries", "[S]\n;k=1\n  # k=2\nk=3\n", "S", "k", "3"},
    {"a commented header opens no section", ";[S]\nk=1\n", "S", "k", std::nullopt},
    {"keys belong to their own section", "[A]\nk=1\n[B]\nj=2\n", "B", "k", std::nullopt},
    {"keys before any section belong to none", "k=1\n[S]\n", "S", "k", std::nullopt},
    {"a line without '=' is no key", "[S]\nk\n", "S", "k", std::nullopt},
    {"first of two equal keys", "[S]\nk=1\nK=2\n", "S", "k", "1"},
    {"first of two equal sections", "[S]\nk=1\n[T]\n[s]\nk=2\n", "S", "k", "1"},
    {"empty value is a value", "[S]\nk=   \n", "S", "k", ""},
    {"CRLF lines", "[S]\r\nk=v\r\n\r\n", "S", "k", "v"},
    {"UTF-8 with BOM", "\xEF\xBB\xBF[S]\nk=中文\n", "S", "k", "中文"},
    {"UTF-16 LE with BOM", Utf16Bytes("[S]\r\nk=中文 😀\r\n", true), "S", "k", "中文 😀"},
    {"UTF-16 BE with BOM", Utf16Bytes("[中文]\r\n键=获取芯片信息\r\n", false), "中文", "键", "获取芯片信息"},
    {"no final line break", "[S]\nk=v", "S", "k", "v"},
    {"bytes that are no UTF-8 read as U+FFFD",
     "[S]\nk=a\xFF"
     "b\n",
     "S", "k",
     "a\xEF\xBF\xBD"
     "b"},
    {"missing file", std::nullopt, "S", "k", std::nullopt},
    {"empty file", "", "S", "k", std::nullopt},
};

TEST_F(SettingsFile, ReadRules) {
    for (const ReadCase& c : kReadCases) {
        SCOPED_TRACE(c.what);
        fs::remove(Path());
        if (c.file) Put(*c.file);
        EXPECT_EQ(ReadSettingString(Path(), c.section, c.key, "<default>", 512),
                  c.value.value_or("<default>"));
    }
}

TEST_F(SettingsFile, IntegersReadAsTheWindowsFunctionDoes) {
    const struct {
        const char* value;  // nullptr: no key
        int expected;
    } cases[] = {
        {"42", 42},     {"-7", -7},    {"+5", 5},         {"12abc", 12},           {"abc", 0},
        {"-", 0},       {"\" 9\"", 9}, {"4294967297", 1}, {"2147483648", INT_MIN}, {"", -99},
        {nullptr, -99},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(no key)");
        Put(c.value ? Format("[S]\nn=%s\n", c.value) : "[S]\n");
        EXPECT_EQ(ReadSettingInt(Path(), "S", "n", -99), c.expected);
    }
}

TEST_F(SettingsFile, CutsCountUtf16CharactersAndKeepSequencesWhole) {
    const struct {
        const char* value;
        std::size_t bufferChars;
        const char* expected;
    } cases[] = {
        {"ABCDEFGHIJKLMNOPQRST", 16, "ABCDEFGHIJKLMNO"},
        {"一二三四五六七八九十甲乙丙丁戊己庚辛壬癸", 16, "一二三四五六七八九十甲乙丙丁戊"},
        {"中文English", 3, "中文"},
        {"a😀b", 3, "a"},  // the pair would be cut in half: both halves go
        {"a😀b", 4, "a😀"},
        {"abc", 1, ""},
        {"abc", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Format("%s in %zu", c.value, c.bufferChars));
        Put(Format("[S]\nk=%s\n", c.value));
        EXPECT_EQ(ReadSettingString(Path(), "S", "k", "", c.bufferChars), c.expected);
        fs::remove(Path());
        EXPECT_EQ(ReadSettingString(Path(), "S", "k", c.value, c.bufferChars), c.expected) << "default";
    }
}

// ---- writing ----

struct WriteCase {
    const char* what;
    std::optional<std::string> before;  // nullopt: no file
    const char* section;
    const char* key;
    const char* value;
    std::string after;
};

const WriteCase kWriteCases[] = {
    {"creates the file", std::nullopt, "Setting", "LANG_ID", "0", "[Setting]\nLANG_ID=0\n"},
    {"changes only the value, keeps its line's layout and every other line",
     "; languages\n\n[setting]\n  lang_id = 0 \n0=EN\n\n[EN]\nLANG_ID=7\n", "Setting", "LANG_ID", "1",
     "; languages\n\n[setting]\n  lang_id = 1 \n0=EN\n\n[EN]\nLANG_ID=7\n"},
    {"new key after the last entry of its section, before the blanks and comments ahead of the next",
     "[Setting]\n0=EN\n; note\n1=CHS\n\n; captions\n[EN]\n", "Setting", "LANG_ID", "0",
     "[Setting]\n0=EN\n; note\n1=CHS\nLANG_ID=0\n\n; captions\n[EN]\n"},
    {"new key in a section with no entries and no final line break", "[A]\n[Setting]", "Setting", "LANG_ID",
     "0", "[A]\n[Setting]\nLANG_ID=0\n"},
    {"new section at the end", "[A]\nk=1", "Setting", "LANG_ID", "0", "[A]\nk=1\n[Setting]\nLANG_ID=0\n"},
    {"CRLF kept", "[Setting]\r\nLANG_ID=0\r\n[EN]\r\n", "Setting", "1", "CHS",
     "[Setting]\r\nLANG_ID=0\r\n1=CHS\r\n[EN]\r\n"},
    {"CRLF for a new section too", "[A]\r\nk=1", "B", "k", "2", "[A]\r\nk=1\r\n[B]\r\nk=2\r\n"},
    {"UTF-8 BOM kept", "\xEF\xBB\xBF[Setting]\nLANG_ID=0\n", "Setting", "LANG_ID", "1",
     "\xEF\xBB\xBF[Setting]\nLANG_ID=1\n"},
    {"UTF-16 LE kept", Utf16Bytes("[Setting]\r\nLANG_ID=0\r\n[CHS]\r\nIDOK=刷新\r\n", true), "CHS",
     "IDCANCEL", "退出",
     Utf16Bytes("[Setting]\r\nLANG_ID=0\r\n[CHS]\r\nIDOK=刷新\r\nIDCANCEL=退出\r\n", true)},
    {"UTF-16 BE kept", Utf16Bytes("[Setting]\nLANG_ID=0\n", false), "Setting", "LANG_ID", "1",
     Utf16Bytes("[Setting]\nLANG_ID=1\n", false)},
    {"UTF-16 lone surrogate and odd last byte kept",
     Bytes("\xFF\xFE[\0S\0]\0\n\0;\0\x00\xD8\n\0k\0=\0\x30\0\n\0\x41"), "S", "k", "1",
     Bytes("\xFF\xFE[\0S\0]\0\n\0;\0\x00\xD8\n\0k\0=\0\x31\0\n\0\x41")},
    {"empty value filled", "[S]\nk=  \n", "S", "k", "v", "[S]\nk=v\n"},
    {"quoted value replaced with its quotes", "[S]\nk = \"old\"\n", "S", "k", "new", "[S]\nk = new\n"},
    {"a value emptied takes the blanks after '=' with it", "[S]\nk = \"old\" \n", "S", "k", "", "[S]\nk =\n"},
    {"a value that needs quotes to read back gets them", "[S]\n", "S", "k", " padded",
     "[S]\nk=\" padded\"\n"},
    {"a quoted value keeps its own quotes", "[S]\n", "S", "k", "'q'", "[S]\nk=\"'q'\"\n"},
    {"bytes that are no UTF-8 elsewhere kept", "; \xFF\xFE\n[S]\nk=0\n", "S", "k", "1",
     "; \xFF\xFE\n[S]\nk=1\n"},
};

TEST_F(SettingsFile, WritesChangeOneLineAndKeepEveryOtherByte) {
    for (const WriteCase& c : kWriteCases) {
        SCOPED_TRACE(c.what);
        fs::remove(Path());
        if (c.before) Put(*c.before);
        EXPECT_TRUE(WriteSettingString(Path(), c.section, c.key, c.value));
        EXPECT_EQ(TempDir::Read(Path()), c.after);
        EXPECT_EQ(ReadSettingString(Path(), c.section, c.key, "<default>", 512), c.value);
        EXPECT_EQ(FilesIn(dir_.Path()), std::vector<std::string>{"Config.ini"})
            << "a temporary file was left";
    }
}

TEST_F(SettingsFile, CjkRoundTripsThroughEveryEncoding) {
    const std::string caption = "获取 LUN 信息：中文 😀";
    for (const std::string& start :
         {std::string(), std::string("\xEF\xBB\xBF"), Utf16Bytes("", true), Utf16Bytes("", false)}) {
        Put(start);
        ASSERT_TRUE(WriteSettingString(Path(), "中文", "IDC_BTN_LUN_INFO", caption));
        EXPECT_EQ(ReadSettingString(Path(), "中文", "idc_btn_lun_info", "", 512), caption);
        EXPECT_TRUE(TempDir::Read(Path()).starts_with(start));
    }
}

TEST_F(SettingsFile, NamesAndValuesThatWouldNotReadBackAreRefused) {
    const struct {
        const char* section;
        const char* key;
        const char* value;
    } cases[] = {
        {"S", "k", "line\nbreak"}, {"S", "k", "cr\r"}, {"S\n[T]", "k", "v"}, {"S]", "k", "v"},
        {"S", "a=b", "v"},         {"S", ";k", "v"},   {"S", "#k", "v"},     {"S", "[k", "v"},
        {"S", "  ", "v"},          {"", "k", "v"},     {"S\xD6", "k", "v"},  {"S", "k\xFE", "v"},
    };
    const std::string before = "[S]\nk=0\n";
    Put(before);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.section << "/" << c.key << "=" << c.value);
        EXPECT_FALSE(WriteSettingString(Path(), c.section, c.key, c.value));
        EXPECT_EQ(TempDir::Read(Path()), before);
    }
    fs::remove(Path());
    EXPECT_FALSE(WriteSettingString(Path(), "S", "k", "a\nb"));
    EXPECT_FALSE(fs::exists(Path()));
}

TEST_F(SettingsFile, WriteKeepsPermissionsAndWritesThroughSymbolicLinks) {
    const std::string target = dir_.Write("real/settings.ini", "[S]\nk=0\n");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink(target, Path());
    ASSERT_TRUE(WriteSettingString(Path(), "S", "k", "1"));
    EXPECT_TRUE(fs::is_symlink(Path()));
    EXPECT_EQ(TempDir::Read(target), "[S]\nk=1\n");
    EXPECT_EQ(fs::status(target).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(SettingsFile, SomethingUnreadableInThePlaceOfTheFileIsNeverReplaced) {
    fs::create_directory(Path());
    EXPECT_EQ(ReadSettingInt(Path(), "S", "k", 7), 7);
    EXPECT_FALSE(WriteSettingString(Path(), "S", "k", "1"));
    EXPECT_TRUE(fs::is_directory(Path()));
}

// A full disk is played by a file size limit: the new file cannot be
// written out, and the old one must come through whole.
TEST_F(SettingsFile, FullDiskLeavesTheOldFileWhole) {
    const std::string before = "[Setting]\nLANG_ID=0\n0=EN\n1=CHS\n";
    Put(before);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 8;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = WriteSettingString(Path(), "Setting", "LANG_ID", "1");
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(TempDir::Read(Path()), before);
    EXPECT_EQ(FilesIn(dir_.Path()), std::vector<std::string>{"Config.ini"});
}

TEST_F(SettingsFile, ReadOnlyDirectoryOrFileRefusesTheWriteAndKeepsTheFile) {
    const std::string before = "[Setting]\nLANG_ID=0\n";
    for (const bool readOnlyDir : {true, false}) {
        SCOPED_TRACE(readOnlyDir ? "read-only directory" : "read-only file");
        Put(before);
        // A writable directory would let anyone replace the file by renaming.
        fs::permissions(dir_.Path(), readOnlyDir ? fs::perms(0555) : fs::perms(0777));
        fs::permissions(Path(), readOnlyDir ? fs::perms(0644) : fs::perms(0444));
        const std::string path = Path();
        const int status = test::RunUnprivileged([&] {
            if (ReadSettingInt(path, "Setting", "LANG_ID", -1) != 0) return 1;
            return WriteSettingString(path, "Setting", "LANG_ID", "1") ? 2 : 0;
        });
        fs::permissions(dir_.Path(), fs::perms(0700));
        EXPECT_EQ(status, 0) << "1: not readable, 2: write reported success";
        EXPECT_EQ(TempDir::Read(Path()), before);
        EXPECT_EQ(FilesIn(dir_.Path()), std::vector<std::string>{"Config.ini"});
        fs::permissions(Path(), fs::perms(0644));
    }
}

}  // namespace
}  // namespace kt
