#include "kt62emu_show.h"

#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "emu/device_state.h"
#include "emu/firmware.h"
#include "emu/programmer.h"
#include "emu/programmer_state.h"
#include "kt62emu_cli.h"
#include "ufs/descriptor_fields.h"
#include "ufs/idn.h"

namespace kt62emu {
namespace {

namespace emu = kt62::emu;
// Keeps keys in the order written: output reads top-down.
using json = nlohmann::ordered_json;

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

// The longest flag or attribute name (fWriteBoosterBufferFlushDuringHibernate) and two spaces.
constexpr size_t kParameterNameWidth = 41;

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
uint16_t UfsVersion(const emu::DeviceView& view) {
    for (const emu::DescriptorView& d : view.descriptors)
        if (d.idn == kt::ufs::kDeviceDescriptor) return kt::ufs::VersionOf(d.bytes);
    return 0;
}

json FieldJson(const kt::ufs::DecodedField& f) {
    json j = {{"offset", f.offset}, {"size", f.size}, {"name", f.name}};
    if (f.numeric)
        j["value"] = f.value;
    else
        j["hex"] = HexBytes(f.bytes);
    if (!f.text.empty()) j["text"] = f.text;
    if (!f.meaning.empty()) j["meaning"] = f.meaning;
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
    const uint16_t version = UfsVersion(*view);
    for (const emu::DescriptorView& d : view->descriptors) {
        json fields = json::array();
        for (const auto& f : kt::ufs::DecodeDescriptor(d.idn, d.index, d.bytes, version))
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
    const uint16_t version = UfsVersion(*view);
    for (const emu::DescriptorView& d : view->descriptors) {
        o << "\n"
          << d.name << " descriptor (IDN " << Hex(d.idn, 1) << ", index " << Hex(d.index, 1) << ", "
          << d.bytes.size() << " bytes)\n";
        for (const auto& f : kt::ufs::DecodeDescriptor(d.idn, d.index, d.bytes, version)) {
            o << "  " << Hex(f.offset, 1) << "  " << Pad(f.name, 34) << " ";
            if (f.numeric)
                o << Hex(f.value, f.size) << " (" << f.value << ")";
            else
                o << HexBytes(f.bytes);
            if (!f.text.empty()) o << "  \"" << f.text << "\"";
            if (!f.meaning.empty()) o << "  " << f.meaning;
            o << "\n";
        }
    }
    auto table = [&o](const char* title, const std::vector<emu::ParameterView>& list, bool with_index) {
        o << "\n"
          << title << "\n  " << Pad("IDN", 6) << (with_index ? Pad("index", 7) + Pad("sel", 5) : "")
          << Pad("name", kParameterNameWidth) << Pad("access", 17) << Pad("persistent", 12) << "value\n";
        for (const emu::ParameterView& p : list) {
            o << "  " << Pad(Hex(p.idn, 1), 6);
            if (with_index) o << Pad(std::to_string(p.index), 7) << Pad(std::to_string(p.selector), 5);
            o << Pad(p.name, kParameterNameWidth) << Pad(p.access, 17) << Pad(p.persistent ? "yes" : "no", 12)
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

}  // namespace

std::string Hex(uint64_t v, size_t bytes) {
    char buf[24];
    (void)std::snprintf(buf, sizeof buf, "0x%0*llX", static_cast<int>(bytes * 2),  // 18 characters at most
                        static_cast<unsigned long long>(v));
    return buf;
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

}  // namespace kt62emu
