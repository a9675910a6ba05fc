#include "frontends/script/script_line.h"

#include <gtest/gtest.h>

#include "frontends/script/json_string.h"
#include "frontends/script/runner.h"

namespace kt::script {
namespace {

// "skip", the error, or verb|name|text|number|flag.
std::string Parsed(const std::string& line) {
    const ParsedLine p = ParseLine(line);
    const Command& c = p.command;
    if (p.kind != ParsedLine::Kind::Command)
        return p.kind == ParsedLine::Kind::Skip ? "skip" : "! " + p.error;
    return std::string(VerbName(c.verb)) + "|" + c.name + "|" + c.text + "|" + std::to_string(c.number) +
           "|" + (c.flag ? "1" : "0");
}

TEST(ParseLine, ReadsEveryVerbAndRefusesMalformedLines) {
    const std::pair<std::string, std::string> cases[] = {
        {"set IDC_EDIT_IDN  a # no comment ", "set|IDC_EDIT_IDN| a # no comment |0|0"},
        {"set 1013\tx", "set|1013|x|0|0"},
        {"  click IDOK  ", "click|IDOK||0|0"},
        {"select IDC_COMBO_DEVICE -1", "select|IDC_COMBO_DEVICE||-1|0"},
        {"choose out dir/image one.bin", "choose||out dir/image one.bin|0|0"},
        {"choose ./cancel", "choose||./cancel|0|0"},
        {"wait 1500", "wait|||1500|1"},
        {"wait call 20", "wait call|||20|1"},
        {"\tabout\t", "about|||0|0"},
        {"", "skip"},
        {"   #print", "skip"},
        {"Print", "! unknown verb \"Print\""},
        // Echoed input is cut at a character's start, its length said.
        {std::string(63, 'v') + "\xC3\xA9" + std::string(100, 'v'),
         "! unknown verb \"" + std::string(63, 'v') + "...\" (165 bytes)"},
        {"set", "! set needs a control name"},
        {"click IDOK IDCANCEL", "! click takes one control name"},
        {"close now", "! close takes no arguments"},
        {"select IDC_COMBO_DEVICE", "! select takes a list name and a position"},
        {"select IDC_COMBO_DEVICE 1x", "! bad position \"1x\""},
        {"select IDC_COMBO_DEVICE 99999999999", "! bad position \"99999999999\""},
        {"key escape IDOK", "! key takes \"enter NAME\" or \"escape\""},
        {"answer maybe", "! answer takes yes or no"},
        {"choose   ", "! choose needs a path or cancel"},
        {"sleep", "! sleep takes one number of milliseconds"},
        {"sleep -5", "! bad number of milliseconds \"-5\""},
        {"sleep 100000000", "! bad number of milliseconds \"100000000\""},
        {"sleep 99999999999999999999",
         "! bad number of milliseconds \"99999999999999999999\""},  // past 64 bits
        {"wait 1 2", "! wait takes at most one number of milliseconds"},
        {"wait 1.5", "! bad number of milliseconds \"1.5\""},
        {"wait call 1 2", "! wait call takes at most one number of milliseconds"}};
    for (const auto& [line, parsed] : cases) EXPECT_EQ(Parsed(line), parsed) << line;
}

// Cut at 64 bytes, back to a character's start, and never before the text's own start.
TEST(Quoted, CutsLongTextAtACharacterStart) {
    const std::string a63(63, 'a');
    const std::pair<std::string, std::string> cases[] = {{a63 + "b", "\"" + a63 + "b\""},
                                                         {a63 + "\xC3\xA9z", "\"" + a63 + "...\" (66 bytes)"},
                                                         {std::string(70, '\x80'), "\"...\" (70 bytes)"}};
    for (const auto& [text, quoted] : cases) EXPECT_EQ(Quoted(text), quoted);
}

TEST(JsonString, EscapesExactlyWhatJsonRequires) {
    const std::pair<std::string, std::string> cases[] = {
        {"", R"("")"},
        {"say \"hi\" C:\\dir\\ /", R"("say \"hi\" C:\\dir\\ /")"},
        {"a\r\nb\tc", R"("a\r\nb\tc")"},
        {std::string("\x01\x1f\0z\b\f", 6), R"("\u0001\u001f\u0000z\u0008\u000c")"},
        {"\x7f\xE4\xB8\xAD\xEF\xBF\xBF", "\"\x7f\xE4\xB8\xAD\xEF\xBF\xBF\""}};  // DEL and UTF-8 stay
    for (const auto& [text, literal] : cases) EXPECT_EQ(JsonString(text), literal) << text;
}

TEST(ExePathInDir, GivesTheDialogAPathInsideDir) {
    const std::pair<const char*, const char*> cases[] = {{"/opt/kt", "/opt/kt/kt6200-script"},
                                                         {"/opt/kt//", "/opt/kt/kt6200-script"},
                                                         {"/", "/kt6200-script"},
                                                         {"rel", "rel/kt6200-script"},
                                                         {"", "./kt6200-script"}};
    for (const auto& [dir, path] : cases) EXPECT_EQ(ExePathInDir(dir), path) << dir;
}

}  // namespace
}  // namespace kt::script
