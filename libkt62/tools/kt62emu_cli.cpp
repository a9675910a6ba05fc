#include "kt62emu_cli.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <cstdlib>
#include <system_error>
#include <utility>

#include "config.h"
#include "emu/programmer.h"
#include "fileio/file_access.h"

namespace kt62emu {
namespace {

// A profile or a payload: what is bigger is not one, and reading /dev/zero must end.
constexpr std::size_t kMaxInputBytes = 16 << 20;

// Messages name an option as it was typed: "--capacity", not "--capacity=8G".
std::string Typed(const std::string& word) { return word.substr(0, word.find('=')); }

// Reads one command's words with CLI11 and names a fault as the tool always has: the first in the
// order of the words, an option as it was typed. Each option is taken when CLI11 meets it.
class CommandReader {
public:
    CommandReader(const std::vector<std::string>& words, const std::set<std::string>& valued,
                  const std::set<std::string>& flags)
        : words_(words), flags_(flags), left_(words.rbegin(), words.rend()) {
        app_.set_help_flag();  // "kt62emu help" prints the usage; a command takes no --help
        app_.allow_extras();   // the words that are no option, in order, and unknown options
        const auto add = [this](const std::string& name, const std::string& typed) {
            app_.add_option_function<std::string>(typed,
                                                  [=, this](const std::string& v) { Take(name, typed, v); })
                ->trigger_on_parse();
        };
        for (const std::string& name : valued) {
            add(name, "--" + name);
            if (name == "output") add(name, "-o");
        }
        for (const std::string& name : flags)
            app_.add_flag_callback("--" + name, [this, name] { TakeFlag(name); })
                ->disable_flag_override()
                ->trigger_on_parse();
    }

    Args Read() {
        try {
            app_.parse(left_);
        } catch (const CLI::ParseError&) {
            // A value missing at the end, or one given to a flag: CLI11's own text is not the tool's.
            RefuseUnknownOption();
            if (left_.size() >= words_.size()) throw;
            const std::string typed = Typed(LastRead());
            if (flags_.contains(typed.substr(2))) Fail(kExitUsage, typed + " takes no value");
            if (LastRead() != typed + "=") Fail(kExitUsage, typed + " needs a value");
            Take(typed.substr(2), typed, "");
        }
        RefuseUnknownOption();
        args_.positional = app_.remaining();
        return std::move(args_);
    }

private:
    // CLI11 takes the words from the back of left_; back = 1 is the one before the last it took.
    const std::string& LastRead(size_t back = 0) const {
        return words_[words_.size() - left_.size() - 1 - back];
    }

    // An option CLI11 did not know, met so far, is named before any later fault. After "--" it
    // leaves known ones too, which were options all the same.
    void RefuseUnknownOption() const {
        for (const std::string& word : app_.remaining()) {
            const bool option = (word.starts_with("--") && word != "--") || word == "-o";
            if (option && app_.get_option_no_throw(Typed(word)) == nullptr)
                Fail(kExitUsage, "unknown option " + Typed(word));
        }
    }

    void Take(const std::string& name, const std::string& typed, std::string value) {
        RefuseUnknownOption();
        // "--name=" is an empty value; CLI11 took the next word instead, which is given back.
        const bool attached = LastRead() == typed + "=" + value;
        if (!attached && typed.starts_with("--") && words_.size() - left_.size() >= 2 &&
            LastRead(1) == typed + "=") {
            left_.push_back(LastRead());
            value.clear();
        }
        if (args_.values.contains(name)) Fail(kExitUsage, typed + " given twice");
        args_.values[name] = std::move(value);
    }

    void TakeFlag(const std::string& name) {
        RefuseUnknownOption();
        // "--lock=", "--lock=true": CLI11 takes them for the flag.
        if (LastRead() != "--" + name) Fail(kExitUsage, "--" + name + " takes no value");
        args_.flags.insert(name);
    }

    const std::vector<std::string>& words_;
    const std::set<std::string>& flags_;
    std::vector<std::string> left_;
    CLI::App app_;
    Args args_;
};

}  // namespace

namespace emu = kt62::emu;

Args Parse(const std::vector<std::string>& words, const std::set<std::string>& valued,
           const std::set<std::string>& flags) {
    return CommandReader(words, valued, flags).Read();
}

uint64_t ParseCount(const std::string& name, const std::string& text, uint64_t max) {
    uint64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v > max)
        Fail(kExitUsage,
             "--" + name + ": expected a number from 0 to " + std::to_string(max) + ", got \"" + text + "\"");
    return v;
}

uint64_t ParseSize(const std::string& name, const std::string& text) {
    static const std::pair<const char*, int> kSuffixes[] = {
        {"KiB", 10}, {"MiB", 20}, {"GiB", 30}, {"TiB", 40}, {"K", 10}, {"M", 20}, {"G", 30}, {"T", 40}};
    std::string digits = text;
    int shift = 0;
    for (const auto& [suffix, bits] : kSuffixes) {
        const std::string s = suffix;
        if (digits.size() > s.size() && digits.compare(digits.size() - s.size(), s.size(), s) == 0) {
            digits.resize(digits.size() - s.size());
            shift = bits;
            break;
        }
    }
    const uint64_t n = ParseCount(name, digits, UINT64_MAX >> shift);
    return n << shift;
}

std::string ProfileFileOption(const Args& a) {
    if (a.Has("profile")) {
        if (a.Get("profile").empty()) Fail(kExitUsage, "--profile: empty file name");
        return a.Get("profile");
    }
    const char* env = std::getenv("KT62_EMULATOR");  // NOLINT(concurrency-mt-unsafe): one thread, no setenv
    return env ? env : "";
}

int PositionOption(const Args& a) {
    return a.Has("position")
               ? static_cast<int>(ParseCount("position", a.Get("position"), kt62::kMaxProgrammers - 1))
               : 0;
}

std::string ReadInput(const std::string& file) {
    std::string why;
    auto text = kt::fileio::ReadWhole(file, kMaxInputBytes, why);
    if (!text) Fail(kExitFailed, file + ": cannot be read: " + why);
    return std::move(*text);
}

Target ResolveTarget(const std::string& profile_file, int position) {
    Target t;
    t.profile_file = profile_file;
    t.position = position;
    if (profile_file.empty()) {
        t.profile = kt62::DefaultProfile();
        t.state_dir = kt62::DefaultStateDir();
        if (t.state_dir.empty()) Fail(kExitFailed, "no state folder: neither XDG_DATA_HOME nor HOME is set");
    } else {
        kt62::ParsedProfile parsed = kt62::ParseProfile(ReadInput(profile_file));
        if (parsed.error) Fail(kExitFailed, kt62::ProfileMessage(profile_file, *parsed.error));
        t.profile = std::move(parsed.profile);
        t.state_dir = kt62::ProfileStateDir(profile_file, t.profile.state_dir);
    }
    if (static_cast<size_t>(position) >= t.profile.programmers.size())
        Fail(kExitFailed, (profile_file.empty() ? std::string("the built-in emulator") : profile_file) +
                              " has " + std::to_string(t.profile.programmers.size()) +
                              " programmer(s); there is no position " + std::to_string(position));
    return t;
}

emu::LockFile LockProgrammer(const Target& t) {
    const emu::Programmer programmer(t.position, t.Programmer(), t.state_dir);
    emu::LockFile lock;
    std::string why;
    switch (emu::LockFile::Acquire(programmer.LockPath(), lock, why)) {
        case emu::LockFile::Outcome::Locked:
            break;
        case emu::LockFile::Outcome::InUse:
            Fail(kExitInUse, t.Name() + " is in use" + why + " (" + programmer.LockPath().string() + ")");
        case emu::LockFile::Outcome::Failed:
            Fail(kExitFailed, t.Name() + " cannot be locked: " + why);
    }
    return lock;
}

void WriteFileReplacing(const std::string& file, const std::string& content) {
    std::string why;
    if (!kt::fileio::ReplaceWhole(file, content, why)) Fail(kExitFailed, "cannot write " + file + ": " + why);
}

}  // namespace kt62emu
