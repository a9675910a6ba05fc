// The interface language: captions from Config.ini at start-up and on the
// language button, against the recording UI port and an emulator with no
// programmer.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/control_ids.h"
#include "common/platform.h"
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

// The translated controls' identifier names, in the order they are applied.
const std::vector<std::string> kNames = {
    "IDC_STATIC_UFS_FEATURE",
    "IDC_STATIC_ONE_STEP_FEATURE",
    "IDOK",
    "IDCANCEL",
    "IDC_BUTTON_LANGUAGE",
    "IDC_STATIC_COMMON",
    "IDC_STATIC_PARAMETER",
    "IDC_BTN_WORK_MODE",
    "IDC_BTN_IC_INFO",
    "IDC_BTN_LUN_INFO",
    "IDC_BTN_CFG_1_LUN",
    "IDC_STATIC_UPDATE",
    "IDC_BUTTON_UPDATE",
    "IDC_BUTTON_RESET",
};

std::vector<std::string> TemplateCaptions() {
    std::vector<std::string> captions;
    for (const std::string& name : kNames) captions.emplace_back(FindControl(name)->caption);
    return captions;
}

// Captions of a second language: the identifier name behind a prefix.
std::vector<std::string> SecondCaptions() {
    std::vector<std::string> captions;
    for (const std::string& name : kNames) captions.push_back("第二 " + name);
    return captions;
}

std::string Section(const std::string& name, const std::vector<std::string>& captions) {
    std::string text = "[" + name + "]\n";
    for (std::size_t i = 0; i < kNames.size(); ++i) text += kNames[i] + "=" + captions[i] + "\n";
    return text;
}

std::string TwoLanguages(const std::string& langId) {
    return "[Setting]\nLANG_ID=" + langId + "\n0=EN\n1=SECOND\n\n" + Section("EN", TemplateCaptions()) +
           "\n" + Section("SECOND", SecondCaptions());
}

class Language : public testing::Test {
protected:
    void SetUp() override {
        profile_ = dir_.Write("profile/none.json", R"({"programmers": []})");
        setenv("KT62_EMULATOR", profile_.c_str(), 1);
        setenv("XDG_CONFIG_HOME", UserConfig().c_str(), 1);
    }
    void TearDown() override {
        unsetenv("KT62_EMULATOR");
        unsetenv("XDG_CONFIG_HOME");
    }

    void Start() { ASSERT_TRUE(dlg_.OnInitDialog()); }
    void Press() { ASSERT_TRUE(dlg_.Dispatch(DialogMessage::Command, IDC_BUTTON_LANGUAGE)); }
    std::string Config() const { return dir_.Path() + "/prog/Config.ini"; }
    std::string Put(const std::string& bytes) { return dir_.Write("prog/Config.ini", bytes); }
    std::string UserConfig() const { return dir_.Path() + "/home/config"; }
    // The program folder as an installed program's: read-only to the user.
    int RunInstalled(const std::function<int()>& fn) {
        fs::permissions(dir_.Path(), fs::perms(0755));
        // The user's home; the program makes the folders below it.
        fs::create_directories(dir_.Path() + "/home");
        fs::permissions(dir_.Path() + "/home", fs::perms(0777));
        fs::permissions(dir_.Path() + "/prog", fs::perms(0555));
        const int status = test::RunUnprivileged(fn);
        fs::permissions(dir_.Path() + "/prog", fs::perms(0755));
        return status;
    }
    std::vector<std::string> Captions() {
        std::vector<std::string> captions;
        for (const std::string& name : kNames) captions.push_back(ui_.GetText(FindControl(name)->id));
        return captions;
    }

    TempDir dir_;
    std::string profile_;
    test::FakeUiPort ui_;
    CKT6200DemoDlg dlg_{ui_, dir_.Path() + "/prog/kt6200"};
};

TEST_F(Language, WithoutConfigEveryCaptionIsItsIdentifierNameAndNoFileAppears) {
    fs::create_directory(dir_.Path() + "/prog");
    Start();
    EXPECT_EQ(dlg_.GetConfigPath(), Config());
    EXPECT_EQ(Captions(), kNames);
    EXPECT_FALSE(fs::exists(Config()));

    // In table order, each control once.
    std::vector<std::string> order;
    for (const std::string& entry : ui_.Log())
        for (const std::string& name : kNames)
            if (entry == Format("SetText %d %s", FindControl(name)->id, name.c_str())) order.push_back(name);
    EXPECT_EQ(order, kNames);
}

TEST_F(Language, ButtonWithoutConfigCreatesItWithLanguageZero) {
    fs::create_directory(dir_.Path() + "/prog");
    Start();
    Press();
    EXPECT_EQ(TempDir::Read(Config()), "[Setting]\nLANG_ID=0\n");
    EXPECT_EQ(Captions(), kNames);
}

TEST_F(Language, TwoLanguagesAlternateAndOnlyTheIndexLineChanges) {
    const std::string english = TwoLanguages("0"), second = TwoLanguages("1");
    Put(english);
    Start();
    EXPECT_EQ(Captions(), TemplateCaptions());
    EXPECT_EQ(TempDir::Read(Config()), english) << "start-up wrote the file";
    Press();
    EXPECT_EQ(Captions(), SecondCaptions());
    EXPECT_EQ(TempDir::Read(Config()), second);
    Press();
    EXPECT_EQ(Captions(), TemplateCaptions());
    EXPECT_EQ(TempDir::Read(Config()), english);
}

TEST_F(Language, StoredIndexDecidesTheStartAndTheNextPress) {
    const struct {
        const char* langId;  // text of LANG_ID in the two-language file
        bool startsSecond;
        const char* stored;  // LANG_ID after one press
    } cases[] = {
        {"0", false, "1"},   {"1", true, "0"},          {"5", false, "0"},  {"2147483647", false, "0"},
        {"-1", false, "0"},  {"", false, "1"},          {" 1 ", true, "0"}, {"1x", true, "0"},
        {"abc", false, "1"}, {"4294967297", true, "0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Format("LANG_ID=%s", c.langId));
        test::FakeUiPort ui;
        CKT6200DemoDlg dlg(ui, dir_.Path() + "/prog/kt6200");
        Put(TwoLanguages(c.langId));
        dlg.ApplyLanguage(-1);
        EXPECT_EQ(ui.GetText(IDOK), c.startsSecond ? "第二 IDOK" : "Refresh");
        dlg.OnLanguage();
        EXPECT_EQ(ReadSettingString(Config(), "Setting", "LANG_ID", "", 64), c.stored);
        EXPECT_EQ(ui.GetText(IDOK), std::string(c.stored) == "1" ? "第二 IDOK" : "Refresh");
    }
}

TEST_F(Language, SectionNamesAreCutToFifteenAndCaptionsToFiveHundredElevenCharacters) {
    const std::string cjk20 = "一二三四五六七八九十甲乙丙丁戊己庚辛壬癸";
    const std::string cjk15 = "一二三四五六七八九十甲乙丙丁戊";
    std::string longCaption, cut511;
    for (int i = 0; i < 600; ++i) longCaption += i % 2 ? "中" : "a";
    for (int i = 0; i < 511; ++i) cut511 += i % 2 ? "中" : "a";
    for (const auto& [full, cut] :
         {std::pair<std::string, std::string>{"ABCDEFGHIJKLMNOPQRST", "ABCDEFGHIJKLMNO"}, {cjk20, cjk15}}) {
        SCOPED_TRACE(full);
        Put("[Setting]\nLANG_ID=0\n0=" + full + "\n[" + full + "]\nIDOK=full name\n[" + cut +
            "]\nIDOK=cut name\nIDCANCEL=" + longCaption + "\n");
        dlg_.ApplyLanguage(-1);
        EXPECT_EQ(ui_.GetText(IDOK), "cut name");
        EXPECT_EQ(ui_.GetText(IDCANCEL), cut511);
    }
}

TEST_F(Language, MissingCaptionKeysShowIdentifierNames) {
    Put("[Setting]\n0=EN\n[EN]\nIDOK=Refresh\nidcancel = Exit\n");
    Start();
    std::vector<std::string> expected = kNames;
    expected[2] = "Refresh";
    expected[3] = "Exit";
    EXPECT_EQ(Captions(), expected);
}

TEST_F(Language, ReadOnlyProgramDirectoryKeepsTheChoiceInTheUsersConfigFolder) {
    const std::string english = TwoLanguages("0");
    Put(english);
    fs::permissions(Config(), fs::perms(0644));
    const int status = RunInstalled([&] {
        dlg_.OnInitDialog();
        dlg_.Dispatch(DialogMessage::Command, IDC_BUTTON_LANGUAGE);
        if (Captions() != SecondCaptions()) return 1;
        // The next start: the user's choice, the installed captions.
        CKT6200DemoDlg again{ui_, dir_.Path() + "/prog/kt6200"};
        for (const std::string& name : kNames) ui_.SetText(FindControl(name)->id, "");
        again.OnInitDialog();
        return Captions() == SecondCaptions() ? 0 : 2;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(TempDir::Read(Config()), english);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.Path() + "/prog"), fs::directory_iterator()), 1);
    EXPECT_EQ(TempDir::Read(UserConfig() + "/kt6200/Config.ini"), "[Setting]\nLANG_ID=1\n");
}

TEST_F(Language, WritableFileInReadOnlyProgramDirectoryIsRewrittenInPlace) {
    Put(TwoLanguages("0"));
    fs::permissions(Config(), fs::perms(0666));
    const int status = RunInstalled([&] {
        dlg_.OnInitDialog();
        dlg_.Dispatch(DialogMessage::Command, IDC_BUTTON_LANGUAGE);
        return Captions() == SecondCaptions() ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(TempDir::Read(Config()), TwoLanguages("1"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.Path() + "/prog"), fs::directory_iterator()), 1);
    EXPECT_FALSE(fs::exists(UserConfig() + "/kt6200"));
}

TEST_F(Language, ReadOnlyConfigInAWritableFolderSwitchesCaptionsKeepsTheFileAndSaysSo) {
    const std::string english = TwoLanguages("0");
    Put(english);
    Start();
    fs::permissions(dir_.Path(), fs::perms(0755));
    fs::permissions(dir_.Path() + "/prog", fs::perms(0777));
    fs::permissions(Config(), fs::perms(0444));
    const int status = test::RunUnprivileged([&] {
        dlg_.Dispatch(DialogMessage::Command, IDC_BUTTON_LANGUAGE);
        if (Captions() != SecondCaptions()) return 1;
        return ui_.GetText(IDC_STATIC_STATUS) ==
                       Config() + ": the language choice was not saved: Permission denied"
                   ? 0
                   : 2;
    });
    fs::permissions(dir_.Path() + "/prog", fs::perms(0755));
    EXPECT_EQ(status, 0)
        << "1: captions not switched; 2: the status line does not say the choice was not saved";
    EXPECT_EQ(TempDir::Read(Config()), english);
}

TEST_F(Language, ShippedConfigShowsTheTemplateAndTranslatesEveryCaption) {
    const std::string shipped = TempDir::Read(KT_SHIPPED_CONFIG_INI);
    ASSERT_FALSE(shipped.empty());
    Put(shipped);
    Start();
    EXPECT_EQ(Captions(), TemplateCaptions());

    Press();
    EXPECT_EQ(ReadSettingInt(Config(), "Setting", "LANG_ID", -1), 1);
    const std::vector<std::string> translated = Captions();
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        SCOPED_TRACE(kNames[i]);
        if (kNames[i] == "IDC_BUTTON_LANGUAGE") {
            EXPECT_EQ(translated[i], "English");
        } else {
            // Chinese text: some character beyond ASCII, none lost to a bad byte.
            EXPECT_NE(translated[i].find_first_of("\xE4\xE5\xE6\xE7\xE8\xE9"), std::string::npos);
            EXPECT_EQ(translated[i].find("\xEF\xBF\xBD"), std::string::npos);
        }
    }
    Press();
    EXPECT_EQ(Captions(), TemplateCaptions());
    EXPECT_EQ(TempDir::Read(Config()), shipped);

    // The build puts the same file beside the executables (this one too).
    const std::string exe = ExecutablePath();
    const std::string beside = AppDirFromExePath(exe) + "Config.ini";
    EXPECT_EQ(ReadSettingString(beside, "Setting", "0", "", 16), "EN");
    EXPECT_EQ(ReadSettingString(beside, "Setting", "1", "", 16), "CHS");
}

}  // namespace
}  // namespace kt
