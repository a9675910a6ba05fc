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
        opened.emplace_back(path);
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
    std::vector<std::string> opened;
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
    ASSERT_EQ(hosts.size(), 4u);
    const std::string mounts = Node("proc/self/mounts");
    EXPECT_EQ(hosts[0], (HostNodes{"ufs-bsg2", Node("dev/bsg/ufs-bsg2"), Node("dev/sg2"), Node("dev/sdc"),
                                   128, mounts}));
    EXPECT_EQ(hosts[1], (HostNodes{"ufs-bsg9", Node("dev/bsg/ufs-bsg9"), "", "", 512, mounts}));
    EXPECT_EQ(hosts[2], (HostNodes{"ufs-bsg10", Node("dev/bsg/ufs-bsg10"), Node("dev/sg10"), Node("dev/sdk"),
                                   512, mounts}));
    EXPECT_EQ(hosts[3].name, "sg7");
    EXPECT_EQ(hosts[3].sg_node, Node("dev/sg7"));
    EXPECT_EQ(hosts[3].bsg_node, "");
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

TEST_F(HostBackendTest, AnUnopenableHostIsListedAndItsOpenSaysWhy) {
    setenv("KT62_BACKEND", "linux", 1);
    AddHost(0);
    kernel_.refuse[Node("dev/bsg/ufs-bsg0")] = -EACCES;
    ASSERT_EQ(kt62Search(), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(kt62Open(0), KT62_INVALID_HANDLE);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("ufs-bsg0"), std::string::npos) << err;
    EXPECT_NE(err.find("permission denied: needs root or CAP_SYS_RAWIO"), std::string::npos) << err;
}

TEST_F(HostBackendTest, ReadOnlyChangesReachNothing) {
    setenv("KT62_BACKEND", "linux", 1);
    AddHost(0);
    const KT62_HANDLE h = OpenFirst();
    ASSERT_NE(h, KT62_INVALID_HANDLE);
    const uint8_t data[4096] = {};
    const struct {
        const char* call;
        int32_t result;
    } cases[] = {
        {"set flag", kt62UfsSetFlag(h, 0x03)},
        {"clear flag", kt62UfsClearFlag(h, 0x03)},
        {"toggle flag", kt62UfsToggleFlag(h, 0x03)},
        {"write attribute", kt62UfsWriteAttribute(h, 0x01, 0, 0, 1)},
        {"write descriptor", kt62UfsWriteDescriptor(h, 0x01, 0, 0, data, 0x90)},
        {"write(10)", kt62ScsiWrite10(h, 0, 4096, data, 1)},
        {"reset", kt62UfsReset(h, 1)},
    };
    for (const auto& c : cases) EXPECT_EQ(c.result, KT62_E_READ_ONLY) << c.call;
    EXPECT_EQ(kernel_.ioctls, 0);
    uint8_t flag = 0;
    EXPECT_EQ(kt62UfsReadFlag(h, 0x03, &flag), KT62_E_TRANSPORT) << "a read goes out; no reply is a failure";
    EXPECT_EQ(kernel_.ioctls, 1);
}

TEST_F(HostBackendTest, WritesAreRefusedWhileTheUnitIsMountedOrHeld) {
    setenv("KT62_BACKEND", "linux", 1);
    setenv("KT62_LINUX_WRITE", "1", 1);
    AddHost(0);
    const uint8_t data[4096] = {};
    const auto writes_sent = [&] {
        int n = 0;
        for (const auto& c : kernel_.scsi) n += c.cdb[0] == 0x2A;
        return n;
    };
    kernel_.refuse[Node("dev/sda")] = -EBUSY;
    KT62_HANDLE h = OpenFirst();
    testing::internal::CaptureStderr();
    EXPECT_EQ(kt62ScsiWrite10(h, 0, 4096, data, 1), KT62_E_UNIT_IN_USE);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("held by another program"), std::string::npos);

    kernel_.refuse.clear();
    dir_.Write("proc/self/mounts", "proc /proc proc rw 0 0\n/dev/sda2 /mnt ext4 rw 0 0\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(kt62ScsiWrite10(h, 0, 4096, data, 1), KT62_E_UNIT_IN_USE);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("mounted"), std::string::npos);
    EXPECT_EQ(writes_sent(), 0);

    dir_.Write("proc/self/mounts", "/dev/sdab1 /mnt ext4 rw 0 0\n");
    EXPECT_EQ(kt62ScsiWrite10(h, 0, 4096, data, 1), KT62_OK);
    EXPECT_EQ(writes_sent(), 1);
}

TEST_F(HostBackendTest, TransfersGoInPiecesOfTheCallersBuffer) {
    setenv("KT62_BACKEND", "linux", 1);
    AddHost(0, true, "128");  // 32 blocks of 4096
    const KT62_HANDLE h = OpenFirst();
    std::vector<uint8_t> buffer(40 * 4096);
    const struct {
        uint32_t packet;
        std::vector<uint32_t> pieces;
    } cases[] = {{0, {32, 8}}, {64 * 1024, {16, 16, 8}}, {1000, {1, 1, 1}}};
    for (const auto& c : cases) {
        kernel_.scsi.clear();
        kt62SetPacketSize(c.packet);
        const uint32_t count = c.packet == 1000 ? 3 : 40;
        ASSERT_EQ(kt62ScsiRead10(h, 5, 4096, buffer.data(), count), KT62_OK) << c.packet;
        std::vector<uint32_t> pieces;
        uint32_t lba = 5;
        for (const auto& cmd : kernel_.scsi) {
            if (cmd.cdb[0] != 0x28) continue;
            const uint32_t n = uint32_t{cmd.cdb[7]} << 8 | cmd.cdb[8];
            EXPECT_EQ(uint32_t{cmd.cdb[5]}, lba) << c.packet;
            EXPECT_EQ(cmd.data, buffer.data() + (lba - 5) * 4096) << "the caller's buffer, no copy";
            EXPECT_EQ(cmd.bytes, n * 4096);
            pieces.push_back(n);
            lba += n;
        }
        EXPECT_EQ(pieces, c.pieces) << c.packet;
    }
    kt62SetPacketSize(0);
    kernel_.scsi.clear();
    EXPECT_EQ(kt62ScsiRead10(h, 990, 4096, buffer.data(), 11), KT62_SCSI_FAILURE(0x05, 0x21));
    EXPECT_EQ(kt62ScsiRead10(h, 0, 512, buffer.data(), 1), KT62_E_BAD_ARGUMENT);
    EXPECT_TRUE(kernel_.scsi.empty()) << "refused as a whole before any piece";
}

}  // namespace
