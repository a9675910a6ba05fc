// One emulated programmer of a loaded profile: its identity and the UFS
// device it holds. Open handles share it with the profile that
// made it, and keep it after a reload replaced that profile.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include <kt62/apiKT6200.h>

#include "emu/firmware.h"
#include "emu/profile.h"
#include "emu/ufs_device.h"

namespace kt62::emu {

class Programmer {
public:
    Programmer(int position, const ProgrammerProfile& profile, std::filesystem::path state_dir);

    int Position() const { return position_; }
    const std::filesystem::path& StateDir() const { return state_dir_; }
    std::filesystem::path LockPath() const;

    PoweredDevice& Device() { return *device_; }

    // Reads the firmware state this programmer keeps; called by whoever just took its lock.
    void Attach();
    // True while the programmer restarts after an update: it is not attached then.
    bool Restarting() const;

    int32_t GetVersion(uint8_t* version) const;
    int32_t GetProduct(uint8_t* version, uint8_t* name, uint8_t* extra) const;
    // Checks the image, installs it and starts the restart; the caller then drops its session.
    int32_t Update(const kt62_char16* path);

    // "KT000001" for position 0: eight characters, so it fills the extra bytes exactly.
    static std::string SerialFor(int position);

private:
    int position_;
    ProgrammerProfile profile_;
    std::filesystem::path state_dir_;
    std::unique_ptr<PoweredDevice> device_;
    // The running firmware: the profile's until an update is stored, then the stored one. Its own
    // lock: the handle that updated and the next one to open may be on different threads, and
    // the file lock between them is invisible to the memory model.
    mutable std::mutex firmware_mutex_;
    FirmwareVersion running_version_;
    bool firmware_state_failed_ = false;
};

}  // namespace kt62::emu
