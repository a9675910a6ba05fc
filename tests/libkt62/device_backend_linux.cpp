// The device tests over the Linux host backend: each programmer of the profile becomes a UFS host
// of a fake kernel (ufs-bsgN, sgN, sdX) holding the device its "ufs" keys describe.
#include <nlohmann/json.hpp>

#include "device_fixture.h"
#include "fake_kernel.h"

namespace kt62test {
namespace {

class LinuxBackend final : public DeviceBackend {
public:
    explicit LinuxBackend(kt::test::TempDir& dir) : dir_(dir) {}
    ~LinuxBackend() override {
        kt62::host::SetTransport(nullptr);
        for (const char* v : {"KT62_BACKEND", "KT62_LINUX_ROOT", "KT62_LINUX_WRITE"}) unsetenv(v);
    }

    std::string Use(const std::string& profile_json, const std::string& name) override {
        const std::string path = dir_.Write(name, profile_json),
                          root = dir_.Path() + "/root" + std::to_string(++uses_);
        auto kernel = std::make_unique<kt62::fake::FakeKernel>(root, dir_.Path() + "/kernel-state");
        const auto profile = nlohmann::json::parse(profile_json);
        int number = 0;
        for (const auto& p : profile.at("programmers")) {
            kt62::fake::HostSpec host;
            host.number = number;
            host.sg = "sg" + std::to_string(number);
            host.block = std::string("sd") + static_cast<char>('a' + number++);
            host.ufs_json = p.value("ufs", nlohmann::json::object()).dump();
            kernel->AddHost(host);
        }
        // Handles opened before stay on the previous kernel's nodes until it goes.
        kt62::host::SetTransport(kernel.get());
        kernel_ = std::move(kernel);
        unsetenv("KT62_EMULATOR");
        setenv("KT62_BACKEND", "linux", 1);
        setenv("KT62_LINUX_ROOT", root.c_str(), 1);
        setenv("KT62_LINUX_WRITE", "1", 1);
        return path;
    }

private:
    kt::test::TempDir& dir_;
    std::unique_ptr<kt62::fake::FakeKernel> kernel_;
    int uses_ = 0;
};

}  // namespace

std::unique_ptr<DeviceBackend> MakeDeviceBackend(kt::test::TempDir& dir) {
    return std::make_unique<LinuxBackend>(dir);
}

}  // namespace kt62test
