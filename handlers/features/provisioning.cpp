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
#include "ufs/versions.h"

namespace kt {
namespace {

constexpr std::uint8_t kBlocksOf4096 = 0x0C;

// The layout of the device's configuration descriptor, or the text that
// says why nothing is written.
std::variant<ufs::ConfigLayout, std::string> DeviceConfigLayout(KT62_HANDLE h, const RawGeometry& geometry) {
    // A geometry descriptor no longer than the first versions' belongs to a part of the 2.x layout.
    if (geometry.length <= ufs::Versions().front().geometry_len) return ufs::kConfigLayout2x;
    std::array<std::uint8_t, kDeviceDescriptorReadLength> device{};
    const std::int32_t r =
        kt62UfsReadDescriptor(h, ufs::kDeviceDescriptor, 0, 0, device.data(), device.size());
    if (r != 0) return "Cannot read the device descriptor: " + CommandFailText(r) + " Nothing was written.";
    if (const auto layout =
            ufs::KnownConfigLayout(device[ufs::kDeviceUd0BaseOffset], device[ufs::kDeviceUdConfigPLength]))
        return *layout;
    return Format(
        "Unknown configuration layout: bUD0BaseOffset %02Xh, bUDConfigPLength %02Xh. "
        "Nothing was written.",
        device[ufs::kDeviceUd0BaseOffset], device[ufs::kDeviceUdConfigPLength]);
}

void Provision(CommandContext& ctx, bool enable_unit0) {
    if (features::RefusedDuringTransfer(ctx, "CFG 1 LUN")) return;
    const KT62_HANDLE h = ctx.Device();
    if (ConfigDescriptorLockedOnDevice(h)) {
        ctx.ShowLog(kConfigLockedText);
        return;
    }
    std::array<std::uint8_t, kGeometryReadLength> geometry_bytes{};
    const std::int32_t g = kt62UfsReadDescriptor(h, ufs::kGeometryDescriptor, 0, 0, geometry_bytes.data(),
                                                 geometry_bytes.size());
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
    const auto descriptor = SingleLunConfiguration(std::get<ufs::ConfigLayout>(layout),
                                                   std::get<std::uint32_t>(units), enable_unit0);
    const std::int32_t r = kt62UfsWriteDescriptor(h, ufs::kConfigurationDescriptor, 0, 0, descriptor.data(),
                                                  static_cast<std::uint32_t>(descriptor.size()));
    ctx.ShowLog(QueryOutcomeText(r, "UFS Write Descriptor", [] { return kProvisionedText; }));
}

}  // namespace

RawGeometry DecodeGeometry(std::span<const std::uint8_t, kGeometryReadLength> geometry) {
    return {geometry[0], BigEndian64(&geometry[ufs::kGeometryRawCapacity]),
            BigEndian32(&geometry[ufs::kGeometrySegmentSize]), geometry[ufs::kGeometryAllocUnitSize]};
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

std::vector<std::uint8_t> SingleLunConfiguration(const ufs::ConfigLayout& layout, std::uint32_t alloc_units,
                                                 bool enable_unit0) {
    ufs::UnitEntry unit0;
    unit0.enable = enable_unit0 ? 1 : 0;
    unit0.alloc_units = alloc_units;
    unit0.block_exponent = kBlocksOf4096;
    return ufs::MakeConfiguration(layout, false, {unit0});
}

void features::ProvisionSingleLun(CommandContext& ctx, bool enable_unit0) { Provision(ctx, enable_unit0); }

}  // namespace kt
