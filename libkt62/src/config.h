// Where the programmers come from: KT62_BACKEND chooses between the Linux
// hosts found (KT62_LINUX_ROOT, KT62_LINUX_WRITE, KT62_SG) and the emulated
// ones, from KT62_EMULATOR's profile or the built-in single programmer.
// Knows when to read the profile or look for hosts again.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "backend.h"
#include "emu/profile.h"
#include "faults.h"
#include "host/discovery.h"

namespace kt62 {

// A programmer of one load with its own fault rules, which the sessions opened on it share.
struct Attached {
    std::shared_ptr<Backend> backend;
    std::shared_ptr<FaultSet> faults;
};

// One load of the configuration: the programmers it describes and the top-level fault rules,
// with their counters fresh.
struct Emulation {
    explicit Emulation(const std::vector<FaultRule>& rules = {}) : faults(rules) {}
    void Add(std::shared_ptr<Backend> backend, std::vector<FaultRule> rules = {}) {
        programmers.push_back({std::move(backend), std::make_shared<FaultSet>(std::move(rules))});
    }
    std::vector<Attached> programmers;
    FaultSet faults;
};

// "<file>: <key>: <reason>", or "<file>: <reason>" for the file as a whole.
std::string ProfileMessage(const std::string& file, const ProfileError& error);

// The state folder of the built-in programmer: $XDG_DATA_HOME/kt6200/emulator, else
// ~/.local/share/kt6200/emulator. Empty when neither can be found.
std::filesystem::path DefaultStateDir();

// A profile's state folder: its state_dir relative to the profile's folder, by default the
// profile's file name with ".state" appended, beside it.
std::filesystem::path ProfileStateDir(const std::filesystem::path& profile_file,
                                      const std::optional<std::string>& state_dir);

// Not thread-safe: the registry calls it under its own lock.
class ConfigSource {
public:
    // The emulation in force. Reads the configuration when nothing is loaded yet; with
    // check_for_change also when the backend variables, the hosts found, KT62_EMULATOR, the
    // profile file (its identity, size, times or bytes) or the default state folder changed
    // since the last read.
    std::shared_ptr<Emulation> Get(bool check_for_change);

private:
    struct Snapshot {
        std::string backend;  // KT62_BACKEND, "auto" when unset
        bool linux_write = false;
        std::vector<host::HostNodes> hosts;
        std::string env;
        std::filesystem::path default_state_dir;
        int error = 0;  // errno of reading the profile
        bool regular = true;
        bool too_big = false;
        uint64_t dev = 0, ino = 0, size = 0;
        int64_t mtime_ns = 0, ctime_ns = 0;
        std::string content;
        bool operator==(const Snapshot&) const = default;
    };
    static Snapshot Take();
    static std::shared_ptr<Emulation> Build(const Snapshot& snap);

    std::shared_ptr<Emulation> current_;
    Snapshot last_;
};

}  // namespace kt62
