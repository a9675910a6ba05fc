// The one-step reports' decoders: device bytes in, report text out.
#include <gtest/gtest.h>
#include <kt62/apiKT6200.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "common/failure_text.h"
#include "handlers/features/ic_info.h"
#include "handlers/features/lun_info.h"
#include "handlers/features/provisioning.h"

namespace kt {
namespace {

TEST(StringDecoding, ReadsAtMostTheCapAndDecodesBigEndian) {
    struct Case {
        std::uint8_t length;
        std::u16string text;
        std::uint32_t read_length;
        std::string shown;
    };
    // clang-format off
    const Case cases[] = {
        {0x22, u"KT-UFS-PART-0016", 0x22, "KT-UFS-PART-0016"},
        {0x23, u"KT-UFS-PART-0016Z", 0x23, "KT-UFS-PART-0016"},  // the odd byte dropped
        {200, u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz01234567", 100,
         "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvw"},
        {8, u"\u00C4\u4E2D\u0100", 8, "\u00C4\u4E2D\u0100"},
        {6, u"\U0001F600", 6, "\U0001F600"},
        {10, std::u16string(u"AB\0CD", 5), 10, "AB"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        // Padded with 'x' to 255 bytes, so that any byte read past the claimed length would show.
        std::vector<std::uint8_t> d = {c.length, 0x05};
        for (char16_t u : c.text)
            d.insert(d.end(), {static_cast<std::uint8_t>(u >> 8), static_cast<std::uint8_t>(u)});
        d.resize(255, 'x');
        const std::uint32_t n = StringDescriptorReadLength(c.length);
        EXPECT_EQ(n, c.read_length);
        EXPECT_EQ(DecodeStringDescriptor(std::span(d.data(), n)), c.shown);
    }
    // The device claimed 100 bytes but only 6 arrived in a zeroed buffer.
    std::array<std::uint8_t, kStringReadLimit> buffer{100, 0x05, 0x00, 'O', 0x00, 'K'};
    EXPECT_EQ(DecodeStringDescriptor(buffer), "OK");
}

TEST(IcLines, DensityGearsAndVersion) {
    EXPECT_EQ(DensityLines(1ull << 21), (std::vector<std::string>{"    2097152, 0x200000", "      1.000GB"}));
    // The decimal figure is signed; the gigabytes are not.
    EXPECT_EQ(DensityLines(1ull << 63),
              (std::vector<std::string>{"    -9223372036854775808, 0x8000000000000000",
                                        "    4398046511104.000GB"}));
    EXPECT_EQ(HsGearLine(3), "    G1 to G3.");
    EXPECT_EQ(HsGearLine(0), std::nullopt);
    EXPECT_EQ(PwmGearLine(1, 4), "    G0 to G4.");
    EXPECT_EQ(PwmGearLine(0xFF, 4), "    G0 to G4.");
    EXPECT_EQ(PwmGearLine(0, 4), "    G1 to G4.");
    EXPECT_EQ(PwmGearLine(1, 0), std::nullopt);
    EXPECT_EQ(MphyVersionLine(0x04, 0x1A), "    041A.");
}

TEST(LunLines, OneLinePerEnabledUnit) {
    struct Case {
        std::uint8_t index = 0, enable = 1, boot = 0, write_protect = 0, memory_type = 0, block_size = 12;
        std::uint64_t blocks = 0;
        std::optional<std::string> line;
    };
    // clang-format off
    const Case cases[] = {
        {.boot = 1, .blocks = 1ull << 20, .line = "LUN0,   4.000GB, Boot1, Normal Memory, No Write Protect."},
        {.blocks = (1ull << 18) - 1, .line = "LUN0, 1023.996MB, Not boot, Normal Memory, No Write Protect."},
        {.index = 5, .boot = 2, .write_protect = 2, .memory_type = 6, .blocks = 8192,
         .line = "LUN5,  32.000MB, Boot2, Enhanced type 4 Memory, Write Protect 2."},
        {.enable = 2, .memory_type = 7, .blocks = 8192,
         .line = "LUN0,  32.000MB, Not boot, Unknown Memory, No Write Protect."},
        {.enable = 0, .blocks = 8192, .line = std::nullopt},
        // Block sizes of 2^31 bytes and beyond still scale exactly.
        {.block_size = 40, .blocks = 5, .line = "LUN0, 5120.000GB, Not boot, Normal Memory, No Write Protect."},
    };
    // clang-format on
    for (const Case& c : cases) {
        std::array<std::uint8_t, kUnitDescriptorReadLength> d{0x23,     0x02,   c.index,
                                                              c.enable, c.boot, c.write_protect};
        d[0x08] = c.memory_type;
        d[0x0A] = c.block_size;
        for (int i = 0; i < 8; ++i) d[0x0B + i] = static_cast<std::uint8_t>(c.blocks >> (56 - 8 * i));
        d[0x13] = 0xEE;  // dEraseBlockSize: not part of the line
        EXPECT_EQ(LunLine(d), c.line);
    }
}

TEST(AllocUnits, WholeCapacityOrRefusal) {
    struct Case {
        std::uint64_t capacity;
        std::uint32_t segment;
        std::uint8_t au_segments;
        std::optional<std::uint32_t> units;  // none: refused
    };
    const Case cases[] = {
        {1ull << 24, 1u << 13, 1, 0x800},           {100, 1u << 13, 1, 0},
        {0xFFFFFFFFull * 3 + 2, 3, 1, 0xFFFFFFFFu}, {1ull << 24, 0, 1, std::nullopt},
        {1ull << 32, 1, 1, std::nullopt},           {1ull << 24, 1u << 13, 8, 0x100},  // eight segments an AU
        {1ull << 24, 1u << 13, 0, std::nullopt},
    };
    for (const Case& c : cases) {
        const auto result = WholeCapacityAllocUnits({0x48, c.capacity, c.segment, c.au_segments});
        const auto* units = std::get_if<std::uint32_t>(&result);
        EXPECT_EQ(units ? std::optional(*units) : std::nullopt, c.units);
        if (!units) {
            EXPECT_NE(std::get<std::string>(result).find("Nothing was written."), std::string::npos);
        }
    }
}

TEST(Provisioning, UnitZeroOfBlocksOf4096AndNothingElse) {
    std::vector<std::uint8_t> expected(0x90);
    const std::uint8_t header[] = {0x90, 0x01, 0x00, 0x00, 0x00, 0x01, 0x7F};
    std::copy(std::begin(header), std::end(header), expected.begin());
    const std::uint8_t unit0[] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x0C};
    std::copy(std::begin(unit0), std::end(unit0), expected.begin() + 0x10);
    EXPECT_EQ(SingleLunConfiguration(ufs::kConfigLayout2x, 0x800, true), expected);
    expected[0x10] = 0;  // the disabled variant differs in the enable byte alone
    EXPECT_EQ(SingleLunConfiguration(ufs::kConfigLayout2x, 0x800, false), expected);
}

TEST(OneStepText, FailureLineOfASenseKey) {
    EXPECT_EQ(CommandFailText(KT62_SCSI_FAILURE(5, 0x24)), "Command fail scsi err 5.");
}

}  // namespace
}  // namespace kt
