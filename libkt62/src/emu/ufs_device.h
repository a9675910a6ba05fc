// The UFS device behind an emulated programmer. The programmer forwards every
// SCSI, query, DME and reset call here once its fault rules have let it pass.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

#include "profile.h"

namespace kt62::emu {

class UfsDevice {
public:
    virtual ~UfsDevice() = default;

    virtual int32_t ScsiInquiry(uint8_t* buffer192) = 0;
    virtual int32_t ScsiReadCapacity(uint32_t* sectors, uint32_t* bytes_per_sector) = 0;
    // packet_bytes: the transfer unit kt62SetPacketSize chose, 0 = the default.
    virtual int32_t ScsiRead10(uint32_t lba, uint32_t bytes_per_sector, uint8_t* buffer, uint32_t count,
                               uint32_t packet_bytes) = 0;
    virtual int32_t ScsiWrite10(uint32_t lba, uint32_t bytes_per_sector, const uint8_t* buffer,
                                uint32_t count, uint32_t packet_bytes) = 0;

    virtual int32_t ReadFlag(uint8_t idn, uint8_t* value) = 0;
    virtual int32_t SetFlag(uint8_t idn) = 0;
    virtual int32_t ClearFlag(uint8_t idn) = 0;
    virtual int32_t ToggleFlag(uint8_t idn) = 0;
    virtual int32_t ReadAttribute(uint8_t idn, uint8_t index, uint8_t selector, uint32_t* value) = 0;
    virtual int32_t WriteAttribute(uint8_t idn, uint8_t index, uint8_t selector, uint32_t value) = 0;
    virtual int32_t ReadDescriptor(uint8_t idn, uint8_t index, uint8_t selector, uint8_t* buffer,
                                   uint32_t length) = 0;
    virtual int32_t WriteDescriptor(uint8_t idn, uint8_t index, uint8_t selector, const uint8_t* buffer,
                                    uint32_t length) = 0;
    virtual int32_t GetDme(uint32_t attr_id, uint8_t selector, uint8_t kind, uint32_t* value) = 0;
    virtual int32_t Reset(uint8_t kind) = 0;

    // kt62Open and kt62Close of the programmer: it powers its socket up and down. The next call
    // after an open finds the device as stored then (another process may have changed it).
    virtual void OnOpen() {}
    virtual void OnClose() {}
};

// Where a device keeps what survives power loss, and which programmer holds it.
struct DeviceContext {
    std::filesystem::path state_dir;
    int position = 0;
};

// The device for one programmer of a loaded profile. Called once per load; the device must not
// touch its state folder before the first call that needs it.
std::unique_ptr<UfsDevice> MakeUfsDevice(const UfsProfile& profile, const DeviceContext& context);

}  // namespace kt62::emu
