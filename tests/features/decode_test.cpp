#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "handlers/features/ic_info.h"
#include "handlers/features/lun_info.h"
#include "handlers/features/provisioning.h"

namespace kt {
namespace {

// The odd byte and the cap are the IC report's end-to-end case.
TEST(StringDecoding, BigEndianUpToTheFirstZeroUnit) {
    const std::uint8_t d[] = {14, 0x05, 0x00, 0xC4, 0x4E, 0x2D, 0xD8, 0x3D, 0xDE, 0x00, 0, 0, 0, 'C'};
    EXPECT_EQ(DecodeStringDescriptor(d), "\u00C4\u4E2D\U0001F600");
    // The device claimed 100 bytes but only 6 arrived in a zeroed buffer.
    std::array<std::uint8_t, kStringReadLimit> buffer{100, 0x05, 0x00, 'O', 0x00, 'K'};
    EXPECT_EQ(DecodeStringDescriptor(buffer), "OK");
}

// The usual lines are the IC report's end-to-end case and fault matrix.
TEST(IcLines, SignedDensityAnyNonZeroG0AndHexVersion) {
    EXPECT_EQ(DensityLines(1ull << 63),
              (std::vector<std::string>{"    -9223372036854775808, 0x8000000000000000",
                                        "    4398046511104.000GB"}));
    EXPECT_EQ(PwmGearLine(0xFF, 4), "    G0 to G4.");
    EXPECT_EQ(MphyVersionLine(0x04, 0x1A), "    041A.");
}

// The rest of the line's forms are the LUN report's end-to-end case.
TEST(LunLines, AnyNonZeroEnableShowsAndBlockSizesBeyond2To31Scale) {
    std::array<std::uint8_t, kUnitDescriptorReadLength> d{0x23, 0x02, 0, 2};
    d[0x0A] = 40, d[0x0B + 7] = 5;
    EXPECT_EQ(LunLine(d), "LUN0, 5120.000GB, Not boot, Normal Memory, No Write Protect.");
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

}  // namespace
}  // namespace kt
