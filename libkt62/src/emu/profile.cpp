#include "emu/profile.h"

#include <initializer_list>
#include <nlohmann/json.hpp>

#include "emu/device_state.h"

namespace kt62 {
namespace {

using json = nlohmann::json;

constexpr int64_t kU8 = 0xFF;
constexpr int64_t kU32 = 0xFFFFFFFF;

// Thrown inside the parser only; ParseProfile turns it into a result.
struct Refusal {
    ProfileError error;
};

[[noreturn]] void Refuse(std::string key, std::string reason) {
    throw Refusal{{std::move(key), std::move(reason)}};
}

// Key names come from the file: keep them on one line and short.
std::string Printable(std::string_view key) {
    std::string out;
    for (unsigned char c : key.substr(0, 64)) {
        if (c < 0x20 || c == 0x7F) {
            static const char kHex[] = "0123456789abcdef";
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
    }
    if (key.size() > 64) out += "...";
    return out;
}

std::string Child(const std::string& path, std::string_view key) {
    return path.empty() ? Printable(key) : path + "." + Printable(key);
}
std::string Item(const std::string& path, size_t i) { return path + "[" + std::to_string(i) + "]"; }

void RequireObject(const json& j, const std::string& path) {
    if (!j.is_object()) Refuse(path, "must be an object");
}

void RequireKnownKeys(const json& j, const std::string& path, std::initializer_list<std::string_view> known) {
    RequireObject(j, path);
    for (const auto& item : j.items()) {
        bool found = false;
        for (std::string_view k : known) found = found || item.key() == k;
        if (!found) Refuse(Child(path, item.key()), "unknown key");
    }
}

const json* Find(const json& j, const char* key) {
    auto it = j.find(key);
    return it == j.end() ? nullptr : &*it;
}

int64_t Int(const json& j, const std::string& path, int64_t min, int64_t max) {
    bool ok = false;
    int64_t v = 0;
    if (j.is_number_unsigned()) {
        const uint64_t u = j.get<uint64_t>();
        ok = u <= static_cast<uint64_t>(max);
        v = ok ? static_cast<int64_t>(u) : 0;
    } else if (j.is_number_integer()) {
        v = j.get<int64_t>();
        ok = true;
    }
    if (!ok || v < min || v > max)
        Refuse(path, "must be an integer from " + std::to_string(min) + " to " + std::to_string(max));
    return v;
}

uint8_t Byte(const json& j, const std::string& path, int64_t min = 0, int64_t max = kU8) {
    return static_cast<uint8_t>(Int(j, path, min, max));
}

bool Bool(const json& j, const std::string& path) {
    if (!j.is_boolean()) Refuse(path, "must be true or false");
    return j.get<bool>();
}

std::string Text(const json& j, const std::string& path, size_t max_bytes) {
    if (!j.is_string() || j.get_ref<const std::string&>().size() > max_bytes)
        Refuse(path, "must be a text of at most " + std::to_string(max_bytes) + " bytes");
    return j.get<std::string>();
}

std::string Ascii(const json& j, const std::string& path, size_t max_chars) {
    const std::string reason =
        "must be a text of at most " + std::to_string(max_chars) + " printable ASCII characters";
    if (!j.is_string()) Refuse(path, reason);
    const auto& s = j.get_ref<const std::string&>();
    if (s.size() > max_chars) Refuse(path, reason);
    for (unsigned char c : s)
        if (c < 0x20 || c > 0x7E) Refuse(path, reason);
    return s;
}

std::vector<uint8_t> Hex(const json& j, const std::string& path, size_t max_bytes) {
    if (!j.is_string()) Refuse(path, "must be a hex string such as \"10 05 00 41\"");
    auto bytes = ParseHexBytes(j.get_ref<const std::string&>());
    if (!bytes) Refuse(path, "must be pairs of hexadecimal digits, optionally separated by blanks");
    if (bytes->size() > max_bytes)
        Refuse(path, "holds " + std::to_string(bytes->size()) + " bytes, at most " +
                         std::to_string(max_bytes) + " fit");
    return *bytes;
}

// Walks the raw text once so that absurd nesting is refused before a tree is built.
bool NestedTooDeep(std::string_view text) {
    int depth = 0;
    bool in_string = false;
    bool escaped = false;
    for (char c : text) {
        if (in_string) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxNesting) return true;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

void ParseMatch(const json& j, const std::string& path, Fn fn, FaultRule& rule) {
    RequireObject(j, path);
    const FnInfo& info = Info(fn);
    for (const auto& item : j.items()) {
        const std::string key_path = Child(path, item.key());
        const auto key = MatchKeyByName(item.key());
        if (!key) Refuse(key_path, "unknown key");
        if (!(info.match_keys & Bit(*key))) Refuse(key_path, std::string("not an argument of ") + info.name);
        int64_t v = 0;
        switch (*key) {
            case MatchKey::AttrId:
            case MatchKey::LbaFrom:
            case MatchKey::LbaTo:
                v = Int(item.value(), key_path, 0, kU32);
                break;
            case MatchKey::Position:
                v = Int(item.value(), key_path, INT32_MIN, INT32_MAX);
                break;
            default:
                v = Int(item.value(), key_path, 0, kU8);
                break;
        }
        rule.match[static_cast<size_t>(*key)] = v;
    }
    const auto& from = rule.match[static_cast<size_t>(MatchKey::LbaFrom)];
    const auto& to = rule.match[static_cast<size_t>(MatchKey::LbaTo)];
    if (from && to && *from > *to) Refuse(Child(path, "lba_to"), "must not be below lba_from");
}

void ParseOutput(const json& j, const std::string& path, Fn fn, Output out, FaultOutputs& outputs) {
    const FnInfo& info = Info(fn);
    if (!(info.outputs & Bit(out))) Refuse(path, std::string(info.name) + " has no output " + Name(out));
    switch (out) {
        case Output::Value:
            outputs.value = Int(j, path, info.value_min, info.value_max);
            break;
        case Output::Bytes:
            outputs.bytes = Hex(j, path, info.bytes_max);
            break;
        case Output::NameBytes:
            outputs.name_bytes = Hex(j, path, 16);
            break;
        case Output::VersionBytes:
            outputs.version_bytes = Hex(j, path, 4);
            break;
        case Output::Sectors:
            outputs.sectors = static_cast<uint32_t>(Int(j, path, 0, kU32));
            break;
        case Output::SectorSize:
            outputs.sector_size = static_cast<uint32_t>(Int(j, path, 0, kU32));
            break;
    }
}

FaultRule ParseRule(const json& j, const std::string& path, bool top_level) {
    RequireObject(j, path);
    const std::string call_path = Child(path, "call");
    const json* call = Find(j, "call");
    if (!call) Refuse(call_path, "missing: a rule names the function it applies to");
    if (!call->is_string()) Refuse(call_path, "must be a function name such as \"kt62UfsReadFlag\"");
    const auto& name = call->get_ref<const std::string&>();
    const auto fn = FnByName(name);
    if (!fn) Refuse(call_path, "unknown function \"" + Printable(name) + "\"");
    if (Info(*fn).top_level != top_level)
        Refuse(call_path, name + (top_level ? " rules belong in a programmer's faults"
                                            : " rules belong in the top-level faults"));

    FaultRule rule;
    rule.call = *fn;
    for (const auto& item : j.items()) {
        const std::string& key = item.key();
        const std::string key_path = Child(path, key);
        if (key == "call") continue;
        if (key == "match") {
            ParseMatch(item.value(), key_path, *fn, rule);
        } else if (key == "after") {
            rule.after = static_cast<uint64_t>(Int(item.value(), key_path, 0, kU32));
        } else if (key == "times") {
            rule.times = static_cast<uint64_t>(Int(item.value(), key_path, 0, kU32));
        } else if (key == "result") {
            rule.result = static_cast<int32_t>(Int(item.value(), key_path, INT32_MIN, INT32_MAX));
            if (*fn == Fn::Search && *rule.result != 0)
                Refuse(key_path, "kt62Search answers a count, not a result: give the count as value");
        } else if (key == "delay_ms") {
            rule.delay_ms = static_cast<uint32_t>(Int(item.value(), key_path, 0, kMaxDelayMs));
        } else if (const auto out = OutputByName(key)) {
            ParseOutput(item.value(), key_path, *fn, *out, rule.outputs);
        } else {
            Refuse(key_path, "unknown key");
        }
    }
    return rule;
}

std::vector<FaultRule> ParseRules(const json& j, const std::string& path, bool top_level) {
    if (!j.is_array()) Refuse(path, "must be a list of fault rules");
    std::vector<FaultRule> rules;
    for (size_t i = 0; i < j.size(); ++i) rules.push_back(ParseRule(j[i], Item(path, i), top_level));
    return rules;
}

LogicalUnitProfile ParseLogicalUnit(const json& j, const std::string& path) {
    RequireKnownKeys(
        j, path,
        {"enable", "boot_lun_id", "write_protect", "memory_type", "block_size_exponent", "alloc_units"});
    LogicalUnitProfile lu;
    if (const json* v = Find(j, "enable")) lu.enable = Byte(*v, Child(path, "enable"), 0, 1);
    if (const json* v = Find(j, "boot_lun_id")) lu.boot_lun_id = Byte(*v, Child(path, "boot_lun_id"), 0, 2);
    if (const json* v = Find(j, "write_protect"))
        lu.write_protect = Byte(*v, Child(path, "write_protect"), 0, 2);
    if (const json* v = Find(j, "memory_type")) lu.memory_type = Byte(*v, Child(path, "memory_type"), 0, 6);
    if (const json* v = Find(j, "block_size_exponent"))
        lu.block_size_exponent = Byte(*v, Child(path, "block_size_exponent"), 12, 16);
    if (const json* v = Find(j, "alloc_units"))
        lu.alloc_units = static_cast<uint32_t>(Int(*v, Child(path, "alloc_units"), 0, kU32));
    return lu;
}

// A gear means an HS gear in mode 2 and a PWM gear in mode 1.
void CheckGear(const std::optional<uint8_t>& mode, const std::optional<uint8_t>& gear,
               const std::string& path) {
    if (mode == 2 && gear > 5) Refuse(path, "HS gears go from 1 to 5");
}

LinkProfile ParseLink(const json& j, const std::string& path) {
    RequireKnownKeys(
        j, path, {"tx_mode", "tx_gear", "tx_rate_series", "rx_mode", "rx_gear", "rx_rate_series", "lanes"});
    LinkProfile link;
    struct Field {
        const char* key;
        std::optional<uint8_t> LinkProfile::*member;
        int64_t min, max;
    };
    static constexpr Field kFields[] = {
        {"tx_mode", &LinkProfile::tx_mode, 1, 2},
        {"tx_gear", &LinkProfile::tx_gear, 1, 7},
        {"tx_rate_series", &LinkProfile::tx_rate_series, 1, 2},
        {"rx_mode", &LinkProfile::rx_mode, 1, 2},
        {"rx_gear", &LinkProfile::rx_gear, 1, 7},
        {"rx_rate_series", &LinkProfile::rx_rate_series, 1, 2},
        {"lanes", &LinkProfile::lanes, 1, 2},
    };
    for (const Field& f : kFields)
        if (const json* v = Find(j, f.key)) link.*f.member = Byte(*v, Child(path, f.key), f.min, f.max);
    CheckGear(link.tx_mode, link.tx_gear, Child(path, "tx_gear"));
    CheckGear(link.rx_mode, link.rx_gear, Child(path, "rx_gear"));
    return link;
}

int64_t MultipleOf512(const json& j, const std::string& path, int64_t min, int64_t max) {
    const int64_t v = Int(j, path, min, max);
    if (v % 512 != 0) Refuse(path, "must be a multiple of 512");
    return v;
}

UfsProfile ParseUfs(const json& j, const std::string& path) {
    RequireKnownKeys(
        j, path,
        {"spec_version", "raw_capacity_bytes", "segment_size_bytes", "allocation_unit_segments",
         "manufacturer_name", "product_name", "serial_number", "config_descr_lock", "logical_units", "link"});
    UfsProfile ufs;
    if (const json* v = Find(j, "spec_version")) {
        const std::string key_path = Child(path, "spec_version");
        constexpr const char* kVersions = R"(must be one of "2.0", "2.1", "2.2", "3.0", "3.1", "4.0")";
        if (!v->is_string()) Refuse(key_path, kVersions);
        const auto& s = v->get_ref<const std::string&>();
        if (s != "2.0" && s != "2.1" && s != "2.2" && s != "3.0" && s != "3.1" && s != "4.0")
            Refuse(key_path, kVersions);
        ufs.spec_version = s;
    }
    if (const json* v = Find(j, "raw_capacity_bytes"))
        ufs.raw_capacity_bytes = static_cast<uint64_t>(
            MultipleOf512(*v, Child(path, "raw_capacity_bytes"), int64_t{1} << 20, int64_t{1} << 50));
    if (const json* v = Find(j, "segment_size_bytes"))
        ufs.segment_size_bytes =
            static_cast<uint64_t>(MultipleOf512(*v, Child(path, "segment_size_bytes"), 512, kU32 * 512));
    if (const json* v = Find(j, "allocation_unit_segments"))
        ufs.allocation_unit_segments = Byte(*v, Child(path, "allocation_unit_segments"), 1, kU8);
    if (const json* v = Find(j, "manufacturer_name"))
        ufs.manufacturer_name = Ascii(*v, Child(path, "manufacturer_name"), 8);
    if (const json* v = Find(j, "product_name"))
        ufs.product_name = Ascii(*v, Child(path, "product_name"), 16);
    if (const json* v = Find(j, "serial_number"))
        ufs.serial_number = Ascii(*v, Child(path, "serial_number"), 126);
    if (const json* v = Find(j, "config_descr_lock"))
        ufs.config_descr_lock = Byte(*v, Child(path, "config_descr_lock"), 0, 1);
    if (const json* v = Find(j, "logical_units")) {
        const std::string key_path = Child(path, "logical_units");
        if (!v->is_array() || v->size() > 8) Refuse(key_path, "must be a list of at most 8 logical units");
        ufs.logical_units.emplace();
        for (size_t i = 0; i < v->size(); ++i)
            ufs.logical_units->push_back(ParseLogicalUnit((*v)[i], Item(key_path, i)));
    }
    if (const json* v = Find(j, "link")) ufs.link = ParseLink(*v, Child(path, "link"));
    // Keys that are each fine may still describe no device: units beyond the capacity, two boot
    // units A, a gear the UFS version lacks.
    if (const auto problem = emu::CheckUfsProfile(ufs)) Refuse(path + "." + problem->key, problem->reason);
    return ufs;
}

ProgrammerProfile ParseProgrammer(const json& j, const std::string& path) {
    RequireKnownKeys(
        j, path,
        {"firmware_version", "get_version_supported", "product_name", "product_version", "ufs", "faults"});
    ProgrammerProfile p;
    if (const json* v = Find(j, "firmware_version")) {
        const std::string key_path = Child(path, "firmware_version");
        if (!v->is_array() || v->size() != 3)
            Refuse(key_path, "must be a list of 3 numbers from 0 to 255 (major, minor, patch)");
        for (size_t i = 0; i < 3; ++i) p.firmware_version[i] = Byte((*v)[i], Item(key_path, i));
    }
    if (const json* v = Find(j, "get_version_supported"))
        p.get_version_supported = Bool(*v, Child(path, "get_version_supported"));
    if (const json* v = Find(j, "product_name")) p.product_name = Text(*v, Child(path, "product_name"), 16);
    if (const json* v = Find(j, "product_version"))
        p.product_version = Text(*v, Child(path, "product_version"), 4);
    if (const json* v = Find(j, "ufs")) p.ufs = ParseUfs(*v, Child(path, "ufs"));
    if (const json* v = Find(j, "faults")) p.faults = ParseRules(*v, Child(path, "faults"), false);
    return p;
}

Profile ParseRoot(const json& j) {
    if (!j.is_object()) Refuse("", "the profile must be a JSON object");
    RequireKnownKeys(j, "", {"state_dir", "programmers", "faults"});
    Profile profile;
    if (const json* v = Find(j, "state_dir")) {
        if (!v->is_string() || v->get_ref<const std::string&>().empty() ||
            v->get_ref<const std::string&>().find('\0') != std::string::npos)
            Refuse("state_dir", "must be a folder path");
        profile.state_dir = v->get<std::string>();
    }
    if (const json* v = Find(j, "programmers")) {
        if (!v->is_array() || v->size() > kMaxProgrammers)
            Refuse("programmers",
                   "must be a list of at most " + std::to_string(kMaxProgrammers) + " programmers");
        for (size_t i = 0; i < v->size(); ++i)
            profile.programmers.push_back(ParseProgrammer((*v)[i], Item("programmers", i)));
    } else {
        profile.programmers.emplace_back();
    }
    if (const json* v = Find(j, "faults")) profile.faults = ParseRules(*v, "faults", true);
    return profile;
}

std::string ParseErrorText(const std::string& what) {
    // "[json.exception.parse_error.101] parse error at line 1, column 2: ..." without the tag.
    const auto tag_end = what.find("] ");
    return tag_end == std::string::npos ? what : what.substr(tag_end + 2);
}

}  // namespace

Profile DefaultProfile() {
    Profile p;
    p.programmers.emplace_back();
    return p;
}

std::optional<std::vector<uint8_t>> ParseHexBytes(std::string_view text) {
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::vector<uint8_t> out;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ' || text[i] == '\t') {
            ++i;
            continue;
        }
        // Digits come in pairs: a lone digit before a blank or the end is refused.
        if (i + 1 >= text.size()) return std::nullopt;
        const int hi = digit(text[i]);
        const int lo = digit(text[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out.push_back(static_cast<uint8_t>(hi << 4 | lo));
        i += 2;
    }
    return out;
}

ParsedProfile ParseProfile(std::string_view text) {
    ParsedProfile out;
    try {
        if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) Refuse("", "the file is empty");
        if (NestedTooDeep(text))
            Refuse("", "not a profile: nested deeper than " + std::to_string(kMaxNesting) + " levels");
        const json j = json::parse(text.begin(), text.end());
        out.profile = ParseRoot(j);
    } catch (const Refusal& r) {
        out.error = r.error;
    } catch (const json::exception& e) {
        out.error = ProfileError{"", "not valid JSON: " + ParseErrorText(e.what())};
    } catch (const std::exception& e) {
        out.error = ProfileError{"", std::string("cannot be read: ") + e.what()};
    }
    if (out.error) out.profile = Profile{};
    return out;
}

}  // namespace kt62
