#include "frontends/script/json_string.h"

#include <gtest/gtest.h>

#include <string>

namespace kt::script {
namespace {

struct JsonCase {
    std::string text;
    std::string literal;
};

TEST(JsonString, EscapesExactlyWhatJsonRequires) {
    const JsonCase cases[] = {
        {"", R"("")"},
        {"No device found.", R"("No device found.")"},
        {"say \"hi\"", R"("say \"hi\"")"},
        {"C:\\dir\\", R"("C:\\dir\\")"},
        {"a\r\nb\tc", R"("a\r\nb\tc")"},
        {std::string("\x01", 1), R"("\u0001")"},
        {std::string("\x1f", 1), R"("\u001f")"},
        {std::string("\0z", 2), R"("\u0000z")"},
        {"\b\f", R"("\u0008\u000c")"},
        {"\x7f", "\"\x7f\""},                                          // DEL is no control character in JSON
        {"\xE4\xB8\xAD\xE6\x96\x87", "\"\xE4\xB8\xAD\xE6\x96\x87\""},  // UTF-8 written as it is
        {"\xEF\xBF\xBF", "\"\xEF\xBF\xBF\""},
        {"/", R"("/")"},
    };
    for (const JsonCase& c : cases) EXPECT_EQ(c.literal, JsonString(c.text)) << "text: " << c.text;
}

}  // namespace
}  // namespace kt::script
