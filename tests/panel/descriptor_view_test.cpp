// The Decode window's rows: each descriptor's fields against values worked
// out by hand from the field layouts, and the panel fields' tooltips.
#include "handlers/ufs/descriptor_view.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

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

}  // namespace
}  // namespace kt
