// The configuration descriptor: a header, then one entry per logical unit. Where the entries start
// and how long each is depends on the version (the device descriptor's bUD0BaseOffset and
// bUDConfigPLength); the fields inside them do not.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace kt::ufs {

struct ConfigLayout {
    std::uint8_t header_len = 0;
    std::uint8_t unit_len = 0;

    std::size_t Length() const;
    bool WriteBooster() const { return unit_len >= 0x1A; }
    bool operator==(const ConfigLayout&) const = default;
};
inline constexpr ConfigLayout kConfigLayout2x{0x10, 0x10};
inline constexpr ConfigLayout kConfigLayout31{0x16, 0x1A};
// The layout of these lengths, when it is one UFS defines.
std::optional<ConfigLayout> KnownConfigLayout(std::uint8_t header_len, std::uint8_t unit_len);

// Header offsets.
enum ConfigHeader : std::uint8_t {
    kConfigBootEnable = 0x03,
    kConfigDescrAccessEn = 0x04,
    kConfigInitPowerMode = 0x05,
    kConfigHighPriorityLun = 0x06,
    kConfigSecureRemovalType = 0x07,
    kConfigInitActiveIccLevel = 0x08,
    kConfigPeriodicRtcUpdate = 0x09,  // 2 bytes
    kConfigWbPreserveUserSpace = 0x10,
    kConfigWbType = 0x11,
    kConfigWbSharedAllocUnits = 0x12,  // 4 bytes
};
inline constexpr std::uint8_t kAllUnitsSamePriority = 0x7F;  // bHighPriorityLUN
inline constexpr std::uint8_t kWbDedicated = 0;              // bWriteBoosterBufferType
inline constexpr std::uint8_t kWbShared = 1;

// Unit entry offsets, the same in every layout.
enum ConfigUnitField : std::uint8_t {
    kEntryEnable = 0x00,
    kEntryBootLunId = 0x01,
    kEntryWriteProtect = 0x02,
    kEntryMemoryType = 0x03,
    kEntryNumAllocUnits = 0x04,  // 4 bytes
    kEntryDataReliability = 0x08,
    kEntryLogicalBlockSize = 0x09,
    kEntryProvisioningType = 0x0A,
    kEntryContextCapabilities = 0x0B,  // 2 bytes
    kEntryWbAllocUnits = 0x16,         // 4 bytes, WriteBooster layouts
};

// One unit's entry, decoded. wb_alloc_units is 0 on a layout without WriteBooster.
struct UnitEntry {
    std::uint8_t enable = 0, boot_lun_id = 0, write_protect = 0, memory_type = 0;
    std::uint32_t alloc_units = 0;
    std::uint8_t data_reliability = 0, block_exponent = 0, provisioning_type = 0;
    std::uint16_t context_capabilities = 0;
    std::uint32_t wb_alloc_units = 0;  // dLUNumWriteBoosterBufferAllocUnits
};
// `config` holds at least layout.Length() bytes; lun is 0 to kConfigUnits - 1.
UnitEntry DecodeUnitEntry(const ConfigLayout& layout, const std::uint8_t* config, int lun);
void EncodeUnitEntry(const ConfigLayout& layout, std::uint8_t* config, int lun, const UnitEntry& unit);

// The header's WriteBooster fields (all 0 on a layout without them).
struct WriteBoosterHeader {
    std::uint8_t preserve_user_space = 0;  // bWriteBoosterBufferPreserveUserSpaceEn
    std::uint8_t type = kWbDedicated;      // bWriteBoosterBufferType
    std::uint32_t shared_alloc_units = 0;  // dNumSharedWriteBoosterBufferAllocUnits
};
WriteBoosterHeader DecodeWriteBoosterHeader(const ConfigLayout& layout, const std::uint8_t* config);

// The header's device-wide settings; the defaults are the header of a new part.
struct HeaderSettings {
    std::uint8_t boot_enable = 1, descr_access_en = 0, init_power_mode = 1;  // active
    std::uint8_t high_priority_lun = kAllUnitsSamePriority;
    std::uint8_t secure_removal_type = 0, init_active_icc_level = 0;
    std::uint16_t periodic_rtc_update = 0;
    WriteBoosterHeader write_booster;  // left out of a layout without it
};

// A configuration descriptor of this layout with its length and IDN, the header's settings and the
// given units (unit n at units[n]), the others zero.
std::vector<std::uint8_t> MakeConfiguration(const ConfigLayout& layout, const HeaderSettings& header,
                                            const std::vector<UnitEntry>& units);
// The same with the header's defaults, boot enabled as asked.
std::vector<std::uint8_t> MakeConfiguration(const ConfigLayout& layout, bool boot_enable,
                                            const std::vector<UnitEntry>& units);

}  // namespace kt::ufs
