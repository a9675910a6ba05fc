#include "dialog/dialog_template.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

#include "common/control_ids.h"

namespace kt {
namespace {

using K = ControlKind;
constexpr std::uint32_t kUpper = kStyleUpperCase;

constexpr const char* kUfsGroup = "UFS Engineering Feature:";

// clang-format off
constexpr ControlEntry kMainControls[] = {
    {IDOK, "IDOK", K::DefPushButton, "Refresh", {7, 183, 77, 14}, "", true, 0},
    {IDCANCEL, "IDCANCEL", K::PushButton, "Exit", {408, 288, 50, 14}, "", true, 0},
    {IDC_COMBO_DEVICE, "IDC_COMBO_DEVICE", K::DropDownList, "", {7, 161, 77, 12}, "", true, 0},
    {IDC_EDIT_LOG, "IDC_EDIT_LOG", K::OutputPane, "", {7, 7, 552, 140}, "", true, 0},
    {IDC_BTN_INQUIRY, "IDC_BTN_INQUIRY", K::PushButton, "Inquiry", {19, 255, 50, 14}, "Common", true, 0},
    {IDC_BTN_CAPACITY, "IDC_BTN_CAPACITY", K::PushButton, "GetCapacity", {19, 275, 50, 14}, "Common", true, 0},
    {IDC_BTN_FLAG_READ, "IDC_BTN_FLAG_READ", K::PushButton, "Read", {106, 178, 50, 14}, "Flag", true, 0},
    {IDC_BTN_ATTR_READ, "IDC_BTN_ATTR_READ", K::PushButton, "Read", {177, 178, 50, 14}, "Attribute", true, 0},
    {IDC_BTN_ATTR_WRITE, "IDC_BTN_ATTR_WRITE", K::PushButton, "Write", {177, 194, 50, 14}, "Attribute", true, 0},
    {IDC_BTN_DESC_READ, "IDC_BTN_DESC_READ", K::PushButton, "Read", {246, 178, 50, 14}, "Descriptor", true, 0},
    {IDC_BTN_DESC_WRITE, "IDC_BTN_DESC_WRITE", K::PushButton, "Write", {246, 194, 50, 14}, "Descriptor", true, 0},
    {IDC_BTN_FLAG_CLEAR, "IDC_BTN_FLAG_CLEAR", K::PushButton, "Clear", {106, 194, 50, 14}, "Flag", true, 0},
    {IDC_STATIC_COMMON, "IDC_STATIC_COMMON", K::GroupBox, "Common", {7, 238, 76, 65}, "", true, 0},
    {IDC_STATIC_UFS_FEATURE, "IDC_STATIC_UFS_FEATURE", K::GroupBox, kUfsGroup, {90, 154, 302, 149}, "", true, 0},
    {IDC_STATIC, "", K::GroupBox, "Flag", {98, 166, 69, 84}, kUfsGroup, true, 0},
    {IDC_BTN_FLAG_SET, "IDC_BTN_FLAG_SET", K::PushButton, "Set", {106, 210, 50, 14}, "Flag", true, 0},
    {IDC_BTN_FLAG_TOGGLE, "IDC_BTN_FLAG_TOGGLE", K::PushButton, "Toggle", {106, 227, 50, 14}, "Flag", true, 0},
    {IDC_STATIC, "", K::GroupBox, "Attribute", {169, 166, 69, 84}, kUfsGroup, true, 0},
    {IDC_STATIC, "", K::GroupBox, "Descriptor", {238, 166, 69, 84}, kUfsGroup, true, 0},
    {IDC_STATIC_PARAMETER, "IDC_STATIC_PARAMETER", K::GroupBox, "Parameter", {98, 250, 209, 47}, kUfsGroup, true, 0},
    {IDC_EDIT_IDN, "IDC_EDIT_IDN", K::Edit, "", {106, 275, 50, 14}, "Parameter", true, kUpper},
    {IDC_EDIT_INDEX, "IDC_EDIT_INDEX", K::Edit, "", {177, 275, 50, 14}, "Parameter", true, kUpper},
    {IDC_EDIT_SELECTOR, "IDC_EDIT_SELECTOR", K::Edit, "", {246, 275, 50, 14}, "Parameter", true, kUpper},
    {IDC_STATIC, "", K::StaticText, "IDN(hex):", {106, 265, 32, 8}, "Parameter", true, 0},
    {IDC_STATIC, "", K::StaticText, "Index(hex):", {177, 265, 38, 8}, "Parameter", true, 0},
    {IDC_STATIC, "", K::StaticText, "selector(hex):", {246, 265, 45, 8}, "Parameter", true, 0},
    {IDC_EDIT_VALUE, "IDC_EDIT_VALUE", K::Edit, "", {177, 227, 50, 14}, "Attribute", true, kUpper},
    {IDC_STATIC, "", K::StaticText, "Value(hex):", {177, 217, 38, 8}, "Attribute", true, 0},
    {IDC_STATIC, "", K::GroupBox, "DME_GET", {314, 166, 69, 84}, kUfsGroup, false, 0},
    {IDC_BTN_DME_READ, "IDC_BTN_DME_READ", K::PushButton, "Read", {326, 178, 50, 14}, "DME_GET", false, 0},
    {IDC_EDIT_DME_REG, "IDC_EDIT_DME_REG", K::Edit, "", {326, 209, 50, 14}, "DME_GET", false, kUpper},
    {IDC_STATIC, "", K::StaticText, "REG(hex):", {326, 197, 33, 8}, "DME_GET", false, 0},
    {IDC_COMBO_DME_TYPE, "IDC_COMBO_DME_TYPE", K::DropDownList, "", {326, 229, 50, 51}, "DME_GET", false, 0},
    {IDC_BTN_IC_INFO, "IDC_BTN_IC_INFO", K::PushButton, "Get IC INFO", {413, 203, 74, 14}, "One step feature:", true, 0},
    {IDC_STATIC_ONE_STEP_FEATURE, "IDC_STATIC_ONE_STEP_FEATURE", K::GroupBox, "One step feature:", {390, 156, 102, 128}, "", true, 0},
    {IDC_BTN_LUN_INFO, "IDC_BTN_LUN_INFO", K::PushButton, "Get LUN INfo", {413, 230, 74, 14}, "One step feature:", true, 0},
    {IDC_BTN_CFG_1_LUN, "IDC_BTN_CFG_1_LUN", K::PushButton, "CFG 1 LUN", {414, 258, 74, 14}, "One step feature:", true, 0},
    {IDC_BTN_WORK_MODE, "IDC_BTN_WORK_MODE", K::PushButton, "Get Work mode", {411, 177, 74, 14}, "One step feature:", true, 0},
    {IDC_BUTTON_LANGUAGE, "IDC_BUTTON_LANGUAGE", K::PushButton, "\xE4\xB8\xAD\xE6\x96\x87", {7, 220, 77, 14}, "", true, 0},
    {IDC_BUTTON_RESET, "IDC_BUTTON_RESET", K::PushButton, "Reset", {7, 201, 77, 14}, "", true, 0},
    {IDC_STATIC_UPDATE, "IDC_STATIC_UPDATE", K::GroupBox, "Firmware Update", {315, 250, 69, 47}, kUfsGroup, true, 0},
    {IDC_BUTTON_UPDATE, "IDC_BUTTON_UPDATE", K::PushButton, "Update", {326, 270, 50, 14}, "Firmware Update", true, 0},
};

constexpr ControlEntry kAboutControls[] = {
    {IDC_STATIC, "", K::Icon, "", {14, 14, 20, 20}, "", true, 0},
    {IDC_STATIC_VERSION, "IDC_STATIC_VERSION", K::StaticText, "Varnel Software Version: 1.0.0", {42, 14, 114, 8}, "", true, kStyleNoPrefix},
    {IDC_STATIC, "", K::StaticText, "(C) 2026 KT6200 developers", {42, 26, 114, 8}, "", true, 0},
    {IDOK, "IDOK", K::DefPushButton, "OK", {113, 41, 50, 14}, "", true, 0},
};

// The program's own rows, not the template's: the sector transfer's
// controls, in a band below the template's controls.
constexpr const char* kTransferGroup = "Sector Transfer";
constexpr std::uint32_t kNumber = kStyleNumber;
constexpr ControlEntry kMainExtensions[] = {
    {IDC_STATIC, "", K::GroupBox, kTransferGroup, {7, 307, 552, 47}, "", true, 0},
    {IDC_STATIC, "", K::StaticText, "Start sector:", {19, 322, 60, 8}, kTransferGroup, true, 0},
    {IDC_EDIT_START_SECTOR, "IDC_EDIT_START_SECTOR", K::Edit, "0", {19, 332, 60, 14}, kTransferGroup, true, kNumber},
    {IDC_STATIC, "", K::StaticText, "Sector count:", {91, 322, 60, 8}, kTransferGroup, true, 0},
    {IDC_EDIT_SECTOR_COUNT, "IDC_EDIT_SECTOR_COUNT", K::Edit, "1024", {91, 332, 60, 14}, kTransferGroup, true, kNumber},
    {IDC_STATIC, "", K::StaticText, "Packet size(KiB):", {163, 322, 60, 8}, kTransferGroup, true, 0},
    {IDC_EDIT_PACKET_SIZE, "IDC_EDIT_PACKET_SIZE", K::Edit, "1024", {163, 332, 60, 14}, kTransferGroup, true, kNumber},
    {IDC_BTN_READ_SECTORS, "IDC_BTN_READ_SECTORS", K::PushButton, "Read Sectors", {240, 332, 56, 14}, kTransferGroup, true, 0},
    {IDC_BTN_WRITE_SECTORS, "IDC_BTN_WRITE_SECTORS", K::PushButton, "Write Sectors", {302, 332, 56, 14}, kTransferGroup, true, 0},
    {IDC_PROGRESS_TRANSFER, "IDC_PROGRESS_TRANSFER", K::ProgressBar, "", {370, 334, 177, 10}, kTransferGroup, true, 0},
    {IDC_STATIC_STATUS, "IDC_STATIC_STATUS", K::StaticText, "", {7, 358, 552, 8}, "", true, kStyleNoPrefix},
};
// The band holds the group box, the status line and, below them, the template's bottom margin.
constexpr int kExtensionHeight = 358 + 8 + 7 - 311;

constexpr CommandName kCommandOnly[] = {
    {IDC_BTN_CFG_1_LUN_DISABLED, "IDC_BTN_CFG_1_LUN_DISABLED"},
};
// clang-format on

constexpr DialogLayout kMainDialog{IDD_MAIN_DIALOG, "Varnel Software", "MS Shell Dlg",  9, 566, 311,
                                   kMainControls,   kMainExtensions,   kExtensionHeight};
constexpr DialogLayout kAboutDialog{IDD_ABOUTBOX, "About Varnel Software", "MS Shell Dlg", 9, 170,
                                    62,           kAboutControls};

}  // namespace

const DialogLayout& MainDialogTemplate() { return kMainDialog; }
const DialogLayout& AboutDialogTemplate() { return kAboutDialog; }
std::span<const CommandName> CommandOnlyNames() { return kCommandOnly; }

const ControlEntry* FindControl(int id) {
    if (id == IDC_STATIC) return nullptr;
    const ControlEntry* found = nullptr;
    MainDialogTemplate().ForEachControl([&](const ControlEntry& c) {
        if (!found && c.id == id) found = &c;
    });
    return found;
}

const ControlEntry* FindControl(std::string_view name) {
    if (name.empty()) return nullptr;
    const ControlEntry* found = nullptr;
    MainDialogTemplate().ForEachControl([&](const ControlEntry& c) {
        if (!found && name == c.name) found = &c;
    });
    return found;
}

std::optional<int> ResolveCommandId(std::string_view text) {
    if (const ControlEntry* c = FindControl(text)) return c->id;
    for (const CommandName& n : kCommandOnly)
        if (text == n.name) return n.id;
    int value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (!text.empty() && ec == std::errc() && ptr == end && value >= 0) return value;
    return std::nullopt;
}

int MulDiv(int number, int numerator, int denominator) {
    if (denominator == 0) return -1;
    const long long product = static_cast<long long>(number) * numerator;
    // Round half away from zero, as the platform does.
    const long long half = std::llabs(static_cast<long long>(denominator)) / 2;
    const bool negative = (product < 0) != (denominator < 0);
    const long long magnitude =
        (std::llabs(product) + half) / std::llabs(static_cast<long long>(denominator));
    return static_cast<int>(negative ? -magnitude : magnitude);
}

PixelRect DluToPixels(DluRect r, int base_unit_x, int base_unit_y) {
    return {MulDiv(r.x, base_unit_x, 4), MulDiv(r.y, base_unit_y, 8), MulDiv(r.width, base_unit_x, 4),
            MulDiv(r.height, base_unit_y, 8)};
}

}  // namespace kt
