// The Decode window: what the descriptor read leaves for it (run on an
// emulated device with nothing above it; where an installed program saves,
// too), its rows against values worked out by hand, and the tooltips.
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

// A descriptor of `length` zero bytes but its length, its IDN and `bytes` at
// `offset`; the row at that offset must read name, raw, value.
struct Case {
    std::uint8_t idn, index, length;
    std::uint16_t spec;
    std::size_t offset;
    std::vector<std::uint8_t> bytes;
    const char *name, *raw, *value;
};

TEST(DescriptorView, EachDescriptorsFieldsReadAsWorkedOutByHand) {
    // clang-format off
    const Case cases[] = {
        {0x00, 0, 0x40, 0, 0x10, {0x02, 0x10}, "wSpecVersion", "02 10", "UFS 2.1"},
        {0x00, 0, 0x59, 0x0310, 0x01, {0x00}, "bDescriptorIDN", "00", "0x00 Device"},
        {0x00, 0, 0x40, 0, 0x3E, {0x07}, "reserved", "07 00", ""},  // 0x2B to the end: one row
        {0x01, 0, 0xE6, 0x0310, 0x34, {0, 0, 0x10, 0}, "LU1.dNumAllocUnits", "00 00 10 00", "0x00001000 (4096)"},
        {0x04, 0, 0x06, 0, 0x02, {0x01, 0x80}, "bcdUniproVersion", "01 80", "1.8"},
        {0x05, 1, 0x08, 0, 0x02, {0, 'K', 0, 'T', 0, '6'}, "UC", "00 4B 00 54 00 36", "\"KT6\""},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> bytes(c.length, 0);
        bytes[0] = c.length, bytes[1] = c.idn;
        std::copy(c.bytes.begin(), c.bytes.end(), bytes.begin() + static_cast<std::ptrdiff_t>(c.offset));
        const std::vector<DescriptorViewRow> rows = DescriptorView(c.idn, c.index, bytes, c.spec);
        // The row holding the offset: the last that starts at or before it.
        const DescriptorViewRow* row = nullptr;
        for (const DescriptorViewRow& r : rows)
            if (std::stoul(r.offset, nullptr, 16) <= c.offset) row = &r;
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->name, c.name);
        EXPECT_EQ(row->name == "reserved" ? row->raw.substr(row->raw.size() - 5) : row->raw, c.raw);
        EXPECT_EQ(row->value, c.value);
    }
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
