#include "ufs/descriptor_fields.h"

#include "encoding/big_endian.h"
#include "encoding/utf16.h"
#include "ufs/configuration.h"
#include "ufs/idn.h"

namespace kt::ufs {
namespace {

struct Field {
    size_t offset;
    size_t size;
    std::string name;
};

const std::vector<Field>& DeviceFields() {
    static const std::vector<Field> kFields = {
        {0x00, 1, "bLength"},
        {0x01, 1, "bDescriptorIDN"},
        {0x02, 1, "bDevice"},
        {0x03, 1, "bDeviceClass"},
        {0x04, 1, "bDeviceSubClass"},
        {0x05, 1, "bProtocol"},
        {kDeviceNumberLu, 1, "bNumberLU"},
        {kDeviceNumberWlu, 1, "bNumberWLU"},
        {0x08, 1, "bBootEnable"},
        {0x09, 1, "bDescrAccessEn"},
        {0x0A, 1, "bInitPowerMode"},
        {0x0B, 1, "bHighPriorityLUN"},
        {0x0C, 1, "bSecureRemovalType"},
        {0x0D, 1, "bSecurityLU"},
        {0x0E, 1, "bBackgroundOpsTermLat"},
        {0x0F, 1, "bInitActiveICCLevel"},
        {kDeviceSpecVersion, 2, "wSpecVersion"},
        {0x12, 2, "wManufactureDate"},
        {kDeviceManufacturerName, 1, "iManufacturerName"},
        {kDeviceProductName, 1, "iProductName"},
        {kDeviceSerialNumber, 1, "iSerialNumber"},
        {0x17, 1, "iOemID"},
        {kDeviceManufacturerId, 2, "wManufacturerID"},
        {kDeviceUd0BaseOffset, 1, "bUD0BaseOffset"},
        {kDeviceUdConfigPLength, 1, "bUDConfigPLength"},
        {0x1C, 1, "bDeviceRTTCap"},
        {0x1D, 2, "wPeriodicRTCUpdate"},
        {0x1F, 1, "bUFSFeaturesSupport"},
        {0x20, 1, "bFFUTimeout"},
        {0x21, 1, "bQueueDepth"},
        {0x22, 2, "wDeviceVersion"},
        {0x24, 1, "bNumSecureWPArea"},
        {0x25, 4, "dPSAMaxDataSize"},
        {0x29, 1, "bPSAStateTimeout"},
        {0x2A, 1, "iProductRevisionLevel"},
        {0x40, 2, "wHPBVersion"},
        {0x42, 1, "bHPBControl"},
        {kDeviceExtendedFeatures, 4, "dExtendedUFSFeaturesSupport"},
        {0x53, 1, "bWriteBoosterBufferPreserveUserSpaceEn"},
        {0x54, 1, "bWriteBoosterBufferType"},
        {0x55, 4, "dNumSharedWriteBoosterBufferAllocUnits"},
    };
    return kFields;
}

// The 2.x layout or the 3.1 one; the descriptor's own length tells which.
std::vector<Field> ConfigurationFields(size_t length) {
    const ConfigLayout layout = length > kConfigLayout2x.Length() ? kConfigLayout31 : kConfigLayout2x;
    const bool v31 = layout.WriteBooster();
    std::vector<Field> f = {
        {0x00, 1, "bLength"},
        {0x01, 1, "bDescriptorIDN"},
        {0x02, 1, "bConfDescContinue"},
        {kConfigBootEnable, 1, "bBootEnable"},
        {kConfigDescrAccessEn, 1, "bDescrAccessEn"},
        {kConfigInitPowerMode, 1, "bInitPowerMode"},
        {kConfigHighPriorityLun, 1, "bHighPriorityLUN"},
        {kConfigSecureRemovalType, 1, "bSecureRemovalType"},
        {kConfigInitActiveIccLevel, 1, "bInitActiveICCLevel"},
        {kConfigPeriodicRtcUpdate, 2, "wPeriodicRTCUpdate"},
    };
    if (v31) {
        f.push_back({0x0B, 1, "bHPBControl"});
        f.push_back({0x0C, 1, "bRPMBRegionEnable"});
        f.push_back({0x0D, 1, "bRPMBRegion1Size"});
        f.push_back({0x0E, 1, "bRPMBRegion2Size"});
        f.push_back({0x0F, 1, "bRPMBRegion3Size"});
        f.push_back({kConfigWbPreserveUserSpace, 1, "bWriteBoosterBufferPreserveUserSpaceEn"});
        f.push_back({kConfigWbType, 1, "bWriteBoosterBufferType"});
        f.push_back({kConfigWbSharedAllocUnits, 4, "dNumSharedWriteBoosterBufferAllocUnits"});
    }
    for (size_t lu = 0; lu < size_t{kConfigUnits}; ++lu) {
        const size_t at = layout.header_len + lu * layout.unit_len;
        const std::string p = "LU" + std::to_string(lu) + ".";
        f.push_back({at + kEntryEnable, 1, p + "bLUEnable"});
        f.push_back({at + kEntryBootLunId, 1, p + "bBootLunID"});
        f.push_back({at + kEntryWriteProtect, 1, p + "bLUWriteProtect"});
        f.push_back({at + kEntryMemoryType, 1, p + "bMemoryType"});
        f.push_back({at + kEntryNumAllocUnits, 4, p + "dNumAllocUnits"});
        f.push_back({at + kEntryDataReliability, 1, p + "bDataReliability"});
        f.push_back({at + kEntryLogicalBlockSize, 1, p + "bLogicalBlockSize"});
        f.push_back({at + kEntryProvisioningType, 1, p + "bProvisioningType"});
        f.push_back({at + kEntryContextCapabilities, 2, p + "wContextCapabilities"});
        if (v31) {
            f.push_back({at + 0x10, 2, p + "wLUMaxActiveHPBRegions"});
            f.push_back({at + 0x12, 2, p + "wHPBPinnedRegionStartIdx"});
            f.push_back({at + 0x14, 2, p + "wNumHPBPinnedRegions"});
            f.push_back({at + kEntryWbAllocUnits, 4, p + "dLUNumWriteBoosterBufferAllocUnits"});
        }
    }
    return f;
}

const std::vector<Field>& UnitFields() {
    static const std::vector<Field> kFields = {
        {0x00, 1, "bLength"},
        {0x01, 1, "bDescriptorIDN"},
        {kUnitIndex, 1, "bUnitIndex"},
        {kUnitLuEnable, 1, "bLUEnable"},
        {kUnitBootLunId, 1, "bBootLunID"},
        {kUnitLuWriteProtect, 1, "bLUWriteProtect"},
        {0x06, 1, "bLUQueueDepth"},
        {0x07, 1, "bPSASensitive"},
        {kUnitMemoryType, 1, "bMemoryType"},
        {0x09, 1, "bDataReliability"},
        {kUnitLogicalBlockSize, 1, "bLogicalBlockSize"},
        {kUnitLogicalBlockCount, 8, "qLogicalBlockCount"},
        {0x13, 4, "dEraseBlockSize"},
        {0x17, 1, "bProvisioningType"},
        {0x18, 8, "qPhyMemResourceCount"},
        {0x20, 2, "wContextCapabilities"},
        {0x22, 1, "bLargeUnitGranularity_M1"},
        {0x23, 2, "wLUMaxActiveHPBRegions"},
        {0x25, 2, "wHPBPinnedRegionStartIdx"},
        {0x27, 2, "wNumHPBPinnedRegions"},
        {0x29, 4, "dLUNumWriteBoosterBufferAllocUnits"},
    };
    return kFields;
}

// From 3.0 the RPMB unit has regions: byte 0x09 enables them and 0x13-0x16 size them, where 2.x
// has a reserved byte and dEraseBlockSize.
std::vector<Field> RpmbUnitFields(uint16_t version_bcd) {
    std::vector<Field> f = {
        {0x00, 1, "bLength"},       {0x01, 1, "bDescriptorIDN"}, {0x02, 1, "bUnitIndex"},
        {0x03, 1, "bLUEnable"},     {0x04, 1, "bBootLunID"},     {0x05, 1, "bLUWriteProtect"},
        {0x06, 1, "bLUQueueDepth"}, {0x07, 1, "bPSASensitive"},  {0x08, 1, "bMemoryType"},
    };
    const bool regions = version_bcd >= 0x0300;
    if (regions) f.push_back({0x09, 1, "bRPMBRegionEnable"});
    f.push_back({0x0A, 1, "bLogicalBlockSize"});
    f.push_back({0x0B, 8, "qLogicalBlockCount"});
    if (regions) {
        for (size_t r = 0; r < 4; ++r) f.push_back({0x13 + r, 1, "bRPMBRegion" + std::to_string(r) + "Size"});
    } else {
        f.push_back({0x13, 4, "dEraseBlockSize"});
    }
    f.push_back({0x17, 1, "bProvisioningType"});
    f.push_back({0x18, 8, "qPhyMemResourceCount"});
    return f;
}

const std::vector<Field>& InterconnectFields() {
    static const std::vector<Field> kFields = {
        {0x00, 1, "bLength"},
        {0x01, 1, "bDescriptorIDN"},
        {0x02, 2, "bcdUniproVersion"},
        {0x04, 2, "bcdMphyVersion"},
    };
    return kFields;
}

const std::vector<Field>& GeometryFields() {
    static const std::vector<Field> kFields = {
        {0x00, 1, "bLength"},
        {0x01, 1, "bDescriptorIDN"},
        {0x02, 1, "bMediaTechnology"},
        {kGeometryRawCapacity, 8, "qTotalRawDeviceCapacity"},
        {kGeometryMaxNumberLu, 1, "bMaxNumberLU"},
        {kGeometrySegmentSize, 4, "dSegmentSize"},
        {kGeometryAllocUnitSize, 1, "bAllocationUnitSize"},
        {kGeometryMinAddrBlockSize, 1, "bMinAddrBlockSize"},
        {0x13, 1, "bOptimalReadBlockSize"},
        {0x14, 1, "bOptimalWriteBlockSize"},
        {0x15, 1, "bMaxInBufferSize"},
        {0x16, 1, "bMaxOutBufferSize"},
        {0x17, 1, "bRPMB_ReadWriteSize"},
        {0x18, 1, "bDynamicCapacityResourcePolicy"},
        {0x19, 1, "bDataOrdering"},
        {0x1A, 1, "bMaxContexIDNumber"},
        {0x1B, 1, "bSysDataTagUnitSize"},
        {0x1C, 1, "bSysDataTagResSize"},
        {kGeometrySupportedSecRTypes, 1, "bSupportedSecRTypes"},
        {kGeometrySupportedMemoryTypes, 2, "wSupportedMemoryTypes"},
        {kGeometryMemoryTypeLimits, 4, "dSystemCodeMaxNAllocU"},
        {0x24, 2, "wSystemCodeCapAdjFac"},
        {0x26, 4, "dNonPersistMaxNAllocU"},
        {0x2A, 2, "wNonPersistCapAdjFac"},
        {0x2C, 4, "dEnhanced1MaxNAllocU"},
        {0x30, 2, "wEnhanced1CapAdjFac"},
        {0x32, 4, "dEnhanced2MaxNAllocU"},
        {0x36, 2, "wEnhanced2CapAdjFac"},
        {0x38, 4, "dEnhanced3MaxNAllocU"},
        {0x3C, 2, "wEnhanced3CapAdjFac"},
        {0x3E, 4, "dEnhanced4MaxNAllocU"},
        {0x42, 2, "wEnhanced4CapAdjFac"},
        {kGeometryOptimalBlockSize, 4, "dOptimalLogicalBlockSize"},
        {0x48, 1, "bHPBRegionSize"},
        {0x49, 1, "bHPBNumberLU"},
        {0x4A, 1, "bHPBSubRegionSize"},
        {0x4B, 2, "wDeviceMaxActiveHPBRegions"},
        {kGeometryWbMaxAllocUnits, 4, "dWriteBoosterBufferMaxNAllocUnits"},
        {kGeometryWbMaxUnits, 1, "bDeviceMaxWriteBoosterLUs"},
        {kGeometryWbCapAdjFac, 1, "bWriteBoosterBufferCapAdjFac"},
        {kGeometryWbReductionTypes, 1, "bSupportedWriteBoosterBufferUserSpaceReductionTypes"},
        {kGeometryWbBufferTypes, 1, "bSupportedWriteBoosterBufferTypes"},
    };
    return kFields;
}

std::vector<Field> PowerFields() {
    std::vector<Field> f = {{0x00, 1, "bLength"}, {0x01, 1, "bDescriptorIDN"}};
    const char* rails[] = {"wActiveICCLevelsVCC", "wActiveICCLevelsVCCQ", "wActiveICCLevelsVCCQ2"};
    for (size_t r = 0; r < 3; ++r)
        for (size_t level = 0; level < 16; ++level)
            f.push_back(
                {0x02 + r * 32 + level * 2, 2, std::string(rails[r]) + "[" + std::to_string(level) + "]"});
    return f;
}

const std::vector<Field>& HealthFields() {
    static const std::vector<Field> kFields = {
        {0x00, 1, "bLength"},
        {0x01, 1, "bDescriptorIDN"},
        {0x02, 1, "bPreEOLInfo"},
        {0x03, 1, "bDeviceLifeTimeEstA"},
        {0x04, 1, "bDeviceLifeTimeEstB"},
        {0x05, 32, "VendorPropInfo"},
        {0x25, 4, "dRefreshTotalCount"},
        {0x29, 4, "dRefreshProgress"},
    };
    return kFields;
}

std::vector<Field> FieldsFor(uint8_t idn, uint8_t index, size_t length, uint16_t version_bcd) {
    switch (idn) {
        case kDeviceDescriptor:
            return DeviceFields();
        case kConfigurationDescriptor:
            return ConfigurationFields(length);
        case kUnitDescriptor:
            return index == kRpmbUnitIndex ? RpmbUnitFields(version_bcd) : UnitFields();
        case kInterconnectDescriptor:
            return InterconnectFields();
        case kStringDescriptor:
            return {{0x00, 1, "bLength"}, {0x01, 1, "bDescriptorIDN"}};
        case kGeometryDescriptor:
            return GeometryFields();
        case kPowerDescriptor:
            return PowerFields();
        case kHealthDescriptor:
            return HealthFields();
        default:
            return {{0x00, 1, "bLength"}, {0x01, 1, "bDescriptorIDN"}};
    }
}

DecodedField Make(std::span<const uint8_t> bytes, size_t offset, size_t size, std::string name) {
    DecodedField d;
    d.offset = offset;
    d.size = size;
    d.name = std::move(name);
    const auto part = bytes.subspan(offset, size);
    d.bytes.assign(part.begin(), part.end());
    if (size <= 8 && d.name != "reserved" && d.name != "UC") {
        d.numeric = true;
        for (uint8_t b : part) d.value = (d.value << 8) | b;
    }
    return d;
}

struct IdnName {
    uint8_t idn;
    const char* name;
};

const char* Lookup(std::span<const IdnName> table, uint8_t idn) {
    for (const IdnName& e : table)
        if (e.idn == idn) return e.name;
    return nullptr;
}

constexpr IdnName kDescriptorNames[] = {
    {0x00, "Device"}, {0x01, "Configuration"}, {0x02, "Unit"},  {0x04, "Interconnect"},
    {0x05, "String"}, {0x07, "Geometry"},      {0x08, "Power"}, {0x09, "Device Health"},
};

}  // namespace

const char* DescriptorName(uint8_t idn) { return Lookup(kDescriptorNames, idn); }

uint16_t VersionOf(std::span<const uint8_t> device_descriptor) {
    if (device_descriptor.size() < kDeviceSpecVersion + 2) return 0;
    return BigEndian16(&device_descriptor[kDeviceSpecVersion]);
}

std::vector<DecodedField> DecodeDescriptor(uint8_t idn, uint8_t index, std::span<const uint8_t> bytes,
                                           uint16_t version_bcd) {
    std::vector<DecodedField> out;
    size_t covered = 0;
    auto reserved_up_to = [&](size_t end) {
        if (end > covered) out.push_back(Make(bytes, covered, end - covered, "reserved"));
    };
    for (const Field& f : FieldsFor(idn, index, bytes.size(), version_bcd)) {
        if (f.offset + f.size > bytes.size()) break;
        reserved_up_to(f.offset);
        out.push_back(Make(bytes, f.offset, f.size, f.name));
        covered = f.offset + f.size;
    }
    if (idn == kStringDescriptor && bytes.size() > covered) {
        DecodedField text = Make(bytes, covered, bytes.size() - covered, "UC");
        text.text = Utf16BeToUtf8(text.bytes);
        out.push_back(std::move(text));
        covered = bytes.size();
    }
    reserved_up_to(bytes.size());
    uint8_t block_exponent = 0;
    for (DecodedField& f : out) {
        if (!f.numeric) continue;
        if (f.name == "bLogicalBlockSize") block_exponent = static_cast<uint8_t>(f.value);
        f.meaning = FieldMeaning(f.name, f.value, block_exponent);
    }
    return out;
}

}  // namespace kt::ufs
