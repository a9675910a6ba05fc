// The fake kernel grounded in the real one: the probe's requests (kernel_probe.h) run in a guest
// whose Linux drives QEMU's UFS controller, and in-process over a FakeKernel holding a device as
// close to QEMU's as the emulator's keys allow. Every field must agree, except where QEMU's device
// model answers otherwise than the emulator's (kDeviceModel).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "fake_kernel.h"
#include "kernel_probe.h"
#include "tests/support/temp_dir.h"

namespace {

// What differs because of QEMU's device, not the kernel: a request, its fields (blank-separated)
// and why. A row that no longer differs fails too, so that the table stays true.
struct Known {
    const char* request;
    const char* fields;
    const char* why;
};
constexpr Known kDeviceModel[] = {
    {"desc.configuration", "response data_length length rcv_len data",
     "QEMU has no configuration descriptor: IDN 1 answers invalid IDN"},
    {"dme.get", "device_status info result arg2 arg3",
     "QEMU implements no DME: every DME_GET ends with UIC result 1, and no value"},
    {"dme.peer_get", "device_status info result arg2 arg3", "QEMU implements no DME_PEER_GET either"},
    {"scsi.inquiry", "data",
     "QEMU's INQUIRY: version 5, HiSup, SYNC and CMDQUE; the emulator's: version 6, CMDQUE"},
};

using Fields = std::map<std::string, std::string>;
using Answers = std::vector<std::pair<std::string, Fields>>;

Answers Parse(const std::vector<std::string>& lines) {
    Answers answers;
    for (const std::string& line : lines) {
        std::istringstream words(line);
        std::string name, word;
        words >> name;
        Fields fields;
        while (words >> word) {
            const size_t eq = word.find('=');
            fields[word.substr(0, eq)] = eq == std::string::npos ? "" : word.substr(eq + 1);
        }
        answers.emplace_back(name, fields);
    }
    return answers;
}

// The probe's lines from the guest, and its exit status with what the guest said on failure.
std::vector<std::string> RunInGuest(const std::string& dir, int& status, std::string& errors) {
    const std::string err = dir + "/guest.stderr";
    const std::string command = std::string("'") + KT_GUEST_SCRIPT + "' run --size 64 --dir '" + dir +
                                "' -- '" + KT_KERNEL_PROBE + "' / 2>'" + err + "'";
    std::vector<std::string> lines;
    FILE* out = popen(command.c_str(), "r");
    if (out == nullptr) return status = -1, lines;
    std::string text;
    for (int c; (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
    const int wait = pclose(out);
    status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    errors = text + kt::test::TempDir::Read(err);
    return lines;
}

TEST(KernelDiff, FakeKernelAnswersAsTheRealOne) {
    kt::test::TempDir tmp;
    int status = 0;
    std::string errors;
    const Answers real = Parse(RunInGuest(tmp.Path(), status, errors));
    ASSERT_EQ(status, 0) << "the guest did not run the probe:\n" << errors;

    // QEMU's device: UFS 4.0, one 64 MiB unit of 4096-byte blocks, 1 MiB per command.
    kt62::fake::FakeKernel kernel(tmp.Path() + "/root", tmp.Path() + "/state");
    kt62::fake::HostSpec spec;
    spec.max_hw_sectors_kb = 1024;
    spec.ufs_json =
        R"({"spec_version":"4.0","raw_capacity_bytes":67108864,"logical_units":[{"block_size_exponent":12}]})";
    kernel.AddHost(spec);
    const Answers fake = Parse(kt62::probe::ProbeKernel(kernel, tmp.Path() + "/root"));

    ASSERT_EQ(real.size(), fake.size()) << "the probe's requests differ:\n" << errors;
    std::map<std::pair<std::string, std::string>, const Known*> known;
    for (const Known& k : kDeviceModel) {
        std::istringstream fields(k.fields);
        for (std::string f; fields >> f;) known[{k.request, f}] = &k;
    }
    std::set<std::pair<std::string, std::string>> seen;
    for (size_t i = 0; i < real.size(); ++i) {
        const auto& [name, real_fields] = real[i];
        ASSERT_EQ(name, fake[i].first);
        Fields all = real_fields;
        all.insert(fake[i].second.begin(), fake[i].second.end());
        std::string differences;
        for (const auto& [field, unused] : all) {
            const auto value = [&](const Fields& f) {
                const auto it = f.find(field);
                return it == f.end() ? std::string("(none)") : it->second;
            };
            const std::string a = value(real_fields), b = value(fake[i].second);
            if (a == b) continue;
            if (known.count({name, field}) != 0)
                seen.insert({name, field});
            else
                differences += "\n  " + field + ": real " + a + ", fake " + b;
        }
        EXPECT_TRUE(differences.empty()) << name << differences;
    }
    for (const auto& [key, row] : known)
        EXPECT_TRUE(seen.count(key) != 0)
            << key.first << " " << key.second << " is listed as QEMU's, but both kernels agree (" << row->why
            << ")";
}

}  // namespace
