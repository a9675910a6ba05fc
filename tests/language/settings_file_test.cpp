// The settings file: lookup rules, cuts, byte-exact writes in every
// encoding, and writes that fail without harming the file.
#include "common/settings_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>

#include "common/text_format.h"
#include "tests/support/temp_dir.h"

namespace kt {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// UTF-16 bytes with a byte-order mark for UTF-8 text.
std::string Utf16(std::string_view utf8, bool little_endian) {
    std::string out = little_endian ? "\xFF\xFE" : "\xFE\xFF";
    for (char16_t u : Utf8ToUtf16(utf8)) {
        const char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>(u >> 8);
        out += little_endian ? std::string{lo, hi} : std::string{hi, lo};
    }
    return out;
}

class SettingsFile : public testing::Test {
protected:
    std::string Put(const std::string& bytes) { return dir_.Write("Config.ini", bytes); }
    std::string Path() const { return dir_.Path() + "/Config.ini"; }
    std::string Read() const { return TempDir::Read(Path()); }
    long Files() const {
        return std::distance(fs::directory_iterator(dir_.Path()), fs::directory_iterator());
    }
    TempDir dir_;
};

TEST_F(SettingsFile, ReadsTheValueOfSectionSAndKeyKAsStringAndAsInteger) {
    const struct {
        std::string file;
        const char* text;  // "<d>": the default
        int number;        // -99: the default
    } cases[] = {
        {"[s]\nK=42\n", "42", 42},
        {"  [ S ]  \n\t k \t=  -7 x \t\n", "-7 x", -7},
        {"[S]\nk=\"  +5 \"\n", "  +5 ", 5},
        {"[S]\nk='x'\n", "x", 0},
        {"[S]\nk=\"x'\n", "\"x'", 0},
        {"[S]\nk=\"\n", "\"", 0},
        {"[S]\nk=a=b\n", "a=b", 0},
        {"[S]\n;k=1\n  # k=2\nk=3\n", "3", 3},
        {";[S]\nk=1\n", "<d>", -99},
        {"[A]\nk=1\n[B]\n[S]\nj=2\n", "<d>", -99},
        {"k=1\n[S]\n", "<d>", -99},
        {"[S]\nk\n", "<d>", -99},
        {"[S]\nk=1\nK=2\n", "1", 1},
        {"[S]\nk=4294967297\n[T]\n[s]\nk=2\n", "4294967297", 1},
        {"[S]\nk=2147483648", "2147483648", INT_MIN},
        {"[S]\nk=   \n", "", -99},
        {"[S]\r\nk=-\r\n\r\n", "-", 0},
        {"\xEF\xBB\xBF[S]\nk=中文\n", "中文", 0},
        {Utf16("[S]\r\nk=中文 😀\r\n", true), "中文 😀", 0},
        {Utf16("[S]\r\nk=获取芯片信息\r\n", false), "获取芯片信息", 0},
        {"[S]\nk=a\xFF\n", "a\xEF\xBF\xBD", 0},  // no UTF-8: U+FFFD
        {"", "<d>", -99},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        Put(c.file);
        EXPECT_EQ(ReadSettingString(Path(), "S", "k", "<d>", 512), c.text);
        EXPECT_EQ(ReadSettingInt(Path(), "S", "k", -99), c.number);
    }
}

TEST_F(SettingsFile, CutsCountUtf16CharactersAndKeepSequencesWhole) {
    const struct {
        const char* value;
        std::size_t buffer_chars;
        const char* expected;
    } cases[] = {
        {"一二三四五六七八九十甲乙丙丁戊己", 16, "一二三四五六七八九十甲乙丙丁戊"},
        {"中文English", 3, "中文"},
        {"a😀b", 3, "a"},  // both halves of the pair go
        {"a😀b", 4, "a😀"},
        {"abc", 1, ""},
        {"abc", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Format("%s in %zu", c.value, c.buffer_chars));
        Put(Format("[S]\nk=%s\n", c.value));
        EXPECT_EQ(ReadSettingString(Path(), "S", "k", "", c.buffer_chars), c.expected);
        EXPECT_EQ(ReadSettingString(Path(), "S", "none", c.value, c.buffer_chars), c.expected) << "default";
    }
}

TEST_F(SettingsFile, WritesChangeOneLineAndKeepEveryOtherByte) {
    const struct {
        std::string before;
        const char *section, *key, *value;
        std::string after;
    } cases[] = {
        {"; l\n\n[setting]\n  lang_id = 0 \n0=EN\n\n[EN]\nLANG_ID=7\n", "Setting", "LANG_ID", "1",
         "; l\n\n[setting]\n  lang_id = 1 \n0=EN\n\n[EN]\nLANG_ID=7\n"},
        {"[S]\n0=EN\n; note\n1=CHS\n\n; captions\n[EN]\n", "S", "k", "0",
         "[S]\n0=EN\n; note\n1=CHS\nk=0\n\n; captions\n[EN]\n"},
        {"[A]\n[S]", "S", "k", "0", "[A]\n[S]\nk=0\n"},
        {"[A]\nk=1", "S", "k", "0", "[A]\nk=1\n[S]\nk=0\n"},
        {"[S]\r\nk=0\r\n[EN]\r\n", "S", "1", "CHS", "[S]\r\nk=0\r\n1=CHS\r\n[EN]\r\n"},
        {"[A]\r\nk=1", "B", "k", "2", "[A]\r\nk=1\r\n[B]\r\nk=2\r\n"},
        {"\xEF\xBB\xBF[S]\nk=0\n", "S", "k", "1", "\xEF\xBB\xBF[S]\nk=1\n"},
        {Utf16("[S]\r\nk=0\r\n[中文]\r\nIDOK=刷新\r\n", true), "中文", "IDCANCEL", "退出 😀",
         Utf16("[S]\r\nk=0\r\n[中文]\r\nIDOK=刷新\r\nIDCANCEL=退出 😀\r\n", true)},
        {Utf16("[S]\nk=0\n", false), "S", "k", "中", Utf16("[S]\nk=中\n", false)},
        {std::string("\xFF\xFE[\0S\0]\0\n\0;\0\x00\xD8\n\0k\0=\0\x30\0\n\0\x41", 25), "S", "k", "1",
         std::string("\xFF\xFE[\0S\0]\0\n\0;\0\x00\xD8\n\0k\0=\0\x31\0\n\0\x41",
                     25)},  // lone surrogate, odd byte
        {"[S]\nk=  \n", "S", "k", "v", "[S]\nk=v\n"},
        {"[S]\nk = \"old\"\n", "S", "k", "new", "[S]\nk = new\n"},
        {"[S]\nk = \"old\" \n", "S", "k", "", "[S]\nk =\n"},
        {"[S]\n", "S", "k", " padded", "[S]\nk=\" padded\"\n"},
        {"[S]\n", "S", "k", "'q'", "[S]\nk=\"'q'\"\n"},
        {"; \xFF\xFE\n[S]\nk=0\n", "S", "k", "1", "; \xFF\xFE\n[S]\nk=1\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.after);
        Put(c.before);
        EXPECT_TRUE(WriteSettingString(Path(), c.section, c.key, c.value));
        EXPECT_EQ(Read(), c.after);
        EXPECT_EQ(ReadSettingString(Path(), c.section, c.key, "<d>", 512), c.value);
        EXPECT_EQ(Files(), 1) << "a temporary file was left";
    }
}

TEST_F(SettingsFile, WritesThatCannotBeDoneLeaveTheFileAsItWas) {
    const char* const refused[][3] = {
        {"S", "k", "line\nbreak"}, {"S", "k", "cr\r"}, {"S\n[T]", "k", "v"}, {"S]", "k", "v"},
        {"S", "a=b", "v"},         {"S", ";k", "v"},   {"S", "#k", "v"},     {"S", "[k", "v"},
        {"S", "  ", "v"},          {"", "k", "v"},     {"S\xD6", "k", "v"},  {"S", "k\xFE", "v"},
    };
    Put("[S]\nk=0\n");
    for (const auto& r : refused) {
        EXPECT_FALSE(WriteSettingString(Path(), r[0], r[1], r[2])) << r[0] << "/" << r[1] << "=" << r[2];
        EXPECT_EQ(Read(), "[S]\nk=0\n");
    }
    // A full disk, played by a file size limit.
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4;
    setrlimit(RLIMIT_FSIZE, &small);
    const bool written = WriteSettingString(Path(), "S", "k", "1");
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, old_handler);
    EXPECT_FALSE(written);
    EXPECT_EQ(Read(), "[S]\nk=0\n");
    EXPECT_EQ(Files(), 1);
    // Something else in the place of the file.
    fs::remove(Path());
    fs::create_directory(Path());
    EXPECT_EQ(ReadSettingInt(Path(), "S", "k", 7), 7);
    EXPECT_FALSE(WriteSettingString(Path(), "S", "k", "1"));
    EXPECT_TRUE(fs::is_directory(Path()));
}

TEST_F(SettingsFile, WriteKeepsPermissionsAndWritesThroughSymbolicLinks) {
    const std::string target = dir_.Write("real/settings.ini", "[S]\nk=0\n");
    fs::permissions(target, fs::perms(0640));
    fs::create_symlink(target, Path());
    ASSERT_TRUE(WriteSettingString(Path(), "S", "k", "1"));
    EXPECT_TRUE(fs::is_symlink(Path()));
    EXPECT_EQ(TempDir::Read(target), "[S]\nk=1\n");
    EXPECT_EQ(fs::status(target).permissions(), fs::perms(0640));
}

}  // namespace
}  // namespace kt
