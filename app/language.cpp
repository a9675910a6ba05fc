// Interface language: captions from Config.ini in the program directory.
// The current language lives only in the file (Setting/LANG_ID); section
// Setting maps each language index to the name of its caption section.
#include <cerrno>
#include <cstddef>
#include <system_error>

#include "app/KT6200DemoDlg.h"
#include "app/control_ids.h"
#include "app/settings_file.h"
#include "app/text_format.h"

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

}  // namespace

void CKT6200DemoDlg::NotSaved(const std::string& path) {
    const int error = errno;  // of the call that failed, when it was the system's
    const std::string reason = error ? ": " + std::generic_category().message(error) : std::string();
    ShowStatus(Format("%s: the language choice was not saved%s", path.c_str(), reason.c_str()));
}

std::string CKT6200DemoDlg::GetConfigPath() const { return m_strAppDir + "Config.ini"; }

void CKT6200DemoDlg::ApplyLanguage(int n) {
    const std::string path = GetConfigPath();
    if (n == -1) {
        n = ReadSettingInt(path, kSettingSection, kLangIdKey, 0);
    } else {
        // The captions change all the same; the next start finds the old
        // index, which the status line says.
        errno = 0;
        if (!WriteSettingString(path, kSettingSection, kLangIdKey, Format("%d", n))) NotSaved(path);
    }
    const std::string section =
        ReadSettingString(path, kSettingSection, Format("%d", n), kDefaultCaptionSection, kSectionNameChars);
    for (const CaptionEntry& e : kCaptionTable)
        m_ui.SetText(e.id, ReadSettingString(path, section, e.key, e.key, kCaptionChars));
}

void CKT6200DemoDlg::OnLanguage() {
    const std::string path = GetConfigPath();
    // Unsigned arithmetic: the largest index steps to the smallest rather
    // than overflowing, and then wraps to 0 below like any index without
    // an entry.
    int n =
        static_cast<int>(static_cast<unsigned>(ReadSettingInt(path, kSettingSection, kLangIdKey, 0)) + 1u);
    if (ReadSettingString(path, kSettingSection, Format("%d", n), "", kSectionNameChars).empty()) n = 0;
    errno = 0;
    if (!WriteSettingString(path, kSettingSection, kLangIdKey, Format("%d", n))) NotSaved(path);
    ApplyLanguage(n);
}

}  // namespace kt
