// The emulated UFS device seen from outside the access library: make one
// factory-fresh, power-cycle it and read everything it holds, for tools
// such as kt62emu that work on a state folder without opening a handle.
//
// Every function here touches the state folder, so a caller outside an open
// library handle first takes the programmer's lock file (LockFile on
// Programmer::LockPath(), "<state_dir>/programmer<N>.lock"), as kt62Open
// does; otherwise a running program could be changing the same state.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "emu/profile.h"
#include "emu/ufs_device.h"

namespace kt62::emu {

// Where the device of programmer `position` keeps its state: "<state_dir>/device<N>" holds
// state.json (configuration, persistent flags and attributes) and one sparse data file per
// logical unit.
std::filesystem::path DeviceDir(const std::filesystem::path& state_dir, int position);

// Checks what the parser cannot see key by key: a layout that fits the capacity, at most one
// boot unit A and one B, a capacity of at least one allocation unit. `key` is relative to the
// ufs object ("logical_units[1].alloc_units").
std::optional<ProfileError> CheckUfsProfile(const UfsProfile& profile);

struct DescriptorView {
    std::string name;  // "Device", "Configuration", "Unit 0" ... "Unit 7", "RPMB unit", "String 0", ...
    uint8_t idn = 0;
    uint8_t index = 0;
    std::vector<uint8_t> bytes;  // the whole descriptor as READ DESCRIPTOR returns it
};

struct ParameterView {
    std::string name;  // "fDeviceInit", "bConfigDescrLock", ...
    uint8_t idn = 0;
    uint8_t index = 0;     // the LUN for per-unit attributes, else 0
    uint8_t selector = 0;  // the context id for wContextConf, else 0
    std::string access;    // "read only", "read/write", "write once", "set only", "write only", ...
    bool persistent = false;
    std::optional<uint32_t> value;  // empty for a parameter that cannot be read (write only)
};

struct DmeView {
    std::string name;  // "TX_HSGEAR", "PA_PWRMode", ...
    uint16_t attr_id = 0;
    uint8_t selector = 0;
    uint32_t local = 0;  // the programmer's side of the link (kind 1)
    uint32_t peer = 0;   // the UFS device's side (kind 3)
};

struct DeviceView {
    // Device, Configuration (as last written), Unit 0-7, RPMB unit, Interconnect, the five
    // strings, Geometry, Power, Health: the bytes a host reads now.
    std::vector<DescriptorView> descriptors;
    std::vector<ParameterView> flags;
    std::vector<ParameterView> attributes;
    std::vector<DmeView> dme;
    // A written configuration waits for a reset or power cycle to take effect.
    bool configuration_pending = false;
    // No state was stored yet (or it belonged to another profile): this is the factory-fresh
    // device the next power-on will make.
    bool factory_fresh = false;
    std::filesystem::path state_file;
};

// Each returns KT62_OK, or with a one-line reason in `error`: KT62_E_STATE_IO (a corrupt or
// unreadable state file, a folder that cannot be written) or KT62_E_BAD_ARGUMENT (ufs keys that
// do not fit together, as CheckUfsProfile says).

// Discards whatever the folder holds for this device (state and logical-unit data) and stores a
// factory-fresh device built from `profile`.
int32_t CreateFreshDevice(const DeviceContext& where, const UfsProfile& profile, std::string& error);

// What a power cycle does: a pending configuration takes effect (units whose layout changed lose
// their data), volatile flags and attributes return to their power-on values. A folder without
// state gets a factory-fresh device.
int32_t PowerCycleDevice(const DeviceContext& where, const UfsProfile& profile, std::string& error);

// Reads the stored device without changing it, with volatile values at their power-on values.
int32_t ReadDeviceView(const DeviceContext& where, const UfsProfile& profile, DeviceView& out,
                       std::string& error);

}  // namespace kt62::emu
