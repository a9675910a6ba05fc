// The panel fields read as "%X" reads them, and refused, before anything is
// sent, when they hold no number or more than the call takes.
#include "handlers/ufs/hex_field.h"

#include <gtest/gtest.h>

#include "tests/support/fake_context.h"

namespace kt {
namespace {

struct ParseCase {
    const char* text;
    std::optional<std::uint32_t> value;
};

class HexFieldParse : public testing::TestWithParam<ParseCase> {};

TEST_P(HexFieldParse, ReadsAsTheHexConversionDoes) {
    EXPECT_EQ(ParseHexField(GetParam().text), GetParam().value) << '"' << GetParam().text << '"';
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, HexFieldParse, testing::Values(
    ParseCase{" 0x0e", 0x0Eu}, ParseCase{"0X0E", 0x0Eu}, ParseCase{"\t\r\n 7", 7u}, ParseCase{"12G", 0x12u},
    ParseCase{"abcdef", 0xABCDEFu}, ParseCase{"00000000FF", 0xFFu},
    // A 32-bit target keeps the low 32 bits of a longer number; a sign is taken, as strtoul does.
    ParseCase{"123456789", 0x23456789u}, ParseCase{"+5", 5u}, ParseCase{"-1", 0xFFFFFFFFu},
    // "0x" with no digit after it still reads the 0 in front.
    ParseCase{"0x", 0u}, ParseCase{"0xG", 0u}, ParseCase{"0 5", 0u},
    // No number: nothing to address.
    ParseCase{"", std::nullopt}, ParseCase{"   ", std::nullopt}, ParseCase{"G1", std::nullopt},
    ParseCase{"- 5", std::nullopt}, ParseCase{"+-5", std::nullopt}));
// clang-format on

TEST(HexFieldRead, RefusesNamingTheFirstBadFieldAndItsReason) {
    test::FakeContext ctx;
    ctx.Port().SetText(IDC_EDIT_IDN, "1");
    ctx.Port().SetText(IDC_EDIT_INDEX, "Z");
    ctx.Port().SetText(IDC_EDIT_SELECTOR, "");
    EXPECT_FALSE(ReadQueryAddress(ctx));
    EXPECT_EQ(ctx.Port().Pane(), "Invalid Index(hex): enter a hexadecimal number. Nothing was sent.");

    ctx.Port().SetText(IDC_EDIT_VALUE, "100000002");
    EXPECT_FALSE(ReadHexField(ctx, kValueField));
    EXPECT_EQ(ctx.Port().Pane(), "Invalid Value(hex): more than 32 bits. Nothing was sent.");

    ctx.Port().SetText(IDC_EDIT_INDEX, "1FF");
    ctx.Port().SetText(IDC_EDIT_SELECTOR, " 2");
    const auto a = ReadQueryAddress(ctx);
    ASSERT_TRUE(a);
    EXPECT_EQ(std::tie(a->idn, a->index, a->selector), std::make_tuple(1u, 0x1FFu, 2u));
}

}  // namespace
}  // namespace kt
