// The Decode window: what a descriptor read leaves for it (installed layout too), its rows, its tooltips.
#include "handlers/ufs/descriptor_view.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "handlers/ufs/panel.h"
#include "tests/support/fake_context.h"

namespace kt {
namespace {

TEST(DescriptorView, RowsShowValuesAndTheirMeaning) {
    std::vector<std::uint8_t> unit(0x23, 0);
    unit[0] = 0x23, unit[1] = 0x02, unit[0x08] = 3, unit[0x0B + 7] = 0x10;
    const std::vector<DescriptorViewRow> rows = DescriptorView(0x02, 1, unit, 0x0210);
    ASSERT_GE(rows.size(), 12u);
    EXPECT_EQ(rows[1].value, "0x02 Unit");  // the IDN by name, not again as its meaning
    EXPECT_EQ(rows[1].meaning, "");
    EXPECT_EQ(rows[8].meaning, "enhanced 1");
    EXPECT_EQ(rows[11].raw, "00 00 00 00 00 00 00 10");
    EXPECT_EQ(rows[11].value, "0x0000000000000010 (16)");
    std::vector<std::uint8_t> device(0x12, 0);
    device[0x10] = 0x02, device[0x11] = 0x10;
    EXPECT_EQ(DescriptorView(0x00, 0, device, 0)[16].value, "UFS 2.1");
    const std::uint8_t text[] = {0x08, 0x05, 0, 'K', 0, 'T', 0, '6'};
    EXPECT_EQ(DescriptorView(0x05, 1, text, 0).back().value, "\"KT6\"");
}

TEST(DescriptorView, TitleAndTooltipsNameWhatTheNumbersAddress) {
    EXPECT_EQ(DescriptorViewTitle(0x02, 0xC4), "Unit descriptor (IDN 0x02), index 0xC4");
    EXPECT_EQ(ParameterTooltipsFor("0B", "0").idn,
              "Flag 0x0B: fPermanentlyDisableFwUpdate\nAttribute 0x0B: bConfigDescrLock\n"
              "Descriptor 0x0B: reserved");
    EXPECT_EQ(ParameterTooltipsFor("2", "c4").index.substr(0, 41),
              "Unit descriptor: the RPMB well-known unit");
    EXPECT_TRUE(ParameterTooltipsFor("G", "1").idn.empty());
}

TEST(PanelDescriptorRead, AnInstalledProgramSavesForTheUserAndRemembersWhatItShowed) {
    test::TempDir dir;
    // The installed layout: the shipped Config.ini in the data folder, none beside the executable.
    dir.Write("usr/share/kt6200/Config.ini", "[Setting]\n0=EN\n");
    std::filesystem::create_directories(dir.Path() + "/usr/bin");
    setenv("XDG_DATA_HOME", (dir.Path() + "/data").c_str(), 1);
    test::FakeContext ctx(dir.Path() + "/usr/bin/");
    const KT62_HANDLE h = test::OpenEmulated(dir, "");
    ASSERT_NE(h, KT62_INVALID_HANDLE);
    ctx.ExchangeDevice(h);
    panel::PanelState state;
    ctx.Port().SetText(IDC_EDIT_IDN, "1");
    ctx.Port().SetText(IDC_EDIT_INDEX, "0");
    ctx.Port().SetText(IDC_EDIT_SELECTOR, "0");
    panel::DescriptorRead(ctx, state);
    EXPECT_TRUE(ctx.Port().Pane().ends_with("\r\nSaved.")) << ctx.Port().Pane();
    const std::string saved = test::TempDir::Read(dir.Path() + "/data/kt6200/configuration.descr");
    ASSERT_TRUE(state.last_descriptor);
    EXPECT_EQ(state.last_descriptor->idn, 1);
    EXPECT_EQ(state.last_descriptor->bytes, std::vector<std::uint8_t>(saved.begin(), saved.end()));
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path() + "/usr/bin"));

    // The device is asked for the version, but while a transfer owns the handle its last read answers.
    EXPECT_EQ(panel::DeviceSpecVersion(ctx, state, true), 0);
    EXPECT_EQ(panel::DeviceSpecVersion(ctx, state, false), 0x0210);
    state = {};
    ctx.Port().SetText(IDC_EDIT_IDN, "0");
    panel::DescriptorRead(ctx, state);
    EXPECT_EQ(panel::DeviceSpecVersion(ctx, state, true), 0x0210);

    // A failed read forgets what was shown; another handle has no version yet.
    kt62Close(h);
    panel::DescriptorRead(ctx, state);
    EXPECT_FALSE(state.last_descriptor);
    ctx.ExchangeDevice(KT62_INVALID_HANDLE);
    EXPECT_EQ(panel::DeviceSpecVersion(ctx, state, true), 0);
    unsetenv("XDG_DATA_HOME");
}

}  // namespace
}  // namespace kt
