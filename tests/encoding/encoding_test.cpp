#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "encoding/big_endian.h"
#include "encoding/utf16.h"

namespace kt {
namespace {

// One table for every caller: the library's trace (Replace) and paths
// (Refuse), the program's texts (Replace) and settings files (Keep).
struct Utf16Case {
    std::u16string units;
    const char* replaced;
    const char* kept;  // also what Refuse gives when it accepts the text
    bool refused;
};

class Utf16Decoding : public testing::TestWithParam<Utf16Case> {};

TEST_P(Utf16Decoding, EachCallerGetsItsOwnOutcomeForALoneSurrogate) {
    const Utf16Case& c = GetParam();
    EXPECT_EQ(Utf16ToUtf8(c.units), c.replaced);
    EXPECT_EQ(Utf16ToUtf8(c.units, Unpaired::Keep), c.kept);
    const std::optional<std::string> refused = Utf16ToUtf8(c.units, Unpaired::Refuse);
    EXPECT_EQ(!refused, c.refused);
    if (refused) {
        EXPECT_EQ(*refused, c.kept);
    }
    // The zero-terminated form the C functions take, and the settings file's way back.
    std::basic_string<std::uint16_t> wide(c.units.begin(), c.units.end());
    EXPECT_EQ(Utf16ToUtf8(wide.c_str(), Unpaired::Replace), c.replaced);
    EXPECT_EQ(Utf8ToUtf16(c.kept, Unpaired::Keep), c.units);
}

INSTANTIATE_TEST_SUITE_P(
    Units, Utf16Decoding,
    testing::Values(Utf16Case{u"A\u00E9\u4E2D", "A\xC3\xA9\xE4\xB8\xAD", "A\xC3\xA9\xE4\xB8\xAD", false},
                    Utf16Case{u"\U0001F600", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", false},
                    Utf16Case{std::u16string{char16_t{0xD800}, u'x'}, "\xEF\xBF\xBDx", "\xED\xA0\x80x", true},
                    Utf16Case{std::u16string{u'x', char16_t{0xDC01}}, "x\xEF\xBF\xBD", "x\xED\xB0\x81", true},
                    // A low surrogate before a high one is two lone surrogates.
                    Utf16Case{std::u16string{char16_t{0xDC00}, char16_t{0xD800}}, "\xEF\xBF\xBD\xEF\xBF\xBD",
                              "\xED\xB0\x80\xED\xA0\x80", true}));

struct Utf8Case {
    const char* text;
    std::u16string replaced;
    std::u16string kept;
};

class Utf8Decoding : public testing::TestWithParam<Utf8Case> {};

// A path handed to the library takes a malformed sequence whole; a settings
// file gives each of its bytes a U+FFFD and keeps an encoded surrogate.
TEST_P(Utf8Decoding, MalformedSequencesBecomeReplacementCharacters) {
    EXPECT_EQ(Utf8ToUtf16(GetParam().text), GetParam().replaced);
    EXPECT_EQ(Utf8ToUtf16(GetParam().text, Unpaired::Keep), GetParam().kept);
}

INSTANTIATE_TEST_SUITE_P(Texts, Utf8Decoding,
                         testing::Values(Utf8Case{"a\xC3", u"a\uFFFD", u"a\uFFFD"},
                                         Utf8Case{"\xC0\x80", u"\uFFFD", u"\uFFFD\uFFFD"},
                                         Utf8Case{"\xE0\x80\x80", u"\uFFFD", u"\uFFFD\uFFFD\uFFFD"},
                                         Utf8Case{"\xED\xA0\x80", u"\uFFFD",
                                                  std::u16string{char16_t{0xD800}}},
                                         Utf8Case{"\xF4\x90\x80\x80", u"\uFFFD", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
                                         Utf8Case{"\xF0\x9F\x98\x80", u"\U0001F600", u"\U0001F600"}));

TEST(Utf16Be, DescriptorBytesDecodeAndAnOddByteIsDropped) {
    const std::array<std::uint8_t, 7> bytes{0x00, 'K', 0xD8, 0x3D, 0xDE, 0x00, 0x41};
    EXPECT_EQ(Utf16BeToUtf8(bytes), "K\xF0\x9F\x98\x80");
}

TEST(ByteOrder, FieldsWrittenAreReadBackMostSignificantFirst) {
    std::array<std::uint8_t, 8> b{};
    PutBigEndian16(b.data(), 0x0102);
    EXPECT_EQ(b[0], 0x01);
    EXPECT_EQ(BigEndian16(b.data()), 0x0102);
    PutBigEndian32(b.data(), 0x01020304u);
    EXPECT_EQ(b[3], 0x04);
    EXPECT_EQ(BigEndian32(b.data()), 0x01020304u);
    PutBigEndian64(b.data(), 0x0102030405060708ull);
    EXPECT_EQ(b[7], 0x08);
    EXPECT_EQ(BigEndian64(b.data()), 0x0102030405060708ull);
}

}  // namespace
}  // namespace kt
