// The device tests over the Linux host backend: each programmer of the profile becomes a UFS host
// of a fake kernel (ufs-bsgN, sgN, sdX) holding the device its "ufs" keys describe, with the
// queue limit and hold its "max_hw_sectors_kb" and "held" give.
#include <nlohmann/json.hpp>

#include "device_fixture.h"
#include "fake_kernel.h"

namespace kt62test {
namespace {

std::unique_ptr<kt62::fake::FakeKernel> current_kernel;
int uses = 0;

}  // namespace

std::string UseDeviceProfile(kt::test::TempDir& dir, const std::string& json, const std::string& name) {
    const std::string path = dir.Write(name, json), root = dir.Path() + "/root" + std::to_string(++uses);
    auto kernel = std::make_unique<kt62::fake::FakeKernel>(root, dir.Path() + "/kernel-state");
    const nlohmann::json profile = nlohmann::json::parse(json);
    int number = 0;
    for (const auto& p : profile.at("programmers")) {
        kt62::fake::HostSetup host;
        host.number = number;
        host.sg = "sg" + std::to_string(number);
        host.block = std::string("sd") + static_cast<char>('a' + number++);
        host.ufs_json = p.value("ufs", nlohmann::json::object()).dump();
        host.max_hw_sectors_kb = p.value("max_hw_sectors_kb", 512u), host.held = p.value("held", false);
        kernel->AddHost(host);
    }
    // Handles opened before stay on the previous kernel's nodes until it goes.
    kt62::host::SetTransport(kernel.get());
    current_kernel = std::move(kernel);
    unsetenv("KT62_EMULATOR");
    setenv("KT62_BACKEND", "linux", 1);
    setenv("KT62_LINUX_ROOT", root.c_str(), 1);
    setenv("KT62_LINUX_WRITE", "1", 1);
    return path;
}

kt62::fake::FakeKernel& CurrentKernel() { return *current_kernel; }

void EndDeviceProfiles() {
    kt62::host::SetTransport(nullptr);
    current_kernel.reset();
    for (const char* v : {"KT62_BACKEND", "KT62_LINUX_ROOT", "KT62_LINUX_WRITE"}) unsetenv(v);
}

}  // namespace kt62test
