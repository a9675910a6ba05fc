#include "emu/device_model.h"

#include <cstdio>
#include <tuple>

#include "encoding/big_endian.h"

namespace kt62::emu {
namespace {

using namespace kt::ufs;  // NOLINT(google-build-using-namespace): the configuration's offsets and layouts

// Defaults of a device whose profile leaves a key out.
constexpr const char* kDefaultVersion = "2.1";
constexpr uint64_t kDefaultRawCapacity = uint64_t{32} << 30;
constexpr uint64_t kDefaultSegment = uint64_t{4} << 20;
constexpr const char* kDefaultManufacturer = "EMUVEND";
constexpr const char* kDefaultSerial = "EMU0000000000001";
constexpr const char* kProductRevision = "0100";

// Capacity adjustment factor (x 256) and the share of all allocation units each memory type may
// take (divisor of the total). Every type is offered, so that every memory_type a profile may
// name can be provisioned.
constexpr struct {
    uint16_t cap_adj;
    uint32_t share_divisor;
} kMemoryTypeTable[kMemoryTypes] = {
    {0x0100, 1},   // normal
    {0x0100, 8},   // system code
    {0x0100, 8},   // non-persistent
    {0x0300, 16},  // enhanced 1 (SLC in TLC)
    {0x0200, 16},  // enhanced 2
    {0x0200, 16},  // enhanced 3
    {0x0200, 16},  // enhanced 4
};

// The most a WriteBooster buffer may take: this share of all allocation units (divisor).
constexpr uint32_t kWbShareDivisor = 16;
constexpr uint8_t kSupportedSecureRemovalTypes = 0x01;  // geometry bSupportedSecRTypes

std::string Padded(std::string text, size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

// "EMU-UFS21-32G", so that a device's name tells its version and size.
std::string DefaultProduct(const VersionLayout& layout, uint64_t raw_bytes) {
    // Fits: at most 2^20 GiB (the largest capacity), or less than 1024 MiB.
    char buf[32];
    const uint64_t gib = raw_bytes >> 30;
    if (gib > 0)
        (void)std::snprintf(buf, sizeof buf, "EMU-UFS%c%c-%lluG", layout.name[0], layout.name[2],
                            static_cast<unsigned long long>(gib));
    else
        (void)std::snprintf(buf, sizeof buf, "EMU-UFS%c%c-%lluM", layout.name[0], layout.name[2],
                            static_cast<unsigned long long>(raw_bytes >> 20));
    return buf;
}

ProfileError Error(std::string key, std::string reason) {
    return ProfileError{std::move(key), std::move(reason)};
}

std::string UnitKey(int lun, const std::string& field) {
    return "logical_units[" + std::to_string(lun) + "]." + field;
}

}  // namespace

UnitEntry DecodeUnit(const DeviceModel& model, const uint8_t* config, int lun) {
    return DecodeUnitEntry(model.layout->Config(), config, lun);
}

uint32_t WriteBoosterUnits(const DeviceModel& model, const uint8_t* config, uint8_t index) {
    const WriteBoosterHeader wb = DecodeWriteBoosterHeader(model.layout->Config(), config);
    if (wb.type == kWbShared) return wb.shared_alloc_units;
    if (index >= kUnits) return 0;
    const UnitEntry u = DecodeUnit(model, config, index);
    return u.enable ? u.wb_alloc_units : 0;
}

uint64_t UnitBlocks(const DeviceModel& model, const UnitEntry& u) {
    if (!u.enable || u.memory_type >= kMemoryTypes) return 0;
    // alloc_units x au_bytes stays below 2^50 once CheckConfig has passed, so x 256 fits.
    const uint64_t bytes = uint64_t{u.alloc_units} * model.au_bytes;
    return bytes * 256 / model.memory[u.memory_type].cap_adj_factor >> u.block_exponent;
}

namespace {

// A dedicated buffer lives in enabled units (at most kWbMaxUnits of them), a shared one in the
// header only; either is at most wb_max_alloc_units. Unless the user space is preserved the
// buffer's AUs, times the adjustment factor, come out of the capacity the units may take.
std::optional<ConfigProblem> CheckWriteBooster(const DeviceModel& model, const uint8_t* c, uint64_t user_au) {
    auto problem = [](int lun, const char* field, std::string reason) {
        return std::optional<ConfigProblem>(ConfigProblem{lun, field, std::move(reason)});
    };
    const WriteBoosterHeader wb = DecodeWriteBoosterHeader(model.layout->Config(), c);
    if (wb.preserve_user_space > 1)
        return problem(-1, "bWriteBoosterBufferPreserveUserSpaceEn", "must be 0 or 1");
    if (wb.type > kWbShared)
        return problem(-1, "bWriteBoosterBufferType", "must be 0 (dedicated) or 1 (shared)");
    uint64_t buffer = 0;
    int buffer_units = 0;
    int buffer_lun = -1;  // the unit with the dedicated buffer
    for (int lun = 0; lun < kUnits; ++lun) {
        const UnitEntry u = DecodeUnit(model, c, lun);
        if (u.wb_alloc_units == 0) continue;
        if (wb.type == kWbShared)
            return problem(lun, "dLUNumWriteBoosterBufferAllocUnits", "must be 0 with a shared buffer");
        if (!u.enable)
            return problem(lun, "dLUNumWriteBoosterBufferAllocUnits", "must be 0 on a disabled unit");
        if (++buffer_units > kWbMaxUnits)
            return problem(lun, "dLUNumWriteBoosterBufferAllocUnits",
                           "at most " + std::to_string(kWbMaxUnits) + " unit may have a buffer");
        buffer += u.wb_alloc_units;
        buffer_lun = lun;
    }
    if (wb.type == kWbDedicated && wb.shared_alloc_units != 0)
        return problem(-1, "dNumSharedWriteBoosterBufferAllocUnits", "must be 0 with dedicated buffers");
    buffer += wb.shared_alloc_units;
    if (buffer > model.wb_max_alloc_units)
        return problem(
            buffer_lun,
            buffer_lun < 0 ? "dNumSharedWriteBoosterBufferAllocUnits" : "dLUNumWriteBoosterBufferAllocUnits",
            "the buffer may take at most " + std::to_string(model.wb_max_alloc_units) + " allocation units");
    if (!wb.preserve_user_space && user_au + buffer * kWbCapAdjFactor > model.total_au)
        return problem(-1, "bWriteBoosterBufferPreserveUserSpaceEn",
                       "the units and the buffer (" + std::to_string(buffer) + " x " +
                           std::to_string(kWbCapAdjFactor) + ") take more than the device's " +
                           std::to_string(model.total_au) + " allocation units");
    return std::nullopt;
}

}  // namespace

std::optional<ConfigProblem> CheckConfig(const DeviceModel& model, const uint8_t* c) {
    auto problem = [](int lun, const char* field, std::string reason) {
        return std::optional<ConfigProblem>(ConfigProblem{lun, field, std::move(reason)});
    };
    struct Flag {
        uint8_t offset;
        const char* name;
    };
    for (const Flag f : {Flag{kConfigBootEnable, "bBootEnable"}, Flag{kConfigDescrAccessEn, "bDescrAccessEn"},
                         Flag{kConfigInitPowerMode, "bInitPowerMode"}})
        if (c[f.offset] > 1) return problem(-1, f.name, "must be 0 or 1");
    if (c[kConfigSecureRemovalType] > 7 || !(kSupportedSecureRemovalTypes >> c[kConfigSecureRemovalType] & 1))
        return problem(-1, "bSecureRemovalType", "not a secure removal type this device supports");
    if (c[kConfigInitActiveIccLevel] > 0x0F)
        return problem(-1, "bInitActiveICCLevel", "must be 0x00 to 0x0F");

    uint64_t total = 0;
    std::array<uint64_t, kMemoryTypes> per_type{};
    int boot_a = -1;
    int boot_b = -1;
    for (int lun = 0; lun < kUnits; ++lun) {
        const UnitEntry u = DecodeUnit(model, c, lun);
        if (u.enable > 1) return problem(lun, "enable", "must be 0 or 1");
        if (u.boot_lun_id > 2) return problem(lun, "boot_lun_id", "must be 0, 1 (boot A) or 2 (boot B)");
        if (u.write_protect > 2) return problem(lun, "write_protect", "must be 0, 1 or 2");
        if (u.memory_type >= kMemoryTypes) return problem(lun, "memory_type", "must be 0 to 6");
        if (u.data_reliability > 1) return problem(lun, "bDataReliability", "must be 0 or 1");
        if (u.provisioning_type != 0 && u.provisioning_type != 2 && u.provisioning_type != 3)
            return problem(lun, "bProvisioningType", "must be 0, 2 or 3");
        // A disabled unit's block size and allocation units are ignored: a real device reads
        // them back as written, and hosts leave either 0 or 0x0C there.
        if (!u.enable) continue;
        if (u.block_exponent < kMinBlockExponent || u.block_exponent > kMaxBlockExponent)
            return problem(lun, "block_size_exponent", "must be 12 to 16 (4 KiB to 64 KiB blocks)");
        if (u.boot_lun_id == 1) {
            if (boot_a >= 0)
                return problem(lun, "boot_lun_id", "boot unit A is unit " + std::to_string(boot_a));
            boot_a = lun;
        }
        if (u.boot_lun_id == 2) {
            if (boot_b >= 0)
                return problem(lun, "boot_lun_id", "boot unit B is unit " + std::to_string(boot_b));
            boot_b = lun;
        }
        total += u.alloc_units;
        per_type[u.memory_type] += u.alloc_units;
        if (total > model.total_au)
            return problem(lun, "alloc_units",
                           "the enabled units take " + std::to_string(total) +
                               " allocation units, the device has " + std::to_string(model.total_au));
        if (per_type[u.memory_type] > model.memory[u.memory_type].max_alloc_units)
            return problem(lun, "alloc_units",
                           "memory type " + std::to_string(u.memory_type) + " may take at most " +
                               std::to_string(model.memory[u.memory_type].max_alloc_units) +
                               " allocation units");
    }
    const uint8_t hp = c[kConfigHighPriorityLun];
    if (hp != kAllUnitsSamePriority && (hp >= kUnits || !DecodeUnit(model, c, hp).enable))
        return problem(-1, "bHighPriorityLUN", "must be 0x7F or an enabled unit");
    if (model.layout->WriteBooster()) return CheckWriteBooster(model, c, total);
    return std::nullopt;
}

namespace {

// Capacity, allocation units and the memory types' limits; an error when they do not fit together.
std::optional<ProfileError> SizeDevice(const UfsProfile& p, DeviceModel& m) {
    m.raw_capacity_bytes = p.raw_capacity_bytes.value_or(kDefaultRawCapacity);
    m.segment_bytes = p.segment_size_bytes.value_or(kDefaultSegment);
    m.au_segments = p.allocation_unit_segments.value_or(1);
    m.au_bytes = m.segment_bytes * m.au_segments;
    const uint64_t total_au = m.raw_capacity_bytes / m.au_bytes;
    if (total_au == 0)
        return Error("raw_capacity_bytes",
                     "smaller than one allocation unit (segment_size_bytes x "
                     "allocation_unit_segments = " +
                         std::to_string(m.au_bytes) + " bytes)");
    if (total_au > UINT32_MAX)
        return Error("segment_size_bytes",
                     "too small for this capacity: more than 2^32 - 1 allocation units");
    m.total_au = static_cast<uint32_t>(total_au);
    for (int t = 0; t < kMemoryTypes; ++t)
        m.memory[t] = {kMemoryTypeTable[t].cap_adj, m.total_au / kMemoryTypeTable[t].share_divisor};
    if (m.layout->WriteBooster()) m.wb_max_alloc_units = m.total_au / kWbShareDivisor;
    return std::nullopt;
}

void NameDevice(const UfsProfile& p, DeviceModel& m) {
    m.strings[kManufacturer] = Padded(p.manufacturer_name.value_or(kDefaultManufacturer), 8);
    m.strings[kProduct] =
        Padded(p.product_name.value_or(DefaultProduct(*m.layout, m.raw_capacity_bytes)), 16);
    m.strings[kSerial] = p.serial_number.value_or(kDefaultSerial);
    m.strings[kOem] = "";
    m.strings[kRevision] = kProductRevision;
    m.factory_lock = p.config_descr_lock.value_or(0);
}

// The profile's link over the defaults; an error for a gear the version or the device lacks.
std::optional<ProfileError> SetLink(const UfsProfile& p, DeviceModel& m) {
    LinkSettings& s = m.link;
    if (p.link) {
        const LinkProfile& l = *p.link;
        s.tx_mode = l.tx_mode.value_or(s.tx_mode);
        s.tx_gear = l.tx_gear.value_or(s.tx_gear);
        s.tx_rate_series = l.tx_rate_series.value_or(s.tx_rate_series);
        s.rx_mode = l.rx_mode.value_or(s.rx_mode);
        s.rx_gear = l.rx_gear.value_or(s.rx_gear);
        s.rx_rate_series = l.rx_rate_series.value_or(s.rx_rate_series);
        s.lanes = l.lanes.value_or(s.lanes);
    }
    const uint8_t max_hs = m.layout->max_hs_gear;
    for (const auto& [mode, gear, key] : {std::tuple{s.tx_mode, s.tx_gear, "link.tx_gear"},
                                          std::tuple{s.rx_mode, s.rx_gear, "link.rx_gear"}}) {
        if (mode == 2 && gear > max_hs)
            return Error(key, "UFS " + std::string(m.layout->name) + " links run HS gears 1 to " +
                                  std::to_string(max_hs));
    }
    return std::nullopt;
}

// The profile's units, else unit 0 over everything; the first enabled unit without a size takes
// what the others leave.
std::vector<UnitEntry> FactoryUnits(const UfsProfile& p, uint32_t total_au) {
    std::vector<UnitEntry> units(kUnits);
    for (UnitEntry& u : units) u.block_exponent = kMinBlockExponent;
    if (!p.logical_units) {
        units[0].enable = 1;
        units[0].alloc_units = total_au;
        return units;
    }
    const auto& list = *p.logical_units;
    uint64_t claimed = 0;
    for (const LogicalUnitProfile& lu : list)
        if (lu.enable.value_or(1) && lu.alloc_units) claimed += *lu.alloc_units;
    bool rest_given = false;
    for (size_t i = 0; i < list.size(); ++i) {
        const LogicalUnitProfile& lu = list[i];
        UnitEntry& u = units[i];
        u.enable = lu.enable.value_or(1);
        u.boot_lun_id = lu.boot_lun_id.value_or(0);
        u.write_protect = lu.write_protect.value_or(0);
        u.memory_type = lu.memory_type.value_or(0);
        u.block_exponent = lu.block_size_exponent.value_or(kMinBlockExponent);
        if (lu.alloc_units) {
            u.alloc_units = *lu.alloc_units;
        } else if (u.enable && !rest_given) {
            u.alloc_units = claimed < total_au ? static_cast<uint32_t>(total_au - claimed) : 0;
            rest_given = true;
        }
    }
    return units;
}

std::string Identity(const DeviceModel& m) {
    std::string id = std::string(m.layout->name) + "|" + std::to_string(m.raw_capacity_bytes) + "|" +
                     std::to_string(m.segment_bytes) + "|" + std::to_string(m.au_segments) + "|" +
                     std::to_string(m.factory_lock);
    for (const std::string& s : m.strings) id += "|" + s;
    for (uint8_t b : m.factory_config) {
        char hex[3];
        (void)std::snprintf(hex, sizeof hex, "%02X", b);  // two digits
        id += hex;
    }
    const LinkSettings& s = m.link;
    for (int v : {s.tx_mode, s.tx_gear, s.tx_rate_series, s.rx_mode, s.rx_gear, s.rx_rate_series, s.lanes})
        id += "|" + std::to_string(v);
    return id;
}

}  // namespace

ModelOrError MakeDeviceModel(const UfsProfile& p) {
    ModelOrError out;
    auto model = std::make_shared<DeviceModel>();
    const std::string version = p.spec_version.value_or(kDefaultVersion);
    model->layout = FindVersion(version);
    if (!model->layout) {
        out.error = Error("spec_version", "unknown version " + version);
        return out;
    }
    out.error = SizeDevice(p, *model);
    if (out.error) return out;
    NameDevice(p, *model);
    out.error = SetLink(p, *model);
    if (out.error) return out;
    model->factory_config =
        MakeConfiguration(model->layout->Config(), true, FactoryUnits(p, model->total_au));
    if (const auto problem = CheckConfig(*model, model->factory_config.data())) {
        out.error = problem->lun < 0 ? Error("logical_units", problem->reason)
                                     : Error(UnitKey(problem->lun, problem->field), problem->reason);
        return out;
    }
    model->identity = Identity(*model);
    out.model = std::move(model);
    return out;
}

}  // namespace kt62::emu
