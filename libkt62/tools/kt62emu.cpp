// kt62emu: makes, shows and power-cycles the emulated UFS devices behind the access library, and
// builds programmer firmware images. Usage: kt62emu help (or docs/kt62emu.md).
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "config.h"
#include "descriptor_fields.h"
#include "emu/device_state.h"
#include "emu/firmware.h"
#include "emu/lock_file.h"
#include "emu/programmer.h"
#include "emu/programmer_state.h"
#include "fileio/file_access.h"
#include "profile.h"

namespace {

namespace fs = std::filesystem;
namespace emu = kt62::emu;
// Keeps keys in the order written: profiles keep their layout, output reads top-down.
using json = nlohmann::ordered_json;

// Exit statuses, documented in docs/kt62emu.md.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInUse = 3;

constexpr const char* kUsage = R"(usage:
  kt62emu create [--profile FILE] [--position N] [--capacity SIZE] [--manufacturer TEXT]
                 [--product TEXT] [--serial TEXT] [--spec-version V] [--lock]
  kt62emu show [--profile FILE] [--position N] [--json]
  kt62emu power-cycle [--profile FILE] [--position N]
  kt62emu firmware build --version X.Y.Z --payload FILE --output FILE [--model NAME]
                 [--truncate BYTES] [--bad-crc] [--bad-header-crc] [--bad-magic]
  kt62emu firmware check FILE
  kt62emu help | --help | --version

The device is programmer N (default 0) of the profile FILE, else of $KT62_EMULATOR, else the
built-in programmer in $XDG_DATA_HOME/kt6200/emulator. SIZE takes K, M, G or T (powers of 1024).
Exit status: 0 done, 1 failed, 2 bad command line, 3 programmer in use.
)";

struct Failure {
    int status;
    std::string message;
};

[[noreturn]] void Fail(int status, std::string message) { throw Failure{status, std::move(message)}; }

// ---- command line -------------------------------------------------------------------------

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

// Options of one command: those with a value and plain flags. "-o" stands for "--output".
Args Parse(const std::vector<std::string>& words, const std::set<std::string>& valued,
           const std::set<std::string>& flags) {
    Args a;
    for (size_t i = 0; i < words.size(); ++i) {
        std::string w = words[i];
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
            if (value) Fail(kExitUsage, "--" + name + " takes no value");
            a.flags.insert(name);
        } else if (valued.contains(name)) {
            if (!value) {
                if (i + 1 >= words.size()) Fail(kExitUsage, "--" + name + " needs a value");
                value = words[++i];
            }
            if (a.values.contains(name)) Fail(kExitUsage, "--" + name + " given twice");
            a.values[name] = *value;
        } else {
            Fail(kExitUsage, "unknown option --" + name);
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

// "8G", "512M", "1048576": bytes, with binary multiples.
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

// ---- the programmer a command works on ----------------------------------------------------

struct Target {
    std::string profile_file;  // empty: the built-in programmer
    kt62::Profile profile;
    fs::path state_dir;
    int position = 0;

    const kt62::ProgrammerProfile& Programmer() const {
        return profile.programmers[static_cast<size_t>(position)];
    }
    emu::DeviceContext Context() const { return emu::DeviceContext{state_dir, position}; }
    std::string Name() const { return "programmer " + std::to_string(position); }
};

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

// A profile or a payload: what is bigger is not one, and reading /dev/zero must end.
constexpr std::size_t kMaxInputBytes = 16 << 20;

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

// The same lock kt62Open takes, so that a running program and this tool never share a device.
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

// ---- create ---------------------------------------------------------------------------------

int Create(const std::vector<std::string>& words) {
    const Args a =
        Parse(words, {"profile", "position", "capacity", "manufacturer", "product", "serial", "spec-version"},
              {"lock"});
    if (!a.positional.empty()) Fail(kExitUsage, "create: unexpected \"" + a.positional[0] + "\"");
    const std::string profile_file = ProfileFileOption(a);
    const int position = PositionOption(a);

    json ufs_keys = json::object();
    if (a.Has("capacity")) ufs_keys["raw_capacity_bytes"] = ParseSize("capacity", a.Get("capacity"));
    if (a.Has("manufacturer")) ufs_keys["manufacturer_name"] = a.Get("manufacturer");
    if (a.Has("product")) ufs_keys["product_name"] = a.Get("product");
    if (a.Has("serial")) ufs_keys["serial_number"] = a.Get("serial");
    if (a.Has("spec-version")) ufs_keys["spec_version"] = a.Get("spec-version");
    if (a.flags.contains("lock")) ufs_keys["config_descr_lock"] = 1;

    std::optional<std::string> new_profile;
    if (profile_file.empty()) {
        // The library always gives the built-in programmer the default device.
        if (!ufs_keys.empty())
            Fail(kExitUsage,
                 "the built-in programmer has the default device only; name a profile with --profile FILE");
    } else {
        // Keys of the profile other than these stay as they are.
        json doc = json::object();
        std::error_code ec;
        if (fs::exists(profile_file, ec) || fs::is_symlink(profile_file, ec)) {
            doc = json::parse(ReadInput(profile_file), nullptr, false);
            if (doc.is_discarded() || !doc.is_object())
                Fail(kExitFailed, profile_file + ": not a profile (a JSON object); not changed");
        }
        if (!doc.contains("programmers")) doc["programmers"] = json::array({json::object()});
        json& programmers = doc["programmers"];
        if (!programmers.is_array())
            Fail(kExitFailed, profile_file + ": programmers: must be a list; not changed");
        while (programmers.size() <= static_cast<size_t>(position)) programmers.push_back(json::object());
        json& programmer = programmers[static_cast<size_t>(position)];
        if (!programmer.is_object())
            Fail(kExitFailed,
                 profile_file + ": programmers[" + std::to_string(position) + "]: must be an object");
        if (!programmer.contains("ufs")) programmer["ufs"] = json::object();
        if (!programmer["ufs"].is_object())
            Fail(kExitFailed,
                 profile_file + ": programmers[" + std::to_string(position) + "].ufs: must be an object");
        for (const auto& [key, value] : ufs_keys.items()) programmer["ufs"][key] = value;
        const std::string text = doc.dump(2) + "\n";
        const kt62::ParsedProfile parsed = kt62::ParseProfile(text);
        if (parsed.error)
            Fail(kExitFailed, kt62::ProfileMessage(profile_file, *parsed.error) + "; not changed");
        new_profile = text;
    }

    Target t;
    if (new_profile) {
        t.profile_file = profile_file;
        t.position = position;
        t.profile = kt62::ParseProfile(*new_profile).profile;
        t.state_dir = kt62::ProfileStateDir(profile_file, t.profile.state_dir);
    } else {
        t = ResolveTarget(profile_file, position);
    }
    if (const auto problem = emu::CheckUfsProfile(t.Programmer().ufs)) {
        const std::string where = "programmers[" + std::to_string(position) + "].ufs";
        Fail(kExitFailed, (profile_file.empty() ? std::string("built-in profile") : profile_file) + ": " +
                              where + (problem->key.empty() ? "" : "." + problem->key) + ": " +
                              problem->reason);
    }
    // The state folder is made here, on request; the folders above it must be there already, so
    // that a mistyped path makes nothing.
    if (!profile_file.empty()) {
        std::error_code ec;
        if (!fs::is_directory(t.state_dir.parent_path(), ec))
            Fail(kExitFailed, t.state_dir.parent_path().string() + ": no such folder; nothing created");
    }
    const emu::LockFile lock = LockProgrammer(t);
    if (new_profile) WriteFileReplacing(profile_file, *new_profile);
    std::string error;
    if (emu::CreateFreshDevice(t.Context(), t.Programmer().ufs, error) != KT62_OK) Fail(kExitFailed, error);
    std::cout << "created a factory-fresh device for " << t.Name() << "\n"
              << "  profile       " << (profile_file.empty() ? "built-in" : profile_file) << "\n"
              << "  state folder  " << t.state_dir.string() << "\n";
    return kExitOk;
}

// ---- show -----------------------------------------------------------------------------------

std::string Hex(uint64_t v, size_t bytes) {
    char buf[24];
    (void)std::snprintf(buf, sizeof buf, "0x%0*llX", static_cast<int>(bytes * 2),  // 18 characters at most
                        static_cast<unsigned long long>(v));
    return buf;
}

std::string HexBytes(const std::vector<uint8_t>& bytes) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        (void)std::snprintf(buf, sizeof buf, "%02X", bytes[i]);  // two digits
        if (i > 0) s += ' ';
        s += buf;
    }
    return s;
}

std::string Pad(std::string s, size_t width) {
    if (s.size() < width) s.append(width - s.size(), ' ');
    return s;
}

struct FirmwareInfo {
    emu::FirmwareVersion running{};
    bool stored = false;
    emu::ProgrammerState state;
    std::string error;
};

FirmwareInfo ReadFirmware(const Target& t) {
    FirmwareInfo f;
    f.running = t.Programmer().firmware_version;
    switch (emu::LoadProgrammerState(emu::FirmwareStatePath(t.state_dir, t.position), f.state, f.error)) {
        case emu::StateLoad::Absent:
            break;
        case emu::StateLoad::Loaded:
            f.stored = true;
            f.running = f.state.Active().version;
            break;
        case emu::StateLoad::Failed:
            break;
    }
    return f;
}

const char* SlotKind(emu::FirmwareSlot::Kind k) {
    switch (k) {
        case emu::FirmwareSlot::Kind::Empty:
            return "empty";
        case emu::FirmwareSlot::Kind::Factory:
            return "factory";
        case emu::FirmwareSlot::Kind::Image:
            return "image";
    }
    return "?";
}

// The device's UFS version, as its device descriptor says.
uint16_t SpecVersion(const emu::DeviceView& view) {
    for (const emu::DescriptorView& d : view.descriptors)
        if (d.idn == 0x00) return kt62emu::SpecVersionOf(d.bytes);
    return 0;
}

json FieldJson(const kt62emu::DecodedField& f) {
    json j = {{"offset", f.offset}, {"size", f.size}, {"name", f.name}};
    if (f.numeric)
        j["value"] = f.value;
    else
        j["hex"] = HexBytes(f.bytes);
    if (!f.text.empty()) j["text"] = f.text;
    return j;
}

json ShowJson(const Target& t, const FirmwareInfo& fw, const emu::DeviceView* view,
              const std::string& device_error) {
    json firmware;
    if (!fw.error.empty()) {
        firmware = {{"error", fw.error}};
    } else {
        firmware = {{"version", emu::VersionText(fw.running)}, {"source", fw.stored ? "stored" : "profile"}};
        if (fw.stored) {
            firmware["active_slot"] = fw.state.active;
            json slots = json::array();
            for (const emu::FirmwareSlot& s : fw.state.slots) {
                json slot = {{"kind", SlotKind(s.kind)}};
                if (s.kind != emu::FirmwareSlot::Kind::Empty) slot["version"] = emu::VersionText(s.version);
                if (s.kind == emu::FirmwareSlot::Kind::Image) {
                    slot["payload_bytes"] = s.payload.size();
                    slot["payload_crc32"] = Hex(s.payload_crc, 4);
                }
                slots.push_back(slot);
            }
            firmware["slots"] = slots;
        }
    }
    json out;
    out["programmer"] = {{"position", t.position},
                         {"serial", emu::Programmer::SerialFor(t.position)},
                         {"profile", t.profile_file.empty() ? json(nullptr) : json(t.profile_file)},
                         {"state_dir", t.state_dir.string()},
                         {"firmware", firmware}};
    if (!view) {
        out["device"] = {{"error", device_error}};
        return out;
    }
    json descriptors = json::array();
    const uint16_t version = SpecVersion(*view);
    for (const emu::DescriptorView& d : view->descriptors) {
        json fields = json::array();
        for (const auto& f : kt62emu::DecodeDescriptor(d.idn, d.index, d.bytes, version))
            fields.push_back(FieldJson(f));
        descriptors.push_back({{"name", d.name},
                               {"idn", d.idn},
                               {"index", d.index},
                               {"length", d.bytes.size()},
                               {"hex", HexBytes(d.bytes)},
                               {"fields", fields}});
    }
    auto params = [](const std::vector<emu::ParameterView>& list, bool with_index) {
        json arr = json::array();
        for (const emu::ParameterView& p : list) {
            json j = {{"name", p.name}, {"idn", p.idn}, {"access", p.access}, {"persistent", p.persistent}};
            if (with_index) {
                j["index"] = p.index;
                j["selector"] = p.selector;
            }
            j["value"] = p.value ? json(*p.value) : json(nullptr);
            arr.push_back(j);
        }
        return arr;
    };
    json dme = json::array();
    for (const emu::DmeView& d : view->dme)
        dme.push_back({{"name", d.name},
                       {"attr_id", d.attr_id},
                       {"selector", d.selector},
                       {"local", d.local},
                       {"peer", d.peer}});
    out["device"] = {{"state_file", view->state_file.string()},
                     {"factory_fresh", view->factory_fresh},
                     {"configuration_pending", view->configuration_pending},
                     {"descriptors", descriptors},
                     {"flags", params(view->flags, false)},
                     {"attributes", params(view->attributes, true)},
                     {"dme", dme}};
    return out;
}

void ShowText(std::ostream& o, const Target& t, const FirmwareInfo& fw, const emu::DeviceView* view,
              const std::string& device_error) {
    o << "Programmer " << t.position << " (serial " << emu::Programmer::SerialFor(t.position) << ")\n"
      << "  profile       " << (t.profile_file.empty() ? "built-in" : t.profile_file) << "\n"
      << "  state folder  " << t.state_dir.string() << "\n";
    if (!fw.error.empty()) {
        o << "  firmware      unreadable: " << fw.error << "\n";
    } else if (!fw.stored) {
        o << "  firmware      " << emu::VersionText(fw.running) << " (the profile's; no update stored)\n";
    } else {
        const emu::FirmwareSlot& other = fw.state.slots[1 - fw.state.active];
        o << "  firmware      " << emu::VersionText(fw.running) << " (stored, slot " << int(fw.state.active)
          << "; other slot: " << SlotKind(other.kind);
        if (other.kind != emu::FirmwareSlot::Kind::Empty) o << " " << emu::VersionText(other.version);
        o << ")\n";
    }
    if (!view) {
        o << "Device\n  unreadable: " << device_error << "\n";
        return;
    }
    o << "Device\n"
      << "  state file    " << view->state_file.string() << "\n"
      << "  state         " << (view->factory_fresh ? "factory-fresh (nothing stored yet)" : "stored") << "\n"
      << "  configuration "
      << (view->configuration_pending ? "written, takes effect at the next reset or power cycle"
                                      : "in effect")
      << "\n";
    const uint16_t version = SpecVersion(*view);
    for (const emu::DescriptorView& d : view->descriptors) {
        o << "\n"
          << d.name << " descriptor (IDN " << Hex(d.idn, 1) << ", index " << Hex(d.index, 1) << ", "
          << d.bytes.size() << " bytes)\n";
        for (const auto& f : kt62emu::DecodeDescriptor(d.idn, d.index, d.bytes, version)) {
            o << "  " << Hex(f.offset, 1) << "  " << Pad(f.name, 34) << " ";
            if (f.numeric)
                o << Hex(f.value, f.size) << " (" << f.value << ")";
            else
                o << HexBytes(f.bytes);
            if (!f.text.empty()) o << "  \"" << f.text << "\"";
            o << "\n";
        }
    }
    auto table = [&o](const char* title, const std::vector<emu::ParameterView>& list, bool with_index) {
        o << "\n"
          << title << "\n  " << Pad("IDN", 6) << (with_index ? Pad("index", 7) + Pad("sel", 5) : "")
          << Pad("name", 30) << Pad("access", 17) << Pad("persistent", 12) << "value\n";
        for (const emu::ParameterView& p : list) {
            o << "  " << Pad(Hex(p.idn, 1), 6);
            if (with_index) o << Pad(std::to_string(p.index), 7) << Pad(std::to_string(p.selector), 5);
            o << Pad(p.name, 30) << Pad(p.access, 17) << Pad(p.persistent ? "yes" : "no", 12)
              << (p.value ? Hex(*p.value, *p.value > 0xFFFF ? 4
                                          : *p.value > 0xFF ? 2
                                                            : 1) +
                                " (" + std::to_string(*p.value) + ")"
                          : "-")
              << "\n";
        }
    };
    table("Flags", view->flags, false);
    table("Attributes", view->attributes, true);
    o << "\nDME attributes\n  " << Pad("id", 8) << Pad("sel", 5) << Pad("name", 30) << Pad("local", 14)
      << "peer\n";
    for (const emu::DmeView& d : view->dme)
        o << "  " << Pad(Hex(d.attr_id, 2), 8) << Pad(std::to_string(d.selector), 5) << Pad(d.name, 30)
          << Pad(std::to_string(d.local), 14) << d.peer << "\n";
}

int Show(const std::vector<std::string>& words) {
    const Args a = Parse(words, {"profile", "position"}, {"json"});
    if (!a.positional.empty()) Fail(kExitUsage, "show: unexpected \"" + a.positional[0] + "\"");
    const Target t = ResolveTarget(ProfileFileOption(a), PositionOption(a));
    const emu::LockFile lock = LockProgrammer(t);
    const FirmwareInfo fw = ReadFirmware(t);
    emu::DeviceView view;
    std::string device_error;
    const bool device_ok =
        emu::ReadDeviceView(t.Context(), t.Programmer().ufs, view, device_error) == KT62_OK;
    if (a.flags.contains("json"))
        std::cout << ShowJson(t, fw, device_ok ? &view : nullptr, device_error).dump(2) << "\n";
    else
        ShowText(std::cout, t, fw, device_ok ? &view : nullptr, device_error);
    if (!fw.error.empty()) std::cerr << "kt62emu: " << fw.error << "\n";
    if (!device_ok) std::cerr << "kt62emu: " << device_error << "\n";
    return device_ok && fw.error.empty() ? kExitOk : kExitFailed;
}

// ---- power-cycle ----------------------------------------------------------------------------

int PowerCycle(const std::vector<std::string>& words) {
    const Args a = Parse(words, {"profile", "position"}, {});
    if (!a.positional.empty()) Fail(kExitUsage, "power-cycle: unexpected \"" + a.positional[0] + "\"");
    const Target t = ResolveTarget(ProfileFileOption(a), PositionOption(a));
    const emu::LockFile lock = LockProgrammer(t);
    emu::DeviceView before;
    std::string error;
    const bool pending = emu::ReadDeviceView(t.Context(), t.Programmer().ufs, before, error) == KT62_OK &&
                         before.configuration_pending;
    if (emu::PowerCycleDevice(t.Context(), t.Programmer().ufs, error) != KT62_OK) Fail(kExitFailed, error);
    std::cout << t.Name() << ": device power-cycled"
              << (pending ? "; the written configuration took effect" : "; no configuration was pending")
              << "\n";
    return kExitOk;
}

// ---- firmware -------------------------------------------------------------------------------

int FirmwareBuild(const std::vector<std::string>& words) {
    const Args a = Parse(words, {"version", "payload", "output", "model", "truncate"},
                         {"bad-crc", "bad-header-crc", "bad-magic"});
    if (!a.positional.empty()) Fail(kExitUsage, "firmware build: unexpected \"" + a.positional[0] + "\"");
    for (const char* required : {"version", "payload", "output"})
        if (!a.Has(required)) Fail(kExitUsage, std::string("firmware build: --") + required + " is required");
    emu::ImageRecipe r;
    const auto version = emu::ParseVersionText(a.Get("version"));
    if (!version)
        Fail(kExitUsage, "--version: expected X.Y.Z with numbers 0-255, got \"" + a.Get("version") + "\"");
    r.version = *version;
    const std::string payload = ReadInput(a.Get("payload"));
    r.payload.assign(payload.begin(), payload.end());
    if (a.Has("model")) r.model = a.Get("model");
    if (a.Has("truncate")) r.truncate_by = ParseCount("truncate", a.Get("truncate"), UINT32_MAX);
    r.bad_payload_crc = a.flags.contains("bad-crc");
    r.bad_header_crc = a.flags.contains("bad-header-crc");
    r.bad_magic = a.flags.contains("bad-magic");
    std::string why;
    const auto image = emu::BuildFirmwareImage(r, why);
    if (!image) Fail(kExitFailed, "firmware build: " + why);
    WriteFileReplacing(a.Get("output"), std::string(image->begin(), image->end()));
    std::cout << "wrote " << a.Get("output") << ": " << r.model << " firmware " << emu::VersionText(r.version)
              << ", " << r.payload.size() << " payload bytes, " << image->size() << " bytes in all\n";
    return kExitOk;
}

int FirmwareCheck(const std::vector<std::string>& words) {
    const Args a = Parse(words, {}, {});
    if (a.positional.size() != 1) Fail(kExitUsage, "firmware check: name one image file");
    emu::FirmwareImage image;
    const int32_t r = emu::ReadFirmwareImage(a.positional[0], image);
    if (r != KT62_OK) {
        std::cout << a.positional[0] << ": " << kt62ResultName(r) << " (" << kt62ResultText(r) << ")\n";
        return kExitFailed;
    }
    std::cout << a.positional[0] << ": " << emu::kFirmwareModel << " firmware "
              << emu::VersionText(image.version) << ", " << image.payload.size() << " payload bytes, CRC-32 "
              << Hex(image.payload_crc, 4) << "\n";
    return kExitOk;
}

int Run(const std::vector<std::string>& args) {
    if (args.empty()) Fail(kExitUsage, "no command given");
    const std::string& command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "help" || command == "--help" || command == "-h") {
        std::cout << kUsage;
        return kExitOk;
    }
    if (command == "create") return Create(rest);
    if (command == "show") return Show(rest);
    if (command == "power-cycle") return PowerCycle(rest);
    if (command == "firmware") {
        if (rest.empty()) Fail(kExitUsage, "firmware: say build or check");
        const std::vector<std::string> sub(rest.begin() + 1, rest.end());
        if (rest[0] == "build") return FirmwareBuild(sub);
        if (rest[0] == "check") return FirmwareCheck(sub);
        Fail(kExitUsage, "firmware: unknown command \"" + rest[0] + "\"");
    }
    Fail(kExitUsage, "unknown command \"" + command + "\"");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::cout << "kt62emu " << KT_PACKAGE_VERSION << "\n";
        return kExitOk;
    }
    try {
        const int status = Run(std::vector<std::string>(argv + 1, argv + argc));
        // What did not reach standard output (a full disk, /dev/full) is no success.
        if (const auto failed = kt::fileio::FlushStandardOutput()) Fail(kExitFailed, *failed);
        return status;
    } catch (const Failure& f) {
        std::cerr << "kt62emu: " << f.message << "\n";
        if (f.status == kExitUsage) std::cerr << "Run \"kt62emu help\" for the commands and their options.\n";
        return f.status;
    } catch (const std::exception& e) {
        std::cerr << "kt62emu: " << e.what() << "\n";
        return kExitFailed;
    }
}
