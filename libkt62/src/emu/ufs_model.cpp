#include "emu/ufs_model.h"

#include <algorithm>
#include <cstring>

#include <kt62/apiKT6200.h>

#include "encoding/big_endian.h"

namespace kt62::emu {
namespace {

// Choices where devices and sources disagree or say nothing; docs/emulator.md lists them.
// A device-level attribute ignores INDEX and SELECTOR (hosts send 0); true would answer FCh / FBh.
constexpr bool kStrictDeviceLevelAddressing = false;
constexpr uint8_t kWbAvailableAll = 0x0A;  // bAvailableWriteBoosterBufferSize: 100 % left
constexpr uint8_t kWbLifeTimeNew = 0x01;   // bWriteBoosterBufferLifeTimeEst: 0-10 % used
// Exception event bits a host may enable: 2.x has three, 3.x adds four.
constexpr uint32_t kExceptionMask2x = 0x0007;
constexpr uint32_t kExceptionMask3x = 0x007F;

enum : uint8_t { kPurgeStatusCompleted = 3 };
using namespace kt::ufs;  // NOLINT(google-build-using-namespace): the flags' and attributes' IDNs

bool SameLayout(const UnitEntry& a, const UnitEntry& b) {
    if (a.enable != b.enable) return false;
    if (!a.enable) return true;
    return a.memory_type == b.memory_type && a.alloc_units == b.alloc_units &&
           a.block_exponent == b.block_exponent;
}

}  // namespace

UfsModel::UfsModel(std::shared_ptr<const DeviceModel> device) : model_(std::move(device)) {
    const uint16_t version = model_->layout->bcd;
    for (const FlagInfo& f : FlagTable())
        if (f.since <= version) flag_info_[f.idn] = &f;
    for (const AttributeInfo& a : AttributeTable())
        if (a.since <= version) attr_info_[a.idn] = &a;
    MakeFactoryFresh();
}

const FlagInfo* UfsModel::Flag(uint8_t idn) const { return flag_info_[idn]; }
const AttributeInfo* UfsModel::Attribute(uint8_t idn) const { return attr_info_[idn]; }

uint32_t UfsModel::PowerOnAttribute(const AttributeInfo& info) const {
    if (info.idn == kAttrActiveIccLevel) return config_active_[kConfigInitActiveIccLevel];
    return info.power_on;
}

void UfsModel::MakeFactoryFresh() {
    sequence_ = 0;
    config_written_ = config_active_ = model_->factory_config;
    generation_ = {};
    for (const FlagInfo* f : flag_info_)
        if (f) flag_[f->idn] = f->power_on;
    for (const AttributeInfo* a : attr_info_)
        if (a) attr_[a->idn] = a->idn == kAttrConfigDescrLock ? model_->factory_lock : PowerOnAttribute(*a);
    context_conf_ = {};
    Rebuild();
}

StoredState UfsModel::Stored() const {
    StoredState s;
    s.identity = model_->identity;
    s.sequence = sequence_;
    s.config_written = config_written_;
    s.config_active = config_active_;
    for (const FlagInfo* f : flag_info_)
        if (f && f->persistent) s.flags.emplace_back(f->idn, flag_[f->idn]);
    for (const AttributeInfo* a : attr_info_)
        if (a && a->persistent) s.attributes.emplace_back(a->idn, attr_[a->idn]);
    s.unit_generation = generation_;
    return s;
}

std::optional<std::string> UfsModel::Restore(const StoredState& s) {
    const size_t len = model_->layout->config_len;
    for (const auto* config : {&s.config_written, &s.config_active}) {
        const char* which = config == &s.config_written ? "written configuration" : "configuration in effect";
        if (config->size() != len) return std::string(which) + ": not " + std::to_string(len) + " bytes";
        if (const auto problem = CheckConfig(*model_, config->data()))
            return std::string(which) + ": " +
                   (problem->lun >= 0 ? "unit " + std::to_string(problem->lun) + " " : "") + problem->field +
                   " " + problem->reason;
    }
    size_t flags = 0;
    size_t attributes = 0;
    for (const auto& [idn, value] : s.flags) {
        const FlagInfo* f = Flag(idn);
        if (!f || !f->persistent) return "flag " + std::to_string(idn) + " is not a persistent flag";
        if (value > 1) return std::string("flag ") + f->name + " holds " + std::to_string(value);
        ++flags;
    }
    for (const auto& [idn, value] : s.attributes) {
        const AttributeInfo* a = Attribute(idn);
        if (!a || !a->persistent)
            return "attribute " + std::to_string(idn) + " is not a persistent attribute";
        if (value < a->min || value > a->max)
            return std::string("attribute ") + a->name + " holds " + std::to_string(value) + ", out of range";
        ++attributes;
    }
    size_t want_flags = 0;
    size_t want_attributes = 0;
    for (const FlagInfo* f : flag_info_) want_flags += f && f->persistent;
    for (const AttributeInfo* a : attr_info_) want_attributes += a && a->persistent;
    if (flags != want_flags || attributes != want_attributes) return "persistent flags or attributes missing";

    sequence_ = s.sequence;
    config_written_ = s.config_written;
    config_active_ = s.config_active;
    generation_ = s.unit_generation;
    for (const auto& [idn, value] : s.flags) flag_[idn] = static_cast<uint8_t>(value);
    for (const auto& [idn, value] : s.attributes) attr_[idn] = value;
    for (const FlagInfo* f : flag_info_)
        if (f && !f->persistent) flag_[f->idn] = f->power_on;
    for (const AttributeInfo* a : attr_info_)
        if (a && !a->persistent) attr_[a->idn] = PowerOnAttribute(*a);
    context_conf_ = {};
    Rebuild();
    return std::nullopt;
}

int32_t UfsModel::PowerOn() {
    int32_t result = KT62_OK;
    if (ConfigurationPending()) {
        const std::vector<uint8_t> old_active = config_active_;
        const std::array<uint32_t, kUnits> old_generation = generation_;
        for (int lun = 0; lun < kUnits; ++lun)
            if (!SameLayout(DecodeUnit(*model_, config_active_.data(), lun),
                            DecodeUnit(*model_, config_written_.data(), lun)))
                ++generation_[lun];
        config_active_ = config_written_;
        result = Persist();
        if (result != KT62_OK) {
            config_active_ = old_active;
            generation_ = old_generation;
        }
    }
    for (const FlagInfo* f : flag_info_)
        if (f && !f->persistent) flag_[f->idn] = f->power_on;
    for (const AttributeInfo* a : attr_info_)
        if (a && !a->persistent) attr_[a->idn] = PowerOnAttribute(*a);
    context_conf_ = {};
    Rebuild();
    return result;
}

int32_t UfsModel::Persist() {
    if (!saver_) return KT62_OK;
    ++sequence_;
    const int32_t r = saver_(Stored());
    if (r != KT62_OK) --sequence_;
    return r;
}

// ---- flags -------------------------------------------------------------

int32_t UfsModel::ReadFlag(uint8_t idn, uint8_t* value) const {
    const FlagInfo* f = Flag(idn);
    if (!f) return KT62_QUERY_INVALID_IDN;
    if (f->access == Access::WriteOnly) return KT62_QUERY_NOT_READABLE;
    *value = flag_[idn];
    return KT62_OK;
}

int32_t UfsModel::SetFlag(uint8_t idn) { return ChangeFlag(idn, kSet); }
int32_t UfsModel::ClearFlag(uint8_t idn) { return ChangeFlag(idn, kClear); }
int32_t UfsModel::ToggleFlag(uint8_t idn) { return ChangeFlag(idn, kToggle); }

int32_t UfsModel::ChangeFlag(uint8_t idn, FlagOp op) {
    const FlagInfo* f = Flag(idn);
    if (!f) return KT62_QUERY_INVALID_IDN;
    const uint8_t now = flag_[idn];
    uint8_t next = op == kSet ? 1 : op == kClear ? 0 : !now;
    switch (f->access) {
        case Access::ReadOnly:
            return KT62_QUERY_NOT_WRITEABLE;
        case Access::SetOnly:
            // The device finishes what the flag starts (initialisation) before it answers.
            if (op != kSet) return KT62_QUERY_NOT_WRITEABLE;
            next = 0;
            break;
        case Access::WriteOnce:
            if (now) return KT62_QUERY_ALREADY_WRITTEN;
            break;
        case Access::PowerOnReset:
            if (now && next == 0) return KT62_QUERY_NOT_WRITEABLE;
            break;
        case Access::WriteOnly:
            // Purge and refresh run to completion at once; the flag drops back to 0.
            if (next && idn == kFlagPurgeEnable) attr_[kAttrPurgeStatus] = kPurgeStatusCompleted;
            next = 0;
            break;
        case Access::ReadWrite:
            break;
    }
    if (next == now) return KT62_OK;
    flag_[idn] = next;
    if (f->persistent) {
        if (const int32_t r = Persist(); r != KT62_OK) {
            flag_[idn] = now;
            return r;
        }
    }
    if (idn == kFlagPermanentWp || idn == kFlagPowerOnWp) BuildUnits();
    return KT62_OK;
}

// ---- attributes ----------------------------------------------------------

namespace {

// FCh / FBh for an address the attribute does not have, else 0.
int32_t CheckAddress(const AttributeInfo& a, uint8_t index, uint8_t selector) {
    switch (a.indexing) {
        case Indexing::Device:
            if (kStrictDeviceLevelAddressing) {
                if (index != 0) return KT62_QUERY_INVALID_INDEX;
                if (selector != 0) return KT62_QUERY_INVALID_SELECTOR;
            }
            return KT62_OK;
        case Indexing::PerUnit:
            return index < kUnits ? KT62_OK : KT62_QUERY_INVALID_INDEX;
        case Indexing::PerUnitContext:
            if (index >= kUnits) return KT62_QUERY_INVALID_INDEX;
            return selector >= 1 && selector <= kContextIds ? KT62_OK : KT62_QUERY_INVALID_SELECTOR;
    }
    return KT62_OK;
}

}  // namespace

int32_t UfsModel::ReadAttribute(uint8_t idn, uint8_t index, uint8_t selector, uint32_t* value) const {
    const AttributeInfo* a = Attribute(idn);
    if (!a) return KT62_QUERY_INVALID_IDN;
    if (const int32_t r = CheckAddress(*a, index, selector); r != KT62_OK) return r;
    if (a->access == Access::WriteOnly) return KT62_QUERY_NOT_READABLE;
    switch (a->indexing) {
        case Indexing::Device:
            *value = attr_[idn];
            break;
        case Indexing::PerUnit:
            *value = PerUnitAttribute(*a, index);
            break;
        case Indexing::PerUnitContext:
            *value = context_conf_[index][selector];
            break;
    }
    return KT62_OK;
}

// The WriteBooster attributes report the buffer the configuration in effect gives the unit (any
// unit for a shared buffer); the rest their factory value.
uint32_t UfsModel::PerUnitAttribute(const AttributeInfo& info, uint8_t index) const {
    const uint32_t buffer = WriteBoosterUnits(*model_, config_active_.data(), index);
    switch (info.idn) {
        case kAttrWbFlushStatus:
            return 0;  // idle
        case kAttrWbAvailableSize:
            return buffer ? kWbAvailableAll : 0;
        case kAttrWbLifeTimeEst:
            return buffer ? kWbLifeTimeNew : 0;
        case kAttrWbCurrentSize:
            return buffer;
        default:
            return info.power_on;
    }
}

int32_t UfsModel::WriteAttribute(uint8_t idn, uint8_t index, uint8_t selector, uint32_t value) {
    const AttributeInfo* a = Attribute(idn);
    if (!a) return KT62_QUERY_INVALID_IDN;
    if (const int32_t r = CheckAddress(*a, index, selector); r != KT62_OK) return r;
    if (a->access == Access::ReadOnly) return KT62_QUERY_NOT_WRITEABLE;
    if (a->access == Access::WriteOnce && attr_[idn] != 0) return KT62_QUERY_ALREADY_WRITTEN;
    uint32_t max = a->max;
    if (idn == kAttrExceptionEventControl)
        max = model_->layout->bcd >= 0x0300 ? kExceptionMask3x : kExceptionMask2x;
    if (value < a->min || value > max || (idn == kAttrExceptionEventControl && (value & ~max)))
        return KT62_QUERY_INVALID_VALUE;
    if (a->indexing == Indexing::PerUnitContext) {
        context_conf_[index][selector] = static_cast<uint16_t>(value);
        return KT62_OK;
    }
    const uint32_t old = attr_[idn];
    if (old == value) return KT62_OK;
    attr_[idn] = value;
    if (a->persistent) {
        if (const int32_t r = Persist(); r != KT62_OK) {
            attr_[idn] = old;
            return r;
        }
    }
    return KT62_OK;
}

// ---- descriptors ---------------------------------------------------------

int32_t UfsModel::ReadDescriptor(uint8_t idn, uint8_t index, uint8_t selector, uint8_t* buffer,
                                 uint32_t length) const {
    const uint8_t* data = nullptr;
    size_t size = 0;
    auto use = [&](const Desc& d) {
        data = d.bytes.data();
        size = d.len;
    };
    switch (idn) {
        case kDeviceDescriptor:
            if (index != 0) return KT62_QUERY_INVALID_INDEX;
            use(device_);
            break;
        case kConfigurationDescriptor:
            if (index != 0) return KT62_QUERY_INVALID_INDEX;
            data = config_written_.data();
            size = config_written_.size();
            break;
        case kUnitDescriptor:
            if (index < kUnits)
                use(unit_desc_[index]);
            else if (index == kRpmbUnitIndex)
                use(rpmb_);
            else
                return KT62_QUERY_INVALID_INDEX;
            break;
        case kInterconnectDescriptor:
            if (index != 0) return KT62_QUERY_INVALID_INDEX;
            use(interconnect_);
            break;
        case kStringDescriptor:
            if (index >= kStrings) return KT62_QUERY_INVALID_INDEX;
            use(strings_[index]);
            break;
        case kGeometryDescriptor:
            if (index != 0) return KT62_QUERY_INVALID_INDEX;
            use(geometry_);
            break;
        case kPowerDescriptor:
            if (index != 0) return KT62_QUERY_INVALID_INDEX;
            use(power_);
            break;
        case kHealthDescriptor:
            if (index != 0) return KT62_QUERY_INVALID_INDEX;
            use(health_);
            break;
        default:
            return KT62_QUERY_INVALID_IDN;
    }
    if (selector != 0) return KT62_QUERY_INVALID_SELECTOR;
    // A read of 0 bytes may come without a buffer.
    if (length > 0) std::memcpy(buffer, data, std::min<size_t>(length, size));
    return KT62_OK;
}

std::optional<std::vector<uint8_t>> UfsModel::Descriptor(uint8_t idn, uint8_t index) const {
    std::vector<uint8_t> out(255);
    if (ReadDescriptor(idn, index, 0, out.data(), 255) != KT62_OK) return std::nullopt;
    out.resize(idn == kConfigurationDescriptor ? config_written_.size() : out[0]);
    return out;
}

int32_t UfsModel::WriteDescriptor(uint8_t idn, uint8_t index, uint8_t selector, const uint8_t* buffer,
                                  uint32_t length) {
    switch (idn) {
        case kDeviceDescriptor:
        case kUnitDescriptor:
        case kInterconnectDescriptor:
        case kStringDescriptor:
        case kGeometryDescriptor:
        case kPowerDescriptor:
        case kHealthDescriptor:
            return KT62_QUERY_NOT_WRITEABLE;
        case kConfigurationDescriptor:
            break;
        default:
            return KT62_QUERY_INVALID_IDN;
    }
    if (index != 0) return KT62_QUERY_INVALID_INDEX;
    if (selector != 0) return KT62_QUERY_INVALID_SELECTOR;
    if (attr_[kAttrConfigDescrLock] == 1) return KT62_QUERY_NOT_WRITEABLE;
    const size_t len = model_->layout->config_len;
    if (length != len || buffer[0] != len) return KT62_QUERY_INVALID_LENGTH;
    if (buffer[1] != 0x01 || CheckConfig(*model_, buffer)) return KT62_QUERY_INVALID_VALUE;
    std::vector<uint8_t> old(buffer, buffer + len);
    if (old == config_written_) return KT62_OK;
    config_written_.swap(old);
    if (const int32_t r = Persist(); r != KT62_OK) {
        config_written_.swap(old);
        return r;
    }
    return KT62_OK;
}

void UfsModel::Inquiry(int lun, uint8_t* out) const {
    std::memset(out, 0, 36);
    // Peripheral qualifier 3 (no unit here) for a disabled unit, direct access otherwise.
    out[0] = units_[lun].enabled ? 0x00 : 0x7F;
    out[2] = 0x06;  // SPC-4
    out[3] = 0x02;
    out[4] = 36 - 5;
    out[7] = 0x02;  // command queuing
    std::memcpy(out + 8, model_->strings[kManufacturer].data(), 8);
    std::memcpy(out + 16, model_->strings[kProduct].data(), 16);
    std::memcpy(out + 32, model_->strings[kRevision].data(), 4);
}

}  // namespace kt62::emu
