// What one emulated UFS device is, fixed for its life: derived once from the
// profile's ufs keys, with every default and every chosen value in the tables
// of device_model.cpp. Nothing here changes at run time.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emu/profile.h"
#include "ufs/configuration.h"
#include "ufs/idn.h"
#include "ufs/versions.h"

namespace kt62::emu {

using kt::ufs::UnitEntry;
using kt::ufs::VersionLayout;
using kt::ufs::WriteBoosterHeader;

inline constexpr int kUnits = kt::ufs::kConfigUnits;
inline constexpr int kMemoryTypes = 7;  // bMemoryType 0 normal .. 6 enhanced 4
inline constexpr int kStrings = 5;      // manufacturer, product, serial, OEM, product revision
using kt::ufs::kRpmbUnitIndex;
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

struct DeviceModel {
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
struct ModelOrError {
    std::shared_ptr<const DeviceModel> model;
    std::optional<ProfileError> error;
};
ModelOrError MakeDeviceModel(const UfsProfile& profile);

// One unit's entry of a configuration descriptor of this device's layout.
UnitEntry DecodeUnit(const DeviceModel& model, const uint8_t* config, int lun);

// The WriteBooster limits of this device.
inline constexpr uint8_t kWbMaxUnits = 1;      // geometry bDeviceMaxWriteBoosterLUs
inline constexpr uint8_t kWbCapAdjFactor = 3;  // geometry bWriteBoosterBufferCapAdjFac: SLC in TLC

// Allocation units of the WriteBooster buffer that unit `index` reaches: the shared buffer from any
// index, else the unit's own; 0 without a buffer or for an index past the units.
uint32_t WriteBoosterUnits(const DeviceModel& model, const uint8_t* config, uint8_t index);

// Logical blocks an enabled unit of this configuration exposes.
uint64_t UnitBlocks(const DeviceModel& model, const UnitEntry& unit);

// Why a configuration descriptor is refused: the unit (-1 for the header), the field and the
// reason, e.g. {1, "alloc_units", "..."}.
struct ConfigProblem {
    int lun = -1;
    std::string field;
    std::string reason;
};
// `config` holds model.layout->config_len bytes.
std::optional<ConfigProblem> CheckConfig(const DeviceModel& model, const uint8_t* config);

}  // namespace kt62::emu
