// A part's facts from its device and geometry descriptors.
#include "production/plan.h"

#include <limits>
#include <optional>

#include "encoding/big_endian.h"
#include "ufs/descriptor_fields.h"
#include "ufs/idn.h"
#include "ufs/versions.h"

namespace kt::production {
namespace {

constexpr std::uint16_t kUnitFactor = 256;  // a capacity adjustment factor of 1, x 256

Refusal Refuse(int lun, Rule rule, std::string detail) { return Refusal{lun, rule, std::move(detail)}; }

std::string Number(std::uint64_t v) { return std::to_string(v); }

// A descriptor of this IDN holding at least the first version's length.
std::optional<Refusal> CheckDescriptor(std::span<const std::uint8_t> bytes, std::uint8_t idn,
                                       std::size_t least) {
    const std::string name = std::string(ufs::DescriptorName(idn)) + " descriptor";
    if (bytes.size() < least)
        return Refuse(
            -1, Rule::Descriptor,
            name + " of " + Number(bytes.size()) + " bytes, at least " + Number(least) + " expected");
    if (bytes[1] != idn)
        return Refuse(-1, Rule::Descriptor, name + " expected, byte 1 says IDN " + Number(bytes[1]));
    return std::nullopt;
}

WriteBoosterFacts DecodeWriteBooster(const DeviceFacts& f, std::span<const std::uint8_t> device,
                                     std::span<const std::uint8_t> geometry) {
    WriteBoosterFacts wb;
    if (!f.config_layout.WriteBooster() || device.size() < ufs::kDeviceExtendedFeatures + 4 ||
        geometry.size() <= ufs::kGeometryWbBufferTypes)
        return wb;
    wb.supported =
        (BigEndian32(&device[ufs::kDeviceExtendedFeatures]) & ufs::kExtendedFeatureWriteBooster) != 0;
    wb.max_alloc_units = BigEndian32(&geometry[ufs::kGeometryWbMaxAllocUnits]);
    wb.max_units = geometry[ufs::kGeometryWbMaxUnits];
    wb.cap_adj_factor = geometry[ufs::kGeometryWbCapAdjFac];
    wb.reduction_types = geometry[ufs::kGeometryWbReductionTypes];
    wb.buffer_types = geometry[ufs::kGeometryWbBufferTypes];
    return wb;
}

}  // namespace

FactsOrRefusal DecodeDeviceFacts(std::span<const std::uint8_t> device,
                                 std::span<const std::uint8_t> geometry) {
    const ufs::VersionLayout& first = ufs::Versions().front();
    if (auto r = CheckDescriptor(device, ufs::kDeviceDescriptor, first.device_len)) return *r;
    if (auto r = CheckDescriptor(geometry, ufs::kGeometryDescriptor, first.geometry_len)) return *r;
    DeviceFacts f;
    f.spec_version = ufs::VersionOf(device);
    const auto layout =
        ufs::KnownConfigLayout(device[ufs::kDeviceUd0BaseOffset], device[ufs::kDeviceUdConfigPLength]);
    if (!layout)
        return Refuse(-1, Rule::Descriptor,
                      "unknown configuration layout: bUD0BaseOffset " +
                          Number(device[ufs::kDeviceUd0BaseOffset]) + ", bUDConfigPLength " +
                          Number(device[ufs::kDeviceUdConfigPLength]));
    f.config_layout = *layout;
    f.manufacturer_id = BigEndian16(&device[ufs::kDeviceManufacturerId]);
    f.raw_capacity = BigEndian64(&geometry[ufs::kGeometryRawCapacity]);
    f.segment_size = BigEndian32(&geometry[ufs::kGeometrySegmentSize]);
    f.au_segments = geometry[ufs::kGeometryAllocUnitSize];
    const std::uint64_t au_sectors = std::uint64_t{f.segment_size} * f.au_segments;
    const std::uint64_t total = au_sectors == 0 ? 0 : f.raw_capacity / au_sectors;
    if (total == 0 || total > std::numeric_limits<std::uint32_t>::max())
        return Refuse(-1, Rule::Descriptor,
                      "the geometry gives " + Number(total) + " allocation units (qTotalRawDeviceCapacity " +
                          Number(f.raw_capacity) + ", dSegmentSize " + Number(f.segment_size) +
                          ", bAllocationUnitSize " + Number(f.au_segments) + ")");
    f.total_alloc_units = static_cast<std::uint32_t>(total);
    f.max_units = geometry[ufs::kGeometryMaxNumberLu] == 1 ? 32 : 8;
    f.min_addr_block_size = geometry[ufs::kGeometryMinAddrBlockSize];
    f.optimal_block_sizes = BigEndian32(&geometry[ufs::kGeometryOptimalBlockSize]);
    f.secure_removal_types = geometry[ufs::kGeometrySupportedSecRTypes];
    f.supported_memory_types = BigEndian16(&geometry[ufs::kGeometrySupportedMemoryTypes]);
    f.memory[0] = {f.total_alloc_units, kUnitFactor};
    for (std::size_t t = 1; t < f.memory.size(); ++t) {
        const std::uint8_t* p =
            &geometry[ufs::kGeometryMemoryTypeLimits + (t - 1) * ufs::kGeometryMemoryTypeStride];
        f.memory[t] = {BigEndian32(p), BigEndian16(p + 4)};
    }
    f.write_booster = DecodeWriteBooster(f, device, geometry);
    return f;
}

FactsOrRefusal FactsFromSaved(std::span<const std::uint8_t> device_file,
                              std::span<const std::uint8_t> geometry_file) {
    // A saved descriptor is whole: its length byte is the file's.
    for (const auto file : {device_file, geometry_file})
        if (file.empty() || file[0] != file.size())
            return Refuse(-1, Rule::Descriptor,
                          "a saved descriptor of " + Number(file.size()) + " bytes whose byte 0 says " +
                              (file.empty() ? std::string("nothing") : Number(file[0])));
    return DecodeDeviceFacts(device_file, geometry_file);
}

}  // namespace kt::production
