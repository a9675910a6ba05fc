// Config.ini: the settings file's lookup rules, cuts and byte-exact writes
// in every encoding, and the interface language the dialog reads from it at
// start-up and on the language button, and where it keeps the choice.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <memory>

#include "common/control_ids.h"
#include "common/settings_file.h"
#include "common/text_format.h"
#include "dialog/KT6200DemoDlg.h"
#include "dialog/dialog_template.h"
#include "tests/language/unprivileged.h"
#include "tests/support/fake_ui_port.h"
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

// Reads of S/k into a buffer of so many UTF-16 characters: at most one less,
// never half a surrogate pair.
TEST_F(SettingsFile, ReadsTheValueOfSectionSAndKeyKAsStringAndAsInteger) {
    const struct {
        std::string file;
        std::size_t buffer;
        const char* text;  // "<d>": the default
        int number;        // -99: the default
    } cases[] = {
        {"[s]\nK=42\n", 512, "42", 42},
        {"  [ S ]  \n\t k \t=  -7 x \t\n", 512, "-7 x", -7},
        {"[S]\nk=\"  +5 \"\n", 512, "  +5 ", 5},
        {"[S]\nk='x'\n", 512, "x", 0},
        {"[S]\nk=\"x'\n", 512, "\"x'", 0},
        {"[S]\nk=a=b\n", 512, "a=b", 0},
        {"[S]\n;k=1\n  # k=2\nk=3\n", 512, "3", 3},
        {";[S]\nk=1\n", 512, "<d>", -99},
        {"[A]\nk=1\n[B]\n[S]\nj=2\n", 512, "<d>", -99},
        {"[S]\nk\n", 512, "<d>", -99},
        {"[S]\nk=4294967297\nK=2\n[T]\n[s]\nk=3\n", 512, "4294967297", 1},
        {"[S]\nk=2147483648", 512, "2147483648", INT_MIN},
        {"[S]\nk=   \n", 512, "", -99},
        {"[S]\r\nk=-\r\n\r\n", 512, "-", 0},
        {"\xEF\xBB\xBF[S]\nk=中文\n", 512, "中文", 0},
        {Utf16("[S]\r\nk=中文 😀\r\n", true), 512, "中文 😀", 0},
        {Utf16("[S]\r\nk=获取芯片信息\r\n", false), 512, "获取芯片信息", 0},
        {"[S]\nk=a\xFF\n", 512, "a\xEF\xBF\xBD", 0},  // no UTF-8: U+FFFD
        {"[S]\nk=一二三四五六七八九十甲乙丙丁戊己", 16, "一二三四五六七八九十甲乙丙丁戊", 0},
        {"[S]\nk=a😀b", 3, "a", 0},
        {"[S]\nk=a😀b", 4, "a😀", 0},
        {"[S]\nk=abc", 1, "", 0},
        {"[S]\nk=abc", 0, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        Put(c.file);
        EXPECT_EQ(ReadSettingString(Path(), "S", "k", "<d>", c.buffer), c.text);
        EXPECT_EQ(ReadSettingInt(Path(), "S", "k", -99), c.number);
    }
}

// Writes of S/k (or of the section and key given).
TEST_F(SettingsFile, WritesChangeOneLineAndKeepEveryOtherByte) {
    const struct {
        std::string before;
        const char* value;
        std::string after;
        const char *section = "S", *key = "k";
    } cases[] = {
        {"; l\n\n[s]\n  K = 0 \n0=E\n\n[T]\nk=7\n", "1", "; l\n\n[s]\n  K = 1 \n0=E\n\n[T]\nk=7\n"},
        {"[S]\nj=0\n; n\nj=1\n\n; c\n[T]\n", "0", "[S]\nj=0\n; n\nj=1\nk=0\n\n; c\n[T]\n"},
        {"[A]\n[S]", "0", "[A]\n[S]\nk=0\n"},
        {"[A]\nk=1", "0", "[A]\nk=1\n[S]\nk=0\n"},
        {"[S]\r\nj=0\r\n[T]\r\n", "0", "[S]\r\nj=0\r\nk=0\r\n[T]\r\n"},
        {"[A]\r\nk=1", "0", "[A]\r\nk=1\r\n[S]\r\nk=0\r\n"},
        {"\xEF\xBB\xBF[S]\nk=0\n", "1", "\xEF\xBB\xBF[S]\nk=1\n"},
        {Utf16("[中文]\r\nIDOK=刷新\r\n", true), "退出 😀",
         Utf16("[中文]\r\nIDOK=刷新\r\nIDCANCEL=退出 😀\r\n", true), "中文", "IDCANCEL"},
        {Utf16("[S]\nk=0\n", false), "中", Utf16("[S]\nk=中\n", false)},
        {std::string("\xFF\xFE[\0S\0]\0\n\0;\0\x00\xD8\n\0k\0=\0\x30\0\n\0\x41", 25), "1",
         std::string("\xFF\xFE[\0S\0]\0\n\0;\0\x00\xD8\n\0k\0=\0\x31\0\n\0\x41",
                     25)},  // lone surrogate, odd byte
        {"[S]\nk=  \n", "v", "[S]\nk=v\n"},
        {"[S]\nk = \"old\"\n", "new", "[S]\nk = new\n"},
        {"[S]\nk = \"old\" \n", "", "[S]\nk =\n"},
        {"[S]\n", " padded", "[S]\nk=\" padded\"\n"},
        {"[S]\n", "'q'", "[S]\nk=\"'q'\"\n"},
        {"; \xFF\xFE\n[S]\nk=0\n", "1", "; \xFF\xFE\n[S]\nk=1\n"},
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

// Languages "a" (the default section EN) and "b"; b's section name is cut to 15 characters and its
// Exit caption to 511.
std::string TwoLanguages(const std::string& lang_id) {
    return "[Setting]\nLANG_ID=" + lang_id +
           "\n0=EN\n1=B23456789ABCDEFG\n[EN]\nIDOK=a\n[B23456789ABCDEF]\nIDOK=b\n" +
           "IDCANCEL=" + std::string(600, 'x') + "\n";
}

class Language : public testing::Test {
protected:
    void SetUp() override {
        setenv("KT62_EMULATOR", dir_.Write("none.json", R"({"programmers": []})").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (dir_.Path() + "/home").c_str(), 1);
        fs::create_directories(dir_.Path() + "/prog");
    }
    void TearDown() override { unsetenv("KT62_EMULATOR"), unsetenv("XDG_CONFIG_HOME"); }

    std::string Config() const { return dir_.Path() + "/prog/Config.ini"; }
    // A fresh start, then `presses` presses of the language button: the
    // Refresh button's caption.
    std::string Run(int presses) {
        ui_ = std::make_unique<test::FakeUiPort>();
        CKT6200DemoDlg dlg(*ui_, dir_.Path() + "/prog/kt6200");
        dlg.OnInitDialog();
        while (presses-- > 0) dlg.Dispatch(DialogMessage::Command, IDC_BUTTON_LANGUAGE);
        return ui_->GetText(IDOK);
    }

    TempDir dir_;
    std::unique_ptr<test::FakeUiPort> ui_;
};

TEST_F(Language, WithoutConfigCaptionsAreIdentifierNamesAndThePressWritesLanguageZero) {
    EXPECT_EQ(Run(0), "IDOK");
    EXPECT_FALSE(fs::exists(Config()));
    EXPECT_EQ(Run(1), "IDOK");
    EXPECT_EQ(ui_->GetText(IDC_BUTTON_RESET), "IDC_BUTTON_RESET");
    EXPECT_EQ(TempDir::Read(Config()), "[Setting]\nLANG_ID=0\n");
}

TEST_F(Language, StoredIndexDecidesTheStartAndThePressChangesOnlyItsLine) {
    const char* const cases[][3] = {
        // LANG_ID, caption at the start, LANG_ID after one press
        {"0", "a", "1"},   {"1", "b", "0"},          {"5", "a", "0"},   {"2147483647", "a", "0"},
        {"-1", "a", "0"},  {"", "a", "1"},           {" 1 ", "b", "0"}, {"1x", "b", "0"},
        {"abc", "a", "1"}, {"4294967297", "b", "0"},
    };
    for (const auto& [lang_id, start, stored] : cases) {
        SCOPED_TRACE(lang_id);
        dir_.Write("prog/Config.ini", TwoLanguages(lang_id));
        EXPECT_EQ(Run(0), start);
        EXPECT_EQ(TempDir::Read(Config()), TwoLanguages(lang_id)) << "the start wrote the file";
        EXPECT_EQ(Run(1), std::string(stored) == "1" ? "b" : "a");
        EXPECT_EQ(ReadSettingString(Config(), "Setting", "LANG_ID", "", 64), stored);
    }
    EXPECT_EQ(TempDir::Read(Config()), TwoLanguages("0"));
    EXPECT_EQ(Run(1), "b");
    EXPECT_EQ(ui_->GetText(IDCANCEL), std::string(511, 'x'));
}

// An installed program's folder is not its user's: the choice goes where
// the user may write, and the next start finds it there.
TEST_F(Language, WhereTheChoiceIsKeptFollowsWhatTheUserMayWrite) {
    const struct {
        fs::perms folder, file;
        const char* file_after;  // LANG_ID of the program folder's file
        const char* user_file;   // the user's Config.ini, "" when none
        bool not_saved;          // the status line says so
        const char* next_start;
    } cases[] = {
        {fs::perms(0555), fs::perms(0644), "0", "[Setting]\nLANG_ID=1\n", false, "b"},
        {fs::perms(0555), fs::perms(0666), "1", "", false, "b"},
        {fs::perms(0777), fs::perms(0444), "0", "", true, "a"},
    };
    fs::permissions(dir_.Path(), fs::perms(0755));
    fs::create_directories(dir_.Path() + "/home");
    fs::permissions(dir_.Path() + "/home", fs::perms(0777));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file_after + std::string(c.user_file));
        fs::remove_all(dir_.Path() + "/home/kt6200");
        dir_.Write("prog/Config.ini", TwoLanguages("0"));
        fs::permissions(Config(), c.file);
        fs::permissions(dir_.Path() + "/prog", c.folder);
        const int status = test::RunUnprivileged([&] {
            if (Run(1) != "b") return 1;
            const bool said = ui_->GetText(IDC_STATIC_STATUS) ==
                              Config() + ": the language choice was not saved: Permission denied";
            return said != c.not_saved ? 2 : Run(0) != c.next_start ? 3 : 0;
        });
        fs::permissions(dir_.Path() + "/prog", fs::perms(0755));
        EXPECT_EQ(status, 0) << "1: captions not switched, 2: status line, 3: the next start";
        EXPECT_EQ(TempDir::Read(Config()), TwoLanguages(c.file_after));
        EXPECT_EQ(TempDir::Read(dir_.Path() + "/home/kt6200/Config.ini"), c.user_file);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir_.Path() + "/prog"), fs::directory_iterator()), 1);
    }
}

// Every control the shipped file translates takes its caption, and its
// English ones are the template's.
TEST_F(Language, ShippedConfigTranslatesEveryCaptionItHolds) {
    const std::string shipped = dir_.Write("prog/Config.ini", TempDir::Read(KT_SHIPPED_CONFIG_INI));
    const std::pair<const char*, int> steps[] = {{"EN", 0}, {"CHS", 1}, {"EN", 1}};
    for (const auto& [lang, presses] : steps) {
        EXPECT_EQ(Run(presses), ReadSettingString(shipped, lang, "IDOK", "", 512));
        for (const ControlSpec& c : MainDialogTemplate().controls) {
            const std::string caption = *c.name ? ReadSettingString(shipped, lang, c.name, "", 512) : "";
            if (caption.empty()) continue;
            EXPECT_EQ(ui_->GetText(c.id), caption) << lang << " " << c.name;
            EXPECT_TRUE(lang != std::string("EN") || caption == c.caption) << c.name;
        }
    }
    EXPECT_EQ(TempDir::Read(shipped), TempDir::Read(KT_SHIPPED_CONFIG_INI));
}

}  // namespace
}  // namespace kt
