// The descriptor read on an emulated device, run with nothing above it: where
// an installed program saves, and what the panel remembers for the Decode
// window.
#include <gtest/gtest.h>

#include <filesystem>

#include "handlers/ufs/panel.h"
#include "tests/support/fake_context.h"

namespace kt {
namespace {

namespace fs = std::filesystem;

TEST(PanelDescriptorRead, AnInstalledProgramSavesForTheUserAndRemembersWhatItShowed) {
    test::TempDir dir;
    // The installed layout: the shipped Config.ini in the data folder, none beside the executable.
    dir.Write("usr/share/kt6200/Config.ini", "[Setting]\n0=EN\n");
    fs::create_directories(dir.Path() + "/usr/bin");
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
    EXPECT_TRUE(fs::is_empty(dir.Path() + "/usr/bin"));

    // The version is asked of the device, except while a transfer owns the handle: then the last
    // device descriptor read of that handle answers.
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
