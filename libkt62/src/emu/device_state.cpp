#include "emu/device_state.h"

#include <kt62/apiKT6200.h>

#include "emu/device_store.h"
#include "emu/link_model.h"
#include "emu/state_file.h"

namespace kt62::emu {

std::filesystem::path DeviceDir(const std::filesystem::path& state_dir, int position) {
    return state_dir / ("device" + std::to_string(position));
}

std::filesystem::path StateFile(const std::filesystem::path& device_dir) { return device_dir / "state.json"; }

std::optional<ProfileError> CheckUfsProfile(const UfsProfile& profile) {
    return MakeDeviceModel(profile).error;
}

void InstallSaver(UfsModel& model, const std::filesystem::path& device_dir, std::string* last_error) {
    model.SetSaver([&model, device_dir, last_error](const StoredState& s) {
        // A unit of a new generation gets its file before the state that names it is stored (the
        // model's units still show the generations stored last): a crash in between leaves a
        // spare file, never a state whose data is missing.
        bool changed = false;
        for (int lun = 0; lun < kUnits; ++lun)
            changed |= s.unit_generation[lun] != model.Unit(lun).generation;
        if (changed) {
            UfsModel next(std::make_shared<const DeviceModel>(model.Device()));
            if (!next.Restore(s))
                if (const int32_t r = LuStore(device_dir).Prepare(next.Units(), *last_error); r != KT62_OK)
                    return r;
        }
        return SaveState(StateFile(device_dir), s, *last_error);
    });
}

namespace {

// A state stored before every unit had its file: the missing files are units never written, made
// now as they were at first use then; from the state stored here on, a missing file is lost data.
bool UpgradeUnitFiles(const std::filesystem::path& file, StoredState& stored, const UfsModel& model,
                      std::string& error) {
    if (LuStore(file.parent_path()).Prepare(model.Units(), error) != KT62_OK) return false;
    stored.unit_files = true;
    return SaveState(file, stored, error) == KT62_OK;
}

}  // namespace

int32_t LoadDevice(const std::filesystem::path& device_dir, UfsModel& model, bool& fresh, std::string& notice,
                   std::string& error) {
    const std::filesystem::path file = StateFile(device_dir);
    StoredState stored;
    fresh = false;
    switch (LoadState(file, stored, error)) {
        case LoadOutcome::Failed:
            return KT62_E_STATE_IO;
        case LoadOutcome::Missing:
            // Data without the state that says whose it is: making a fresh device would delete it.
            if (LuStore(device_dir).HoldsData()) {
                error = file.string() +
                        ": missing beside the logical units' data files; nothing was changed (restore it, or "
                        "run kt62emu create to start a new device)";
                return KT62_E_STATE_IO;
            }
            fresh = true;
            break;
        case LoadOutcome::Loaded:
            if (stored.identity != model.Device().identity) {
                fresh = true;
                notice = file.string() +
                         " holds another device than the profile describes; it is replaced by a "
                         "factory-fresh one";
            } else if (const auto why = model.Restore(stored)) {
                error = file.string() + ": not a valid state file: " + *why;
                return KT62_E_STATE_IO;
            } else if (!stored.unit_files && !UpgradeUnitFiles(file, stored, model, error)) {
                return KT62_E_STATE_IO;
            } else if (const auto lost = LuStore(device_dir).Check(model.Units())) {
                error = *lost + " (the device in " + file.string() + " is not loaded; nothing was changed)";
                return KT62_E_STATE_IO;
            }
            break;
    }
    if (fresh) model.MakeFactoryFresh();
    return KT62_OK;
}

int32_t PowerUpDevice(const std::filesystem::path& device_dir, UfsModel& model, LuStore& units,
                      std::string& notice, std::string& error) {
    bool fresh = false;
    if (const int32_t r = LoadDevice(device_dir, model, fresh, notice, error); r != KT62_OK) return r;
    std::string save_error;
    InstallSaver(model, device_dir, &save_error);
    if (fresh) {
        // Data of an earlier device must not show through the new one's units; it goes only once
        // the new device is known to fit the state folder.
        if (const int32_t r = LuStore::Probe(device_dir, model.Units(), error); r != KT62_OK) return r;
        units.RemoveAll();
        if (const int32_t r = units.Prepare(model.Units(), error); r != KT62_OK) {
            units.RemoveAll();
            return r;
        }
        if (const int32_t r = model.Save(); r != KT62_OK) {
            error = save_error;
            return r;
        }
    }
    if (const int32_t r = model.PowerOn(); r != KT62_OK) {
        error = save_error;
        return r;
    }
    model.SetSaver(nullptr);
    // The new files first, then the old ones go: a crash between leaves both, never neither.
    if (const int32_t r = units.Prepare(model.Units(), error); r != KT62_OK) return r;
    units.RemoveUnused(model.Units());
    return KT62_OK;
}

int32_t CreateFreshDevice(const DeviceContext& where, const UfsProfile& profile, std::string& error) {
    const ModelOrError made = MakeDeviceModel(profile);
    if (!made.model) {
        error = "ufs." + made.error->key + ": " + made.error->reason;
        return KT62_E_BAD_ARGUMENT;
    }
    const std::filesystem::path dir = DeviceDir(where.state_dir, where.position);
    UfsModel model(made.model);
    LuStore units(dir);
    // The old device stays until the new one is known to fit the state folder.
    if (const int32_t r = LuStore::Probe(dir, model.Units(), error); r != KT62_OK) return r;
    units.RemoveAll();
    if (const int32_t r = units.Prepare(model.Units(), error); r != KT62_OK) {
        units.RemoveAll();
        return r;
    }
    std::string save_error;
    InstallSaver(model, dir, &save_error);
    const int32_t r = model.Save();
    if (r != KT62_OK) error = save_error;
    return r;
}

int32_t PowerCycleDevice(const DeviceContext& where, const UfsProfile& profile, std::string& error) {
    const ModelOrError made = MakeDeviceModel(profile);
    if (!made.model) {
        error = "ufs." + made.error->key + ": " + made.error->reason;
        return KT62_E_BAD_ARGUMENT;
    }
    const std::filesystem::path dir = DeviceDir(where.state_dir, where.position);
    UfsModel model(made.model);
    LuStore units(dir);
    std::string notice;
    return PowerUpDevice(dir, model, units, notice, error);
}

int32_t ReadDeviceView(const DeviceContext& where, const UfsProfile& profile, DeviceView& out,
                       std::string& error) {
    const ModelOrError made = MakeDeviceModel(profile);
    if (!made.model) {
        error = "ufs." + made.error->key + ": " + made.error->reason;
        return KT62_E_BAD_ARGUMENT;
    }
    const std::filesystem::path dir = DeviceDir(where.state_dir, where.position);
    UfsModel model(made.model);
    std::string notice;
    bool fresh = false;
    if (const int32_t r = LoadDevice(dir, model, fresh, notice, error); r != KT62_OK) return r;

    out = DeviceView{};
    out.factory_fresh = fresh;
    out.configuration_pending = model.ConfigurationPending();
    out.state_file = StateFile(dir);
    auto add = [&](std::string name, uint8_t idn, uint8_t index) {
        if (auto bytes = model.Descriptor(idn, index))
            out.descriptors.push_back(DescriptorView{std::move(name), idn, index, std::move(*bytes)});
    };
    add("Device", 0x00, 0);
    add("Configuration", 0x01, 0);
    for (uint8_t lun = 0; lun < kUnits; ++lun) add("Unit " + std::to_string(lun), 0x02, lun);
    add("RPMB unit", 0x02, kRpmbUnitIndex);
    add("Interconnect", 0x04, 0);
    static const char* const kStringNames[kStrings] = {"Manufacturer name", "Product name", "Serial number",
                                                       "OEM ID", "Product revision level"};
    for (uint8_t i = 0; i < kStrings; ++i)
        add(std::string("String ") + std::to_string(i) + " (" + kStringNames[i] + ")", 0x05, i);
    add("Geometry", 0x07, 0);
    add("Power parameters", 0x08, 0);
    add("Device health", 0x09, 0);

    const uint16_t version = made.model->layout->bcd;
    for (const FlagInfo& f : FlagTable()) {
        if (f.since > version) continue;
        ParameterView p{f.name, f.idn, 0, 0, AccessName(f.access), f.persistent, std::nullopt};
        uint8_t v = 0;
        if (model.ReadFlag(f.idn, &v) == KT62_OK) p.value = v;
        out.flags.push_back(std::move(p));
    }
    for (const AttributeInfo& a : AttributeTable()) {
        if (a.since > version) continue;
        auto add_attribute = [&](uint8_t index, uint8_t selector) {
            ParameterView p{a.name, a.idn, index, selector, AccessName(a.access), a.persistent, std::nullopt};
            uint32_t v = 0;
            if (model.ReadAttribute(a.idn, index, selector, &v) == KT62_OK) p.value = v;
            out.attributes.push_back(std::move(p));
        };
        if (a.indexing == Indexing::Device) {
            add_attribute(0, 0);
        } else {
            for (uint8_t lun = 0; lun < kUnits; ++lun) {
                if (!model.Unit(lun).enabled) continue;
                add_attribute(lun, a.indexing == Indexing::PerUnitContext ? 1 : 0);
            }
        }
    }
    for (const DmeAttribute& d : DmeAttributes()) {
        const uint8_t selector = d.scope == DmeAttribute::RxLane ? kFirstRxSelector : 0;
        DmeView v{d.name, d.id, selector, 0, 0};
        DmeGet(*made.model, LinkSide::Local, d.id, selector, &v.local);
        DmeGet(*made.model, LinkSide::Peer, d.id, selector, &v.peer);
        out.dme.push_back(std::move(v));
    }
    return KT62_OK;
}

}  // namespace kt62::emu
