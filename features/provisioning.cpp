// "CFG 1 LUN" (command 1027) and its variant that leaves unit 0 disabled
// (command 1037). The new layout takes effect at the next device reset.
#include "features/provisioning.h"

#include <limits>

#include "app/KT6200DemoDlg.h"
#include "app/text_format.h"
#include "features/descriptors.h"
#include "features/one_step_text.h"
#include "features/swap_bytes.h"
#include "ufs/config_lock.h"
#include "ufs/query_text.h"

namespace kt {
namespace {

// Configuration descriptor: header, then unit 0's block.
constexpr std::size_t kInitPowerMode = 0x05;
constexpr std::size_t kHighPriorityLun = 0x06;
constexpr std::size_t kUnit0Enable = 0x10;
constexpr std::size_t kUnit0NumAllocUnits = 0x14;
constexpr std::size_t kUnit0LogicalBlockSize = 0x19;
constexpr std::uint8_t kActivePowerMode = 0x01;
constexpr std::uint8_t kNoHighPriorityLun = 0x7F;
constexpr std::uint8_t kBlocksOf4096 = 0x0C;

void ProvisionSingleLun(CKT6200DemoDlg& dlg, bool enableUnit0) {
    const KT62_HANDLE h = dlg.m_hDevice.load();
    if (ConfigDescriptorLockedOnDevice(h)) {
        dlg.ShowLog(kConfigLockedText);
        return;
    }
    std::array<std::uint8_t, kGeometryReadLength> geometry{};
    const std::int32_t g =
        kt62UfsReadDescriptor(h, kGeometryDescriptorIdn, 0, 0, geometry.data(), geometry.size());
    if (g != 0) {
        dlg.AppendLog(CommandFailText(g));
        return;
    }
    const auto units = WholeCapacityAllocUnits(DecodeGeometry(geometry));
    if (const auto* refusal = std::get_if<std::string>(&units)) {
        dlg.ShowLog(*refusal);
        return;
    }
    const auto descriptor = SingleLunConfiguration(std::get<std::uint32_t>(units), enableUnit0);
    const std::int32_t r = kt62UfsWriteDescriptor(h, kConfigDescriptorIdn, 0, 0, descriptor.data(),
                                                  static_cast<std::uint32_t>(descriptor.size()));
    dlg.ShowLog(QueryOutcomeText(r, "UFS Write Descriptor", [] { return kProvisionedText; }));
}

}  // namespace

RawGeometry DecodeGeometry(std::span<const std::uint8_t, kGeometryReadLength> geometry) {
    return {BigEndian64(&geometry[kRawCapacityOffset]), BigEndian32(&geometry[kSegmentSizeOffset])};
}

std::variant<std::uint32_t, std::string> WholeCapacityAllocUnits(const RawGeometry& geometry) {
    if (geometry.segmentSize == 0)
        return std::string("Invalid geometry: the segment size is 0. Nothing was written.");
    const std::uint64_t units = geometry.totalRawCapacity / geometry.segmentSize;
    if (units > std::numeric_limits<std::uint32_t>::max())
        return Format("Invalid geometry: %llu segments do not fit in one unit. Nothing was written.",
                      static_cast<unsigned long long>(units));
    return static_cast<std::uint32_t>(units);
}

std::array<std::uint8_t, kConfigDescriptorLength> SingleLunConfiguration(std::uint32_t allocUnits,
                                                                         bool enableUnit0) {
    std::array<std::uint8_t, kConfigDescriptorLength> d{};
    d[0] = static_cast<std::uint8_t>(kConfigDescriptorLength);
    d[1] = kConfigDescriptorIdn;
    d[kInitPowerMode] = kActivePowerMode;
    d[kHighPriorityLun] = kNoHighPriorityLun;
    d[kUnit0Enable] = enableUnit0 ? 1 : 0;
    for (int i = 0; i < 4; ++i)
        d[kUnit0NumAllocUnits + static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(allocUnits >> (24 - 8 * i));
    d[kUnit0LogicalBlockSize] = kBlocksOf4096;
    return d;
}

void CKT6200DemoDlg::OnBnClickedBtnCfg1Lun() { ProvisionSingleLun(*this, true); }
void CKT6200DemoDlg::OnBnClickedBtnCfg1LunDisabled() { ProvisionSingleLun(*this, false); }

}  // namespace kt
