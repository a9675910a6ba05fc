// The descriptor images the model answers with, built from the device model
// and the configuration in effect.
#include <algorithm>
#include <cstring>
#include <string_view>

#include <kt62/apiKT6200.h>

#include "emu/ufs_model.h"
#include "encoding/big_endian.h"

namespace kt62::emu {
namespace {

using namespace kt::ufs;  // NOLINT(google-build-using-namespace): IDNs and offsets

constexpr uint16_t kManufacturerId = 0x0A5A;  // a test value, no maker's JEDEC code
constexpr uint16_t kManufactureDate = 0x0124;
constexpr uint64_t kRpmbBlocks = 0x4000;       // 4 MiB of 256-byte RPMB frames
constexpr uint8_t kUfsFeaturesSupport = 0x01;  // field firmware update only
// Geometry bSupportedWriteBoosterBufferUserSpaceReductionTypes / bSupportedWriteBoosterBufferTypes:
// 2 = both kinds.
constexpr uint8_t kWbBothKinds = 2;

void PutString(uint8_t* out, const std::string& text) {
    const size_t n = std::min<size_t>(text.size(), 126);
    out[0] = static_cast<uint8_t>(2 + 2 * n);
    out[1] = kStringDescriptor;
    uint8_t* at = out + 2;
    for (const char c : std::string_view(text).substr(0, n)) {
        kt::PutBigEndian16(at, static_cast<uint8_t>(c));
        at += 2;
    }
}

}  // namespace

// ---- descriptor images -----------------------------------------------------

void UfsModel::Rebuild() {
    BuildUnits();
    BuildDevice();
    BuildRpmbUnit();
    BuildInterconnect();
    for (int i = 0; i < kStrings; ++i) {
        strings_[i] = Desc{};
        PutString(strings_[i].bytes.data(), model_->strings[i]);
        strings_[i].len = strings_[i].bytes[0];
    }
    BuildGeometry();
    BuildPower();
    BuildHealth();
}

void UfsModel::BuildRpmbUnit() {
    rpmb_ = Desc{};
    rpmb_.len = 0x23;
    uint8_t* r = rpmb_.bytes.data();
    r[0] = 0x23;
    r[1] = kUnitDescriptor;
    r[kUnitIndex] = kRpmbUnitIndex;
    r[kUnitLuEnable] = 0x01;
    r[kUnitMemoryType] = 0x0F;        // RPMB memory
    r[kUnitLogicalBlockSize] = 0x08;  // 256-byte blocks
    kt::PutBigEndian64(r + kUnitLogicalBlockCount, kRpmbBlocks);
    kt::PutBigEndian64(r + 0x18, kRpmbBlocks);
}

void UfsModel::BuildInterconnect() {
    interconnect_ = Desc{};
    interconnect_.len = 0x06;
    interconnect_.bytes[0] = 0x06;
    interconnect_.bytes[1] = kInterconnectDescriptor;
    kt::PutBigEndian16(interconnect_.bytes.data() + 2, model_->layout->unipro_bcd);
    kt::PutBigEndian16(interconnect_.bytes.data() + 4, model_->layout->mphy_bcd);
}

void UfsModel::BuildGeometry() {
    const DeviceModel& s = *model_;
    const VersionLayout& l = *s.layout;
    geometry_ = Desc{};
    geometry_.len = l.geometry_len;
    uint8_t* g = geometry_.bytes.data();
    g[0] = l.geometry_len;
    g[1] = kGeometryDescriptor;
    kt::PutBigEndian64(g + kGeometryRawCapacity, s.raw_capacity_bytes / 512);
    kt::PutBigEndian32(g + kGeometrySegmentSize, static_cast<uint32_t>(s.segment_bytes / 512));
    g[kGeometryAllocUnitSize] = s.au_segments;
    g[kGeometryMinAddrBlockSize] = 0x08;  // 4 KiB
    g[0x13] = 0x08;
    g[0x14] = 0x08;
    g[0x15] = 0x08;  // bMaxInBufferSize
    g[0x16] = 0x08;  // bMaxOutBufferSize
    g[0x17] = 0x40;  // bRPMB_ReadWriteSize
    g[0x1A] = kContextIds;
    g[kGeometrySupportedSecRTypes] = 0x01;                          // erase
    kt::PutBigEndian16(g + kGeometrySupportedMemoryTypes, 0x807F);  // every memory type, and RPMB
    for (int t = 1; t < kMemoryTypes; ++t) {
        uint8_t* limits =
            g + kGeometryMemoryTypeLimits + kGeometryMemoryTypeStride * static_cast<size_t>(t - 1);
        kt::PutBigEndian32(limits, s.memory[t].max_alloc_units);
        kt::PutBigEndian16(limits + 4, s.memory[t].cap_adj_factor);
    }
    kt::PutBigEndian32(g + kGeometryOptimalBlockSize, 0x0CCCCCCC);  // 4 KiB for every type
    if (l.WriteBooster()) {
        kt::PutBigEndian32(g + kGeometryWbMaxAllocUnits, s.wb_max_alloc_units);
        g[kGeometryWbMaxUnits] = kWbMaxUnits;
        g[kGeometryWbCapAdjFac] = kWbCapAdjFactor;
        g[kGeometryWbReductionTypes] = kWbBothKinds;
        g[kGeometryWbBufferTypes] = kWbBothKinds;
    }
}

void UfsModel::BuildPower() {
    power_ = Desc{};
    power_.len = 0x62;
    power_.bytes[0] = 0x62;
    power_.bytes[1] = kPowerDescriptor;
    for (int level = 0; level < 16; ++level) {
        // Unit mA (bits 15:14 = 2); currents rise with the level.
        const size_t at = 2 * static_cast<size_t>(level);
        kt::PutBigEndian16(power_.bytes.data() + 0x02 + at,
                           static_cast<uint16_t>(0x8000 | (100 + 16 * level)));
        kt::PutBigEndian16(power_.bytes.data() + 0x22 + at, static_cast<uint16_t>(0x8000 | (50 + 8 * level)));
        kt::PutBigEndian16(power_.bytes.data() + 0x42 + at,
                           static_cast<uint16_t>(0x8000 | (150 + 16 * level)));
    }
}

void UfsModel::BuildHealth() {
    const uint8_t len = model_->layout->health_len;
    health_ = Desc{};
    health_.len = len;
    health_.bytes[0] = len;
    health_.bytes[1] = kHealthDescriptor;
    health_.bytes[2] = 0x01;  // bPreEOLInfo: normal
    health_.bytes[3] = 0x01;  // bDeviceLifeTimeEstA: 0-10 % used
    health_.bytes[4] = 0x01;
}

void UfsModel::BuildUnits() {
    const DeviceModel& s = *model_;
    for (int lun = 0; lun < kUnits; ++lun) {
        const UnitEntry u = DecodeUnit(s, config_active_.data(), lun);
        UnitTarget& t = units_[lun];
        t.enabled = u.enable == 1;
        t.block_bytes = t.enabled ? uint32_t{1} << u.block_exponent : 0;
        t.blocks = UnitBlocks(s, u);
        t.generation = generation_[lun];
        t.write_protected = (u.write_protect == 1 && flag_[kFlagPowerOnWp]) ||
                            (u.write_protect == 2 && flag_[kFlagPermanentWp]);

        Desc& d = unit_desc_[lun];
        d = Desc{};
        d.len = s.layout->unit_len;
        uint8_t* p = d.bytes.data();
        p[0] = s.layout->unit_len;
        p[1] = kUnitDescriptor;
        p[kUnitIndex] = static_cast<uint8_t>(lun);
        p[kUnitLuEnable] = u.enable;
        p[kUnitBootLunId] = u.boot_lun_id;
        p[kUnitLuWriteProtect] = u.write_protect;
        p[kUnitMemoryType] = u.memory_type;
        p[9] = u.data_reliability;
        p[kUnitLogicalBlockSize] = u.block_exponent;
        kt::PutBigEndian64(p + kUnitLogicalBlockCount, t.blocks);
        // dEraseBlockSize: one allocation unit, in logical blocks.
        if (t.enabled) kt::PutBigEndian32(p + 0x13, static_cast<uint32_t>(s.au_bytes >> u.block_exponent));
        p[0x17] = u.provisioning_type;
        kt::PutBigEndian64(p + 0x18, t.blocks);
        kt::PutBigEndian16(p + 0x20, u.context_capabilities);
        if (s.layout->WriteBooster()) kt::PutBigEndian32(p + 0x29, u.enable ? u.wb_alloc_units : 0);
    }
}

void UfsModel::BuildDevice() {
    const DeviceModel& s = *model_;
    const VersionLayout& l = *s.layout;
    const uint8_t* c = config_active_.data();
    device_ = Desc{};
    device_.len = l.device_len;
    uint8_t* d = device_.bytes.data();
    d[0] = l.device_len;
    int enabled = 0;
    for (const UnitTarget& t : units_) enabled += t.enabled;
    d[kDeviceNumberLu] = static_cast<uint8_t>(enabled);
    d[kDeviceNumberWlu] = 4;
    // bBootEnable to bSecureRemovalType mirror the configuration in effect, and so does
    // bInitActiveICCLevel.
    std::copy(c + kConfigBootEnable, c + kConfigSecureRemovalType + 1, d + 0x08);
    d[0x0D] = 0x01;  // bSecurityLU: RPMB
    d[0x0F] = c[kConfigInitActiveIccLevel];
    kt::PutBigEndian16(d + kDeviceSpecVersion, l.bcd);
    kt::PutBigEndian16(d + 0x12, kManufactureDate);
    d[kDeviceManufacturerName] = kManufacturer;
    d[kDeviceProductName] = kProduct;
    d[kDeviceSerialNumber] = kSerial;
    d[0x17] = kOem;
    kt::PutBigEndian16(d + kDeviceManufacturerId, kManufacturerId);
    d[kDeviceUd0BaseOffset] = l.config_header_len;
    d[kDeviceUdConfigPLength] = l.config_unit_len;
    d[0x1C] = kDeviceRttCap;
    d[0x1D] = c[kConfigPeriodicRtcUpdate];  // wPeriodicRTCUpdate
    d[0x1E] = c[kConfigPeriodicRtcUpdate + 1];
    d[0x1F] = kUfsFeaturesSupport;
    d[0x20] = 0x0A;  // bFFUTimeout, seconds
    d[0x21] = 0x20;  // bQueueDepth
    d[0x24] = 0x20;  // bNumSecureWPArea
    d[0x2A] = kRevision;
    if (l.WriteBooster()) {
        // dExtendedUFSFeaturesSupport, and the buffer the configuration in effect sets up.
        kt::PutBigEndian32(d + kDeviceExtendedFeatures, kUfsFeaturesSupport | kExtendedFeatureWriteBooster);
        const WriteBoosterHeader wb = kt::ufs::DecodeWriteBoosterHeader(l.Config(), c);
        d[0x53] = wb.preserve_user_space;
        d[0x54] = wb.type;
        kt::PutBigEndian32(d + 0x55, wb.shared_alloc_units);
    }
}

}  // namespace kt62::emu
