// The device tests over the emulated programmer: the profile is named by KT62_EMULATOR.
#include <cstdlib>

#include "device_fixture.h"

namespace kt62test {
namespace {

class EmulatorBackend final : public DeviceBackend {
public:
    explicit EmulatorBackend(kt::test::TempDir& dir) : dir_(dir) {}
    std::string Use(const std::string& profile_json, const std::string& name) override {
        const std::string path = dir_.Write(name, profile_json);
        setenv("KT62_EMULATOR", path.c_str(), 1);
        return path;
    }

private:
    kt::test::TempDir& dir_;
};

}  // namespace

std::unique_ptr<DeviceBackend> MakeDeviceBackend(kt::test::TempDir& dir) {
    return std::make_unique<EmulatorBackend>(dir);
}

}  // namespace kt62test
