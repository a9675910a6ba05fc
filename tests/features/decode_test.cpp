// The one-step reports' decoders: device bytes in, report text out.
#include <gtest/gtest.h>
#include <kt62/apiKT6200.h>

#include <array>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "common/failure_text.h"
#include "handlers/features/ic_info.h"
#include "handlers/features/lun_info.h"
#include "handlers/features/provisioning.h"

namespace kt {
namespace {

// A string descriptor of bLength `length` whose characters are `text`
// (UTF-16, stored big-endian), padded with 'x' to 255 bytes so that any
// byte read past the claimed length would show.
std::vector<std::uint8_t> StringDescriptor(std::uint8_t length, std::u16string text) {
    std::vector<std::uint8_t> d = {length, 0x05};
    for (char16_t c : text) {
        d.push_back(static_cast<std::uint8_t>(c >> 8));
        d.push_back(static_cast<std::uint8_t>(c & 0xFF));
    }
    d.resize(255, 'x');
    return d;
}

struct StringCase {
    const char* name;
    std::uint8_t length;
    std::u16string text;
    std::uint32_t readLength;
    std::string shown;
};

class StringDecoding : public testing::TestWithParam<StringCase> {};

TEST_P(StringDecoding, ReadsAtMostTheCapAndDecodesBigEndian) {
    const StringCase& c = GetParam();
    const auto descriptor = StringDescriptor(c.length, c.text);
    const std::uint32_t n = StringDescriptorReadLength(c.length);
    EXPECT_EQ(n, c.readLength);
    EXPECT_EQ(DecodeStringDescriptor(std::span(descriptor.data(), n)), c.shown);
}

const std::u16string k60 = u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz01234567";

// clang-format off
const StringCase kStringCases[] = {
    {"Sixteen", 0x22, u"KT-UFS-PART-0016", 0x22, "KT-UFS-PART-0016"},
    {"OddByteDropped", 0x23, u"KT-UFS-PART-0016Z", 0x23, "KT-UFS-PART-0016"},
    {"CappedAt49", 200, k60, 100, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvw"},
    {"Empty", 2, u"", 2, ""},
    {"LengthZero", 0, u"AB", 0, ""},
    {"HeaderAndOddByte", 3, u"AB", 3, ""},
    {"HighBytesMatter", 8, u"\u00C4\u4E2D\u0100", 8, "\u00C4\u4E2D\u0100"},
    {"SurrogatePair", 6, u"\U0001F600", 6, "\U0001F600"},
    {"StopsAtZeroUnit", 10, std::u16string(u"AB\0CD", 5), 10, "AB"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Table, StringDecoding, testing::ValuesIn(kStringCases),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(StringDecoding, ShortAnswerEndsAtTheZeroedTail) {
    // The device claimed 100 bytes but only 6 arrived in a zeroed buffer.
    std::array<std::uint8_t, kStringReadLimit> buffer{};
    const std::uint8_t answer[] = {100, 0x05, 0x00, 'O', 0x00, 'K'};
    std::copy(std::begin(answer), std::end(answer), buffer.begin());
    EXPECT_EQ(DecodeStringDescriptor(buffer), "OK");
}

struct IcLinesCase {
    const char* name;
    std::uint64_t capacity;
    std::vector<std::string> density;
};

class DensityLinesTest : public testing::TestWithParam<IcLinesCase> {};

TEST_P(DensityLinesTest, DecimalHexAndGigabytes) {
    EXPECT_EQ(DensityLines(GetParam().capacity), GetParam().density);
}

// clang-format off
const IcLinesCase kDensityCases[] = {
    {"OneGiB", 1ull << 21, {"    2097152, 0x200000", "      1.000GB"}},
    {"WideFigure", 0x7A3800000ull, {"    32807845888, 0x7A3800000", "    15644.000GB"}},
    // The decimal figure is signed; the gigabytes are not.
    {"TopBitSet", 1ull << 63, {"    -9223372036854775808, 0x8000000000000000", "    4398046511104.000GB"}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Table, DensityLinesTest, testing::ValuesIn(kDensityCases),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(IcLines, GearRangesAndVersion) {
    EXPECT_EQ(HsGearLine(3), "    G1 to G3.");
    EXPECT_EQ(HsGearLine(0), std::nullopt);
    EXPECT_EQ(PwmGearLine(1, 4), "    G0 to G4.");
    EXPECT_EQ(PwmGearLine(0xFF, 4), "    G0 to G4.");
    EXPECT_EQ(PwmGearLine(0, 4), "    G1 to G4.");
    EXPECT_EQ(PwmGearLine(1, 0), std::nullopt);
    EXPECT_EQ(MphyVersionLine(0x03, 0x00), "    0300.");
    EXPECT_EQ(MphyVersionLine(0x04, 0x1A), "    041A.");
}

// A unit descriptor as the device answers the 35-byte read.
struct Unit {
    std::uint8_t index = 0;
    std::uint8_t enable = 1;
    std::uint8_t boot = 0;
    std::uint8_t writeProtect = 0;
    std::uint8_t memoryType = 0;
    std::uint8_t blockSize = 12;
    std::uint64_t blocks = 0;

    std::array<std::uint8_t, kUnitDescriptorReadLength> Bytes() const {
        std::array<std::uint8_t, kUnitDescriptorReadLength> d{};
        d[0] = 0x23;
        d[1] = 0x02;
        d[2] = index;
        d[3] = enable;
        d[4] = boot;
        d[5] = writeProtect;
        d[8] = memoryType;
        d[0x0A] = blockSize;
        for (int i = 0; i < 8; ++i) d[0x0B + i] = static_cast<std::uint8_t>(blocks >> (56 - 8 * i));
        d[0x13] = 0xEE;  // dEraseBlockSize: not part of the line
        return d;
    }
};

struct LunCase {
    const char* name;
    Unit unit;
    std::optional<std::string> line;
};

class LunLines : public testing::TestWithParam<LunCase> {};

TEST_P(LunLines, OneLinePerEnabledUnit) { EXPECT_EQ(LunLine(GetParam().unit.Bytes()), GetParam().line); }

// clang-format off
const LunCase kLunCases[] = {
    {"FourGiBBoot1", {.boot = 1, .blocks = 1ull << 20},
     "LUN0,   4.000GB, Boot1, Normal Memory, No Write Protect."},
    {"OneBlockLessThanOneGiB", {.blocks = (1ull << 18) - 1},
     "LUN0, 1023.996MB, Not boot, Normal Memory, No Write Protect."},
    {"Boot2WriteProtect2Type6OwnIndex", {.index = 5, .boot = 2, .writeProtect = 2, .memoryType = 6, .blocks = 8192},
     "LUN5,  32.000MB, Boot2, Enhanced type 4 Memory, Write Protect 2."},
    {"Type7UnknownAnyEnable", {.enable = 2, .memoryType = 7, .blocks = 8192},
     "LUN0,  32.000MB, Not boot, Unknown Memory, No Write Protect."},
    {"Disabled", {.enable = 0, .blocks = 8192}, std::nullopt},
    // Block sizes of 2^31 bytes and beyond still scale exactly.
    {"BlockSize2Pow40", {.blockSize = 40, .blocks = 5}, "LUN0, 5120.000GB, Not boot, Normal Memory, No Write Protect."},
    {"FullCount", {.blocks = std::numeric_limits<std::uint64_t>::max()},
     "LUN0, 70368744177664.000GB, Not boot, Normal Memory, No Write Protect."},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Table, LunLines, testing::ValuesIn(kLunCases),
                         [](const auto& i) { return std::string(i.param.name); });

struct AllocCase {
    const char* name;
    std::uint64_t capacity;
    std::uint32_t segment;
    std::uint8_t auSegments;
    std::optional<std::uint32_t> units;  // none: refused
};

class AllocUnits : public testing::TestWithParam<AllocCase> {};

TEST_P(AllocUnits, WholeCapacityOrRefusal) {
    const AllocCase& c = GetParam();
    const auto result = WholeCapacityAllocUnits({0x48, c.capacity, c.segment, c.auSegments});
    if (c.units) {
        ASSERT_TRUE(std::holds_alternative<std::uint32_t>(result)) << std::get<std::string>(result);
        EXPECT_EQ(std::get<std::uint32_t>(result), *c.units);
    } else {
        ASSERT_TRUE(std::holds_alternative<std::string>(result));
        EXPECT_NE(std::get<std::string>(result).find("Nothing was written."), std::string::npos);
    }
}

// clang-format off
const AllocCase kAllocCases[] = {
    {"EightGiBIn4MiB", 1ull << 24, 1u << 13, 1, 0x800},
    {"SmallerThanOneSegment", 100, 1u << 13, 1, 0},
    {"LargestThatFits", 0xFFFFFFFFull * 3 + 2, 3, 1, 0xFFFFFFFFu},
    {"SegmentSizeZero", 1ull << 24, 0, 1, std::nullopt},
    {"TooManySegments", 1ull << 32, 1, 1, std::nullopt},
    // Eight segments an AU: an eighth as many, or the unit outgrows the device.
    {"EightSegmentUnits", 1ull << 24, 1u << 13, 8, 0x100},
    {"AllocationUnitSizeZero", 1ull << 24, 1u << 13, 0, std::nullopt},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Table, AllocUnits, testing::ValuesIn(kAllocCases),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(Provisioning, DescriptorBytes) {
    const auto enabled = SingleLunConfiguration(kConfigLayout2x, 0x800, true);
    std::vector<std::uint8_t> expected(0x90);
    const std::uint8_t header[] = {0x90, 0x01, 0x00, 0x00, 0x00, 0x01, 0x7F};
    std::copy(std::begin(header), std::end(header), expected.begin());
    const std::uint8_t unit0[] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x0C};
    std::copy(std::begin(unit0), std::end(unit0), expected.begin() + 0x10);
    EXPECT_EQ(enabled, expected);

    // The disabled variant differs in the enable byte alone.
    auto disabled = SingleLunConfiguration(kConfigLayout2x, 0x800, false);
    EXPECT_EQ(disabled[0x10], 0);
    disabled[0x10] = 1;
    EXPECT_EQ(disabled, enabled);

    const auto wide = SingleLunConfiguration(kConfigLayout31, 0xA1B2C3D4, true);
    ASSERT_EQ(wide.size(), 0x16u + 8 * 0x1A);
    EXPECT_EQ(std::vector<std::uint8_t>(wide.begin() + 0x1A, wide.begin() + 0x1E),
              (std::vector<std::uint8_t>{0xA1, 0xB2, 0xC3, 0xD4}));
    EXPECT_EQ(KnownConfigLayout(0x16, 0x1A), kConfigLayout31);
    EXPECT_EQ(KnownConfigLayout(0x10, 0x1A), std::nullopt);
}

TEST(OneStepText, FailureLine) {
    EXPECT_EQ(CommandFailText(-5), "Command fail scsi err 251.");
    EXPECT_EQ(CommandFailText(KT62_SCSI_FAILURE(5, 0x24)), "Command fail scsi err 5.");
    EXPECT_EQ(CommandFailText(KT62_E_NOT_SUPPORTED), "Command fail err 6.");
}

}  // namespace
}  // namespace kt
