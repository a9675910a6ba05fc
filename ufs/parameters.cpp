#include "ufs/parameters.h"

namespace kt::ufs {
namespace {

constexpr std::uint32_t kU8 = 0xFF, kU16 = 0xFFFF, kU32 = 0xFFFFFFFF;

using A = Access;
using I = Indexing;

constexpr FlagInfo kFlags[] = {
    {0x01, "fDeviceInit", A::SetOnly, false, 0, 0x0200},
    {0x02, "fPermanentWPEn", A::WriteOnce, true, 0, 0x0200},
    {0x03, "fPowerOnWPEn", A::PowerOnReset, false, 0, 0x0200},
    {0x04, "fBackgroundOpsEn", A::ReadWrite, false, 1, 0x0200},
    {0x05, "fDeviceLifeSpanModeEn", A::ReadWrite, false, 0, 0x0210},
    {0x06, "fPurgeEnable", A::WriteOnly, false, 0, 0x0200},
    {0x07, "fRefreshEnable", A::WriteOnly, false, 0, 0x0300},
    {0x08, "fPhyResourceRemoval", A::ReadWrite, true, 0, 0x0200},
    {0x09, "fBusyRTC", A::ReadOnly, false, 0, 0x0200},
    {0x0B, "fPermanentlyDisableFwUpdate", A::WriteOnce, true, 0, 0x0210},
    {0x0E, "fWriteBoosterEn", A::ReadWrite, false, 0, 0x0310},
    {0x0F, "fWriteBoosterBufferFlushEn", A::ReadWrite, false, 0, 0x0310},
    {0x10, "fWriteBoosterBufferFlushDuringHibernate", A::ReadWrite, false, 0, 0x0310},
    {0x11, "fHPBReset", A::SetOnly, false, 0, 0x0310, Feature::Hpb},
    {0x12, "fHPBEn", A::ReadWrite, true, 0, 0x0310, Feature::Hpb},
};

constexpr AttributeInfo kAttributes[] = {
    {0x00, "bBootLunEn", 1, A::ReadWrite, true, I::Device, 0x0200, 0, 0, 2},
    {0x02, "bCurrentPowerMode", 1, A::ReadOnly, false, I::Device, 0x0200, 0x11, 0, kU8},
    {0x03, "bActiveICCLevel", 1, A::ReadWrite, false, I::Device, 0x0200, 0, 0, 0x0F},
    {0x04, "bOutOfOrderDataEn", 1, A::WriteOnce, true, I::Device, 0x0200, 0, 0, 1},
    {0x05, "bBackgroundOpStatus", 1, A::ReadOnly, false, I::Device, 0x0200, 0, 0, kU8},
    {0x06, "bPurgeStatus", 1, A::ReadOnly, false, I::Device, 0x0200, 0, 0, kU8},
    {0x07, "bMaxDataInSize", 1, A::ReadWrite, true, I::Device, 0x0200, 0x08, 1, 0x08},
    {0x08, "bMaxDataOutSize", 1, A::ReadWrite, true, I::Device, 0x0200, 0x08, 1, 0x08},
    {0x09, "dDynCapNeeded", 4, A::ReadOnly, false, I::PerUnit, 0x0200, 0, 0, kU32},
    {0x0A, "bRefClkFreq", 1, A::ReadWrite, true, I::Device, 0x0200, 0x01, 0, 3},
    {0x0B, "bConfigDescrLock", 1, A::WriteOnce, true, I::Device, 0x0200, 0, 0, 1},
    {0x0C, "bMaxNumOfRTT", 1, A::ReadWrite, true, I::Device, 0x0200, 2, 2, kU8},
    {0x0D, "wExceptionEventControl", 2, A::ReadWrite, false, I::Device, 0x0200, 0, 0, kU16},
    {0x0E, "wExceptionEventStatus", 2, A::ReadOnly, false, I::Device, 0x0200, 0, 0, kU16},
    {0x0F, "dSecondsPassed", 4, A::WriteOnly, false, I::Device, 0x0200, 0, 0, kU32},
    {0x10, "wContextConf", 2, A::ReadWrite, false, I::PerUnitContext, 0x0200, 0, 0, kU16},
    {0x11, "dCorrPrgBlkNum", 4, A::ReadOnly, false, I::Device, 0x0200, 0, 0, kU32},
    {0x14, "bDeviceFFUStatus", 1, A::ReadOnly, false, I::Device, 0x0210, 0, 0, kU8},
    {0x15, "bPSAState", 1, A::ReadWrite, true, I::Device, 0x0210, 0, 0, 2},
    {0x16, "dPSADataSize", 4, A::ReadWrite, true, I::Device, 0x0210, 0, 0, kU32},
    {0x17, "bRefClkGatingWaitTime", 1, A::ReadOnly, false, I::Device, 0x0300, 0, 0, kU8},
    {0x18, "bDeviceCaseRoughTemperature", 1, A::ReadOnly, false, I::Device, 0x0300, 0, 0, kU8},
    {0x19, "bDeviceTooHighTempBoundary", 1, A::ReadOnly, false, I::Device, 0x0300, 0, 0, kU8},
    {0x1A, "bDeviceTooLowTempBoundary", 1, A::ReadOnly, false, I::Device, 0x0300, 0, 0, kU8},
    {0x1B, "bThrottlingStatus", 1, A::ReadOnly, false, I::Device, 0x0310, 0, 0, kU8},
    {0x1C, "bWriteBoosterBufferFlushStatus", 1, A::ReadOnly, false, I::PerUnit, 0x0310, 0, 0, kU8},
    {0x1D, "bAvailableWriteBoosterBufferSize", 1, A::ReadOnly, false, I::PerUnit, 0x0310, 0, 0, kU8},
    {0x1E, "bWriteBoosterBufferLifeTimeEst", 1, A::ReadOnly, false, I::PerUnit, 0x0310, 0x01, 0, kU8},
    {0x1F, "dCurrentWriteBoosterBufferSize", 4, A::ReadOnly, false, I::PerUnit, 0x0310, 0, 0, kU32},
    {0x2A, "bEXTIIDEn", 1, A::WriteOnce, true, I::Device, 0x0400, 0, 0, 1},
    {0x2B, "wHostHintCacheSize", 2, A::ReadWrite, true, I::Device, 0x0400, 0, 0, kU16},
    {0x2C, "bRefreshStatus", 1, A::ReadOnly, false, I::Device, 0x0300, 0, 0, kU8},
    {0x2D, "bRefreshFreq", 1, A::ReadWrite, true, I::Device, 0x0300, 0, 0, kU8},
    {0x2E, "bRefreshUnit", 1, A::ReadWrite, true, I::Device, 0x0300, 0, 0, kU8},
    {0x2F, "bRefreshMethod", 1, A::ReadWrite, true, I::Device, 0x0300, 0, 0, kU8},
    // 64 bits on the wire; the access library's VALUE is 32 bits, so a write sets the low half.
    {0x30, "qTimestamp", 8, A::WriteOnly, false, I::Device, 0x0400, 0, 0, kU32},
};

template <typename T>
const T* Find(std::span<const T> table, std::uint8_t idn) {
    for (const T& e : table)
        if (e.idn == idn) return &e;
    return nullptr;
}

}  // namespace

const char* AccessName(Access access) {
    switch (access) {
        case Access::ReadOnly:
            return "read only";
        case Access::ReadWrite:
            return "read/write";
        case Access::WriteOnce:
            return "write once";
        case Access::SetOnly:
            return "set only";
        case Access::WriteOnly:
            return "write only";
        case Access::PowerOnReset:
            return "set until reset";
    }
    return "?";
}

std::span<const FlagInfo> Flags() { return kFlags; }
std::span<const AttributeInfo> Attributes() { return kAttributes; }
const FlagInfo* FindFlag(std::uint8_t idn) { return Find(Flags(), idn); }
const AttributeInfo* FindAttribute(std::uint8_t idn) { return Find(Attributes(), idn); }

const char* FlagName(std::uint8_t idn) {
    const FlagInfo* f = FindFlag(idn);
    return f ? f->name : nullptr;
}

const char* AttributeName(std::uint8_t idn) {
    const AttributeInfo* a = FindAttribute(idn);
    return a ? a->name : nullptr;
}

}  // namespace kt::ufs
