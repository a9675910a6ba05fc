#include "emu/ufs_device.h"

#include <kt62/apiKT6200.h>

namespace kt62::emu {
namespace {

// Stands in until the device model exists: every device command is refused.
class AbsentUfsDevice final : public UfsDevice {
public:
    int32_t ScsiInquiry(uint8_t*) override { return KT62_E_NOT_SUPPORTED; }
    int32_t ScsiReadCapacity(uint32_t*, uint32_t*) override { return KT62_E_NOT_SUPPORTED; }
    int32_t ScsiRead10(uint32_t, uint32_t, uint8_t*, uint32_t) override { return KT62_E_NOT_SUPPORTED; }
    int32_t ScsiWrite10(uint32_t, uint32_t, const uint8_t*, uint32_t) override {
        return KT62_E_NOT_SUPPORTED;
    }
    int32_t ReadFlag(uint8_t, uint8_t*) override { return KT62_E_NOT_SUPPORTED; }
    int32_t SetFlag(uint8_t) override { return KT62_E_NOT_SUPPORTED; }
    int32_t ClearFlag(uint8_t) override { return KT62_E_NOT_SUPPORTED; }
    int32_t ToggleFlag(uint8_t) override { return KT62_E_NOT_SUPPORTED; }
    int32_t ReadAttribute(uint8_t, uint8_t, uint8_t, uint32_t*) override { return KT62_E_NOT_SUPPORTED; }
    int32_t WriteAttribute(uint8_t, uint8_t, uint8_t, uint32_t) override { return KT62_E_NOT_SUPPORTED; }
    int32_t ReadDescriptor(uint8_t, uint8_t, uint8_t, uint8_t*, uint32_t) override {
        return KT62_E_NOT_SUPPORTED;
    }
    int32_t WriteDescriptor(uint8_t, uint8_t, uint8_t, const uint8_t*, uint32_t) override {
        return KT62_E_NOT_SUPPORTED;
    }
    int32_t GetDme(uint32_t, uint8_t, uint8_t, uint32_t*) override { return KT62_E_NOT_SUPPORTED; }
    int32_t Reset(uint8_t) override { return KT62_E_NOT_SUPPORTED; }
};

}  // namespace

std::unique_ptr<UfsDevice> MakeUfsDevice(const UfsProfile&, const DeviceContext&) {
    return std::make_unique<AbsentUfsDevice>();
}

}  // namespace kt62::emu
