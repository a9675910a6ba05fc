// kt62emu's command line and the programmer a command works on: what every
// command of the tool starts with.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "emu/device_state.h"
#include "emu/lock_file.h"
#include "emu/profile.h"

namespace kt62emu {

// Exit statuses, documented in docs/kt62emu.md.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInUse = 3;

// A command that cannot go on: main prints the message and exits with the status.
struct Failure {
    int status;
    std::string message;
};

[[noreturn]] inline void Fail(int status, std::string message) { throw Failure{status, std::move(message)}; }

struct Args {
    std::vector<std::string> positional;
    std::map<std::string, std::string> values;
    std::set<std::string> flags;

    bool Has(const std::string& name) const { return values.contains(name); }
    std::string Get(const std::string& name) const {
        const auto it = values.find(name);
        return it == values.end() ? std::string() : it->second;
    }
};

// Options of one command, read with CLI11: those with a value (the next word, or after "=") and
// plain flags. "-o" stands for "--output". The words that are no option stay, in order, in
// `positional`. A fault is named as it always was, the first in the order of the words.
Args Parse(const std::vector<std::string>& words, const std::set<std::string>& valued,
           const std::set<std::string>& flags);
// A decimal number from 0 to max, for the option --name.
uint64_t ParseCount(const std::string& name, const std::string& text, uint64_t max);
// "8G", "512M", "1048576": bytes, with binary multiples.
uint64_t ParseSize(const std::string& name, const std::string& text);

struct Target {
    std::string profile_file;  // empty: the built-in programmer
    kt62::Profile profile;
    std::filesystem::path state_dir;
    int position = 0;

    const kt62::ProgrammerProfile& Programmer() const {
        return profile.programmers[static_cast<size_t>(position)];
    }
    kt62::emu::DeviceContext Context() const { return kt62::emu::DeviceContext{state_dir, position}; }
    std::string Name() const { return "programmer " + std::to_string(position); }
};

// --profile, else $KT62_EMULATOR, else empty (the built-in programmer).
std::string ProfileFileOption(const Args& a);
// --position, 0 when not given.
int PositionOption(const Args& a);
// A whole input file (a profile or a payload), or a failure that names it.
std::string ReadInput(const std::string& file);
Target ResolveTarget(const std::string& profile_file, int position);
// The same lock kt62Open takes, so that a running program and this tool never share a device.
kt62::emu::LockFile LockProgrammer(const Target& t);
void WriteFileReplacing(const std::string& file, const std::string& content);

}  // namespace kt62emu
