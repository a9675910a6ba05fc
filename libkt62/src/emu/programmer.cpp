#include "emu/programmer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace kt62::emu {
namespace {

void CopyPadded(const std::string& text, uint8_t* out, size_t size) {
    std::memset(out, 0, size);
    std::memcpy(out, text.data(), std::min(text.size(), size));
}

}  // namespace

Programmer::Programmer(int position, const ProgrammerProfile& profile, std::filesystem::path state_dir)
    : position_(position),
      profile_(profile),
      state_dir_(std::move(state_dir)),
      faults_(profile.faults),
      device_(MakeUfsDevice(profile.ufs, DeviceContext{state_dir_, position})) {}

std::filesystem::path Programmer::LockPath() const {
    return state_dir_ / ("programmer" + std::to_string(position_) + ".lock");
}

std::string Programmer::SerialFor(int position) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "KT%06d", (position + 1) % 1000000);
    return buf;
}

int32_t Programmer::GetVersion(uint8_t* version) const {
    if (!profile_.get_version_supported) return KT62_E_NOT_SUPPORTED;
    version[0] = profile_.firmware_version[0];
    version[1] = profile_.firmware_version[1];
    version[2] = profile_.firmware_version[2];
    version[3] = 0;
    return KT62_OK;
}

int32_t Programmer::GetProduct(uint8_t* version, uint8_t* name, uint8_t* extra) const {
    CopyPadded(profile_.product_version, version, 4);
    CopyPadded(profile_.product_name, name, 16);
    CopyPadded(SerialFor(position_), extra, 8);
    return KT62_OK;
}

int32_t Programmer::Update(const kt62_char16*) { return KT62_E_NOT_SUPPORTED; }

}  // namespace kt62::emu
