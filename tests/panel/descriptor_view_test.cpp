// The Decode window's rows: each descriptor's fields against values worked
// out by hand from the field layouts, and the panel fields' tooltips.
#include "ufs/descriptor_view.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kt {
namespace {

// A descriptor of length bytes: byte 0 its length, byte 1 its IDN, then the
// bytes given at their offsets, zeros elsewhere.
std::vector<std::uint8_t> Descriptor(std::uint8_t idn, std::size_t length,
                                     std::vector<std::pair<std::size_t, std::vector<std::uint8_t>>> at) {
    std::vector<std::uint8_t> d(length, 0);
    d[0] = static_cast<std::uint8_t>(length);
    d[1] = idn;
    for (const auto& [offset, bytes] : at) std::copy(bytes.begin(), bytes.end(), d.begin() + offset);
    return d;
}

std::string Zeros(std::size_t n) {
    std::string s = "00";
    for (std::size_t i = 1; i < n; ++i) s += " 00";
    return s;
}

struct Case {
    const char* what;
    std::uint8_t idn, index;
    std::vector<std::uint8_t> bytes;
    std::uint16_t spec;
    DescriptorViewRow expected;  // one row of the view, found by its offset
};

TEST(DescriptorView, EachDescriptorsFieldsReadAsWorkedOutByHand) {
    const Case cases[] = {
        {"device: the UFS version",
         0x00,
         0,
         Descriptor(0x00, 0x40, {{0x10, {0x02, 0x10}}}),
         0,
         {"0x10", "wSpecVersion", "02 10", "UFS 2.1"}},
        {"device: its IDN named",
         0x00,
         0,
         Descriptor(0x00, 0x59, {}),
         0x0310,
         {"0x01", "bDescriptorIDN", "00", "0x00 Device"}},
        {"device: 2.1 bytes after the last field",
         0x00,
         0,
         Descriptor(0x00, 0x40, {}),
         0,
         {"0x2B", "reserved", Zeros(0x40 - 0x2B), ""}},
        {"configuration 2.x: LU1's allocation units",
         0x01,
         0,
         Descriptor(0x01, 0x90, {{0x24, {0x00, 0x00, 0x10, 0x00}}}),
         0,
         {"0x24", "LU1.dNumAllocUnits", "00 00 10 00", "0x00001000 (4096)"}},
        {"configuration 3.1: LU1's allocation units",
         0x01,
         0,
         Descriptor(0x01, 0xE6, {{0x34, {0x00, 0x00, 0x10, 0x00}}}),
         0x0310,
         {"0x34", "LU1.dNumAllocUnits", "00 00 10 00", "0x00001000 (4096)"}},
        {"unit: 64-bit block count",
         0x02,
         1,
         Descriptor(0x02, 0x2D, {{0x0B, {0, 0, 0, 0, 0, 0x10, 0, 0}}}),
         0x0310,
         {"0x0B", "qLogicalBlockCount", "00 00 00 00 00 10 00 00", "0x0000000000100000 (1048576)"}},
        {"RPMB unit from 3.0: regions",
         0x02,
         0xC4,
         Descriptor(0x02, 0x23, {{0x13, {0x04}}}),
         0x0310,
         {"0x13", "bRPMBRegion0Size", "04", "0x04 (4)"}},
        {"RPMB unit of 2.1: erase block size",
         0x02,
         0xC4,
         Descriptor(0x02, 0x23, {{0x13, {0, 0, 0, 4}}}),
         0x0210,
         {"0x13", "dEraseBlockSize", "00 00 00 04", "0x00000004 (4)"}},
        {"interconnect: UniPro version",
         0x04,
         0,
         Descriptor(0x04, 0x06, {{0x02, {0x01, 0x80}}}),
         0,
         {"0x02", "bcdUniproVersion", "01 80", "1.8"}},
        {"string: the characters",
         0x05,
         1,
         Descriptor(0x05, 0x08, {{0x02, {0x00, 'K', 0x00, 'T', 0x00, '6'}}}),
         0,
         {"0x02", "UC", "00 4B 00 54 00 36", "\"KT6\""}},
        {"geometry: raw capacity",
         0x07,
         0,
         Descriptor(0x07, 0x57, {{0x0B, {0x04}}}),
         0x0310,
         {"0x04", "qTotalRawDeviceCapacity", "00 00 00 00 00 00 00 04", "0x0000000000000004 (4)"}},
        {"power: second VCC level",
         0x08,
         0,
         Descriptor(0x08, 0x62, {{0x04, {0x80, 0x64}}}),
         0,
         {"0x04", "wActiveICCLevelsVCC[1]", "80 64", "0x8064 (32868)"}},
        {"health: pre-EOL",
         0x09,
         0,
         Descriptor(0x09, 0x2D, {{0x02, {0x02}}}),
         0x0310,
         {"0x02", "bPreEOLInfo", "02", "0x02 (2)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<DescriptorViewRow> rows = DescriptorView(c.idn, c.index, c.bytes, c.spec);
        const DescriptorViewRow* row = nullptr;
        for (const DescriptorViewRow& r : rows)
            if (r.offset == c.expected.offset) row = &r;
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->name, c.expected.name);
        EXPECT_EQ(row->raw, c.expected.raw);
        EXPECT_EQ(row->value, c.expected.value);
    }
}

TEST(DescriptorView, TitleAndTooltipsNameWhatTheNumbersAddress) {
    EXPECT_EQ(DescriptorViewTitle(0x02, 0xC4), "Unit descriptor (IDN 0x02), index 0xC4");
    EXPECT_EQ(DescriptorViewTitle(0x03, 0), "Unknown descriptor (IDN 0x03), index 0x00");

    const ParameterTooltips b = ParameterTooltipsFor("0B", "0");
    EXPECT_EQ(b.idn,
              "Flag 0x0B: fPermanentlyDisableFwUpdate\nAttribute 0x0B: bConfigDescrLock\n"
              "Descriptor 0x0B: reserved");
    EXPECT_EQ(b.value, "The value of attribute bConfigDescrLock");
    EXPECT_EQ(ParameterTooltipsFor("2", "c4").index,
              "Unit descriptor: the RPMB well-known unit\nAttribute bCurrentPowerMode: index 196 (the "
              "logical unit of a "
              "per-unit attribute)");
    const ParameterTooltips none = ParameterTooltipsFor("G", "1");
    EXPECT_TRUE(none.idn.empty() && none.index.empty() && none.value.empty());
}

}  // namespace
}  // namespace kt
