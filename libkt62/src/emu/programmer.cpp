#include "emu/programmer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "backend.h"
#include "diag.h"
#include "emu/programmer_state.h"

namespace kt62::emu {

Programmer::Programmer(int position, const ProgrammerProfile& profile, std::filesystem::path state_dir)
    : position_(position),
      profile_(profile),
      state_dir_(std::move(state_dir)),
      device_(MakeUfsDevice(profile.ufs, DeviceContext{state_dir_, position})),
      running_version_(profile.firmware_version) {}

std::filesystem::path Programmer::LockPath() const {
    return state_dir_ / ("programmer" + std::to_string(position_) + ".lock");
}

std::string Programmer::SerialFor(int position) {
    char buf[16];
    (void)std::snprintf(buf, sizeof buf, "KT%06d", (position + 1) % 1000000);  // 8 characters
    return buf;
}

int32_t Programmer::GetVersion(uint8_t* version) const {
    if (!profile_.get_version_supported) return KT62_E_NOT_SUPPORTED;
    std::lock_guard lock(firmware_mutex_);
    if (firmware_state_failed_) return KT62_E_STATE_IO;
    version[0] = running_version_[0];
    version[1] = running_version_[1];
    version[2] = running_version_[2];
    version[3] = 0;
    return KT62_OK;
}

int32_t Programmer::GetProduct(uint8_t* version, uint8_t* name, uint8_t* extra) const {
    CopyPadded(profile_.product_version, version, 4);
    CopyPadded(profile_.product_name, name, 16);
    CopyPadded(SerialFor(position_), extra, 8);
    return KT62_OK;
}

void Programmer::Attach() {
    ProgrammerState state;
    std::string why;
    const auto load = LoadProgrammerState(FirmwareStatePath(state_dir_, position_), state, why);
    std::lock_guard lock(firmware_mutex_);
    switch (load) {
        case StateLoad::Absent:
            running_version_ = profile_.firmware_version;
            firmware_state_failed_ = false;
            break;
        case StateLoad::Loaded:
            running_version_ = state.Active().version;
            firmware_state_failed_ = false;
            break;
        case StateLoad::Failed:
            Complain("programmer " + std::to_string(position_) + " firmware state: " + why);
            firmware_state_failed_ = true;
            break;
    }
}

bool Programmer::Restarting() const {
    return Restarts::Active(FirmwareStatePath(state_dir_, position_).string());
}

int32_t Programmer::Update(const kt62_char16* path) {
    const std::optional<std::filesystem::path> file = PathFromUtf16(path);
    if (!file) return KT62_E_FW_MISSING;
    FirmwareImage image;
    if (const int32_t r = ReadFirmwareImage(*file, image); r != KT62_OK) return r;
    const std::filesystem::path state_file = FirmwareStatePath(state_dir_, position_);
    ProgrammerState installed;
    std::string why;
    if (InstallFirmware(state_file, profile_.firmware_version, image, installed, why) != KT62_OK) {
        Complain("programmer " + std::to_string(position_) + " firmware update: " + why);
        return KT62_E_STATE_IO;
    }
    std::lock_guard lock(firmware_mutex_);
    running_version_ = installed.Active().version;
    firmware_state_failed_ = false;
    Restarts::Begin(state_file.string());
    return KT62_OK;
}

}  // namespace kt62::emu
