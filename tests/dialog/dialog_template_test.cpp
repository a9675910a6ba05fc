#include "dialog/dialog_template.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "common/control_ids.h"

namespace kt {
namespace {

TEST(Template, HasTheFortyTwoControlsWithUniqueIdsAndNames) {
    const auto& dlg = MainDialogTemplate();
    EXPECT_EQ(dlg.controls.size(), 42u);
    EXPECT_EQ(dlg.width, 566);
    EXPECT_EQ(dlg.height, 311);
    std::set<int> ids;
    std::set<std::string> names;
    for (const ControlSpec& c : dlg.controls) {
        if (c.id == IDC_STATIC) {
            EXPECT_STREQ(c.name, "");
            continue;
        }
        EXPECT_TRUE(ids.insert(c.id).second) << c.id;
        EXPECT_TRUE(names.insert(c.name).second) << c.name;
        EXPECT_EQ(FindControl(c.id), &c);
        EXPECT_EQ(FindControl(std::string_view(c.name)), &c);
    }
    EXPECT_EQ(ids.size(), 33u);
}

TEST(Template, OnlyTheDmeGroupIsHiddenAndEveryGroupNameIsAGroupBox) {
    std::set<std::string> groupCaptions;
    for (const ControlSpec& c : MainDialogTemplate().controls)
        if (c.kind == ControlKind::GroupBox) groupCaptions.insert(c.caption);
    int hidden = 0;
    for (const ControlSpec& c : MainDialogTemplate().controls) {
        if (!c.shown) {
            ++hidden;
            EXPECT_TRUE(std::string(c.group) == "DME_GET" || std::string(c.caption) == "DME_GET");
        }
        if (*c.group) {
            EXPECT_TRUE(groupCaptions.count(c.group)) << c.group;
        }
    }
    EXPECT_EQ(hidden, 5);
}

TEST(Template, ControlsLieInsideTheDialogAndTheirGroup) {
    const auto& dlg = MainDialogTemplate();
    for (const ControlSpec& c : dlg.controls) {
        EXPECT_LE(c.rect.x + c.rect.width, dlg.width) << c.caption;
        EXPECT_LE(c.rect.y + c.rect.height, dlg.height) << c.caption;
        if (!*c.group) continue;
        for (const ControlSpec& g : dlg.controls) {
            if (g.kind != ControlKind::GroupBox || std::string(g.caption) != c.group) continue;
            EXPECT_GE(c.rect.x, g.rect.x) << c.name << " in " << c.group;
            EXPECT_GE(c.rect.y, g.rect.y) << c.name << " in " << c.group;
        }
    }
}

TEST(Template, TabStopsAreEveryControlButLabelsAndGroups) {
    int tabStops = 0;
    for (const ControlSpec& c : MainDialogTemplate().controls) tabStops += c.TabStop() ? 1 : 0;
    EXPECT_EQ(tabStops, 28);
}

struct ResolveCase {
    const char* text;
    std::optional<int> id;
};

class Resolve : public testing::TestWithParam<ResolveCase> {};

TEST_P(Resolve, NamesCommandOnlyNamesAndNumbers) {
    EXPECT_EQ(ResolveCommandId(GetParam().text), GetParam().id);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Resolve,
    testing::Values(ResolveCase{"IDOK", IDOK}, ResolveCase{"IDCANCEL", IDCANCEL},
                    ResolveCase{"IDC_EDIT_IDN", IDC_EDIT_IDN},
                    ResolveCase{"IDC_BTN_READ_SECTORS", IDC_BTN_READ_SECTORS},
                    ResolveCase{"IDC_BTN_CFG_1_LUN_DISABLED", IDC_BTN_CFG_1_LUN_DISABLED},
                    ResolveCase{"1037", 1037}, ResolveCase{"0", 0}, ResolveCase{"idok", std::nullopt},
                    ResolveCase{"", std::nullopt}, ResolveCase{"-1", std::nullopt},
                    ResolveCase{"12x", std::nullopt}, ResolveCase{"99999999999", std::nullopt}));

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
