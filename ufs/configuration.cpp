#include "ufs/configuration.h"

#include "encoding/big_endian.h"
#include "ufs/idn.h"

namespace kt::ufs {
namespace {

std::size_t EntryAt(const ConfigLayout& layout, int lun) {
    return layout.header_len + static_cast<std::size_t>(lun) * layout.unit_len;
}

}  // namespace

std::size_t ConfigLayout::Length() const { return header_len + std::size_t{kConfigUnits} * unit_len; }

std::optional<ConfigLayout> KnownConfigLayout(std::uint8_t header_len, std::uint8_t unit_len) {
    for (const ConfigLayout& known : {kConfigLayout2x, kConfigLayout31})
        if (known == ConfigLayout{header_len, unit_len}) return known;
    return std::nullopt;
}

UnitEntry DecodeUnitEntry(const ConfigLayout& layout, const std::uint8_t* config, int lun) {
    const std::uint8_t* p = config + EntryAt(layout, lun);
    UnitEntry u;
    u.enable = p[kEntryEnable];
    u.boot_lun_id = p[kEntryBootLunId];
    u.write_protect = p[kEntryWriteProtect];
    u.memory_type = p[kEntryMemoryType];
    u.alloc_units = BigEndian32(p + kEntryNumAllocUnits);
    u.data_reliability = p[kEntryDataReliability];
    u.block_exponent = p[kEntryLogicalBlockSize];
    u.provisioning_type = p[kEntryProvisioningType];
    u.context_capabilities = BigEndian16(p + kEntryContextCapabilities);
    if (layout.WriteBooster()) u.wb_alloc_units = BigEndian32(p + kEntryWbAllocUnits);
    return u;
}

void EncodeUnitEntry(const ConfigLayout& layout, std::uint8_t* config, int lun, const UnitEntry& u) {
    std::uint8_t* p = config + EntryAt(layout, lun);
    p[kEntryEnable] = u.enable;
    p[kEntryBootLunId] = u.boot_lun_id;
    p[kEntryWriteProtect] = u.write_protect;
    p[kEntryMemoryType] = u.memory_type;
    PutBigEndian32(p + kEntryNumAllocUnits, u.alloc_units);
    p[kEntryDataReliability] = u.data_reliability;
    p[kEntryLogicalBlockSize] = u.block_exponent;
    p[kEntryProvisioningType] = u.provisioning_type;
    PutBigEndian16(p + kEntryContextCapabilities, u.context_capabilities);
    if (layout.WriteBooster()) PutBigEndian32(p + kEntryWbAllocUnits, u.wb_alloc_units);
}

WriteBoosterHeader DecodeWriteBoosterHeader(const ConfigLayout& layout, const std::uint8_t* config) {
    WriteBoosterHeader wb;
    if (!layout.WriteBooster()) return wb;
    wb.preserve_user_space = config[kConfigWbPreserveUserSpace];
    wb.type = config[kConfigWbType];
    wb.shared_alloc_units = BigEndian32(config + kConfigWbSharedAllocUnits);
    return wb;
}

std::vector<std::uint8_t> MakeConfiguration(const ConfigLayout& layout, const HeaderSettings& header,
                                            const std::vector<UnitEntry>& units) {
    std::vector<std::uint8_t> d(layout.Length(), 0);
    d[0] = static_cast<std::uint8_t>(d.size());
    d[1] = kConfigurationDescriptor;
    d[kConfigBootEnable] = header.boot_enable;
    d[kConfigDescrAccessEn] = header.descr_access_en;
    d[kConfigInitPowerMode] = header.init_power_mode;
    d[kConfigHighPriorityLun] = header.high_priority_lun;
    d[kConfigSecureRemovalType] = header.secure_removal_type;
    d[kConfigInitActiveIccLevel] = header.init_active_icc_level;
    PutBigEndian16(&d[kConfigPeriodicRtcUpdate], header.periodic_rtc_update);
    if (layout.WriteBooster()) {
        d[kConfigWbPreserveUserSpace] = header.write_booster.preserve_user_space;
        d[kConfigWbType] = header.write_booster.type;
        PutBigEndian32(&d[kConfigWbSharedAllocUnits], header.write_booster.shared_alloc_units);
    }
    for (std::size_t lun = 0; lun < units.size() && lun < std::size_t{kConfigUnits}; ++lun)
        EncodeUnitEntry(layout, d.data(), static_cast<int>(lun), units[lun]);
    return d;
}

std::vector<std::uint8_t> MakeConfiguration(const ConfigLayout& layout, bool boot_enable,
                                            const std::vector<UnitEntry>& units) {
    HeaderSettings header;
    header.boot_enable = boot_enable ? 1 : 0;
    return MakeConfiguration(layout, header, units);
}

}  // namespace kt::ufs
