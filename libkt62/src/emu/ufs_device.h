// The UFS device behind an emulated programmer: an open handle's SCSI, query,
// DME and reset calls reach it once the session's fault rules let them pass.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

#include "backend.h"
#include "emu/profile.h"

namespace kt62::emu {

// The device in an emulated programmer's socket: it also sees the socket powered up and down.
class PoweredDevice : public UfsDevice {
public:
    // kt62Open and kt62Close of the programmer. The next call after an open finds the device as
    // stored then (another process may have changed it).
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
std::unique_ptr<PoweredDevice> MakeUfsDevice(const UfsProfile& profile, const DeviceContext& context);

}  // namespace kt62::emu
