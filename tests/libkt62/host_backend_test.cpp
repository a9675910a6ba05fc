// The Linux host backend above the codec: discovery over a fake root of plain
// files, backend selection, and what reaches the kernel (a recording
// transport stands in for it): nothing for a refused change, pieces of the
// caller's own buffer for a transfer.
#include <gtest/gtest.h>
#include <kt62/apiKT6200.h>
#include <scsi/sg.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "host/discovery.h"
#include "host/transport.h"
#include "tests/support/temp_dir.h"

namespace {

using kt62::host::HostNodes;

// Answers READ CAPACITY (1000 blocks of 4096 bytes) and every other SCSI command with GOOD; BSG
// requests get no reply at all. Records what arrives.
class RecordingKernel final : public kt62::host::Transport {
public:
    struct Command {
        std::vector<uint8_t> cdb;
        const void* data;
        uint32_t bytes;
    };
    int Open(const char* path, int /*flags*/) override {
        if (const auto it = refuse.find(path); it != refuse.end()) return it->second;
        return next_fd_++;
    }
    int Ioctl(int /*fd*/, unsigned long request, void* arg) override {
        ++ioctls;
        if (request != SG_IO || *static_cast<int*>(arg) != 'S') return 0;
        auto* io = static_cast<sg_io_hdr*>(arg);
        scsi.push_back({{io->cmdp, io->cmdp + io->cmd_len}, io->dxferp, io->dxfer_len});
        if (io->cmdp[0] == 0x25) {
            const uint8_t capacity[8] = {0, 0, 0x03, 0xE7, 0, 0, 0x10, 0};
            std::memcpy(io->dxferp, capacity, 8);
        }
        return 0;
    }
    void Close(int /*fd*/) override {}

    std::map<std::string, int> refuse;  // path -> -errno of its open
    std::vector<Command> scsi;
    int ioctls = 0;

private:
    int next_fd_ = 100;
};

class HostBackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_DATA_HOME", (dir_.Path() + "/xdg").c_str(), 1);
        setenv("KT62_LINUX_ROOT", dir_.Path().c_str(), 1);
        unsetenv("KT62_EMULATOR");
        unsetenv("KT62_LINUX_WRITE");
        unsetenv("KT62_SG");
        kt62::host::SetTransport(&kernel_);
    }
    void TearDown() override {
        for (KT62_HANDLE h : opened_) kt62Close(h);
        kt62::host::SetTransport(nullptr);
        for (const char* v :
             {"KT62_BACKEND", "KT62_LINUX_ROOT", "KT62_LINUX_WRITE", "KT62_EMULATOR", "KT62_SG"})
            unsetenv(v);
    }

    // Host N with logical unit 0 as sg<N> and sd<letter>, the node files standing in for devices.
    void AddHost(int n, bool scsi = true, const std::string& max_hw_kb = "") {
        const std::string name = "ufs-bsg" + std::to_string(n);
        dir_.Write("sys/class/bsg/" + name + "/dev", "");
        dir_.Write("dev/bsg/" + name, "");
        if (!scsi) return;
        const std::string unit = "sys/bus/scsi/devices/" + std::to_string(n) + ":0:0:0/";
        const std::string sd = std::string("sd") + static_cast<char>('a' + n);
        dir_.Write(unit + "scsi_generic/sg" + std::to_string(n) + "/dev", "");
        dir_.Write(
            unit + "block/" + sd + "/queue/" + (max_hw_kb.empty() ? "rotational" : "max_hw_sectors_kb"),
            max_hw_kb + "\n");
    }
    std::string Node(const std::string& rest) const { return dir_.Path() + "/" + rest; }

    KT62_HANDLE OpenFirst() {
        EXPECT_GE(kt62Search(), 1);
        const KT62_HANDLE h = kt62Open(0);
        if (h != KT62_INVALID_HANDLE) opened_.push_back(h);
        return h;
    }

    kt::test::TempDir dir_;
    RecordingKernel kernel_;
    std::vector<KT62_HANDLE> opened_;
};

TEST_F(HostBackendTest, DiscoveryListsHostsInNumericOrderThenScsiOnlyNodes) {
    AddHost(10);
    AddHost(2, true, "128");
    AddHost(9, false);
    for (const char* other :
         {"sys/class/bsg/0:0:0:0/dev", "sys/class/bsg/ufs-bsg/dev", "sys/class/bsg/ufs-bsgx/dev"})
        dir_.Write(other, "");
    const std::vector<HostNodes> hosts = kt62::host::DiscoverHosts(dir_.Path(), "/dev/sg7");
    const std::string mounts = Node("proc/self/mounts");
    ASSERT_EQ(hosts.size(), 4u);
    EXPECT_EQ(std::vector<HostNodes>(hosts.begin(), hosts.begin() + 3),
              (std::vector<HostNodes>{
                  {"ufs-bsg2", Node("dev/bsg/ufs-bsg2"), Node("dev/sg2"), Node("dev/sdc"), 128, mounts},
                  {"ufs-bsg9", Node("dev/bsg/ufs-bsg9"), "", "", 512, mounts},
                  {"ufs-bsg10", Node("dev/bsg/ufs-bsg10"), Node("dev/sg10"), Node("dev/sdk"), 512, mounts}}));
    EXPECT_EQ(hosts[3].name + hosts[3].bsg_node + " " + hosts[3].sg_node, "sg7 " + Node("dev/sg7"));
}

TEST_F(HostBackendTest, BackendChoice) {
    const std::string profile = dir_.Write("two.json", R"({"programmers":[{},{}]})");
    const struct {
        const char* backend;  // nullptr: unset
        bool hosts;
        bool emulator_profile;
        int32_t count;
        const char* stderr_has;
    } cases[] = {
        {nullptr, false, false, 1, ""},  // the built-in emulator
        {"auto", true, false, 3, ""},   {"auto", true, true, 2, ""},  {"emulator", true, false, 1, ""},
        {"linux", false, false, 0, ""}, {"linux", true, true, 3, ""}, {"ufs", true, false, 0, "KT62_BACKEND"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(Node("sys"));
        if (c.hosts)
            for (int n : {0, 1, 2}) AddHost(n);
        c.backend ? setenv("KT62_BACKEND", c.backend, 1) : unsetenv("KT62_BACKEND");
        c.emulator_profile ? setenv("KT62_EMULATOR", profile.c_str(), 1) : unsetenv("KT62_EMULATOR");
        testing::internal::CaptureStderr();
        EXPECT_EQ(kt62Search(), c.count) << (c.backend ? c.backend : "unset") << " " << c.hosts;
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(c.stderr_has), std::string::npos) << err;
        if (!*c.stderr_has) {
            EXPECT_EQ(err, "");
        }
    }
}

// (The e2e cases show a read-only host and a held unit: nothing reaches the kernel.)
TEST_F(HostBackendTest, WritesAreRefusedWhileAPartitionOfTheUnitIsMounted) {
    setenv("KT62_BACKEND", "linux", 1);
    setenv("KT62_LINUX_WRITE", "1", 1);
    AddHost(0);
    const uint8_t data[4096] = {};
    KT62_HANDLE h = OpenFirst();
    dir_.Write("proc/self/mounts", "proc /proc proc rw 0 0\n/dev/sda2 /mnt ext4 rw 0 0\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(kt62ScsiWrite10(h, 0, 4096, data, 1), KT62_E_UNIT_IN_USE);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("mounted"), std::string::npos) << err;
    EXPECT_TRUE(kernel_.scsi.empty() || kernel_.scsi.back().cdb[0] != 0x2A);
    dir_.Write("proc/self/mounts", "/dev/sdab1 /mnt ext4 rw 0 0\n");
    EXPECT_EQ(kt62ScsiWrite10(h, 0, 4096, data, 1), KT62_OK);
    EXPECT_EQ(kernel_.scsi.back().cdb[0], 0x2A);
}

TEST_F(HostBackendTest, TransfersGoInPiecesOfTheCallersBuffer) {
    setenv("KT62_BACKEND", "linux", 1);
    AddHost(0, true, "128");  // 32 blocks of 4096
    const KT62_HANDLE h = OpenFirst();
    std::vector<uint8_t> buffer(40 * 4096);
    kt62SetPacketSize(64 * 1024);
    ASSERT_EQ(kt62ScsiRead10(h, 5, 4096, buffer.data(), 40), KT62_OK);
    kt62SetPacketSize(0);
    std::vector<uint32_t> pieces;
    uint32_t lba = 5;
    for (const auto& cmd : kernel_.scsi) {
        if (cmd.cdb[0] != 0x28) continue;
        const uint32_t n = uint32_t{cmd.cdb[7]} << 8 | cmd.cdb[8];
        EXPECT_EQ(uint32_t{cmd.cdb[5]}, lba);
        EXPECT_EQ(cmd.data, buffer.data() + (lba - 5) * 4096) << "the caller's buffer, no copy";
        EXPECT_EQ(cmd.bytes, n * 4096);
        pieces.push_back(n);
        lba += n;
    }
    EXPECT_EQ(pieces, (std::vector<uint32_t>{16, 16, 8}));
    kernel_.scsi.clear();
    EXPECT_EQ(kt62ScsiRead10(h, 990, 4096, buffer.data(), 11), KT62_SCSI_FAILURE(0x05, 0x21));
    EXPECT_EQ(kt62ScsiRead10(h, 0, 512, buffer.data(), 1), KT62_E_BAD_ARGUMENT);
    EXPECT_TRUE(kernel_.scsi.empty()) << "refused as a whole before any piece";
}

}  // namespace
