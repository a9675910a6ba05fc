// The UFS device's query side in memory: descriptors, flags and attributes
// with their access rules, provisioning, and what SCSI needs to know about
// the logical units. No file I/O: changes to what survives power loss go
// through the saver the owner installs, and are undone when it fails.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "emu/device_model.h"
#include "ufs/parameters.h"

namespace kt62::emu {

// Facts of the model that both its query side and its descriptor images use.
// Contexts per unit (geometry bMaxContexIDNumber): wContextConf selectors 1..kContextIds.
inline constexpr uint8_t kContextIds = 5;
inline constexpr uint8_t kDeviceRttCap = 2;
inline constexpr uint8_t kFlagPermanentWp = kt::ufs::kFlagPermanentWpEn;
inline constexpr uint8_t kFlagPowerOnWp = kt::ufs::kFlagPowerOnWpEn;

using kt::ufs::Access;
using kt::ufs::AccessName;
using kt::ufs::AttributeInfo;
using kt::ufs::FlagInfo;
using kt::ufs::Indexing;

// The flags and attributes the model has, in idn order (those of its version only where it
// builds its lookup).
const std::vector<FlagInfo>& FlagTable();
const std::vector<AttributeInfo>& AttributeTable();

// Everything that survives power loss, as stored in the state file.
struct StoredState {
    std::string identity;
    uint64_t sequence = 0;  // counts saves, so that two versions can be told apart
    std::vector<uint8_t> config_written;
    std::vector<uint8_t> config_active;
    std::vector<std::pair<uint8_t, uint32_t>> flags;       // persistent flags, idn order
    std::vector<std::pair<uint8_t, uint32_t>> attributes;  // persistent attributes, idn order
    std::array<uint32_t, kUnits> unit_generation{};        // changes when a unit's data is discarded
    // Every enabled unit has its data file. States stored by earlier versions made a unit's file
    // at its first use, so there a missing file means "never written", not "lost".
    bool unit_files = true;
    bool operator==(const StoredState&) const = default;
};

// What SCSI needs of one logical unit.
struct UnitTarget {
    bool enabled = false;
    bool write_protected = false;
    uint32_t block_bytes = 0;
    uint64_t blocks = 0;
    uint32_t generation = 0;
    uint64_t Bytes() const { return blocks * block_bytes; }
};

class UfsModel {
public:
    explicit UfsModel(std::shared_ptr<const DeviceModel> device);

    const DeviceModel& Device() const { return *model_; }

    // Saves a changed StoredState; KT62_OK or KT62_E_STATE_IO. Without a saver changes stay in
    // memory.
    using Saver = std::function<int32_t(const StoredState&)>;
    void SetSaver(Saver saver) { saver_ = std::move(saver); }

    // A new device, as the factory ships it (volatile values at power-on).
    void MakeFactoryFresh();
    StoredState Stored() const;
    // Takes a stored state after checking it; the reason on failure, the model unchanged.
    std::optional<std::string> Restore(const StoredState& stored);
    // Power-on or hardware reset: a pending configuration takes effect (units whose layout
    // changed get a new data generation, saved through the saver), volatile flags and
    // attributes return to their power-on values. KT62_E_STATE_IO when the save fails: the
    // configuration then stays pending.
    int32_t PowerOn();
    // Saves the whole stored state through the saver.
    int32_t Save() { return Persist(); }
    bool ConfigurationPending() const { return config_written_ != config_active_; }

    int32_t ReadFlag(uint8_t idn, uint8_t* value) const;
    int32_t SetFlag(uint8_t idn);
    int32_t ClearFlag(uint8_t idn);
    int32_t ToggleFlag(uint8_t idn);
    int32_t ReadAttribute(uint8_t idn, uint8_t index, uint8_t selector, uint32_t* value) const;
    int32_t WriteAttribute(uint8_t idn, uint8_t index, uint8_t selector, uint32_t value);
    int32_t ReadDescriptor(uint8_t idn, uint8_t index, uint8_t selector, uint8_t* buffer,
                           uint32_t length) const;
    int32_t WriteDescriptor(uint8_t idn, uint8_t index, uint8_t selector, const uint8_t* buffer,
                            uint32_t length);

    // The whole descriptor, or nullopt for an address a READ DESCRIPTOR refuses.
    std::optional<std::vector<uint8_t>> Descriptor(uint8_t idn, uint8_t index) const;

    const UnitTarget& Unit(int lun) const { return units_[lun]; }
    const std::array<UnitTarget, kUnits>& Units() const { return units_; }
    // Standard INQUIRY data of unit `lun` (36 bytes).
    void Inquiry(int lun, uint8_t* out36) const;

private:
    struct Desc {
        uint8_t len = 0;
        std::array<uint8_t, 256> bytes{};
    };
    enum FlagOp { kSet, kClear, kToggle };

    int32_t ChangeFlag(uint8_t idn, FlagOp op);
    const FlagInfo* Flag(uint8_t idn) const;
    const AttributeInfo* Attribute(uint8_t idn) const;
    uint32_t PowerOnAttribute(const AttributeInfo& info) const;
    uint32_t PerUnitAttribute(const AttributeInfo& info, uint8_t index) const;
    int32_t Persist();
    void Rebuild();
    void BuildDevice();
    void BuildUnits();
    void BuildRpmbUnit();
    void BuildInterconnect();
    void BuildGeometry();
    void BuildPower();
    void BuildHealth();

    std::shared_ptr<const DeviceModel> model_;
    Saver saver_;
    uint64_t sequence_ = 0;
    std::vector<uint8_t> config_written_;
    std::vector<uint8_t> config_active_;
    std::array<uint32_t, kUnits> generation_{};
    std::array<uint8_t, 256> flag_{};
    std::array<uint32_t, 256> attr_{};
    std::array<std::array<uint16_t, 16>, kUnits> context_conf_{};
    // Lookup by idn; null where the UFS version has no such parameter.
    std::array<const FlagInfo*, 256> flag_info_{};
    std::array<const AttributeInfo*, 256> attr_info_{};

    Desc device_, rpmb_, interconnect_, geometry_, power_, health_;
    std::array<Desc, kUnits> unit_desc_;
    std::array<Desc, kStrings> strings_;
    std::array<UnitTarget, kUnits> units_;
};

}  // namespace kt62::emu
