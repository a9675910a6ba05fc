// Interface language: captions from Config.ini in the program directory.
// The current language lives only in the file (Setting/LANG_ID); section
// Setting maps each language index to the name of its caption section. An
// installed program keeps the user's file in the user's configuration
// folder and reads each key from it first, then from the installed file.
#include <cerrno>
#include <cstddef>
#include <string_view>
#include <system_error>
#include <utility>

#include "common/control_ids.h"
#include "common/settings_file.h"
#include "common/text_format.h"
#include "common/user_files.h"
#include "dialog/KT6200DemoDlg.h"

namespace kt {
namespace {

constexpr const char* kSettingSection = "Setting";
constexpr const char* kLangIdKey = "LANG_ID";
constexpr const char* kDefaultCaptionSection = "EN";
// Buffer sizes in UTF-16 characters, terminator included: names longer
// than 15 and captions longer than 511 characters are cut.
constexpr std::size_t kSectionNameChars = 16;
constexpr std::size_t kCaptionChars = 512;

struct CaptionEntry {
    const char* key;  // the control's identifier name
    int id;
};

// The translated controls, in the order their captions are applied.
constexpr CaptionEntry kCaptionTable[] = {
    {"IDC_STATIC_UFS_FEATURE", IDC_STATIC_UFS_FEATURE},
    {"IDC_STATIC_ONE_STEP_FEATURE", IDC_STATIC_ONE_STEP_FEATURE},
    {"IDOK", IDOK},
    {"IDCANCEL", IDCANCEL},
    {"IDC_BUTTON_LANGUAGE", IDC_BUTTON_LANGUAGE},
    {"IDC_STATIC_COMMON", IDC_STATIC_COMMON},
    {"IDC_STATIC_PARAMETER", IDC_STATIC_PARAMETER},
    {"IDC_BTN_WORK_MODE", IDC_BTN_WORK_MODE},
    {"IDC_BTN_IC_INFO", IDC_BTN_IC_INFO},
    {"IDC_BTN_LUN_INFO", IDC_BTN_LUN_INFO},
    {"IDC_BTN_CFG_1_LUN", IDC_BTN_CFG_1_LUN},
    {"IDC_STATIC_UPDATE", IDC_STATIC_UPDATE},
    {"IDC_BUTTON_UPDATE", IDC_BUTTON_UPDATE},
    {"IDC_BUTTON_RESET", IDC_BUTTON_RESET},
};

constexpr const char* kConfigName = "Config.ini";

// Where one setting is read: the written file when it holds the key, else
// the program folder's (the same file for a portable copy).
class ConfigFiles {
public:
    explicit ConfigFiles(std::string written, std::string installed)
        : written_(std::move(written)), installed_(std::move(installed)) {}
    const std::string& For(std::string_view section, std::string_view key) const {
        return written_ == installed_ || HasSetting(written_, section, key) ? written_ : installed_;
    }
    const std::string& Written() const { return written_; }
    // Stores a setting in the written file: empty, or why it was not stored. The user's folder
    // appears with the first choice stored in it; when it cannot be made, that is the reason (the
    // file then missing in it would say "No such file or directory").
    std::string Write(std::string_view section, std::string_view key, const std::string& value) const {
        if (written_ != installed_) {
            const std::string folder = written_.substr(0, written_.rfind('/'));
            errno = 0;
            if (!MakeUserFolders(folder + "/"))
                return folder + ": " + (errno != 0 ? std::generic_category().message(errno) : "not a folder");
        }
        std::string why;
        if (WriteSettingString(written_, section, key, value, &why)) return {};
        return why.empty() ? std::string("cannot be written") : why;
    }

private:
    std::string written_, installed_;
};

}  // namespace

void CKT6200DemoDlg::NotSaved(const std::string& path, const std::string& why) {
    ShowStatus(Format("%s: the language choice was not saved: %s", path.c_str(), why.c_str()));
}

void CKT6200DemoDlg::ShowConfigRefusal() {
    for (const std::string& path : {GetConfigPath(), ShippedFile(m_strAppDir, kConfigName)})
        if (const std::string why = SettingsFileRefusal(path); !why.empty()) {
            ShowStatus(why);
            return;
        }
}

std::string CKT6200DemoDlg::GetConfigPath() const {
    return WritableFileFolder(m_strAppDir, UserConfigDir(), kConfigName) + kConfigName;
}

void CKT6200DemoDlg::ApplyLanguage(int n) {
    const ConfigFiles files(GetConfigPath(), ShippedFile(m_strAppDir, kConfigName));
    if (n == -1) {
        n = ReadSettingInt(files.For(kSettingSection, kLangIdKey), kSettingSection, kLangIdKey, 0);
    } else {
        // The captions change all the same; the next start finds the old
        // index, which the status line says.
        if (const std::string why = files.Write(kSettingSection, kLangIdKey, Format("%d", n)); !why.empty())
            NotSaved(files.Written(), why);
    }
    const std::string key = Format("%d", n);
    const std::string section = ReadSettingString(files.For(kSettingSection, key), kSettingSection, key,
                                                  kDefaultCaptionSection, kSectionNameChars);
    for (const CaptionEntry& e : kCaptionTable)
        m_ui.SetText(e.id,
                     ReadSettingString(files.For(section, e.key), section, e.key, e.key, kCaptionChars));
}

void CKT6200DemoDlg::OnLanguage() {
    const ConfigFiles files(GetConfigPath(), ShippedFile(m_strAppDir, kConfigName));
    // Unsigned arithmetic: the largest index steps to the smallest rather
    // than overflowing, and then wraps to 0 below like any index without
    // an entry.
    int n = static_cast<int>(static_cast<unsigned>(ReadSettingInt(files.For(kSettingSection, kLangIdKey),
                                                                  kSettingSection, kLangIdKey, 0)) +
                             1u);
    const std::string key = Format("%d", n);
    if (ReadSettingString(files.For(kSettingSection, key), kSettingSection, key, "", kSectionNameChars)
            .empty())
        n = 0;
    if (const std::string why = files.Write(kSettingSection, kLangIdKey, Format("%d", n)); !why.empty())
        NotSaved(files.Written(), why);
    ApplyLanguage(n);
    ShowConfigRefusal();
}

}  // namespace kt
