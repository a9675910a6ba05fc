// A layout planned against one part: what its descriptors say it can hold, what each unit asked
// for becomes in allocation units, blocks and configuration descriptor bytes, or the rule that
// refuses the layout before anything is written. Pure arithmetic over descriptor bytes, so the
// same plan comes from a connected part and from its saved descriptors.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "production/job.h"
#include "ufs/configuration.h"

namespace kt::production {

inline constexpr int kMemoryTypeCount = 7;  // bMemoryType normal .. enhanced 4

struct MemoryTypeFacts {
    std::uint32_t max_alloc_units = 0;  // d<Type>MaxNAllocU; normal memory: every allocation unit
    std::uint16_t cap_adj_factor = 0;   // w<Type>CapAdjFac, the factor x 256; normal memory: 256
    bool operator==(const MemoryTypeFacts&) const = default;
};

struct WriteBoosterFacts {
    bool supported = false;             // a layout with the fields and dExtendedUFSFeaturesSupport's bit
    std::uint32_t max_alloc_units = 0;  // dWriteBoosterBufferMaxNAllocUnits
    std::uint8_t max_units = 0;         // bDeviceMaxWriteBoosterLUs
    std::uint8_t cap_adj_factor = 0;    // bWriteBoosterBufferCapAdjFac (not x 256)
    std::uint8_t reduction_types = 0;   // bSupportedWriteBoosterBufferUserSpaceReductionTypes
    std::uint8_t buffer_types = 0;      // bSupportedWriteBoosterBufferTypes
    bool operator==(const WriteBoosterFacts&) const = default;
};

// What a part's device and geometry descriptors say about the layouts it takes.
struct DeviceFacts {
    std::uint16_t spec_version = 0;  // wSpecVersion, BCD
    ufs::ConfigLayout config_layout;
    std::uint16_t manufacturer_id = 0;
    std::uint64_t raw_capacity = 0;  // qTotalRawDeviceCapacity, 512-byte units
    std::uint32_t segment_size = 0;  // dSegmentSize, 512-byte units
    std::uint8_t au_segments = 0;    // bAllocationUnitSize
    std::uint32_t total_alloc_units = 0;
    int max_units = 8;                      // bMaxNumberLU: 8 or 32
    std::uint8_t min_addr_block_size = 0;   // bMinAddrBlockSize, 512-byte units
    std::uint32_t optimal_block_sizes = 0;  // dOptimalLogicalBlockSize
    std::uint8_t secure_removal_types = 0;  // bSupportedSecRTypes
    std::uint16_t supported_memory_types = 0;
    std::array<MemoryTypeFacts, kMemoryTypeCount> memory{};
    WriteBoosterFacts write_booster;

    std::uint64_t AllocUnitBytes() const { return std::uint64_t{au_segments} * segment_size * 512; }
    bool operator==(const DeviceFacts&) const = default;
};

// Why facts or a plan are refused: the unit (-1: the device or the layout as a whole), the rule
// broken and the numbers that break it.
enum class Rule : std::uint8_t {
    Descriptor,            // a descriptor too short, of another IDN, or describing no capacity
    Layout,                // a unit named twice, a second "rest" unit, a unit number below 0
    UnitNumber,            // past bMaxNumberLU or the units one configuration descriptor holds
    MemoryType,            // not in wSupportedMemoryTypes
    TypeCapacity,          // the units of one memory type over its MaxNAllocU
    TotalCapacity,         // all units over the allocation units the part has
    BootRole,              // two units with one boot role; bBootLunEn naming a role no unit has
    BlockSize,             // a block size the part does not take
    Empty,                 // a unit that would get no blocks
    Overflow,              // a size too large to compute
    WriteBooster,          // asked of a part or version without one, or in a way the part does not offer
    WriteBoosterCapacity,  // over dWriteBoosterBufferMaxNAllocUnits
    DeviceSetting,         // a header setting the part does not take, or one that means nothing
    UnitSetting,           // a unit's setting that means nothing
};
const char* RuleName(Rule rule);  // "total capacity"

struct Refusal {
    int lun = -1;
    Rule rule = Rule::Layout;
    std::string detail;
    std::string Text() const;  // "unit 3: type capacity: ..."
};

// The facts of a part, from its device and geometry descriptors as read (each from byte 0).
using FactsOrRefusal = std::variant<DeviceFacts, Refusal>;
FactsOrRefusal DecodeDeviceFacts(std::span<const std::uint8_t> device,
                                 std::span<const std::uint8_t> geometry);
// The same from the part's saved descriptor files (a descriptor's bytes; byte 0 its length and the
// file's, byte 1 its IDN), so that a layout is planned without the part.
FactsOrRefusal FactsFromSaved(std::span<const std::uint8_t> device_file,
                              std::span<const std::uint8_t> geometry_file);

struct UnitPlan {
    UnitRequest request;
    std::uint32_t alloc_units = 0;     // dNumAllocUnits
    std::uint64_t granted_bytes = 0;   // alloc units x AU / the type's factor
    std::uint64_t blocks = 0;          // qLogicalBlockCount the part will report
    std::uint32_t wb_alloc_units = 0;  // a dedicated WriteBooster buffer
};

struct Plan {
    DeviceFacts facts;
    std::vector<UnitPlan> units;              // ascending lun
    std::uint32_t used_alloc_units = 0;       // by the units and, unless user space is preserved, the buffer
    std::uint32_t wb_alloc_units = 0;         // the WriteBooster buffer, dedicated or shared
    std::vector<std::uint8_t> configuration;  // descriptor bytes in the part's own layout
};

// Units take ceil(size x factor / AU) allocation units. A WriteBooster buffer takes
// ceil(size / AU) allocation units of buffer, which cost bWriteBoosterBufferCapAdjFac times as
// many of the units' capacity unless user space is preserved. The "rest" unit takes what the
// others and that cost leave, within its memory type's maximum.
using PlanOrRefusal = std::variant<Plan, Refusal>;
PlanOrRefusal MakePlan(const Layout& layout, const DeviceFacts& facts);

// The plan as text: the allocation unit, a table (unit | memory | boot | asked | alloc units |
// granted | blocks) with totals, the WriteBooster buffer, and the descriptor's bytes in hex.
std::string RenderPlan(const Plan& plan);
// One unit's cells of that table, in its column order, for a front end that draws a table of its own.
inline constexpr int kPlanColumns = 7;
std::array<std::string, kPlanColumns> PlanCells(const UnitPlan& unit);

}  // namespace kt::production
