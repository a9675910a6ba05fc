// What the values of descriptor fields mean, by field name: enumerations by name, sizes in bytes
// and MiB, versions as text.
#include <cinttypes>
#include <cstdio>
#include <string_view>

#include "ufs/descriptor_fields.h"
#include "ufs/versions.h"

namespace kt::ufs {
namespace {

enum class Kind : std::uint8_t {
    Version,
    DescriptorIdn,
    Enabled,
    MemoryType,
    BootLun,
    WriteProtect,
    Provisioning,
    DataReliability,
    InitPowerMode,
    HighPriorityLun,
    SecureRemoval,
    SecurityLu,
    BlockSize,   // log2 of bytes
    BlockCount,  // logical blocks of the descriptor's block size
    Bytes512,    // 512-byte units
    PreEol,
    LifeTime,
    WbType,
    MaxNumberLu,
    IccLevel,  // bits 15:14 unit, 9:0 value
};

struct Named {
    std::string_view name;
    Kind kind;
};

// A name that ends in "[" matches every element of that array.
constexpr Named kKinds[] = {
    {"wSpecVersion", Kind::Version},
    {"bcdUniproVersion", Kind::Version},
    {"bcdMphyVersion", Kind::Version},
    {"wHPBVersion", Kind::Version},
    {"bDescriptorIDN", Kind::DescriptorIdn},
    {"bLUEnable", Kind::Enabled},
    {"bBootEnable", Kind::Enabled},
    {"bDescrAccessEn", Kind::Enabled},
    {"bRPMBRegionEnable", Kind::Enabled},
    {"bWriteBoosterBufferPreserveUserSpaceEn", Kind::Enabled},
    {"bMemoryType", Kind::MemoryType},
    {"bBootLunID", Kind::BootLun},
    {"bLUWriteProtect", Kind::WriteProtect},
    {"bProvisioningType", Kind::Provisioning},
    {"bDataReliability", Kind::DataReliability},
    {"bInitPowerMode", Kind::InitPowerMode},
    {"bHighPriorityLUN", Kind::HighPriorityLun},
    {"bSecureRemovalType", Kind::SecureRemoval},
    {"bSecurityLU", Kind::SecurityLu},
    {"bLogicalBlockSize", Kind::BlockSize},
    {"qLogicalBlockCount", Kind::BlockCount},
    {"qPhyMemResourceCount", Kind::BlockCount},
    {"qTotalRawDeviceCapacity", Kind::Bytes512},
    {"dSegmentSize", Kind::Bytes512},
    {"bMinAddrBlockSize", Kind::Bytes512},
    {"bOptimalReadBlockSize", Kind::Bytes512},
    {"bOptimalWriteBlockSize", Kind::Bytes512},
    {"bMaxInBufferSize", Kind::Bytes512},
    {"bMaxOutBufferSize", Kind::Bytes512},
    {"bPreEOLInfo", Kind::PreEol},
    {"bDeviceLifeTimeEstA", Kind::LifeTime},
    {"bDeviceLifeTimeEstB", Kind::LifeTime},
    {"bWriteBoosterBufferType", Kind::WbType},
    {"bMaxNumberLU", Kind::MaxNumberLu},
    {"wActiveICCLevelsVCC[", Kind::IccLevel},
    {"wActiveICCLevelsVCCQ[", Kind::IccLevel},
    {"wActiveICCLevelsVCCQ2[", Kind::IccLevel},
};

const Named* KindOf(std::string_view name) {
    // Configuration entries are named "LU3.bMemoryType".
    if (const std::size_t dot = name.find('.'); dot != std::string_view::npos) name.remove_prefix(dot + 1);
    for (const Named& k : kKinds) {
        if (k.name.ends_with('[') ? name.starts_with(k.name) : name == k.name) return &k;
    }
    return nullptr;
}

std::string Pick(std::uint64_t value, std::initializer_list<const char*> names) {
    return value < names.size() ? names.begin()[value] : "";
}

// "33554432 bytes, 32 MiB"; MiB with two decimals where they are not whole, none below one.
std::string SizeText(std::uint64_t bytes) {
    char buf[64];
    if (bytes < (1u << 20))
        (void)std::snprintf(buf, sizeof buf, "%" PRIu64 " bytes", bytes);
    else if (bytes % (1u << 20) == 0)
        (void)std::snprintf(buf, sizeof buf, "%" PRIu64 " bytes, %" PRIu64 " MiB", bytes, bytes >> 20);
    else
        (void)std::snprintf(buf, sizeof buf, "%" PRIu64 " bytes, %.2f MiB", bytes,
                            static_cast<double>(bytes) / (1u << 20));
    return buf;
}

// A count of units of 2^shift bytes, when the bytes fit 64 bits.
std::string ScaledSize(std::uint64_t count, unsigned shift) {
    if (shift >= 64 || (count != 0 && count > (UINT64_MAX >> shift))) return "";
    return SizeText(count << shift);
}

std::string MemoryTypeMeaning(std::uint64_t v) {
    if (v == 0x0F) return "RPMB";
    if (v >= 3 && v <= 6) return "enhanced " + std::to_string(v - 2);
    return Pick(v, {"normal", "system code", "non-persistent"});
}

std::string LifeTimeMeaning(std::uint64_t v) {
    if (v == 0) return "not defined";
    if (v == 0x0B) return "exceeded its estimated life";
    if (v > 0x0B) return "";
    return std::to_string((v - 1) * 10) + "-" + std::to_string(v * 10) + " % used";
}

std::string IccMeaning(std::uint64_t v) {
    static const char* const kUnits[] = {"nA", "uA", "mA", "A"};
    return std::to_string(v & 0x3FF) + " " + kUnits[v >> 14 & 3];
}

std::string Meaning(Kind kind, std::uint64_t v, std::uint8_t block_exponent) {
    switch (kind) {
        case Kind::Version:
            return VersionText(static_cast<std::uint16_t>(v));
        case Kind::DescriptorIdn: {
            const char* name = v <= 0xFF ? DescriptorName(static_cast<std::uint8_t>(v)) : nullptr;
            return name ? name : "";
        }
        case Kind::Enabled:
            return Pick(v, {"disabled", "enabled"});
        case Kind::MemoryType:
            return MemoryTypeMeaning(v);
        case Kind::BootLun:
            return Pick(v, {"not bootable", "boot unit A", "boot unit B"});
        case Kind::WriteProtect:
            return Pick(v, {"not write protected", "power-on write protect", "permanent write protect"});
        case Kind::Provisioning:
            return Pick(
                v, {"thin provisioning off", "", "thin provisioning, TPRZ 0", "thin provisioning, TPRZ 1"});
        case Kind::DataReliability:
            return Pick(v, {"not protected against power loss", "protected against power loss"});
        case Kind::InitPowerMode:
            return Pick(v, {"UFS-Sleep", "Active"});
        case Kind::HighPriorityLun:
            return v == 0x7F ? "all units alike" : "unit " + std::to_string(v);
        case Kind::SecureRemoval:
            return Pick(v, {"erase", "overwrite once, then erase", "overwrite three times, then erase",
                            "vendor defined"});
        case Kind::SecurityLu:
            return Pick(v, {"none", "RPMB"});
        case Kind::BlockSize:  // 0 in the entry of a unit never enabled
            return v == 0 ? "" : ScaledSize(1, static_cast<unsigned>(v));
        case Kind::BlockCount:
            return ScaledSize(v, block_exponent);
        case Kind::Bytes512:
            return ScaledSize(v, 9);
        case Kind::PreEol:
            return Pick(v, {"not defined", "normal", "warning: 80 % of reserved blocks used",
                            "critical: 90 % of reserved blocks used"});
        case Kind::LifeTime:
            return LifeTimeMeaning(v);
        case Kind::WbType:
            return Pick(v, {"dedicated to one unit", "shared"});
        case Kind::MaxNumberLu:
            return Pick(v, {"8 units", "32 units"});
        case Kind::IccLevel:
            return IccMeaning(v);
    }
    return "";
}

}  // namespace

std::string FieldMeaning(const std::string& name, std::uint64_t value, std::uint8_t block_exponent) {
    const Named* k = KindOf(name);
    return k ? Meaning(k->kind, value, block_exponent) : "";
}

}  // namespace kt::ufs
