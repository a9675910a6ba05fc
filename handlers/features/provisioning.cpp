// "CFG 1 LUN" (command 1027) and its variant that leaves unit 0 disabled
// (command 1037). The new layout takes effect at the next device reset.
#include "handlers/features/provisioning.h"

#include <array>
#include <limits>

#include "common/failure_text.h"
#include "common/query_text.h"
#include "common/text_format.h"
#include "encoding/big_endian.h"
#include "handlers/base/config_lock.h"
#include "handlers/features/descriptors.h"
#include "handlers/features/features.h"

namespace kt {
namespace {

// Configuration descriptor header, and the fields of a unit entry relative
// to its start: the same in every layout.
constexpr std::size_t kInitPowerMode = 0x05;
constexpr std::size_t kHighPriorityLun = 0x06;
constexpr std::size_t kUnitEnable = 0x00;
constexpr std::size_t kUnitNumAllocUnits = 0x04;
constexpr std::size_t kUnitLogicalBlockSize = 0x09;
constexpr std::uint8_t kActivePowerMode = 0x01;
constexpr std::uint8_t kNoHighPriorityLun = 0x7F;
constexpr std::uint8_t kBlocksOf4096 = 0x0C;
constexpr std::size_t kUnitEntries = 8;

constexpr std::size_t kAllocationUnitSizeOffset = 0x11;

// The layout of the device's configuration descriptor, or the text that
// says why nothing is written.
std::variant<ConfigLayout, std::string> DeviceConfigLayout(KT62_HANDLE h, const RawGeometry& geometry) {
    if (geometry.length <= kGeometryLength2x) return kConfigLayout2x;
    std::array<std::uint8_t, kDeviceDescriptorReadLength> device{};
    const std::int32_t r = kt62UfsReadDescriptor(h, kDeviceDescriptorIdn, 0, 0, device.data(), device.size());
    if (r != 0) return "Cannot read the device descriptor: " + CommandFailText(r) + " Nothing was written.";
    if (const auto layout = KnownConfigLayout(device[kUd0BaseOffset], device[kUdConfigPLength]))
        return *layout;
    return Format(
        "Unknown configuration layout: bUD0BaseOffset %02Xh, bUDConfigPLength %02Xh. "
        "Nothing was written.",
        device[kUd0BaseOffset], device[kUdConfigPLength]);
}

void Provision(CommandContext& ctx, bool enable_unit0) {
    if (features::RefusedDuringTransfer(ctx, "CFG 1 LUN")) return;
    const KT62_HANDLE h = ctx.Device();
    if (ConfigDescriptorLockedOnDevice(h)) {
        ctx.ShowLog(kConfigLockedText);
        return;
    }
    std::array<std::uint8_t, kGeometryReadLength> geometry_bytes{};
    const std::int32_t g =
        kt62UfsReadDescriptor(h, kGeometryDescriptorIdn, 0, 0, geometry_bytes.data(), geometry_bytes.size());
    if (g != 0) {
        ctx.AppendLog(CommandFailText(g));
        return;
    }
    const RawGeometry geometry = DecodeGeometry(geometry_bytes);
    const auto units = WholeCapacityAllocUnits(geometry);
    if (const auto* refusal = std::get_if<std::string>(&units)) {
        ctx.ShowLog(*refusal);
        return;
    }
    const auto layout = DeviceConfigLayout(h, geometry);
    if (const auto* refusal = std::get_if<std::string>(&layout)) {
        ctx.ShowLog(*refusal);
        return;
    }
    const auto descriptor =
        SingleLunConfiguration(std::get<ConfigLayout>(layout), std::get<std::uint32_t>(units), enable_unit0);
    const std::int32_t r = kt62UfsWriteDescriptor(h, kConfigDescriptorIdn, 0, 0, descriptor.data(),
                                                  static_cast<std::uint32_t>(descriptor.size()));
    ctx.ShowLog(QueryOutcomeText(r, "UFS Write Descriptor", [] { return kProvisionedText; }));
}

}  // namespace

RawGeometry DecodeGeometry(std::span<const std::uint8_t, kGeometryReadLength> geometry) {
    return {geometry[0], BigEndian64(&geometry[kRawCapacityOffset]),
            BigEndian32(&geometry[kSegmentSizeOffset]), geometry[kAllocationUnitSizeOffset]};
}

std::variant<std::uint32_t, std::string> WholeCapacityAllocUnits(const RawGeometry& geometry) {
    if (geometry.segment_size == 0)
        return std::string("Invalid geometry: the segment size is 0. Nothing was written.");
    if (geometry.allocation_unit_size == 0)
        return std::string("Invalid geometry: the allocation unit size is 0. Nothing was written.");
    const std::uint64_t units =
        geometry.total_raw_capacity / (std::uint64_t{geometry.segment_size} * geometry.allocation_unit_size);
    if (units > std::numeric_limits<std::uint32_t>::max())
        return Format("Invalid geometry: %llu %s do not fit in one unit. Nothing was written.",
                      static_cast<unsigned long long>(units),
                      geometry.allocation_unit_size == 1 ? "segments" : "allocation units");
    return static_cast<std::uint32_t>(units);
}

std::optional<ConfigLayout> KnownConfigLayout(std::uint8_t header_length, std::uint8_t unit_length) {
    for (const ConfigLayout& known : {kConfigLayout2x, kConfigLayout31})
        if (known == ConfigLayout{header_length, unit_length}) return known;
    return std::nullopt;
}

std::vector<std::uint8_t> SingleLunConfiguration(const ConfigLayout& layout, std::uint32_t alloc_units,
                                                 bool enable_unit0) {
    std::vector<std::uint8_t> d(layout.header_length + kUnitEntries * layout.unit_length, 0);
    d[0] = static_cast<std::uint8_t>(d.size());
    d[1] = kConfigDescriptorIdn;
    d[kInitPowerMode] = kActivePowerMode;
    d[kHighPriorityLun] = kNoHighPriorityLun;
    std::uint8_t* unit0 = d.data() + layout.header_length;
    unit0[kUnitEnable] = enable_unit0 ? 1 : 0;
    for (int i = 0; i < 4; ++i)
        unit0[kUnitNumAllocUnits + static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(alloc_units >> (24 - 8 * i));
    unit0[kUnitLogicalBlockSize] = kBlocksOf4096;
    return d;
}

void features::ProvisionSingleLun(CommandContext& ctx, bool enable_unit0) { Provision(ctx, enable_unit0); }

}  // namespace kt
