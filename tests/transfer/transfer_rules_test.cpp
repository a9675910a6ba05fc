// Field values, chunking and the transfer's texts, where 32-bit arithmetic would go wrong.
#include "handlers/transfer/transfer_rules.h"

#include "handlers/transfer/throughput.h"

#include <gtest/gtest.h>

namespace kt {
namespace {

TEST(TransferRules, DecimalFieldsTakeNonNegativeNumbersOfThirtyTwoBitsOnly) {
    const std::pair<const char*, std::optional<std::uint32_t>> cases[] = {
        {" 12\t", 12u},     {"0004294967295", 4294967295u},
        {"4294967296", {}}, {"99999999999999999999", {}},
        {"", {}},           {"-1", {}},
        {"0x10", {}}};
    for (const auto& [text, value] : cases) EXPECT_EQ(ParseDecimalField(text), value) << text;
}

TEST(TransferRules, RangeAndChunkArithmeticNeverWraps) {
    EXPECT_FALSE(RangeFits(0xFFFFFFF0u, 0x20, 0xFFFFFFFFu));  // the 32-bit sum would be 0x10
    EXPECT_TRUE(RangeFits(0xFFFFFFF0u, 0x0F, 0xFFFFFFFFu));
    EXPECT_FALSE(RangeFits(0, 1, 0));
    EXPECT_EQ(ChunkLimit(4096), 8192u);
    EXPECT_EQ(ChunkLimit(3), 11184810u);
    EXPECT_EQ(ChunkLimit(32u << 20), 1u);
    EXPECT_EQ(ChunkLimit((32u << 20) + 1), 0u);
    EXPECT_EQ(ChunkLimit(0), 0u);
    EXPECT_EQ(ChunkMB(34464, 512), 16u);
    EXPECT_EQ(ChunkMB(3, 512u << 10), 1u);  // 1.5 MiB
    EXPECT_EQ(ChunkMB(1, 32u << 20), 32u);
    EXPECT_EQ(ProgressPermille(2, 3), 666);
    EXPECT_EQ(ProgressPermille(0xFFFFFFFFu, 0x100000000u), 999);
    EXPECT_EQ(ProgressPermille(0, 0), 1000);
}

TEST(TransferRules, SectorNumbersPrintAsSignedThirtyTwoBitValues) {
    EXPECT_EQ(DeviceFailureText(Direction::Read, -5, 0x80000000u, 10),
              "scsi read10 fail -5 at sector:-2147483648, left 10 sectors.");
}

TEST(TransferRules, ThroughputInSecondsMillisecondsAndTheAverageRate) {
    EXPECT_EQ(ThroughputText(2345, 64), "Takes 2.345s to trans 64MB(27.292MB/Sec)");
    EXPECT_EQ(ThroughputText(0, 32), "Takes 0.000s to trans 32MB(0.000MB/Sec)");
    EXPECT_EQ(ThroughputText(4294967295u, 1), "Takes 4294967.295s to trans 1MB(0.000MB/Sec)");
    EXPECT_EQ(ElapsedMs(0, 2'345'999'999, 1'000'000'000), 2345u);
    EXPECT_EQ(ElapsedMs(0, 5, 0), 0u);
}

}  // namespace
}  // namespace kt
