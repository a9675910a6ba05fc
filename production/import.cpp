#include "production/import.h"

#include <tinyxml2.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "fileio/file_access.h"
#include "production/job_names.h"

namespace kt::production {
namespace {

// Where a value may stand: on the device-wide element, on a unit's, or on the closing one.
enum class Scope : std::uint8_t { Device, Unit, Closing };

enum class Field : std::uint8_t {
    NumberLu,
    BootEnable,
    DescrAccessEn,
    InitPowerMode,
    HighPriorityLun,
    SecureRemovalType,
    InitActiveIccLevel,
    PeriodicRtcUpdate,
    ConfigDescrLock,
    WbPreserveUserSpace,
    WbType,
    WbSharedUnits,
    LuNum,
    LuEnable,
    BootLunId,
    SizeInKb,
    DataReliability,
    WriteProtect,
    Memory,
    BlockSize,
    Provisioning,
    ContextCapabilities,
    WbUnits,
    LunToGrow,
    Commit,
    Desc,
};

struct FieldInfo {
    std::string_view xml;   // the attribute's name
    std::string_view line;  // the field's name in "lunN.field=value" lines; "" where it has none
    Field field;
    Scope scope;
    std::uint64_t max;
    std::uint64_t min = 0;
};

constexpr std::uint64_t kU32 = 0xFFFFFFFF;
constexpr FieldInfo kFields[] = {
    {"bNumberLU", "number_lu", Field::NumberLu, Scope::Device, 32},
    {"bBootEnable", "boot_enable", Field::BootEnable, Scope::Device, 1},
    {"bDescrAccessEn", "descr_access_en", Field::DescrAccessEn, Scope::Device, 1},
    {"bInitPowerMode", "init_power_mode", Field::InitPowerMode, Scope::Device, 1},
    {"bHighPriorityLUN", "high_priority_lun", Field::HighPriorityLun, Scope::Device, 31},
    {"bSecureRemovalType", "secure_removal_type", Field::SecureRemovalType, Scope::Device, 3},
    {"bInitActiveICCLevel", "init_active_icc_level", Field::InitActiveIccLevel, Scope::Device, 15},
    {"wPeriodicRTCUpdate", "periodic_rtc_update", Field::PeriodicRtcUpdate, Scope::Device, 0xFFFF},
    {"bConfigDescrLock", "config_descr_lock", Field::ConfigDescrLock, Scope::Device, 1},
    {"bWriteBoosterBufferPreserveUserSpaceEn", "wb_preserve_user_space", Field::WbPreserveUserSpace,
     Scope::Device, 1},
    {"bWriteBoosterBufferType", "wb_type", Field::WbType, Scope::Device, 1},
    {"dNumSharedWriteBoosterBufferAllocUnits", "wb_shared_alloc_units", Field::WbSharedUnits, Scope::Device,
     kU32},
    {"LUNum", "", Field::LuNum, Scope::Unit, 31},
    {"bLUEnable", "enable", Field::LuEnable, Scope::Unit, 1},
    {"bBootLunID", "boot_lun_id", Field::BootLunId, Scope::Unit, 2},
    {"size_in_kb", "size_in_kb", Field::SizeInKb, Scope::Unit, UINT64_MAX / 1024},
    {"bDataReliability", "data_reliability", Field::DataReliability, Scope::Unit, 1},
    {"bLUWriteProtect", "write_protect", Field::WriteProtect, Scope::Unit, 2},
    {"bMemoryType", "memory_type", Field::Memory, Scope::Unit, 6},
    {"bLogicalBlockSize", "logical_block_size", Field::BlockSize, Scope::Unit, 16, 12},
    {"bProvisioningType", "provisioning_type", Field::Provisioning, Scope::Unit, 3},
    {"wContextCapabilities", "context_capabilities", Field::ContextCapabilities, Scope::Unit, 0xFFFF},
    {"dLUNumWriteBoosterBufferAllocUnits", "wb_alloc_units", Field::WbUnits, Scope::Unit, kU32},
    {"LUNtoGrow", "lun_to_grow", Field::LunToGrow, Scope::Closing, 31},
    {"commit", "", Field::Commit, Scope::Closing, 1},
    {"desc", "", Field::Desc, Scope::Unit, 0},
};

const FieldInfo* FindField(std::string_view name, bool xml) {
    for (const auto& info : kFields) {
        if ((xml ? info.xml : info.line) == name && !name.empty()) return &info;
    }
    return nullptr;
}

// Decimal or 0x-hex, nothing else around it.
std::optional<std::uint64_t> ParseNumber(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    std::uint64_t value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string At(std::string_view name, int line) {
    return std::string(name) + ":" + std::to_string(line) + ": ";
}

std::string Hex(std::uint64_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    do {
        out.insert(out.begin(), kDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return "0x" + out;
}

struct Setting {
    const FieldInfo* info = nullptr;
    int lun = -1;  // the unit; -1 outside one
    std::uint64_t value = 0;
    std::string label;  // as the file says it: "lun1.bMemoryType=3"
    std::string where;  // "NAME:LINE: "
};

// Takes a setting's text: a number in its field's range (desc takes any text, commit true/false too).
std::optional<std::string> TakeValue(Setting& s, std::string_view text) {
    const auto& info = *s.info;
    if (info.field == Field::Desc) return std::nullopt;
    std::optional<std::uint64_t> value = ParseNumber(text);
    if (info.field == Field::Commit && (text == "true" || text == "false")) value = text == "true";
    if (!value) return s.where + s.label + ": not a number (decimal or 0x-hex)";
    s.value = *value;
    const bool high_priority = info.field == Field::HighPriorityLun;  // a unit, or 0x7F for none
    if ((s.value < info.min || s.value > info.max) && !(high_priority && s.value == 0x7F)) {
        return s.where + s.label + ": out of range " + std::to_string(info.min) + "-" +
               std::to_string(info.max) + (high_priority ? " or 0x7F" : "");
    }
    if (info.field == Field::Provisioning && ProvisioningName(static_cast<std::uint8_t>(s.value)).empty()) {
        return s.where + s.label + ": not a provisioning type (0, 2 or 3)";
    }
    return std::nullopt;
}

std::string OnOff(std::uint64_t v) { return v != 0 ? "on" : "off"; }

std::string DescribeDevice(const Setting& s) {
    const auto v = s.value;
    switch (s.info->field) {
        case Field::NumberLu:
            return "checked against the enabled units";
        case Field::BootEnable:
            return "boot " + OnOff(v);
        case Field::DescrAccessEn:
            return "descriptor access " + OnOff(v);
        case Field::InitPowerMode:
            return v != 0 ? "initial power mode active" : "initial power mode sleep";
        case Field::HighPriorityLun:
            return v == 0x7F ? "no high-priority unit" : "high-priority unit " + std::to_string(v);
        case Field::SecureRemovalType:
            return "secure removal type " + std::to_string(v);
        case Field::InitActiveIccLevel:
            return "initial active ICC level " + std::to_string(v);
        case Field::PeriodicRtcUpdate:
            return "periodic RTC update " + Hex(v);
        case Field::ConfigDescrLock:
            return v != 0 ? "lock the configuration (when the command line confirms it)" : "no lock";
        case Field::WbPreserveUserSpace:
            return "WriteBooster preserves user space " + OnOff(v);
        case Field::WbType:
            return v != 0 ? "WriteBooster buffer shared" : "WriteBooster buffer dedicated";
        case Field::WbSharedUnits:
            return "shared WriteBooster buffer of " + std::to_string(v) + " allocation units";
        case Field::LunToGrow:
            return "unit " + std::to_string(v) + " takes the rest";
        case Field::Commit:
            return "ignored: a run writes the layout, a plan never does";
        default:
            return "ignored: a description";
    }
}

std::string DescribeUnit(const Setting& s) {
    const auto v = s.value;
    const std::string unit = "unit " + std::to_string(s.lun) + " ";
    switch (s.info->field) {
        case Field::LuEnable:
            return unit + (v != 0 ? "enabled" : "disabled");
        case Field::BootLunId:
            return unit + "boot " + std::string(BootName(static_cast<BootRole>(v)));
        case Field::SizeInKb:
            return unit + "size " + std::to_string(v * 1024) + " bytes";
        case Field::DataReliability:
            return unit + "data reliability " + OnOff(v);
        case Field::WriteProtect:
            return unit + "write protect " + std::string(WriteProtectName(static_cast<WriteProtect>(v)));
        case Field::Memory:
            return unit + "memory " + std::string(MemoryName(static_cast<MemoryType>(v)));
        case Field::BlockSize:
            return unit + "block size " + std::to_string(1ULL << v);
        case Field::Provisioning:
            return unit + "provisioning " + std::string(ProvisioningName(static_cast<std::uint8_t>(v)));
        case Field::ContextCapabilities:
            return unit + "context capabilities " + Hex(v);
        case Field::WbUnits:
            return unit + "dedicated WriteBooster buffer of " + std::to_string(v) + " allocation units";
        default:
            return DescribeDevice(s);
    }
}

struct UnitState {
    UnitRequest unit;
    bool enabled = true;
    bool sized = false;
    std::uint64_t wb_units = 0;
    std::string where;
};

class Builder {
public:
    std::optional<std::string> Apply(const Setting& s);
    ImportResult Finish(std::string_view name);

private:
    void ApplyDevice(const Setting& s);
    std::optional<std::string> ApplyUnit(UnitState& u, const Setting& s);
    std::optional<std::string> FinishWriteBooster();

    ImportedLayout out_;
    std::map<int, UnitState> units_;
    std::set<std::pair<int, Field>> seen_;
    std::map<BootRole, int> boot_;
    std::optional<Setting> number_lu_;
    std::optional<Setting> grow_;
    std::optional<Setting> wb_type_;
    std::optional<Setting> wb_shared_;
};

std::optional<std::string> Builder::Apply(const Setting& s) {
    if (!seen_.emplace(s.lun, s.info->field).second) {
        if (s.info->field == Field::LuNum)
            return s.where + "unit " + std::to_string(s.lun) + " is described twice";
        return s.where + s.label + ": given twice";
    }
    if (s.info->field == Field::LuNum) return std::nullopt;
    out_.became.push_back(s.label + " -> " + DescribeUnit(s));
    if (s.lun < 0) {
        ApplyDevice(s);
        return std::nullopt;
    }
    auto [it, added] = units_.try_emplace(s.lun);
    if (added) {
        it->second.unit.lun = s.lun;
        it->second.where = s.where;
    }
    return ApplyUnit(it->second, s);
}

void Builder::ApplyDevice(const Setting& s) {
    auto& d = out_.layout.device;
    const auto byte = static_cast<std::uint8_t>(s.value);
    switch (s.info->field) {
        case Field::NumberLu:
            number_lu_ = s;
            break;
        case Field::BootEnable:
            d.boot_enable = byte;
            break;
        case Field::DescrAccessEn:
            d.descr_access_en = byte;
            break;
        case Field::InitPowerMode:
            d.init_power_mode = byte;
            break;
        case Field::HighPriorityLun:
            d.high_priority_lun = byte;
            break;
        case Field::SecureRemovalType:
            d.secure_removal_type = byte;
            break;
        case Field::InitActiveIccLevel:
            d.init_active_icc_level = byte;
            break;
        case Field::PeriodicRtcUpdate:
            d.periodic_rtc_update = static_cast<std::uint16_t>(s.value);
            break;
        case Field::ConfigDescrLock:
            out_.lock = s.value != 0;
            break;
        case Field::WbPreserveUserSpace:
            out_.layout.write_booster.preserve_user_space = s.value != 0;
            break;
        case Field::WbType:
            wb_type_ = s;
            break;
        case Field::WbSharedUnits:
            wb_shared_ = s;
            break;
        case Field::LunToGrow:
            grow_ = s;
            break;
        default:
            break;
    }
}

std::optional<std::string> Builder::ApplyUnit(UnitState& u, const Setting& s) {
    const auto byte = static_cast<std::uint8_t>(s.value);
    switch (s.info->field) {
        case Field::LuEnable:
            u.enabled = s.value != 0;
            break;
        case Field::BootLunId: {
            u.unit.boot = static_cast<BootRole>(byte);
            if (u.unit.boot == BootRole::None) break;
            const auto [it, added] = boot_.emplace(u.unit.boot, s.lun);
            if (!added) {
                return s.where + s.label + ": unit " + std::to_string(it->second) + " is boot " +
                       std::string(BootName(u.unit.boot)) + " already";
            }
            break;
        }
        case Field::SizeInKb:
            u.unit.size_bytes = s.value * 1024;
            u.sized = true;
            break;
        case Field::DataReliability:
            u.unit.data_reliability = byte;
            break;
        case Field::WriteProtect:
            u.unit.write_protect = static_cast<WriteProtect>(byte);
            break;
        case Field::Memory:
            u.unit.memory_type = static_cast<MemoryType>(byte);
            break;
        case Field::BlockSize:
            u.unit.block_exponent = byte;
            break;
        case Field::Provisioning:
            u.unit.provisioning_type = byte;
            break;
        case Field::ContextCapabilities:
            u.unit.context_capabilities = static_cast<std::uint16_t>(s.value);
            break;
        case Field::WbUnits:
            u.wb_units = s.value;
            break;
        default:
            break;
    }
    return std::nullopt;
}

// One buffer: shared with its size in the device-wide value, or dedicated to the one unit that has
// allocation units of its own. The type, when given, must agree with where the units are.
std::optional<std::string> Builder::FinishWriteBooster() {
    auto& wb = out_.layout.write_booster;
    const UnitState* dedicated = nullptr;
    for (const auto& [lun, u] : units_) {
        if (!u.enabled || u.wb_units == 0) continue;
        if (dedicated != nullptr) {
            return u.where + "units " + std::to_string(dedicated->unit.lun) + " and " + std::to_string(lun) +
                   " both have a dedicated WriteBooster buffer: one unit at most";
        }
        dedicated = &u;
    }
    const bool shared = wb_shared_ && wb_shared_->value != 0;
    if (shared && dedicated != nullptr) {
        return wb_shared_->where + wb_shared_->label +
               ": a shared WriteBooster buffer and one dedicated to unit " +
               std::to_string(dedicated->unit.lun);
    }
    if (wb_type_ && ((wb_type_->value != 0 && dedicated != nullptr) || (wb_type_->value == 0 && shared))) {
        return wb_type_->where + wb_type_->label + ": the buffer's type disagrees with where its units are";
    }
    wb.enabled = shared || dedicated != nullptr;
    wb.shared = shared;
    wb.lun = dedicated != nullptr ? dedicated->unit.lun : 0;
    wb.alloc_units = static_cast<std::uint32_t>(shared      ? wb_shared_->value
                                                : dedicated ? dedicated->wb_units
                                                            : 0);
    return std::nullopt;
}

ImportResult Builder::Finish(std::string_view name) {
    auto& units = out_.layout.units;
    for (auto& [lun, u] : units_) {
        if (!u.enabled) continue;
        u.unit.rest = grow_ && grow_->value == static_cast<std::uint64_t>(lun);
        if (!u.unit.rest && (!u.sized || u.unit.size_bytes == 0)) {
            return u.where + "unit " + std::to_string(lun) + " has no size and does not take the rest";
        }
        if (u.unit.rest) u.unit.size_bytes = 0;
        units.push_back(u.unit);
    }
    if (grow_ && !std::any_of(units.begin(), units.end(), [](const UnitRequest& u) { return u.rest; })) {
        return grow_->where + grow_->label + ": no enabled unit " + std::to_string(grow_->value);
    }
    if (number_lu_ && number_lu_->value != units.size()) {
        return number_lu_->where + number_lu_->label + ": but " + std::to_string(units.size()) +
               " units are enabled";
    }
    if (units.empty()) return std::string(name) + ": no enabled unit: nothing to lay out";
    if (auto error = FinishWriteBooster()) return *error;
    return std::move(out_);
}

Scope ElementScope(const tinyxml2::XMLElement& e) {
    if (e.Attribute("LUNum") != nullptr) return Scope::Unit;
    if (e.Attribute("LUNtoGrow") != nullptr) return Scope::Closing;
    return Scope::Device;
}

std::optional<std::string> ReadElement(const tinyxml2::XMLElement& e, const std::string& where, Builder& b) {
    const Scope scope = ElementScope(e);
    int lun = -1;
    if (scope == Scope::Unit) {
        Setting s{FindField("LUNum", true), -1, 0, std::string("LUNum=") + e.Attribute("LUNum"), where};
        if (auto error = TakeValue(s, e.Attribute("LUNum"))) return error;
        lun = static_cast<int>(s.value);
    }
    const std::string prefix = lun >= 0 ? "lun" + std::to_string(lun) + "." : "";
    for (const auto* a = e.FirstAttribute(); a != nullptr; a = a->Next()) {
        const auto* info = FindField(a->Name(), true);
        if (info == nullptr) return where + "<ufs>: unknown attribute \"" + a->Name() + "\"";
        if (info->scope != scope && info->field != Field::Desc) {
            static constexpr const char* kPlace[] = {"the device-wide element", "a unit's element",
                                                     "the closing element"};
            return where + a->Name() + " belongs on " + kPlace[static_cast<int>(info->scope)];
        }
        Setting s{info, lun, 0, prefix + a->Name() + "=" + a->Value(), where};
        if (auto error = TakeValue(s, a->Value())) return error;
        if (auto error = b.Apply(s)) return error;
    }
    return std::nullopt;
}

}  // namespace

ImportResult ImportProvisioningXml(std::string_view text, std::string_view name) {
    tinyxml2::XMLDocument doc;
    if (doc.Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS) {
        return At(name, doc.ErrorLineNum()) + "not well-formed XML (" + doc.ErrorName() + ")";
    }
    const auto* root = doc.RootElement();
    if (root == nullptr || std::string_view(root->Name()) != "data") {
        return At(name, root != nullptr ? root->GetLineNum() : 1) + "the root element is not <data>";
    }
    Builder b;
    for (const auto* e = root->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
        const std::string where = At(name, e->GetLineNum());
        if (std::string_view(e->Name()) != "ufs") {
            return where + "<" + e->Name() + "> has no meaning here: only <ufs> elements are read";
        }
        if (auto error = ReadElement(*e, where, b)) return *error;
    }
    return b.Finish(name);
}

ImportResult ImportLunLines(std::string_view text, std::string_view name) {
    Builder b;
    int number = 0;
    while (!text.empty()) {
        ++number;
        const auto eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
        line = Trim(line.substr(0, line.find('#')));
        if (line.empty()) continue;
        const std::string where = At(name, number);
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) return where + "not a field=value line";
        const std::string_view key = Trim(line.substr(0, eq));
        std::string_view field = key;
        int lun = -1;
        if (key.starts_with("lun") && key.find('.') != std::string_view::npos) {
            const auto number_text = key.substr(3, key.find('.') - 3);
            const auto value = ParseNumber(number_text);
            if (!value || number_text.starts_with("0x") || *value > 31)
                return where + std::string(key) + ": not a unit 0-31";
            lun = static_cast<int>(*value);
            field = key.substr(key.find('.') + 1);
        }
        const auto* info = FindField(field, false);
        if (info == nullptr || (info->scope == Scope::Unit) != (lun >= 0)) {
            return where + "unknown field \"" + std::string(key) + "\"";
        }
        Setting s{info, lun, 0, std::string(key) + "=" + std::string(Trim(line.substr(eq + 1))), where};
        if (auto error = TakeValue(s, Trim(line.substr(eq + 1)))) return *error;
        if (auto error = b.Apply(s)) return *error;
    }
    return b.Finish(name);
}

ImportResult ImportLayout(std::string_view text, std::string_view name) {
    const auto first = text.find_first_not_of(" \t\r\n");
    const bool xml = name.ends_with(".xml") || (first != std::string_view::npos && text[first] == '<');
    return xml ? ImportProvisioningXml(text, name) : ImportLunLines(text, name);
}

ImportResult ImportLayoutFile(const std::string& path) {
    constexpr std::size_t kLimit = 1 << 20;  // a provisioning file is a few kilobytes
    std::string why;
    const auto text = fileio::ReadWhole(path, kLimit, why);
    if (!text) return path + ": " + why;
    return ImportLayout(*text, path);
}

}  // namespace kt::production
