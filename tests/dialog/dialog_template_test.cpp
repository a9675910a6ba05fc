#include "dialog/dialog_template.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "common/control_ids.h"

namespace kt {
namespace {

TEST(Template, ControlsHaveUniqueIdsAndNamesAndLieInsideTheDialog) {
    const auto& dlg = MainDialogTemplate();
    std::set<int> ids;
    std::set<std::string> names;
    for (const ControlEntry& c : dlg.controls) {
        EXPECT_LE(c.rect.x + c.rect.width, dlg.width) << c.caption;
        EXPECT_LE(c.rect.y + c.rect.height, dlg.height) << c.caption;
        if (c.id == IDC_STATIC) continue;
        EXPECT_TRUE(ids.insert(c.id).second) << c.id;
        EXPECT_TRUE(names.insert(c.name).second) << c.name;
        EXPECT_EQ(FindControl(c.id), &c);
        EXPECT_EQ(FindControl(std::string_view(c.name)), &c);
    }
}

TEST(Template, CommandIdsResolveFromNamesAndNumbersOnly) {
    EXPECT_EQ(ResolveCommandId("IDCANCEL"), IDCANCEL);
    EXPECT_EQ(ResolveCommandId("IDC_BTN_CFG_1_LUN_DISABLED"), IDC_BTN_CFG_1_LUN_DISABLED);
    EXPECT_EQ(ResolveCommandId("1037"), 1037);
    EXPECT_EQ(ResolveCommandId("0"), 0);
    for (const char* text : {"idok", "", "-1", "12x", "99999999999"})
        EXPECT_EQ(ResolveCommandId(text), std::nullopt) << text;
}

TEST(Dlu, ConvertsWithTheBaseUnitsAndRoundsHalfAway) {
    // Base units 7 x 14: x * 7 / 4, y * 14 / 8.
    EXPECT_EQ(DluToPixels({7, 183, 77, 14}, 7, 14), (PixelRect{12, 320, 135, 25}));
    EXPECT_EQ(DluToPixels({566, 311, 0, 0}, 7, 14).x, 991);  // 990.5 rounds up
    EXPECT_EQ(MulDiv(-3, 7, 4), -5);                         // -5.25
    EXPECT_EQ(MulDiv(-2, 1, 4), -1);                         // -0.5 rounds away from zero
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
}

}  // namespace
}  // namespace kt
