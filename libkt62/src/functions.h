// The access library's functions as fault rules and the call trace name them.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kt62 {

enum class Fn : uint8_t {
    Search,
    Open,
    Close,
    GetVersion,
    GetProduct,
    ScsiInquiry,
    ScsiReadCapacity,
    ScsiRead10,
    ScsiWrite10,
    SetPacketSize,
    UfsReadFlag,
    UfsSetFlag,
    UfsClearFlag,
    UfsToggleFlag,
    UfsReadAttribute,
    UfsWriteAttribute,
    UfsReadDescriptor,
    UfsWriteDescriptor,
    UfsGetDME,
    UfsReset,
    Update,
    ScsiReadCapacityUnit,
    ScsiRead10Unit,
    ScsiWrite10Unit,
};
inline constexpr int kFnCount = static_cast<int>(Fn::ScsiWrite10Unit) + 1;

// Arguments a fault rule can require. The values are bit numbers in FnInfo::match_keys.
enum class MatchKey : uint8_t { Idn, Index, Selector, AttrId, Kind, Position, LbaFrom, LbaTo, Lun };
inline constexpr int kMatchKeyCount = static_cast<int>(MatchKey::Lun) + 1;

// Outputs a fault rule can write. The values are bit numbers in FnInfo::outputs.
enum class Output : uint8_t { Value, Bytes, NameBytes, VersionBytes, Sectors, SectorSize };
inline constexpr int kOutputCount = static_cast<int>(Output::SectorSize) + 1;

struct FnInfo {
    const char* name;
    // Rules for functions that precede any programmer stand in the profile's top-level list.
    bool top_level;
    uint32_t match_keys;
    uint32_t outputs;
    // Range of the `value` output, where the function has one.
    int64_t value_min;
    int64_t value_max;
    // Longest `bytes` output, where the function has one.
    uint32_t bytes_max;
};

const FnInfo& Info(Fn fn);
std::optional<Fn> FnByName(std::string_view name);

const char* Name(MatchKey key);
std::optional<MatchKey> MatchKeyByName(std::string_view name);
const char* Name(Output out);
std::optional<Output> OutputByName(std::string_view name);

constexpr uint32_t Bit(MatchKey k) { return 1u << static_cast<unsigned>(k); }
constexpr uint32_t Bit(Output o) { return 1u << static_cast<unsigned>(o); }

}  // namespace kt62
