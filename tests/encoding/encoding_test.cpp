#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "encoding/utf16.h"

namespace kt {
namespace {

// The units, the texts of Replace (the library's trace) and Keep (settings files; also what Refuse,
// for paths, gives when it accepts), whether Refuse refuses.
TEST(Utf16, EachCallerGetsItsOwnOutcomeForALoneSurrogate) {
    const std::u16string lone_low_first{char16_t{0xDC00}, char16_t{0xD800}};
    const std::tuple<std::u16string, const char*, const char*, bool> cases[] = {
        {u"A\u00E9\u4E2D", "A\xC3\xA9\xE4\xB8\xAD", "A\xC3\xA9\xE4\xB8\xAD", false},
        // Either side of the first code point past the basic plane.
        {u"\uFFFF\U00010000", "\xEF\xBF\xBF\xF0\x90\x80\x80", "\xEF\xBF\xBF\xF0\x90\x80\x80", false},
        {u"\U0001F600", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", false},
        {u"\U0010FFFF", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF", false},  // the last code point
        {std::u16string{char16_t{0xD800}, u'x'}, "\xEF\xBF\xBDx", "\xED\xA0\x80x", true},
        {std::u16string{u'x', char16_t{0xDC01}}, "x\xEF\xBF\xBD", "x\xED\xB0\x81", true},
        {lone_low_first, "\xEF\xBF\xBD\xEF\xBF\xBD", "\xED\xB0\x80\xED\xA0\x80", true}};
    for (const auto& [units, replaced, kept, refused] : cases) {
        SCOPED_TRACE(kept);
        EXPECT_EQ(Utf16ToUtf8(units), replaced);
        EXPECT_EQ(Utf16ToUtf8(units, Unpaired::Keep), kept);
        EXPECT_EQ(Utf16ToUtf8(units, Unpaired::Refuse),
                  refused ? std::nullopt : std::optional<std::string>(kept));
        const std::basic_string<std::uint16_t> wide(units.begin(), units.end());
        EXPECT_EQ(Utf16ToUtf8(wide.c_str(), Unpaired::Replace), replaced);
        EXPECT_EQ(Utf8ToUtf16(kept, Unpaired::Keep), units);
        EXPECT_EQ(Utf8ToUtf16(kept), refused ? Utf8ToUtf16(replaced) : units);
    }
}

// A path takes a malformed sequence whole; a settings file gives each byte a U+FFFD, keeps surrogates.
TEST(Utf8, MalformedSequencesBecomeReplacementCharacters) {
    const std::tuple<const char*, std::u16string, std::u16string> cases[] = {
        {"a\xC3", u"a\uFFFD", u"a\uFFFD"},
        {"\xC0\x80", u"\uFFFD", u"\uFFFD\uFFFD"},
        {"\xE0\x80\x80", u"\uFFFD", u"\uFFFD\uFFFD\uFFFD"},
        {"\xF0\x8F\xBF\xBF", u"\uFFFD", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"\xED\xA0\x80", u"\uFFFD", std::u16string{char16_t{0xD800}}},
        {"\xED\xBF\xBF", u"\uFFFD", std::u16string{char16_t{0xDFFF}}},
        {"\xF4\x90\x80\x80", u"\uFFFD", u"\uFFFD\uFFFD\uFFFD\uFFFD"}};
    for (const auto& [text, replaced, kept] : cases) {
        EXPECT_EQ(Utf8ToUtf16(text), replaced) << text;
        EXPECT_EQ(Utf8ToUtf16(text, Unpaired::Keep), kept) << text;
    }
}

TEST(Utf16Be, DescriptorBytesDecodeAndAnOddByteIsDropped) {
    const std::array<std::uint8_t, 7> bytes{0x00, 'K', 0xD8, 0x3D, 0xDE, 0x00, 0x41};
    EXPECT_EQ(Utf16BeToUtf8(bytes), "K\xF0\x9F\x98\x80");
}

}  // namespace
}  // namespace kt
