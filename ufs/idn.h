// The numbers a query names things by: descriptor IDNs, the well-known unit indexes, and the flags
// and attributes the program acts on by number.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kt::ufs {

enum DescriptorIdn : std::uint8_t {
    kDeviceDescriptor = 0x00,
    kConfigurationDescriptor = 0x01,
    kUnitDescriptor = 0x02,
    kInterconnectDescriptor = 0x04,
    kStringDescriptor = 0x05,
    kGeometryDescriptor = 0x07,
    kPowerDescriptor = 0x08,
    kHealthDescriptor = 0x09,
};

inline constexpr std::uint8_t kRpmbUnitIndex = 0xC4;
// Logical units a configuration descriptor describes.
inline constexpr int kConfigUnits = 8;

enum FlagIdn : std::uint8_t {
    kFlagDeviceInit = 0x01,
    kFlagPermanentWpEn = 0x02,
    kFlagPowerOnWpEn = 0x03,
    kFlagPurgeEnable = 0x06,
};

enum AttributeIdn : std::uint8_t {
    kAttrBootLunEn = 0x00,
    kAttrActiveIccLevel = 0x03,
    kAttrPurgeStatus = 0x06,
    kAttrConfigDescrLock = 0x0B,
    kAttrExceptionEventControl = 0x0D,
    kAttrWbFlushStatus = 0x1C,
    kAttrWbAvailableSize = 0x1D,
    kAttrWbLifeTimeEst = 0x1E,
    kAttrWbCurrentSize = 0x1F,
};

// Device descriptor offsets that other descriptors are read by.
inline constexpr std::size_t kDeviceNumberLu = 0x06;
inline constexpr std::size_t kDeviceNumberWlu = 0x07;
inline constexpr std::size_t kDeviceSpecVersion = 0x10;       // wSpecVersion, 2 bytes
inline constexpr std::size_t kDeviceManufacturerName = 0x14;  // string descriptor indexes
inline constexpr std::size_t kDeviceProductName = 0x15;
inline constexpr std::size_t kDeviceSerialNumber = 0x16;
inline constexpr std::size_t kDeviceManufacturerId = 0x18;  // wManufacturerID, 2 bytes
inline constexpr std::size_t kDeviceUd0BaseOffset = 0x1A;
inline constexpr std::size_t kDeviceUdConfigPLength = 0x1B;
inline constexpr std::size_t kDeviceExtendedFeatures = 0x4F;  // dExtendedUFSFeaturesSupport, 4 bytes
inline constexpr std::uint32_t kExtendedFeatureWriteBooster = 0x100;

// Geometry descriptor offsets: sizes in 512-byte units.
inline constexpr std::size_t kGeometryRawCapacity = 0x04;    // qTotalRawDeviceCapacity
inline constexpr std::size_t kGeometrySegmentSize = 0x0D;    // dSegmentSize
inline constexpr std::size_t kGeometryAllocUnitSize = 0x11;  // bAllocationUnitSize, in segments
inline constexpr std::size_t kGeometryMaxNumberLu = 0x0C;    // bMaxNumberLU: 0 = 8 units, 1 = 32
inline constexpr std::size_t kGeometryMinAddrBlockSize = 0x12;
inline constexpr std::size_t kGeometrySupportedSecRTypes = 0x1D;
inline constexpr std::size_t kGeometrySupportedMemoryTypes =
    0x1E;  // wSupportedMemoryTypes: bit n = bMemoryType n
// System code, non-persistent, enhanced 1 to 4 (bMemoryType 1 to 6): dMaxNAllocU, then wCapAdjFac
// (the factor x 256), one such pair every kGeometryMemoryTypeStride bytes.
inline constexpr std::size_t kGeometryMemoryTypeLimits = 0x20;
inline constexpr std::size_t kGeometryMemoryTypeStride = 6;
inline constexpr std::size_t kGeometryOptimalBlockSize = 0x44;  // dOptimalLogicalBlockSize
// The WriteBooster limits, in the layouts that have them.
inline constexpr std::size_t kGeometryWbMaxAllocUnits = 0x4F;   // dWriteBoosterBufferMaxNAllocUnits
inline constexpr std::size_t kGeometryWbMaxUnits = 0x53;        // bDeviceMaxWriteBoosterLUs
inline constexpr std::size_t kGeometryWbCapAdjFac = 0x54;       // bWriteBoosterBufferCapAdjFac
inline constexpr std::size_t kGeometryWbReductionTypes = 0x55;  // 0 reduce, 1 preserve, 2 either
inline constexpr std::size_t kGeometryWbBufferTypes = 0x56;     // 0 dedicated, 1 shared, 2 either

// Unit descriptor offsets.
inline constexpr std::size_t kUnitIndex = 0x02;
inline constexpr std::size_t kUnitLuEnable = 0x03;
inline constexpr std::size_t kUnitBootLunId = 0x04;
inline constexpr std::size_t kUnitLuWriteProtect = 0x05;
inline constexpr std::size_t kUnitMemoryType = 0x08;
inline constexpr std::size_t kUnitLogicalBlockSize = 0x0A;
inline constexpr std::size_t kUnitLogicalBlockCount = 0x0B;
inline constexpr std::size_t kUnitWbAllocUnits = 0x29;  // dLUNumWriteBoosterBufferAllocUnits, 3.1 on

}  // namespace kt::ufs
