#include <grp.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>

#include "common/control_ids.h"
#include "common/settings_file.h"
#include "dialog/KT6200DemoDlg.h"
#include "dialog/dialog_template.h"
#include "encoding/utf16.h"
#include "tests/support/fake_ui_port.h"
#include "tests/support/temp_dir.h"

namespace kt {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// fn's result in a child that may write only where its user may (root runs it as "nobody"); -1: died.
int RunUnprivileged(const std::function<int()>& fn) {
    const pid_t pid = fork();
    if (pid == 0)
        _exit(geteuid() == 0 && (setgroups(0, nullptr) || setgid(65534) || setuid(65534)) ? 125 : fn());
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Utf16(std::string_view utf8, bool little_endian) {  // with a byte-order mark
    std::string out = little_endian ? "\xFF\xFE" : "\xFE\xFF";
    for (char16_t u : Utf8ToUtf16(utf8))
        out += std::string{char(little_endian ? u : u >> 8), char(little_endian ? u >> 8 : u)};
    return out;
}

class SettingsFile : public testing::Test {
protected:
    std::string Put(const std::string& bytes) { return dir_.Write("Config.ini", bytes); }
    std::string Path() const { return dir_.Path() + "/Config.ini"; }
    std::string Read() const { return TempDir::Read(Path()); }
    long Files() const { return std::distance(fs::directory_iterator(dir_.Path()), {}); }
    TempDir dir_;
};

// The file, a buffer in UTF-16 characters (holding one less, never half a pair), S/k as text and number.
TEST_F(SettingsFile, ReadsTheValueOfSectionSAndKeyKAsStringAndAsInteger) {
    const std::tuple<std::string, std::size_t, const char*, int> cases[] = {
        {"[s]\nK=42\n", 512, "42", 42},
        {"  [ S ]  \n\t k \t=  -7 x \t\n", 512, "-7 x", -7},
        {"[S]\nk=\"  +5 \"\n", 512, "  +5 ", 5},
        {"[S]\nk=\"x'\n", 512, "\"x'", 0},
        {"[S]\n;k=1\n  # k=2\nk=3\n", 512, "3", 3},
        {"[A]\nk=1\n[B]\n[S]\nj=2\n", 512, "<d>", -99},
        {"[S]\nk\n", 512, "<d>", -99},
        {"[S]\nk=4294967297\nK=2\n[T]\n[s]\nk=3\n", 512, "4294967297", 1},
        {"[S]\nk=   \n", 512, "", -99},
        {"[S]\r\nk=-\r\n\r\n", 512, "-", 0},
        {"\xEF\xBB\xBF[S]\nk=中文\n", 512, "中文", 0},
        {Utf16("[S]\r\nk=中文 😀\r\n", true), 512, "中文 😀", 0},
        {Utf16("[S]\r\nk=获取芯片信息\r\n", false), 512, "获取芯片信息", 0},
        {"[S]\nk=a\xFF\n", 512, "a\xEF\xBF\xBD", 0},  // no UTF-8: U+FFFD
        {"[S]\nk=a😀b", 3, "a", 0},
        {"[S]\nk=a\U00010000b", 3, "a", 0},  // the lowest pair
        {"[S]\nk=a😀b", 4, "a😀", 0},
        {"[S]\nk=abc", 0, "", 0}};
    for (const auto& [file, buffer, text, number] : cases) {
        Put(file);
        EXPECT_EQ(ReadSettingString(Path(), "S", "k", "<d>", buffer), text) << file;
        EXPECT_EQ(ReadSettingInt(Path(), "S", "k", -99), number) << file;
    }
}

// Writes of S/k (of 中文/IDCANCEL where the section is [中文]).
TEST_F(SettingsFile, WritesChangeOneLineAndKeepEveryOtherByte) {
    const std::tuple<std::string, const char*, std::string> cases[] = {
        {"; l\n\n[s]\n  K = 0 \n0=E\n\n[T]\nk=7\n", "1", "; l\n\n[s]\n  K = 1 \n0=E\n\n[T]\nk=7\n"},
        {"[S]\nj=0\n; n\nj=1\n\n; c\n[T]\n", "0", "[S]\nj=0\n; n\nj=1\nk=0\n\n; c\n[T]\n"},
        {"[A]\n[S]", "0", "[A]\n[S]\nk=0\n"},
        {"[A]\nk=1", "0", "[A]\nk=1\n[S]\nk=0\n"},
        {"[S]\r\nj=0\r\n[T]\r\n", "0", "[S]\r\nj=0\r\nk=0\r\n[T]\r\n"},
        {"\xEF\xBB\xBF[S]\nk=0\n", "1", "\xEF\xBB\xBF[S]\nk=1\n"},
        {Utf16("[中文]\r\nIDOK=刷新\r\n", true), "退出 😀",
         Utf16("[中文]\r\nIDOK=刷新\r\nIDCANCEL=退出 😀\r\n", true)},
        {Utf16("[S]\nk=0\n", false), "中", Utf16("[S]\nk=中\n", false)},
        {std::string("\xFF\xFE[\0S\0]\0\n\0;\0\x00\xD8\n\0k\0=\0\x30\0\n\0\x41", 25), "1",
         std::string("\xFF\xFE[\0S\0]\0\n\0;\0\x00\xD8\n\0k\0=\0\x31\0\n\0\x41",
                     25)},  // lone surrogate, odd byte
        {"[S]\nk=  \n", "v", "[S]\nk=v\n"},
        {"[S]\nk = \"old\"\n", "new", "[S]\nk = new\n"},
        {"[S]\nk = \"old\" \n", "", "[S]\nk =\n"},
        {"[S]\n", " padded", "[S]\nk=\" padded\"\n"},
        {"[S]\n", "'q'", "[S]\nk=\"'q'\"\n"},
        {"; \xFF\xFE\n[S]\nk=0\n", "1", "; \xFF\xFE\n[S]\nk=1\n"}};
    for (const auto& [before, value, after] : cases) {
        const bool cjk = std::string_view(value).starts_with("退出");
        const char *section = cjk ? "中文" : "S", *key = cjk ? "IDCANCEL" : "k";
        Put(before);
        EXPECT_TRUE(WriteSettingString(Path(), section, key, value));
        EXPECT_EQ(Read() + "|" + std::to_string(Files()), after + "|1");  // no temporary file left
        EXPECT_EQ(ReadSettingString(Path(), section, key, "<d>", 512), value) << after;
    }
}

TEST_F(SettingsFile, WritesThatCannotBeDoneLeaveTheFileAsItWas) {
    const char* const refused[][3] = {
        {"S", "k", "line\nbreak"}, {"S", "k", "cr\r"}, {"S\n[T]", "k", "v"}, {"S]", "k", "v"},
        {"S", "a=b", "v"},         {"S", ";k", "v"},   {"S", "#k", "v"},     {"S", "[k", "v"},
        {"S", "  ", "v"},          {"", "k", "v"},     {"S\xD6", "k", "v"},  {"S", "k\xFE", "v"}};
    Put("[S]\nk=0\n");
    for (const auto& r : refused) {
        EXPECT_FALSE(WriteSettingString(Path(), r[0], r[1], r[2])) << r[0] << "/" << r[1] << "=" << r[2];
        EXPECT_EQ(Read(), "[S]\nk=0\n");
    }
}

// Languages "a" (EN, the default) and "b" (its section name cut to 15 characters, Exit's caption to 511).
std::string TwoLanguages(const std::string& lang_id) {
    return "[Setting]\nLANG_ID=" + lang_id +
           "\n0=EN\n1=B23456789ABCDEFG\n[EN]\nIDOK=a\n[B23456789ABCDEF]\nIDOK=b\nIDCANCEL=" +
           std::string(600, 'x') + "\n";
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
    // A fresh start, then `presses` presses of the language button: the Refresh button's caption.
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

// LANG_ID, the caption at the start, LANG_ID after one press.
TEST_F(Language, StoredIndexDecidesTheStartAndThePressWritesOnlyItsLine) {
    EXPECT_EQ(Run(1), "IDOK");  // no file: the identifier names, and the press writes language 0
    EXPECT_EQ(TempDir::Read(Config()), "[Setting]\nLANG_ID=0\n");
    const char* const cases[][3] = {
        {"0", "a", "1"}, {"1", "b", "0"}, {"5", "a", "0"}, {"-1", "a", "0"}, {"2147483647", "a", "0"}};
    for (const auto& [lang_id, start, stored] : cases) {
        dir_.Write("prog/Config.ini", TwoLanguages(lang_id));
        EXPECT_EQ(Run(0), start) << lang_id;
        EXPECT_EQ(TempDir::Read(Config()), TwoLanguages(lang_id)) << "the start wrote the file";
        EXPECT_EQ(Run(1), std::string(stored) == "1" ? "b" : "a");
        EXPECT_EQ(ReadSettingString(Config(), "Setting", "LANG_ID", "", 64), stored);
    }
    EXPECT_EQ(TempDir::Read(Config()), TwoLanguages("0"));
    EXPECT_EQ(Run(1), "b");
    EXPECT_EQ(ui_->GetText(IDCANCEL), std::string(511, 'x'));
}

// Rows: the modes of the program folder, its Config.ini and XDG_CONFIG_HOME; the status line; LANG_ID
// left in the program's file; the user's Config.ini; the next start's caption.
TEST_F(Language, TheChoiceIsKeptWhereTheUserMayWriteOrTheStatusLineSaysWhy) {
    const std::string user = dir_.Path() + "/home/kt6200", lost = ": the language choice was not saved: ";
    const std::tuple<int, int, int, std::string, const char*, const char*, const char*> cases[] = {
        {0555, 0644, 0777, "", "0", "[Setting]\nLANG_ID=1\n", "b"},
        {0555, 0666, 0777, "", "1", "", "b"},
        {0777, 0444, 0777, Config() + lost + "Permission denied", "0", "", "a"},
        {0555, 0644, 0555, user + "/Config.ini" + lost + user + ": Permission denied", "0", "", "a"}};
    fs::permissions(dir_.Path(), fs::perms(0755));
    for (const auto& [folder, file, home, status, kept, user_file, next_start] : cases) {
        fs::remove_all(dir_.Path() + "/home");
        fs::create_directory(dir_.Path() + "/home"), fs::permissions(dir_.Path() + "/home", fs::perms(home));
        dir_.Write("prog/Config.ini", TwoLanguages("0"));
        fs::permissions(Config(), fs::perms(file));
        fs::permissions(dir_.Path() + "/prog", fs::perms(folder));
        const int result = RunUnprivileged([&, said = status, next = next_start] {
            return Run(1) != "b" ? 1 : ui_->GetText(IDC_STATIC_STATUS) != said ? 2 : Run(0) != next ? 3 : 0;
        });
        fs::permissions(dir_.Path() + "/prog", fs::perms(0755));
        EXPECT_EQ(result, 0) << "1: captions not switched, 2: status line, 3: the next start; " << status;
        EXPECT_EQ(TempDir::Read(Config()) + TempDir::Read(user + "/Config.ini"),
                  TwoLanguages(kept) + user_file);
    }
}

// A Config.ini over the limit is left as a missing one, and the status line says so; one at it is read.
TEST_F(Language, AConfigLargerThanTheLimitIsLeftAsAMissingOne) {
    const std::string refused =
        Config() + ": larger than 1 MiB, the limit of a settings file; its settings are not used";
    for (const std::uintmax_t size : {kSettingsFileLimit, kSettingsFileLimit + 1}) {
        dir_.Write("prog/Config.ini", TwoLanguages("1"));
        fs::resize_file(Config(), size);
        const bool over = size > kSettingsFileLimit;
        EXPECT_EQ(Run(0), over ? "IDOK" : "b");
        EXPECT_EQ(ui_->GetText(IDC_STATIC_STATUS), over ? refused : "");
        if (!over) continue;
        EXPECT_EQ(Run(1), "IDOK");
        EXPECT_EQ(fs::file_size(Config()), size);
    }
}

// Every control the shipped file names takes its Chinese caption.
TEST_F(Language, ShippedConfigTranslatesEveryCaptionItHolds) {
    const std::string shipped = dir_.Write("prog/Config.ini", TempDir::Read(KT_SHIPPED_CONFIG_INI));
    Run(1);
    for (const ControlEntry& c : MainDialogTemplate().controls) {
        if (!*c.name || !HasSetting(shipped, "EN", c.name)) continue;
        EXPECT_EQ(ui_->GetText(c.id), ReadSettingString(shipped, "CHS", c.name, "", 512)) << c.name;
    }
}

}  // namespace
}  // namespace kt
