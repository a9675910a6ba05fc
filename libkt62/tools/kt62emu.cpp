// kt62emu: makes, shows and power-cycles the emulated UFS devices behind the access library, and
// builds programmer firmware images. Usage: kt62emu help (or docs/kt62emu.md).
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "config.h"
#include "emu/device_state.h"
#include "emu/firmware.h"
#include "emu/lock_file.h"
#include "emu/profile.h"
#include "emu/programmer.h"
#include "emu/programmer_state.h"
#include "fileio/file_access.h"
#include "kt62emu_cli.h"
#include "kt62emu_show.h"

namespace kt62emu {
namespace {

namespace fs = std::filesystem;
namespace emu = kt62::emu;
// Keeps keys in the order written: profiles keep their layout.
using json = nlohmann::ordered_json;

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

// ---- create ---------------------------------------------------------------------------------

// The ufs keys the options set.
json UfsKeysOf(const Args& a) {
    json keys = json::object();
    if (a.Has("capacity")) keys["raw_capacity_bytes"] = ParseSize("capacity", a.Get("capacity"));
    if (a.Has("manufacturer")) keys["manufacturer_name"] = a.Get("manufacturer");
    if (a.Has("product")) keys["product_name"] = a.Get("product");
    if (a.Has("serial")) keys["serial_number"] = a.Get("serial");
    if (a.Has("spec-version")) keys["spec_version"] = a.Get("spec-version");
    if (a.flags.contains("lock")) keys["config_descr_lock"] = 1;
    return keys;
}

// The profile file's text with the keys set on programmer `position` (made where missing); keys
// of the profile other than these stay as they are. Fails when the result is no valid profile.
std::string ProfileWithKeys(const std::string& profile_file, int position, const json& ufs_keys) {
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
    const std::string where = profile_file + ": programmers[" + std::to_string(position) + "]";
    if (!programmer.is_object()) Fail(kExitFailed, where + ": must be an object");
    if (!programmer.contains("ufs")) programmer["ufs"] = json::object();
    if (!programmer["ufs"].is_object()) Fail(kExitFailed, where + ".ufs: must be an object");
    for (const auto& [key, value] : ufs_keys.items()) programmer["ufs"][key] = value;
    std::string text = doc.dump(2) + "\n";
    const kt62::ParsedProfile parsed = kt62::ParseProfile(text);
    if (parsed.error) Fail(kExitFailed, kt62::ProfileMessage(profile_file, *parsed.error) + "; not changed");
    return text;
}

// Fails unless the programmer's device keys describe a device, and, for a profile, unless the
// folder above the state folder is there: a mistyped path makes nothing.
void CheckCreatable(const Target& t, const std::string& profile_file, int position) {
    if (const auto problem = emu::CheckUfsProfile(t.Programmer().ufs)) {
        const std::string where = "programmers[" + std::to_string(position) + "].ufs";
        Fail(kExitFailed, (profile_file.empty() ? std::string("built-in profile") : profile_file) + ": " +
                              where + (problem->key.empty() ? "" : "." + problem->key) + ": " +
                              problem->reason);
    }
    if (profile_file.empty()) return;
    std::error_code ec;
    if (!fs::is_directory(t.state_dir.parent_path(), ec))
        Fail(kExitFailed, t.state_dir.parent_path().string() + ": no such folder; nothing created");
}

int Create(const std::vector<std::string>& words) {
    const Args a =
        Parse(words, {"profile", "position", "capacity", "manufacturer", "product", "serial", "spec-version"},
              {"lock"});
    if (!a.positional.empty()) Fail(kExitUsage, "create: unexpected \"" + a.positional[0] + "\"");
    const std::string profile_file = ProfileFileOption(a);
    const int position = PositionOption(a);
    const json ufs_keys = UfsKeysOf(a);
    // The library always gives the built-in programmer the default device.
    if (profile_file.empty() && !ufs_keys.empty())
        Fail(kExitUsage,
             "the built-in programmer has the default device only; name a profile with --profile FILE");

    std::optional<std::string> new_profile;
    Target t;
    if (!profile_file.empty()) {
        new_profile = ProfileWithKeys(profile_file, position, ufs_keys);
        t.profile_file = profile_file;
        t.position = position;
        t.profile = kt62::ParseProfile(*new_profile).profile;
        t.state_dir = kt62::ProfileStateDir(profile_file, t.profile.state_dir);
    } else {
        t = ResolveTarget(profile_file, position);
    }
    CheckCreatable(t, profile_file, position);
    // The state folder is made here, on request.
    const emu::LockFile lock = LockProgrammer(t);
    if (new_profile) WriteFileReplacing(profile_file, *new_profile);
    std::string error;
    if (emu::CreateFreshDevice(t.Context(), t.Programmer().ufs, error) != KT62_OK) Fail(kExitFailed, error);
    std::cout << "created a factory-fresh device for " << t.Name() << "\n"
              << "  profile       " << (profile_file.empty() ? "built-in" : profile_file) << "\n"
              << "  state folder  " << t.state_dir.string() << "\n";
    return kExitOk;
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
    // The command words; each command's options are read with CLI11 (Parse).
    if (command == "help" || command == "--help" || command == "-h") {
        std::cout << kUsage;
        return kExitOk;
    }
    if (command == "--version" && rest.empty()) {
        std::cout << "kt62emu " << KT_PACKAGE_VERSION << "\n";
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
}  // namespace kt62emu

int main(int argc, char** argv) {
    try {
        const int status = kt62emu::Run(std::vector<std::string>(argv + 1, argv + argc));
        // What did not reach standard output (a full disk, /dev/full) is no success.
        if (const auto failed = kt::fileio::FlushStandardOutput())
            kt62emu::Fail(kt62emu::kExitFailed, *failed);
        return status;
    } catch (const kt62emu::Failure& f) {
        std::cerr << "kt62emu: " << f.message << "\n";
        if (f.status == kt62emu::kExitUsage)
            std::cerr << "Run \"kt62emu help\" for the commands and their options.\n";
        return f.status;
    } catch (const std::exception& e) {
        std::cerr << "kt62emu: " << e.what() << "\n";
        return kt62emu::kExitFailed;
    }
}
