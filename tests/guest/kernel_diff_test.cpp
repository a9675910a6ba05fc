// The probe's requests (kernel_probe.cpp) run in a guest whose Linux drives QEMU's UFS controller, and
// over a FakeKernel holding a device as close to QEMU's as the emulator's keys allow. Every field must
// agree, except where QEMU's device model answers otherwise than the emulator's (kDeviceModel).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "fake_kernel.h"
#include "tests/support/temp_dir.h"

namespace kt62::probe {
// The probe's lines for the first UFS host under `root`; a missing host or node: one "error" line.
std::vector<std::string> ProbeKernel(host::Transport& kernel, const std::string& root);
}  // namespace kt62::probe

namespace {

// What differs because of QEMU's device, not the kernel: a request, its fields and why.
struct Known {
    const char* request;
    const char* fields;  // each followed by a blank
    const char* why;
};
constexpr Known kDeviceModel[] = {
    {"desc.configuration", "response data_length length rcv_len data ",
     "QEMU has no configuration descriptor: IDN 1 answers invalid IDN"},
    {"dme.get", "device_status info result arg2 arg3 ",
     "QEMU implements no DME: every DME_GET ends with UIC result 1, and no value"},
    {"dme.peer_get", "device_status info result arg2 arg3 ", "QEMU implements no DME_PEER_GET either"},
    {"scsi.inquiry", "data ", "QEMU's INQUIRY: version 5, HiSup, SYNC and CMDQUE; the emulator's: 6, CMDQUE"},
};

std::vector<std::string> KernelFields(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const std::string& line : lines) {
        std::istringstream words(line);
        std::string name, word, fields = " ";
        words >> name;
        for (const Known& k : kDeviceModel) fields += name == k.request ? k.fields : "";
        for (out.push_back(name); words >> word;)
            if (fields.find(' ' + word.substr(0, word.find('=')) + ' ') == std::string::npos)
                out.back() += ' ' + word;
    }
    return out;
}

// The probe's lines from the guest, and its exit status with what the guest said on failure.
std::vector<std::string> RunInGuest(const std::string& dir, int& status, std::string& errors) {
    const std::string out = dir + "/guest.stdout", err = dir + "/guest.stderr";
    const int wait = std::system((std::string("'") + KT_GUEST_SCRIPT + "' run --size 64 --dir '" + dir +
                                  "' -- '" + KT_KERNEL_PROBE + "' / >'" + out + "' 2>'" + err + "'")
                                     .c_str());
    status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
    errors = kt::test::TempDir::Read(out) + kt::test::TempDir::Read(err);
    std::istringstream in(kt::test::TempDir::Read(out));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(KernelDiff, FakeKernelAnswersAsTheRealOne) {
    kt::test::TempDir tmp;
    int status = 0;
    std::string errors;
    const std::vector<std::string> real = KernelFields(RunInGuest(tmp.Path(), status, errors));
    ASSERT_EQ(status, 0) << "the guest did not run the probe:\n" << errors;

    // QEMU's device: UFS 4.0, one 64 MiB unit of 4096-byte blocks, 1 MiB per command.
    kt62::fake::FakeKernel kernel(tmp.Path() + "/root", tmp.Path() + "/state");
    kt62::fake::HostSetup spec;
    spec.max_hw_sectors_kb = 1024;
    spec.ufs_json =
        R"({"spec_version":"4.0","raw_capacity_bytes":67108864,"logical_units":[{"block_size_exponent":12}]})";
    kernel.AddHost(spec);
    const std::vector<std::string> fake =
        KernelFields(kt62::probe::ProbeKernel(kernel, tmp.Path() + "/root"));

    ASSERT_EQ(real.size(), fake.size()) << "the probe's requests differ:\n" << errors;
    for (size_t i = 0; i < real.size(); ++i) EXPECT_EQ(real[i], fake[i]);
}

}  // namespace
