#include "frontends/script/script_line.h"

#include <charconv>
#include <limits>
#include <optional>
#include <vector>

namespace kt::script {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view SkipBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    return s;
}

std::string_view TrimEnd(std::string_view s) {
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// Takes the next blank-delimited word off the front of s.
std::string_view NextWord(std::string_view& s) {
    s = SkipBlanks(s);
    std::size_t n = 0;
    while (n < s.size() && !IsBlank(s[n])) ++n;
    std::string_view word = s.substr(0, n);
    s.remove_prefix(n);
    return word;
}

std::vector<std::string_view> Words(std::string_view s) {
    std::vector<std::string_view> words;
    for (std::string_view w = NextWord(s); !w.empty(); w = NextWord(s)) words.push_back(w);
    return words;
}

std::optional<std::int64_t> ParseInteger(std::string_view s) {
    std::int64_t value = 0;
    const char* end = s.data() + s.size();
    auto [ptr, ec] = std::from_chars(s.data(), end, value);
    // An empty text is no number to from_chars either.
    if (ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

// Milliseconds, capped at a day so that deadlines never overflow.
std::optional<std::int64_t> ParseMilliseconds(std::string_view s) {
    const auto value = ParseInteger(s);
    if (!value || *value < 0 || *value > 86'400'000) return std::nullopt;
    return value;
}

ParsedLine Error(std::string message) {
    ParsedLine p;
    p.kind = ParsedLine::Kind::Error;
    p.error = std::move(message);
    return p;
}

ParsedLine Ok(Command c) {
    ParsedLine p;
    p.kind = ParsedLine::Kind::Command;
    p.command = std::move(c);
    return p;
}

Command Of(Verb verb) {
    Command c;
    c.verb = verb;
    return c;
}

struct NameVerb {
    std::string_view word;
    Verb verb;
};
// Verbs of the form "VERB NAME".
constexpr NameVerb kNameVerbs[] = {
    {"click", Verb::Click},         {"text", Verb::Text},   {"enabled", Verb::Enabled},
    {"selection", Verb::Selection}, {"items", Verb::Items},
};
// Verbs without arguments.
constexpr NameVerb kBareVerbs[] = {
    {"close", Verb::Close},
    {"print", Verb::Print},
    {"title", Verb::Title},
    {"about", Verb::About},
};

ParsedLine ParseSet(std::string_view rest) {
    Command c = Of(Verb::Set);
    rest = SkipBlanks(rest);
    std::size_t n = 0;
    while (n < rest.size() && !IsBlank(rest[n])) ++n;
    if (n == 0) return Error("set needs a control name");
    c.name = std::string(rest.substr(0, n));
    // One blank separates the name from the text; anything after it is text.
    if (n < rest.size()) c.text = std::string(rest.substr(n + 1));
    return Ok(std::move(c));
}

ParsedLine ParseChoose(std::string_view rest) {
    const std::string_view path = TrimEnd(SkipBlanks(rest));
    if (path.empty()) return Error("choose needs a path or cancel");
    Command c = Of(Verb::Choose);
    if (path == "cancel")
        c.flag = true;
    else
        c.text = std::string(path);
    return Ok(std::move(c));
}

// sleep MS, wait [MS], wait call [MS].
ParsedLine ParseSleepOrWait(std::string_view verb, std::vector<std::string_view> args) {
    const bool is_wait = verb == "wait";
    const bool call = is_wait && !args.empty() && args[0] == "call";
    if (call) args.erase(args.begin());
    const std::string spelling = call ? "wait call" : std::string(verb);
    if (args.size() > 1 || (!is_wait && args.empty()))
        return Error(spelling + (is_wait ? " takes at most" : " takes") + " one number of milliseconds");
    Command c = Of(call ? Verb::WaitCall : is_wait ? Verb::Wait : Verb::Sleep);
    if (!args.empty()) {
        const auto ms = ParseMilliseconds(args[0]);
        if (!ms) return Error("bad number of milliseconds " + Quoted(args[0]));
        c.number = *ms;
        c.flag = true;
    }
    return Ok(std::move(c));
}

}  // namespace

std::string_view VerbName(Verb verb) {
    switch (verb) {
        case Verb::Set:
            return "set";
        case Verb::Click:
            return "click";
        case Verb::Select:
            return "select";
        case Verb::KeyEnter:
            return "key enter";
        case Verb::KeyEscape:
            return "key escape";
        case Verb::Close:
            return "close";
        case Verb::Answer:
            return "answer";
        case Verb::Choose:
            return "choose";
        case Verb::Sleep:
            return "sleep";
        case Verb::Wait:
            return "wait";
        case Verb::WaitCall:
            return "wait call";
        case Verb::Print:
            return "print";
        case Verb::Text:
            return "text";
        case Verb::Enabled:
            return "enabled";
        case Verb::Selection:
            return "selection";
        case Verb::Items:
            return "items";
        case Verb::Title:
            return "title";
        case Verb::About:
            return "about";
    }
    return "?";
}

ParsedLine ParseLine(std::string_view line) {
    std::string_view rest = SkipBlanks(line);
    if (rest.empty() || rest.front() == '#') return {};
    const std::string_view verb = NextWord(rest);

    if (verb == "set") return ParseSet(rest);
    if (verb == "choose") return ParseChoose(rest);

    const std::vector<std::string_view> args = Words(rest);
    for (const NameVerb& v : kNameVerbs) {
        if (verb != v.word) continue;
        if (args.size() != 1) return Error(std::string(verb) + " takes one control name");
        Command c = Of(v.verb);
        c.name = std::string(args[0]);
        return Ok(std::move(c));
    }
    for (const NameVerb& v : kBareVerbs) {
        if (verb != v.word) continue;
        if (!args.empty()) return Error(std::string(verb) + " takes no arguments");
        return Ok(Of(v.verb));
    }
    if (verb == "select") {
        if (args.size() != 2) return Error("select takes a list name and a position");
        const auto pos = ParseInteger(args[1]);
        if (!pos || *pos < std::numeric_limits<int>::min() || *pos > std::numeric_limits<int>::max())
            return Error("bad position " + Quoted(args[1]));
        Command c = Of(Verb::Select);
        c.name = std::string(args[0]);
        c.number = *pos;
        return Ok(std::move(c));
    }
    if (verb == "key") {
        if (args.size() == 2 && args[0] == "enter") {
            Command c = Of(Verb::KeyEnter);
            c.name = std::string(args[1]);
            return Ok(std::move(c));
        }
        if (args.size() == 1 && args[0] == "escape") return Ok(Of(Verb::KeyEscape));
        return Error(R"(key takes "enter NAME" or "escape")");
    }
    if (verb == "answer") {
        if (args.size() != 1 || (args[0] != "yes" && args[0] != "no")) return Error("answer takes yes or no");
        Command c = Of(Verb::Answer);
        c.flag = args[0] == "yes";
        return Ok(std::move(c));
    }
    if (verb == "sleep" || verb == "wait") return ParseSleepOrWait(verb, args);
    return Error("unknown verb " + Quoted(verb));
}

std::string Quoted(std::string_view s) {
    constexpr std::size_t kShown = 64;
    if (s.size() <= kShown) return "\"" + std::string(s) + "\"";
    std::size_t cut = kShown;
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
    return "\"" + std::string(s.substr(0, cut)) + "...\" (" + std::to_string(s.size()) + " bytes)";
}

}  // namespace kt::script
