#include "device_fixture.h"

namespace kt62test {

std::string UseDeviceProfile(kt::test::TempDir& dir, const std::string& json, const std::string& name) {
    const std::string path = dir.Write(name, json);
    setenv("KT62_EMULATOR", path.c_str(), 1);
    return path;
}

void EndDeviceProfiles() {}

}  // namespace kt62test
