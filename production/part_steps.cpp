// The steps that talk to the part through queries: who it is, its configuration, its settings.
#include <fnmatch.h>

#include <algorithm>
#include <array>
#include <cstdio>

#include "encoding/big_endian.h"
#include "encoding/utf16.h"
#include "production/run_steps.h"
#include "ufs/idn.h"
#include "ufs/parameters.h"
#include "ufs/versions.h"

namespace kt::production {
namespace {

constexpr std::uint8_t kHardwareReset = 1;
constexpr std::size_t kInquiryRevision = 32;  // 4 bytes of product revision level

std::string Trimmed(std::string text) {
    text.erase(text.find_last_not_of(" \0", std::string::npos, 2) + 1);
    return text;
}

// A string descriptor's text; false when it cannot be read.
bool ReadString(KT62_HANDLE h, std::uint8_t index, std::string& text, std::string& why) {
    std::vector<std::uint8_t> bytes;
    if (const std::int32_t r = ReadWholeDescriptor(h, ufs::kStringDescriptor, index, bytes); r != 0) {
        why = "string descriptor " + std::to_string(index) + ": " + CallFailed("kt62UfsReadDescriptor", r);
        return false;
    }
    text = Trimmed(Utf16BeToUtf8(std::span(bytes).subspan(std::min<std::size_t>(2, bytes.size()))));
    return true;
}

std::string Hex(unsigned v, int digits = 2) {
    char text[16];
    (void)std::snprintf(text, sizeof text, "0x%0*X", digits, v);
    return text;
}

}  // namespace

std::string CallFailed(const char* call, std::int32_t r) {
    return std::string(call) + " failed: " + kt62ResultName(r) + " (" + std::to_string(r) + ")";
}

std::string Mismatch(const Expected& expect, const DeviceFacts& facts, const std::string& product) {
    if (expect.manufacturer_id && *expect.manufacturer_id != facts.manufacturer_id)
        return "manufacturer ID " + Hex(facts.manufacturer_id, 4) + ", the job expects " +
               Hex(*expect.manufacturer_id, 4);
    if (!expect.product_pattern.empty() && fnmatch(expect.product_pattern.c_str(), product.c_str(), 0) != 0)
        return "product \"" + product + "\" does not match \"" + expect.product_pattern + "\"";
    if ((expect.min_version && facts.spec_version < *expect.min_version) ||
        (expect.max_version && facts.spec_version > *expect.max_version))
        return "UFS version " + ufs::VersionText(facts.spec_version) + " outside " +
               (expect.min_version ? ufs::VersionText(*expect.min_version) : "any") + " to " +
               (expect.max_version ? ufs::VersionText(*expect.max_version) : "any");
    if (facts.raw_capacity * 512 < expect.min_raw_capacity_bytes)
        return "raw capacity " + std::to_string(facts.raw_capacity * 512) + " bytes, the job needs " +
               std::to_string(expect.min_raw_capacity_bytes);
    return "";
}

bool SameConfiguration(const std::vector<std::uint8_t>& read, const std::vector<std::uint8_t>& planned,
                       const ufs::ConfigLayout& layout) {
    if (read.size() < layout.Length() || planned.size() < layout.Length()) return false;
    if (!std::equal(read.begin(), read.begin() + layout.header_len, planned.begin())) return false;
    for (int lun = 0; lun < ufs::kConfigUnits; ++lun) {
        const std::ptrdiff_t at = layout.header_len + std::ptrdiff_t{layout.unit_len} * lun;
        if (read[at + ufs::kEntryEnable] == 0 && planned[at + ufs::kEntryEnable] == 0) continue;
        if (!std::equal(read.begin() + at, read.begin() + at + layout.unit_len, planned.begin() + at))
            return false;
    }
    return true;
}

Done Identify(PartRun& p) {
    (void)kt62LastMessage(nullptr, 0);
    p.h = kt62Open(p.position);
    if (p.h == KT62_INVALID_HANDLE) {
        char why[256] = "";
        (void)kt62LastMessage(why, sizeof why);
        return Failed("programmer " + std::to_string(p.position) + " cannot be opened" +
                      (why[0] != '\0' ? std::string(": ") + why : ""));
    }
    std::vector<std::uint8_t> device;
    std::vector<std::uint8_t> geometry;
    if (const std::int32_t r = ReadWholeDescriptor(p.h, ufs::kDeviceDescriptor, 0, device); r != 0)
        return Failed("device descriptor: " + CallFailed("kt62UfsReadDescriptor", r));
    if (const std::int32_t r = ReadWholeDescriptor(p.h, ufs::kGeometryDescriptor, 0, geometry); r != 0)
        return Failed("geometry descriptor: " + CallFailed("kt62UfsReadDescriptor", r));
    FactsOrRefusal facts = DecodeDeviceFacts(device, geometry);
    if (const auto* refusal = std::get_if<Refusal>(&facts)) return Failed(refusal->Text());
    p.facts = std::get<DeviceFacts>(facts);
    p.record.spec_version = p.facts.spec_version;
    std::string why;
    DeviceRecord& r = p.record;
    if (!ReadString(p.h, device[ufs::kDeviceManufacturerName], r.manufacturer, why) ||
        !ReadString(p.h, device[ufs::kDeviceProductName], r.product, why) ||
        !ReadString(p.h, device[ufs::kDeviceSerialNumber], r.serial, why))
        return Failed(why);
    std::array<std::uint8_t, 192> inquiry{};
    if (const std::int32_t e = kt62ScsiInquiry(p.h, inquiry.data()); e != 0)
        return Failed(CallFailed("kt62ScsiInquiry", e));
    r.revision =
        Trimmed(std::string(inquiry.begin() + kInquiryRevision, inquiry.begin() + kInquiryRevision + 4));
    if (std::string mismatch = Mismatch(p.job.expect, p.facts, r.product); !mismatch.empty())
        return Failed("not the part the job expects: " + mismatch);
    // Nothing is written to a part whose run would end in a lock nobody agreed to.
    if (p.job.lock && !p.options.confirm_lock)
        return Failed("the job locks the configuration for good, which --confirm-lock confirms");
    return {};
}

Done Configure(PartRun& p) {
    if (!p.plan) return Skipped("the job has no layout");
    const std::vector<std::uint8_t>& planned = p.plan->configuration;
    std::vector<std::uint8_t> current(planned.size(), 0);
    const auto length = static_cast<std::uint32_t>(current.size());
    if (const std::int32_t r =
            kt62UfsReadDescriptor(p.h, ufs::kConfigurationDescriptor, 0, 0, current.data(), length);
        r != 0)
        return Failed("configuration descriptor: " + CallFailed("kt62UfsReadDescriptor", r));
    if (SameConfiguration(current, planned, p.facts.config_layout))
        return {Outcome::AlreadyConfigured, "the part has the planned configuration"};
    if (const std::int32_t r =
            kt62UfsWriteDescriptor(p.h, ufs::kConfigurationDescriptor, 0, 0, planned.data(), length);
        r != 0)
        return Failed(CallFailed("kt62UfsWriteDescriptor", r));
    if (const std::int32_t r = kt62UfsReset(p.h, kHardwareReset); r != 0)
        return Failed(CallFailed("kt62UfsReset", r));
    return {Outcome::Ok, "written and reset"};
}

namespace {

// The first field of a unit descriptor that is not as planned, or "".
std::string UnitDifference(const std::vector<std::uint8_t>& d, const UnitPlan* unit) {
    if (d.size() < ufs::kUnitLogicalBlockCount + 8)
        return "descriptor of " + std::to_string(d.size()) + " bytes";
    struct Field {
        const char* name;
        std::uint64_t read, planned;
    };
    const UnitRequest* u = unit ? &unit->request : nullptr;
    std::vector<Field> fields = {{"bLUEnable", d[ufs::kUnitLuEnable], u ? 1u : 0u}};
    if (u) {
        fields.push_back({"bBootLunID", d[ufs::kUnitBootLunId], static_cast<std::uint64_t>(u->boot)});
        fields.push_back(
            {"bMemoryType", d[ufs::kUnitMemoryType], static_cast<std::uint64_t>(u->memory_type)});
        fields.push_back({"bLogicalBlockSize", d[ufs::kUnitLogicalBlockSize], u->block_exponent});
        fields.push_back({"qLogicalBlockCount", BigEndian64(&d[ufs::kUnitLogicalBlockCount]), unit->blocks});
        if (d.size() >= ufs::kUnitWbAllocUnits + 4)  // the layouts with WriteBooster
            fields.push_back({"dLUNumWriteBoosterBufferAllocUnits", BigEndian32(&d[ufs::kUnitWbAllocUnits]),
                              unit->wb_alloc_units});
    }
    for (const Field& f : fields)
        if (f.read != f.planned)
            return std::string(f.name) + " reads " + std::to_string(f.read) + ", planned " +
                   std::to_string(f.planned);
    return "";
}

}  // namespace

Done Compare(PartRun& p) {
    if (!p.plan) return Skipped("the job has no layout");
    const Plan& plan = *p.plan;
    std::vector<std::uint8_t> config;
    if (const std::int32_t r = ReadWholeDescriptor(p.h, ufs::kConfigurationDescriptor, 0, config); r != 0)
        return Failed("configuration descriptor: " + CallFailed("kt62UfsReadDescriptor", r));
    if (!SameConfiguration(config, plan.configuration, plan.facts.config_layout)) {
        std::size_t at = 0;
        while (at < config.size() && at < plan.configuration.size() && config[at] == plan.configuration[at])
            ++at;
        return Failed("configuration descriptor byte " + Hex(static_cast<unsigned>(at)) +
                      " is not as planned");
    }
    for (int lun = 0; lun < ufs::kConfigUnits; ++lun) {
        std::vector<std::uint8_t> unit;
        if (const std::int32_t r =
                ReadWholeDescriptor(p.h, ufs::kUnitDescriptor, static_cast<std::uint8_t>(lun), unit);
            r != 0)
            return Failed("unit descriptor " + std::to_string(lun) + ": " +
                          CallFailed("kt62UfsReadDescriptor", r));
        const auto planned = std::find_if(plan.units.begin(), plan.units.end(),
                                          [lun](const UnitPlan& u) { return u.request.lun == lun; });
        const std::string difference =
            UnitDifference(unit, planned == plan.units.end() ? nullptr : &*planned);
        if (!difference.empty()) return Failed("unit " + std::to_string(lun) + ": " + difference);
    }
    return {};
}

Done ApplySettings(PartRun& p) {
    const std::optional<std::uint8_t> boot_lun_en = p.job.layout ? p.job.layout->boot_lun_en : std::nullopt;
    if (!boot_lun_en && p.job.flags.empty()) return Skipped("the job sets nothing");
    std::string done;  // what is set so far, for the record of a failure half-way
    if (boot_lun_en) {
        if (const std::int32_t r = kt62UfsWriteAttribute(p.h, ufs::kAttrBootLunEn, 0, 0, *boot_lun_en);
            r != 0)
            return Failed("bBootLunEn: " + CallFailed("kt62UfsWriteAttribute", r));
        done = "bBootLunEn " + std::to_string(*boot_lun_en);
    }
    for (const FlagSetting& flag : p.job.flags) {
        const std::string name = ufs::FlagName(flag.idn);
        const std::string before = done.empty() ? "" : done + "; ";
        if (const std::int32_t r =
                flag.value ? kt62UfsSetFlag(p.h, flag.idn) : kt62UfsClearFlag(p.h, flag.idn);
            r != 0)
            return Failed(before + name + ": " +
                          CallFailed(flag.value ? "kt62UfsSetFlag" : "kt62UfsClearFlag", r));
        // A part may take the request and keep its old value; only a read says what it holds.
        std::uint8_t now = 0;
        if (const std::int32_t r = kt62UfsReadFlag(p.h, flag.idn, &now); r != 0)
            return Failed(before + name + ": " + CallFailed("kt62UfsReadFlag", r));
        if ((now != 0) != flag.value)
            return Failed(before + name + " reads " + std::to_string(now) + " after it was " +
                          (flag.value ? "set" : "cleared"));
        done = before + name + " " + (flag.value ? "1" : "0");
    }
    return {Outcome::Ok, done};
}

Done Lock(PartRun& p) {
    if (!p.job.lock) return Skipped("the job does not lock the configuration");
    if (const std::int32_t r = kt62UfsWriteAttribute(p.h, ufs::kAttrConfigDescrLock, 0, 0, 1); r != 0)
        return Failed("bConfigDescrLock: " + CallFailed("kt62UfsWriteAttribute", r));
    return {Outcome::Ok, "bConfigDescrLock 1"};
}

}  // namespace kt::production
