// The dialog templates as data: every control's identifier, name, kind,
// caption, position (dialog units), group and visibility. The Qt front end
// builds its windows from these tables, the script runner resolves control
// names with them, and the tests check both against them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kt {

enum class ControlKind {
    DefPushButton,  // default push button (Enter)
    PushButton,
    DropDownList,  // combo box, list only, no typing
    OutputPane,    // multi-line read-only edit, no wrapping, both scroll bars
    Edit,          // single-line edit, horizontal auto-scroll
    GroupBox,
    StaticText,
    Icon,
    ProgressBar,  // horizontal bar, 0 to 1000 (per mille)
};

enum ControlStyle : std::uint32_t {
    kStyleNone = 0,
    kStyleUpperCase = 1u << 0,  // edit: typed letters become upper case
    kStyleNoPrefix = 1u << 1,   // static: '&' is shown, not a mnemonic
    kStyleNumber = 1u << 2,     // edit: decimal field
};

struct DluRect {
    int x, y, width, height;
};

struct PixelRect {
    int x, y, width, height;
    bool operator==(const PixelRect&) const = default;
};

struct ControlEntry {
    int id;            // IDC_STATIC (-1) for anonymous controls
    const char* name;  // identifier name, "" for anonymous controls
    ControlKind kind;
    const char* caption;  // template caption (UTF-8), "" when none
    DluRect rect;
    const char* group;  // caption of the enclosing group box, "" for none
    bool shown;
    std::uint32_t style;

    bool TabStop() const {
        return kind != ControlKind::GroupBox && kind != ControlKind::StaticText &&
               kind != ControlKind::Icon && kind != ControlKind::ProgressBar;
    }
};

struct DialogLayout {
    int template_id;
    const char* title;  // template title (the main dialog replaces it)
    const char* font_face;
    int font_points;
    int width, height;                       // dialog units, of the template
    std::span<const ControlEntry> controls;  // template order = tab order
    // Controls the program adds to the template, in a band below it that
    // makes the dialog extensionHeight units taller. They follow the
    // template's controls in the tab order; the template keeps its rows.
    std::span<const ControlEntry> extensions = {};
    int extension_height = 0;

    int FullHeight() const { return height + extension_height; }
    // Every control: the template's, then the extensions.
    template <class F>
    void ForEachControl(F&& f) const {
        for (const ControlEntry& c : controls) f(c);
        for (const ControlEntry& c : extensions) f(c);
    }
};

// The main dialog IDD_MAIN_DIALOG, in template order.
const DialogLayout& MainDialogTemplate();
// The About box IDD_ABOUTBOX.
const DialogLayout& AboutDialogTemplate();

// Items the DME type list receives when the dialog is created.
inline constexpr const char* kDmeTypeItems[] = {"DME_GET", "DME_PEER_GET"};

// Commands that have a name but no control in the main dialog.
struct CommandName {
    int id;
    const char* name;
};
std::span<const CommandName> CommandOnlyNames();

// Control of the main dialog (template or extension) by identifier or by
// identifier name.
const ControlEntry* FindControl(int id);
const ControlEntry* FindControl(std::string_view name);
// Command identifier for a name: a control's, a command-only name's, or a
// decimal number. nullopt when the text is none of these.
std::optional<int> ResolveCommandId(std::string_view text);

// Dialog units to pixels with the dialog font's base units, rounding as
// the platform's MulDiv does.
PixelRect DluToPixels(DluRect r, int base_unit_x, int base_unit_y);
int MulDiv(int number, int numerator, int denominator);

}  // namespace kt
