// What one emulated UFS device is, fixed for its life: derived once from the
// profile's ufs keys, with every default and every chosen value in the tables
// of ufs_spec.cpp. Nothing here changes at run time.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emu/profile.h"

namespace kt62::emu {

// Descriptor sizes and versions that differ between the UFS versions a profile can name.
struct VersionLayout {
    const char* name;  // "2.1"
    uint16_t spec_bcd;
    uint8_t device_len;
    uint8_t config_len;
    uint8_t config_header_len;  // bUD0BaseOffset
    uint8_t config_unit_len;    // bUDConfigPLength
    uint8_t unit_len;
    uint8_t geometry_len;
    uint8_t health_len;
    uint16_t unipro_bcd;
    uint16_t mphy_bcd;
    uint8_t unipro_ver_info;  // PA_LocalVerInfo / PA_RemoteVerInfo encoding
    uint8_t max_hs_gear;
    // The 3.1 layouts carry the WriteBooster fields: configuration header 0x10-0x15 and unit
    // entry 0x16-0x19, mirrored in the device, unit and geometry descriptors.
    bool WriteBooster() const { return config_unit_len >= 0x1A; }
};

inline constexpr int kUnits = 8;
inline constexpr int kMemoryTypes = 7;  // bMemoryType 0 normal .. 6 enhanced 4
inline constexpr int kStrings = 5;      // manufacturer, product, serial, OEM, product revision
inline constexpr uint8_t kRpmbUnitIndex = 0xC4;
inline constexpr uint8_t kMinBlockExponent = 12;
inline constexpr uint8_t kMaxBlockExponent = 16;
inline constexpr uint8_t kMaxPwmGear = 7;  // TX/RX_PWMGEAR_Capability: PWM-G1 to G7

struct MemoryTypeLimit {
    uint16_t cap_adj_factor;  // x 256
    uint32_t max_alloc_units;
};

// The link as a profile sets it, seen from the programmer: tx = programmer to device.
struct LinkSettings {
    uint8_t tx_mode = 2, tx_gear = 3, tx_rate_series = 2;
    uint8_t rx_mode = 2, rx_gear = 3, rx_rate_series = 2;
    uint8_t lanes = 2;
};

struct DeviceSpec {
    const VersionLayout* layout = nullptr;
    uint64_t raw_capacity_bytes = 0;
    uint64_t segment_bytes = 0;
    uint8_t au_segments = 1;
    uint64_t au_bytes = 0;
    uint32_t total_au = 0;
    std::array<MemoryTypeLimit, kMemoryTypes> memory{};
    uint32_t wb_max_alloc_units = 0;  // geometry dWriteBoosterBufferMaxNAllocUnits; 0 without WriteBooster
    std::array<std::string, kStrings> strings;  // ASCII, padded where the width is fixed
    uint8_t factory_lock = 0;
    std::vector<uint8_t> factory_config;  // configuration descriptor of a new device
    LinkSettings link;
    // The profile's ufs keys with defaults filled in: stored state made for another identity
    // belongs to another device.
    std::string identity;
};

// Index of each string descriptor, as the device descriptor points to them.
enum StringIndex : uint8_t { kManufacturer = 0, kProduct = 1, kSerial = 2, kOem = 3, kRevision = 4 };

// The UFS version and layout of the device a profile describes; an error names the key (relative to the ufs
// object) when the keys do not fit together.
struct SpecOrError {
    std::shared_ptr<const DeviceSpec> spec;
    std::optional<ProfileError> error;
};
SpecOrError MakeDeviceSpec(const UfsProfile& profile);

// One unit's block of a configuration descriptor, decoded.
struct UnitConfig {
    uint8_t enable = 0, boot_lun_id = 0, write_protect = 0, memory_type = 0;
    uint32_t alloc_units = 0;
    uint8_t data_reliability = 0, block_exponent = 0, provisioning_type = 0;
    uint16_t context_capabilities = 0;
    uint32_t wb_alloc_units = 0;  // dLUNumWriteBoosterBufferAllocUnits (3.1 layout)
};
UnitConfig DecodeUnit(const DeviceSpec& spec, const uint8_t* config, int lun);

// The WriteBooster fields of a configuration header (all 0 on a layout without them).
inline constexpr uint8_t kWbDedicated = 0;
inline constexpr uint8_t kWbShared = 1;
inline constexpr uint8_t kWbMaxUnits = 1;      // geometry bDeviceMaxWriteBoosterLUs
inline constexpr uint8_t kWbCapAdjFactor = 3;  // geometry bWriteBoosterBufferCapAdjFac: SLC in TLC
struct WriteBoosterConfig {
    uint8_t preserve_user_space = 0;  // bWriteBoosterBufferPreserveUserSpaceEn
    uint8_t type = kWbDedicated;      // bWriteBoosterBufferType
    uint32_t shared_alloc_units = 0;  // dNumSharedWriteBoosterBufferAllocUnits
};
WriteBoosterConfig DecodeWriteBooster(const DeviceSpec& spec, const uint8_t* config);

// Allocation units of the WriteBooster buffer that unit `index` reaches: the shared buffer from any
// index, else the unit's own; 0 without a buffer or for an index past the units.
uint32_t WriteBoosterUnits(const DeviceSpec& spec, const uint8_t* config, uint8_t index);

// Logical blocks an enabled unit of this configuration exposes.
uint64_t UnitBlocks(const DeviceSpec& spec, const UnitConfig& unit);

// Why a configuration descriptor is refused: the unit (-1 for the header), the field and the
// reason, e.g. {1, "alloc_units", "..."}.
struct ConfigProblem {
    int lun = -1;
    std::string field;
    std::string reason;
};
// `config` holds spec.layout->config_len bytes.
std::optional<ConfigProblem> CheckConfig(const DeviceSpec& spec, const uint8_t* config);

}  // namespace kt62::emu
