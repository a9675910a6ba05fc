// The panel fields read as "%X" reads them, and refused when they hold no
// number.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "handlers/ufs/hex_field.h"

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

INSTANTIATE_TEST_SUITE_P(Table, HexFieldParse,
                         testing::Values(ParseCase{"5", 5u}, ParseCase{" 0x0e", 0x0Eu},
                                         ParseCase{"0X0E", 0x0Eu}, ParseCase{"\t\r\n 7", 7u},
                                         ParseCase{"12G", 0x12u}, ParseCase{"1FF", 0x1FFu},
                                         ParseCase{"abcdef", 0xABCDEFu}, ParseCase{"FFFFFFFF", 0xFFFFFFFFu},
                                         ParseCase{"00000000FF", 0xFFu},
                                         // A 32-bit target keeps the low 32 bits of a longer number.
                                         ParseCase{"123456789", 0x23456789u},
                                         // The conversion takes a sign, as strtoul does.
                                         ParseCase{"+5", 5u}, ParseCase{"-1", 0xFFFFFFFFu},
                                         // "0x" with no digit after it still reads the 0 in front.
                                         ParseCase{"0x", 0u}, ParseCase{"0xG", 0u}, ParseCase{"0 5", 0u},
                                         // No number: nothing to address.
                                         ParseCase{"", std::nullopt}, ParseCase{"   ", std::nullopt},
                                         ParseCase{"G1", std::nullopt}, ParseCase{"x5", std::nullopt},
                                         ParseCase{"-", std::nullopt}, ParseCase{"- 5", std::nullopt},
                                         ParseCase{"+-5", std::nullopt}));

}  // namespace
}  // namespace kt
