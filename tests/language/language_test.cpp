// The interface language through the dialog: captions from Config.ini at
// start-up and on the language button, and where the choice is kept.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "common/control_ids.h"
#include "common/settings_file.h"
#include "dialog/KT6200DemoDlg.h"
#include "dialog/dialog_template.h"
#include "tests/language/unprivileged.h"
#include "tests/support/fake_ui_port.h"
#include "tests/support/temp_dir.h"

namespace kt {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

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
