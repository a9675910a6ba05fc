#include "functions.h"

#include <array>

namespace kt62 {
namespace {

constexpr uint32_t kQuery = Bit(MatchKey::Idn) | Bit(MatchKey::Index) | Bit(MatchKey::Selector);
constexpr uint32_t kLba = Bit(MatchKey::LbaFrom) | Bit(MatchKey::LbaTo);
constexpr int64_t kU8 = 0xFF;
constexpr int64_t kU32 = 0xFFFFFFFF;
constexpr int64_t kI32Min = INT32_MIN;
constexpr int64_t kI32Max = INT32_MAX;

// Indexed by Fn.
constexpr std::array<FnInfo, kFnCount> kFunctions = {{
    {"kt62Search", true, 0, Bit(Output::Value), kI32Min, kI32Max, 0},
    {"kt62Open", true, Bit(MatchKey::Position), 0, 0, 0, 0},
    {"kt62Close", false, 0, 0, 0, 0, 0},
    {"kt62GetVersion", false, 0, Bit(Output::Bytes), 0, 0, 4},
    {"kt62GetProduct", false, 0, Bit(Output::NameBytes) | Bit(Output::VersionBytes), 0, 0, 0},
    {"kt62ScsiInquiry", false, 0, Bit(Output::Bytes), 0, 0, 192},
    {"kt62ScsiReadCapacity", false, 0, Bit(Output::Sectors) | Bit(Output::SectorSize), 0, 0, 0},
    {"kt62ScsiRead10", false, kLba, 0, 0, 0, 0},
    {"kt62ScsiWrite10", false, kLba, 0, 0, 0, 0},
    {"kt62SetPacketSize", true, 0, 0, 0, 0, 0},
    {"kt62UfsReadFlag", false, Bit(MatchKey::Idn), Bit(Output::Value), 0, kU8, 0},
    {"kt62UfsSetFlag", false, Bit(MatchKey::Idn), 0, 0, 0, 0},
    {"kt62UfsClearFlag", false, Bit(MatchKey::Idn), 0, 0, 0, 0},
    {"kt62UfsToggleFlag", false, Bit(MatchKey::Idn), 0, 0, 0, 0},
    {"kt62UfsReadAttribute", false, kQuery, Bit(Output::Value), 0, kU32, 0},
    {"kt62UfsWriteAttribute", false, kQuery, 0, 0, 0, 0},
    {"kt62UfsReadDescriptor", false, kQuery, Bit(Output::Bytes), 0, 0, 255},
    {"kt62UfsWriteDescriptor", false, kQuery, 0, 0, 0, 0},
    {"kt62UfsGetDME", false, Bit(MatchKey::AttrId) | Bit(MatchKey::Selector) | Bit(MatchKey::Kind),
     Bit(Output::Value), 0, kU32, 0},
    {"kt62UfsReset", false, Bit(MatchKey::Kind), 0, 0, 0, 0},
    {"kt62Update", false, 0, 0, 0, 0, 0},
    {"kt62ScsiReadCapacityUnit", false, Bit(MatchKey::Lun), Bit(Output::Sectors) | Bit(Output::SectorSize), 0,
     0, 0},
    {"kt62ScsiRead10Unit", false, Bit(MatchKey::Lun) | kLba, 0, 0, 0, 0},
    {"kt62ScsiWrite10Unit", false, Bit(MatchKey::Lun) | kLba, 0, 0, 0, 0},
}};

constexpr std::array<const char*, kMatchKeyCount> kMatchKeys = {
    "idn", "index", "selector", "attr_id", "kind", "position", "lba_from", "lba_to", "lun"};
constexpr std::array<const char*, kOutputCount> kOutputs = {"value",         "bytes",   "name_bytes",
                                                            "version_bytes", "sectors", "sector_size"};

}  // namespace

const FnInfo& Info(Fn fn) { return kFunctions[static_cast<size_t>(fn)]; }

std::optional<Fn> FnByName(std::string_view name) {
    for (size_t i = 0; i < kFunctions.size(); ++i)
        if (name == kFunctions[i].name) return static_cast<Fn>(i);
    return std::nullopt;
}

const char* Name(MatchKey key) { return kMatchKeys[static_cast<size_t>(key)]; }

std::optional<MatchKey> MatchKeyByName(std::string_view name) {
    for (size_t i = 0; i < kMatchKeys.size(); ++i)
        if (name == kMatchKeys[i]) return static_cast<MatchKey>(i);
    return std::nullopt;
}

const char* Name(Output out) { return kOutputs[static_cast<size_t>(out)]; }

std::optional<Output> OutputByName(std::string_view name) {
    for (size_t i = 0; i < kOutputs.size(); ++i)
        if (name == kOutputs[i]) return static_cast<Output>(i);
    return std::nullopt;
}

}  // namespace kt62
