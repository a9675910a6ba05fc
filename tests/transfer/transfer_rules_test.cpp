// Field values, chunking and the transfer's texts, where 32-bit arithmetic
// would go wrong.
#include "handlers/transfer/transfer_rules.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace kt {
namespace {

struct FieldCase {
    const char* text;
    std::optional<std::uint32_t> value;
};

class DecimalField : public testing::TestWithParam<FieldCase> {};

TEST_P(DecimalField, TakesNonNegativeDecimalNumbersOfThirtyTwoBitsOnly) {
    EXPECT_EQ(ParseDecimalField(GetParam().text), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Table, DecimalField,
                         testing::Values(FieldCase{"0", 0u}, FieldCase{"65536", 65536u},
                                         FieldCase{" 12\t", 12u}, FieldCase{"4294967295", 4294967295u},
                                         FieldCase{"0004294967295", 4294967295u}, FieldCase{"4294967296", {}},
                                         FieldCase{"99999999999999999999", {}}, FieldCase{"", {}},
                                         FieldCase{"  ", {}}, FieldCase{"-1", {}}, FieldCase{"+1", {}},
                                         FieldCase{"12x", {}}, FieldCase{"0x10", {}}, FieldCase{"1 2", {}}));

TEST(TransferRules, RangeAndChunkArithmeticNeverWraps) {
    EXPECT_FALSE(RangeFits(0xFFFFFFF0u, 0x20, 0xFFFFFFFFu));  // the 32-bit sum would be 0x10
    EXPECT_TRUE(RangeFits(0xFFFFFFF0u, 0x0F, 0xFFFFFFFFu));
    EXPECT_FALSE(RangeFits(0, 1, 0));
    EXPECT_EQ(ChunkLimit(512), 65536u);
    EXPECT_EQ(ChunkLimit(4096), 8192u);
    EXPECT_EQ(ChunkLimit(3), 11184810u);
    EXPECT_EQ(ChunkLimit(32u << 20), 1u);
    EXPECT_EQ(ChunkLimit((32u << 20) + 1), 0u);
    EXPECT_EQ(ChunkLimit(0), 0u);
    EXPECT_EQ(ChunkMB(1000, 512), 0u);
    EXPECT_EQ(ChunkMB(34464, 512), 16u);
    EXPECT_EQ(ChunkMB(3, 512u << 10), 1u);  // 1.5 MiB
    EXPECT_EQ(ChunkMB(1, 32u << 20), 32u);
    EXPECT_EQ(ProgressPermille(0, 3), 0);
    EXPECT_EQ(ProgressPermille(2, 3), 666);
    EXPECT_EQ(ProgressPermille(0xFFFFFFFFu, 0x100000000u), 999);
    EXPECT_EQ(ProgressPermille(0, 0), 1000);
}

TEST(TransferRules, TextsOfEachDirection) {
    EXPECT_EQ(ProgressText(Direction::Read, 34464, 2), "left 34464 sectors. \r\nRetried 2 times.");
    EXPECT_EQ(ProgressText(Direction::Write, 0, 0), "left 0 sectors. \nRetried 0 times.");
    // Sector numbers print as signed 32-bit values.
    EXPECT_EQ(DeviceFailureText(Direction::Read, -5, 0x80000000u, 10),
              "scsi read10 fail -5 at sector:-2147483648, left 10 sectors.");
    EXPECT_EQ(DeviceFailureText(Direction::Write, 2, 65536, 34464),
              "scsi write10 fail 2 at sector:65536, left 34464 sectors.");
    EXPECT_EQ(FileFailureText(Direction::Read, "/x/a.bin", 8192, 100, ENOSPC),
              "write file fail at sector:8192, left 100 sectors. /x/a.bin: No space left on device");
    EXPECT_EQ(FileFailureText(Direction::Write, "b.bin", 0, 10, kShortFile),
              "read file fail at sector:0, left 10 sectors. b.bin: the file is shorter than the range");
}

}  // namespace
}  // namespace kt
