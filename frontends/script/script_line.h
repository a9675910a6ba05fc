// One line of a runner script, parsed into its verb and arguments. Pure: no
// control names are resolved here, so that the parser can be tested alone.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kt::script {

enum class Verb {
    Set,        // set NAME TEXT
    Click,      // click NAME
    Select,     // select NAME POS
    KeyEnter,   // key enter NAME
    KeyEscape,  // key escape
    Close,      // close
    Answer,     // answer yes|no
    Choose,     // choose PATH|cancel
    Sleep,      // sleep MS
    Wait,       // wait [MS]
    WaitCall,   // wait call [MS]
    Print,      // print
    Text,       // text NAME
    Enabled,    // enabled NAME
    Selection,  // selection NAME
    Items,      // items NAME
    Title,      // title
    About,      // about
};

struct Command {
    Verb verb = Verb::Print;
    std::string name;         // the control name, for the verbs that take one
    std::string text;         // set: the new text; choose: the path
    std::int64_t number = 0;  // select: the position; sleep, wait, wait call: milliseconds
    bool flag = false;        // answer: yes; choose: cancel; wait, wait call: a limit was given
};

struct ParsedLine {
    enum class Kind { Skip, Command, Error };
    Kind kind = Kind::Skip;
    Command command;    // when kind is Command
    std::string error;  // when kind is Error: what is wrong, without the line number
};

// Blank lines and lines whose first non-blank character is '#' are skipped.
// Blanks are spaces and tabs. The text of `set` is everything after the one
// blank that follows the name, kept exactly (leading blanks included).
ParsedLine ParseLine(std::string_view line);

// The verb's script spelling ("set", "key enter", ...), for messages.
std::string_view VerbName(Verb verb);

// Script text quoted for a message: cut after 64 bytes (at a character's start), with the
// whole length said, so a line of a megabyte does not come back whole on standard error.
std::string Quoted(std::string_view s);

}  // namespace kt::script
