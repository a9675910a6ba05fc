// A layout planned against a part: the layout's own shape and what the part takes first, then the
// WriteBooster buffer, then the units' capacity, and the configuration descriptor last, so that a
// refusal names the first rule a reader would look for.
#include "production/plan.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <optional>

#include "ufs/descriptor_fields.h"
#include "ufs/idn.h"
#include "ufs/versions.h"

namespace kt::production {
namespace {

constexpr std::uint16_t kUnitFactor = 256;  // a capacity adjustment factor of 1, x 256
// The largest logical block hosts address (64 KiB); the smallest is the part's own.
constexpr std::uint8_t kLargestBlockExponent = 16;

Refusal Refuse(int lun, Rule rule, std::string detail) { return Refusal{lun, rule, std::move(detail)}; }

std::string Number(std::uint64_t v) { return std::to_string(v); }

std::string Hex(unsigned v) {
    char text[16];
    (void)std::snprintf(text, sizeof text, "0x%04X", v);
    return text;
}

std::string MemoryName(MemoryType t) {
    return ufs::FieldMeaning("bMemoryType", static_cast<std::uint8_t>(t), 0) + " memory";
}

const char* BootName(int role) { return role == static_cast<int>(BootRole::A) ? "A" : "B"; }

// ceil(bytes x factor / 256 / au): the allocation units that hold `bytes` of a memory type.
std::optional<std::uint64_t> AllocUnitsFor(std::uint64_t bytes, std::uint16_t factor, std::uint64_t au) {
    std::uint64_t scaled = 0;
    if (__builtin_mul_overflow(bytes, std::uint64_t{factor}, &scaled)) return std::nullopt;
    const std::uint64_t per_unit = au * kUnitFactor;  // au < 2^49
    return scaled / per_unit + (scaled % per_unit != 0 ? 1 : 0);
}

// A field and the values that mean something: bit v of `taken` for value v.
struct Field {
    const char* name;
    unsigned value;
    std::uint32_t taken;
};

std::optional<std::string> Meaningless(std::initializer_list<Field> fields) {
    for (const Field& field : fields)
        if (field.value > 31 || (field.taken >> field.value & 1) == 0)
            return std::string(field.name) + " " + Number(field.value) + " means nothing";
    return std::nullopt;
}

std::optional<Refusal> CheckUnit(const UnitRequest& u, const DeviceFacts& f) {
    if (auto why = Meaningless({{"bLUWriteProtect", static_cast<unsigned>(u.write_protect), 0b111},
                                {"bDataReliability", u.data_reliability, 0b11},
                                {"bProvisioningType", u.provisioning_type, 0b1101}}))
        return Refuse(u.lun, Rule::UnitSetting, *why);
    const auto t = static_cast<std::uint8_t>(u.memory_type);
    if (t >= kMemoryTypeCount || (f.supported_memory_types >> t & 1) == 0)
        return Refuse(u.lun, Rule::MemoryType,
                      MemoryName(u.memory_type) + " is not among the part's types (wSupportedMemoryTypes " +
                          Hex(f.supported_memory_types) + ")");
    if (f.memory[t].cap_adj_factor == 0)
        return Refuse(u.lun, Rule::MemoryType,
                      "the part gives " + MemoryName(u.memory_type) + " no capacity adjustment factor");
    const std::uint64_t smallest = std::uint64_t{f.min_addr_block_size} * 512;
    if (u.block_exponent > kLargestBlockExponent || (std::uint64_t{1} << u.block_exponent) < smallest)
        return Refuse(u.lun, Rule::BlockSize,
                      "bLogicalBlockSize " + Number(u.block_exponent) + "; the part takes blocks from " +
                          Number(smallest) + " bytes (bMinAddrBlockSize) to 64 KiB");
    return std::nullopt;
}

std::optional<Refusal> CheckDeviceSettings(const Layout& layout, const DeviceFacts& f,
                                           std::uint32_t units_named, const std::array<int, 3>& boot_unit) {
    if (layout.boot_lun_en && *layout.boot_lun_en != 0) {
        const int role = *layout.boot_lun_en;
        if (role > 2) return Refuse(-1, Rule::BootRole, "bBootLunEn " + Number(role) + ": 0, 1 (A) or 2 (B)");
        if (boot_unit[role] < 0)
            return Refuse(
                -1, Rule::BootRole,
                std::string("bBootLunEn selects boot unit ") + BootName(role) + ", which no unit is");
    }
    const DeviceSettings& d = layout.device;
    if (auto why = Meaningless({{"bBootEnable", d.boot_enable, 0b11},
                                {"bDescrAccessEn", d.descr_access_en, 0b11},
                                {"bInitPowerMode", d.init_power_mode, 0b11},
                                {"bInitActiveICCLevel", d.init_active_icc_level, 0xFFFF}}))
        return Refuse(-1, Rule::DeviceSetting, *why);
    const std::uint8_t hp = d.high_priority_lun;
    if (hp != ufs::kAllUnitsSamePriority && (hp >= ufs::kConfigUnits || (units_named >> hp & 1) == 0))
        return Refuse(-1, Rule::DeviceSetting,
                      "bHighPriorityLUN " + Number(hp) + " is no unit of the layout");
    const std::uint8_t sr = d.secure_removal_type;
    if (sr > 7 || (f.secure_removal_types >> sr & 1) == 0)
        return Refuse(-1, Rule::DeviceSetting,
                      "bSecureRemovalType " + Number(sr) + " is not among the part's (bSupportedSecRTypes " +
                          Number(f.secure_removal_types) + ")");
    return std::nullopt;
}

// Unit numbers, repeats, the one "rest" unit, each unit's type and block size, the boot roles and
// the header's settings.
std::optional<Refusal> CheckShape(const Layout& layout, const DeviceFacts& f) {
    if (layout.units.empty()) return Refuse(-1, Rule::Layout, "no unit");
    const int limit = std::min(f.max_units, ufs::kConfigUnits);
    std::uint32_t named = 0;
    int rest = -1;
    std::array<int, 3> boot_unit{-1, -1, -1};
    for (const UnitRequest& u : layout.units) {
        if (u.lun < 0 || u.lun >= limit)
            return Refuse(u.lun, Rule::UnitNumber,
                          f.max_units > ufs::kConfigUnits
                              ? "one configuration descriptor holds units 0 to 7; later ones are not planned"
                              : "the part has units 0 to 7 (bMaxNumberLU)");
        if ((named >> u.lun & 1) != 0) return Refuse(u.lun, Rule::Layout, "named twice");
        named |= 1U << u.lun;
        if (u.rest && rest >= 0)
            return Refuse(u.lun, Rule::Layout, "unit " + Number(rest) + " already takes the rest");
        if (u.rest) rest = u.lun;
        if (auto r = CheckUnit(u, f)) return r;
        const int role = static_cast<int>(u.boot);
        if (role == 0) continue;
        if (role > 2 || boot_unit[role] >= 0)
            return Refuse(u.lun, Rule::BootRole,
                          role > 2 ? "bBootLunID " + Number(role) + ": 0, 1 (A) or 2 (B)"
                                   : std::string("boot unit ") + BootName(role) + " is unit " +
                                         Number(boot_unit[role]));
        boot_unit[role] = u.lun;
    }
    return CheckDeviceSettings(layout, f, named, boot_unit);
}

struct BufferSize {
    std::uint32_t alloc_units = 0;
    std::uint64_t cost = 0;  // of the units' allocation units
};

std::optional<Refusal> CheckWriteBoosterKind(const WriteBoosterRequest& wb, const WriteBoosterFacts& f,
                                             int lun) {
    if (wb.shared ? f.buffer_types == 0 : f.buffer_types == 1)
        return Refuse(lun, Rule::WriteBooster,
                      std::string("the part offers ") +
                          (wb.shared ? "dedicated buffers" : "a shared buffer") +
                          " only (bSupportedWriteBoosterBufferTypes " + Number(f.buffer_types) + ")");
    if (wb.preserve_user_space ? f.reduction_types == 0 : f.reduction_types == 1)
        return Refuse(lun, Rule::WriteBooster,
                      std::string("the part ") +
                          (wb.preserve_user_space ? "always reduces" : "always preserves") +
                          " user space (bSupportedWriteBoosterBufferUserSpaceReductionTypes " +
                          Number(f.reduction_types) + ")");
    if (!wb.shared && f.max_units == 0)
        return Refuse(lun, Rule::WriteBooster,
                      "the part gives no unit a buffer (bDeviceMaxWriteBoosterLUs 0)");
    return std::nullopt;
}

std::variant<BufferSize, Refusal> SizeWriteBooster(const Layout& layout, const DeviceFacts& f) {
    const WriteBoosterRequest& wb = layout.write_booster;
    if (!wb.enabled) return BufferSize{};
    const int lun = wb.shared ? -1 : wb.lun;
    if (!f.write_booster.supported)
        return Refuse(lun, Rule::WriteBooster,
                      f.config_layout.WriteBooster()
                          ? std::string("the part has no buffer (dExtendedUFSFeaturesSupport)")
                          : "UFS " + ufs::VersionText(f.spec_version) + " parts have no buffer");
    if (auto r = CheckWriteBoosterKind(wb, f.write_booster, lun)) return *r;
    if (!wb.shared && std::none_of(layout.units.begin(), layout.units.end(),
                                   [&](const UnitRequest& u) { return u.lun == wb.lun; }))
        return Refuse(lun, Rule::WriteBooster, "a dedicated buffer's unit must be in the layout");
    const auto alloc = AllocUnitsFor(wb.size_bytes, kUnitFactor, f.AllocUnitBytes());
    if (!alloc) return Refuse(lun, Rule::Overflow, "a buffer of " + Number(wb.size_bytes) + " bytes");
    if (*alloc == 0) return Refuse(lun, Rule::Empty, "the buffer asks for 0 bytes");
    if (*alloc > f.write_booster.max_alloc_units)
        return Refuse(lun, Rule::WriteBoosterCapacity,
                      "the buffer takes " + Number(*alloc) + " allocation units, the part allows " +
                          Number(f.write_booster.max_alloc_units) + " (dWriteBoosterBufferMaxNAllocUnits)");
    const auto units = static_cast<std::uint32_t>(*alloc);
    return BufferSize{units,
                      wb.preserve_user_space ? 0 : std::uint64_t{units} * f.write_booster.cap_adj_factor};
}

// Allocation units of every sized unit and of the "rest" one, within the memory types' maxima and
// the part's allocation units less the buffer's cost.
std::optional<Refusal> SizeUnits(const Layout& layout, const DeviceFacts& f, std::uint64_t buffer_cost,
                                 Plan& plan) {
    const std::string buffer_part =
        buffer_cost == 0 ? "" : " (" + Number(buffer_cost) + " of them for the WriteBooster buffer)";
    std::array<std::uint64_t, kMemoryTypeCount> per_type{};
    std::uint64_t total = buffer_cost;
    plan.units.reserve(layout.units.size());  // `rest` points into it
    UnitPlan* rest = nullptr;
    for (const UnitRequest& u : layout.units) {
        UnitPlan& p = plan.units.emplace_back(UnitPlan{u});
        const auto t = static_cast<std::size_t>(u.memory_type);
        if (u.rest) {
            rest = &p;
            continue;
        }
        const auto alloc = AllocUnitsFor(u.size_bytes, f.memory[t].cap_adj_factor, f.AllocUnitBytes());
        if (!alloc)
            return Refuse(u.lun, Rule::Overflow,
                          Number(u.size_bytes) + " bytes of " + MemoryName(u.memory_type));
        per_type[t] += *alloc;
        total += *alloc;
        if (t != 0 && per_type[t] > f.memory[t].max_alloc_units)
            return Refuse(u.lun, Rule::TypeCapacity,
                          "the units of " + MemoryName(u.memory_type) + " take " + Number(per_type[t]) +
                              " allocation units, the part allows " + Number(f.memory[t].max_alloc_units));
        if (total > f.total_alloc_units)
            return Refuse(u.lun, Rule::TotalCapacity,
                          "the units take " + Number(total) + " allocation units" + buffer_part +
                              ", the part has " + Number(f.total_alloc_units));
        p.alloc_units = static_cast<std::uint32_t>(*alloc);
    }
    if (rest == nullptr) {
        if (total > f.total_alloc_units)
            return Refuse(-1, Rule::TotalCapacity,
                          "the WriteBooster buffer costs " + Number(buffer_cost) +
                              " allocation units, the part has " + Number(f.total_alloc_units));
        plan.used_alloc_units = static_cast<std::uint32_t>(total);
        return std::nullopt;
    }
    const auto t = static_cast<std::size_t>(rest->request.memory_type);
    const std::uint64_t left = total >= f.total_alloc_units ? 0 : f.total_alloc_units - total;
    const std::uint64_t type_left =
        per_type[t] >= f.memory[t].max_alloc_units ? 0 : f.memory[t].max_alloc_units - per_type[t];
    rest->alloc_units = static_cast<std::uint32_t>(std::min(left, type_left));
    if (rest->alloc_units == 0)
        return Refuse(rest->request.lun, Rule::Empty,
                      "nothing is left for the rest: the others take " + Number(total) + " of " +
                          Number(f.total_alloc_units) + " allocation units" + buffer_part);
    plan.used_alloc_units = static_cast<std::uint32_t>(total + rest->alloc_units);
    return std::nullopt;
}

// Granted bytes and blocks: alloc units x AU / factor, then whole blocks.
std::optional<Refusal> GrantUnits(const DeviceFacts& f, Plan& plan) {
    for (UnitPlan& p : plan.units) {
        const std::uint16_t factor = f.memory[static_cast<std::size_t>(p.request.memory_type)].cap_adj_factor;
        std::uint64_t raw = 0;
        if (__builtin_mul_overflow(std::uint64_t{p.alloc_units}, f.AllocUnitBytes(), &raw) ||
            __builtin_mul_overflow(raw, std::uint64_t{kUnitFactor}, &raw))
            return Refuse(p.request.lun, Rule::Overflow, Number(p.alloc_units) + " allocation units");
        p.granted_bytes = raw / factor;
        p.blocks = p.granted_bytes >> p.request.block_exponent;
        if (p.blocks == 0)
            return Refuse(p.request.lun, Rule::Empty,
                          "asks for " + Number(p.request.size_bytes) + " bytes, less than a block");
    }
    return std::nullopt;
}

void Encode(const Layout& layout, Plan& plan) {
    std::vector<ufs::UnitEntry> entries(ufs::kConfigUnits);
    for (const UnitPlan& p : plan.units) {
        const UnitRequest& u = p.request;
        entries[static_cast<std::size_t>(u.lun)] = {
            .enable = 1,
            .boot_lun_id = static_cast<std::uint8_t>(u.boot),
            .write_protect = static_cast<std::uint8_t>(u.write_protect),
            .memory_type = static_cast<std::uint8_t>(u.memory_type),
            .alloc_units = p.alloc_units,
            .data_reliability = u.data_reliability,
            .block_exponent = u.block_exponent,
            .provisioning_type = u.provisioning_type,
            .context_capabilities = u.context_capabilities,
            .wb_alloc_units = p.wb_alloc_units};
    }
    const DeviceSettings& d = layout.device;
    ufs::HeaderSettings header{d.boot_enable,         d.descr_access_en,        d.init_power_mode,
                               d.high_priority_lun,   d.secure_removal_type,    d.init_active_icc_level,
                               d.periodic_rtc_update, ufs::WriteBoosterHeader{}};
    const WriteBoosterRequest& wb = layout.write_booster;
    if (wb.enabled)
        header.write_booster = {static_cast<std::uint8_t>(wb.preserve_user_space ? 1 : 0),
                                wb.shared ? ufs::kWbShared : ufs::kWbDedicated,
                                wb.shared ? plan.wb_alloc_units : 0};
    plan.configuration = ufs::MakeConfiguration(plan.facts.config_layout, header, entries);
}

}  // namespace

const char* RuleName(Rule rule) {
    switch (rule) {
        case Rule::Descriptor:
            return "descriptor";
        case Rule::Layout:
            return "layout";
        case Rule::UnitNumber:
            return "unit number";
        case Rule::MemoryType:
            return "memory type";
        case Rule::TypeCapacity:
            return "memory type capacity";
        case Rule::TotalCapacity:
            return "total capacity";
        case Rule::BootRole:
            return "boot role";
        case Rule::BlockSize:
            return "block size";
        case Rule::Empty:
            return "empty unit";
        case Rule::Overflow:
            return "size overflow";
        case Rule::WriteBooster:
            return "WriteBooster";
        case Rule::WriteBoosterCapacity:
            return "WriteBooster capacity";
        case Rule::DeviceSetting:
            return "device setting";
        case Rule::UnitSetting:
            return "unit setting";
    }
    return "?";
}

std::string Refusal::Text() const {
    return (lun < 0 ? std::string() : "unit " + Number(static_cast<std::uint64_t>(lun)) + ": ") +
           RuleName(rule) + ": " + detail;
}

PlanOrRefusal MakePlan(const Layout& layout, const DeviceFacts& facts) {
    if (auto r = CheckShape(layout, facts)) return *r;
    const auto buffer = SizeWriteBooster(layout, facts);
    if (const auto* r = std::get_if<Refusal>(&buffer)) return *r;
    const BufferSize wb = std::get<BufferSize>(buffer);
    Plan plan;
    plan.facts = facts;
    plan.wb_alloc_units = wb.alloc_units;
    if (auto r = SizeUnits(layout, facts, wb.cost, plan)) return *r;
    if (auto r = GrantUnits(facts, plan)) return *r;
    if (layout.write_booster.enabled && !layout.write_booster.shared)
        for (UnitPlan& p : plan.units)
            if (p.request.lun == layout.write_booster.lun) p.wb_alloc_units = wb.alloc_units;
    Encode(layout, plan);
    return plan;
}

}  // namespace kt::production
