// The device tests over the emulated programmer: the profile is named by KT62_EMULATOR.
#include "device_fixture.h"

namespace kt62test {

std::unique_ptr<DeviceBackend> MakeDeviceBackend(kt::test::TempDir& dir) {
    struct EmulatorBackend final : DeviceBackend {
        explicit EmulatorBackend(kt::test::TempDir& d) : dir(d) {}
        std::string Use(const std::string& profile_json, const std::string& name) override {
            const std::string path = dir.Write(name, profile_json);
            setenv("KT62_EMULATOR", path.c_str(), 1);
            return path;
        }
        kt::test::TempDir& dir;
    };
    return std::make_unique<EmulatorBackend>(dir);
}

}  // namespace kt62test
