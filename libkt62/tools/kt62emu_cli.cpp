#include "kt62emu_cli.h"

#include <charconv>
#include <cstdlib>
#include <optional>
#include <system_error>
#include <utility>

#include "config.h"
#include "emu/programmer.h"
#include "fileio/file_access.h"

namespace kt62emu {
namespace {

// A profile or a payload: what is bigger is not one, and reading /dev/zero must end.
constexpr std::size_t kMaxInputBytes = 16 << 20;

}  // namespace

namespace emu = kt62::emu;

Args Parse(const std::vector<std::string>& words, const std::set<std::string>& valued,
           const std::set<std::string>& flags) {
    Args a;
    for (size_t i = 0; i < words.size(); ++i) {
        std::string w = words[i];
        // Messages name the option as it was typed: "-o", not the "--output" it stands for.
        const std::string typed = w.substr(0, w.find('='));
        if (w == "-o") w = "--output";
        if (w.rfind("--", 0) != 0 || w == "--") {
            a.positional.push_back(w);
            continue;
        }
        std::string name = w.substr(2);
        std::optional<std::string> value;
        if (const size_t eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        if (flags.contains(name)) {
            if (value) Fail(kExitUsage, typed + " takes no value");
            a.flags.insert(name);
        } else if (valued.contains(name)) {
            if (!value) {
                if (i + 1 >= words.size()) Fail(kExitUsage, typed + " needs a value");
                value = words[++i];
            }
            if (a.values.contains(name)) Fail(kExitUsage, typed + " given twice");
            a.values[name] = *value;
        } else {
            Fail(kExitUsage, "unknown option " + typed);
        }
    }
    return a;
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
