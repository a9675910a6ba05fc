#include "frontends/script/script_line.h"

#include <gtest/gtest.h>

#include <string>

namespace kt::script {
namespace {

struct GoodLine {
    std::string line;
    Verb verb;
    std::string name;
    std::string text;
    std::int64_t number;
    bool flag;
};

TEST(ParseLine, ReadsEveryVerb) {
    const GoodLine cases[] = {
        {"set IDC_EDIT_IDN 1f", Verb::Set, "IDC_EDIT_IDN", "1f", 0, false},
        {"set IDC_EDIT_IDN", Verb::Set, "IDC_EDIT_IDN", "", 0, false},
        {"set IDC_EDIT_IDN ", Verb::Set, "IDC_EDIT_IDN", "", 0, false},
        {"set IDC_EDIT_IDN  two blanks", Verb::Set, "IDC_EDIT_IDN", " two blanks", 0, false},
        {"set IDC_EDIT_IDN a # not a comment ", Verb::Set, "IDC_EDIT_IDN", "a # not a comment ", 0, false},
        {"set 1013\tx", Verb::Set, "1013", "x", 0, false},
        {"  click IDOK", Verb::Click, "IDOK", "", 0, false},
        {"click 1006  ", Verb::Click, "1006", "", 0, false},
        {"select IDC_COMBO_DEVICE 1", Verb::Select, "IDC_COMBO_DEVICE", "", 1, false},
        {"select IDC_COMBO_DEVICE -1", Verb::Select, "IDC_COMBO_DEVICE", "", -1, false},
        {"key enter IDC_EDIT_LOG", Verb::KeyEnter, "IDC_EDIT_LOG", "", 0, false},
        {"key escape", Verb::KeyEscape, "", "", 0, false},
        {"close", Verb::Close, "", "", 0, false},
        {"answer yes", Verb::Answer, "", "", 0, true},
        {"answer no", Verb::Answer, "", "", 0, false},
        {"choose out dir/image one.bin", Verb::Choose, "", "out dir/image one.bin", 0, false},
        {"choose cancel", Verb::Choose, "", "", 0, true},
        {"choose ./cancel", Verb::Choose, "", "./cancel", 0, false},
        {"sleep 0", Verb::Sleep, "", "", 0, false},
        {"sleep 250", Verb::Sleep, "", "", 250, true},
        {"wait", Verb::Wait, "", "", 0, false},
        {"wait 1500", Verb::Wait, "", "", 1500, true},
        {"print", Verb::Print, "", "", 0, false},
        {"text IDCANCEL", Verb::Text, "IDCANCEL", "", 0, false},
        {"enabled IDCANCEL", Verb::Enabled, "IDCANCEL", "", 0, false},
        {"selection IDC_COMBO_DME_TYPE", Verb::Selection, "IDC_COMBO_DME_TYPE", "", 0, false},
        {"items IDC_COMBO_DEVICE", Verb::Items, "IDC_COMBO_DEVICE", "", 0, false},
        {"title", Verb::Title, "", "", 0, false},
        {"\tabout\t", Verb::About, "", "", 0, false},
    };
    for (const GoodLine& c : cases) {
        SCOPED_TRACE(c.line);
        const ParsedLine p = ParseLine(c.line);
        ASSERT_EQ(ParsedLine::Kind::Command, p.kind) << p.error;
        EXPECT_EQ(c.verb, p.command.verb);
        EXPECT_EQ(c.name, p.command.name);
        EXPECT_EQ(c.text, p.command.text);
        if (c.verb == Verb::Select || c.verb == Verb::Sleep || c.verb == Verb::Wait) {
            EXPECT_EQ(c.number, p.command.number);
        }
        if (c.verb == Verb::Answer || c.verb == Verb::Choose || c.verb == Verb::Wait) {
            EXPECT_EQ(c.flag, p.command.flag);
        }
    }
}

TEST(ParseLine, SkipsBlankAndCommentLines) {
    for (const char* line : {"", "   ", "\t", "# a comment", "   # indented comment", "#print"})
        EXPECT_EQ(ParsedLine::Kind::Skip, ParseLine(line).kind) << '"' << line << '"';
}

struct BadLine {
    std::string line;
    std::string fragment;  // part of the message
};

TEST(ParseLine, RefusesMalformedLines) {
    const BadLine cases[] = {
        {"press IDOK", "unknown verb \"press\""},
        {"Print", "unknown verb \"Print\""},
        {"set", "set needs a control name"},
        {"click", "one control name"},
        {"click IDOK IDCANCEL", "one control name"},
        {"text", "one control name"},
        {"print IDC_EDIT_LOG", "takes no arguments"},
        {"close now", "takes no arguments"},
        {"select IDC_COMBO_DEVICE", "a list name and a position"},
        {"select IDC_COMBO_DEVICE x", "bad position \"x\""},
        {"select IDC_COMBO_DEVICE 1x", "bad position"},
        {"select IDC_COMBO_DEVICE 99999999999", "bad position"},
        {"key", "enter NAME"},
        {"key enter", "enter NAME"},
        {"key escape IDOK", "enter NAME"},
        {"key tab", "enter NAME"},
        {"answer", "yes or no"},
        {"answer maybe", "yes or no"},
        {"answer yes no", "yes or no"},
        {"choose", "a path or cancel"},
        {"choose   ", "a path or cancel"},
        {"sleep", "one number"},
        {"sleep -5", "bad number of milliseconds"},
        {"sleep 1.5", "bad number of milliseconds"},
        {"sleep 100000000", "bad number of milliseconds"},
        {"wait 1 2", "at most one number"},
        {"wait soon", "bad number of milliseconds"},
    };
    for (const BadLine& c : cases) {
        const ParsedLine p = ParseLine(c.line);
        ASSERT_EQ(ParsedLine::Kind::Error, p.kind) << c.line;
        EXPECT_NE(std::string::npos, p.error.find(c.fragment)) << c.line << " -> " << p.error;
    }
}

}  // namespace
}  // namespace kt::script
