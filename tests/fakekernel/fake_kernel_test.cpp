// The fake kernel's own answers where the kernel's rules are not what a
// device would say: node selection, the ufs-bsg length rules and where the
// UIC result lands, the block layer's transfer limit, the exclusive open.
#include <fcntl.h>
#include <linux/bsg.h>
#include <scsi/sg.h>

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "fake_kernel.h"
#include "tests/support/temp_dir.h"

namespace kt62::fake {
namespace {

class FakeKernelTest : public ::testing::Test {
protected:
    FakeKernelTest() : kernel_(dir_.Path() + "/root", dir_.Path() + "/state") {
        HostSpec host;
        host.number = 3;
        host.sg = "sg1";
        host.block = "sdb";
        host.max_hw_sectors_kb = 64;
        kernel_.AddHost(host);
    }
    int OpenNode(const std::string& node, int flags = O_RDWR) {
        return kernel_.Open((dir_.Path() + "/root/dev/" + node).c_str(), flags);
    }
    // A ufs-bsg request: message code, UPIU header, transaction-specific fields.
    int Bsg(int fd, std::array<uint8_t, 36> req, std::array<uint8_t, 40>& reply, uint8_t* din = nullptr,
            uint32_t din_len = 0) {
        sg_io_v4 io{};
        io.guard = 'Q';
        io.subprotocol = BSG_SUB_PROTOCOL_SCSI_TRANSPORT;
        io.request_len = 36;
        io.request = reinterpret_cast<uintptr_t>(req.data());
        io.max_response_len = 40;
        io.response = reinterpret_cast<uintptr_t>(reply.data());
        io.din_xfer_len = din_len;
        io.din_xferp = reinterpret_cast<uintptr_t>(din);
        return kernel_.Ioctl(fd, SG_IO, &io);
    }
    static int32_t Result(const std::array<uint8_t, 40>& reply) {
        int32_t r = 0;
        std::memcpy(&r, reply.data(), 4);
        return r;
    }

    kt::test::TempDir dir_;
    FakeKernel kernel_;
};

TEST_F(FakeKernelTest, NodesAndTheExclusiveOpen) {
    EXPECT_EQ(OpenNode("bsg/ufs-bsg0"), -ENOENT) << "host 3 only";
    EXPECT_EQ(OpenNode("sg0"), -ENOENT);
    const int bsg = OpenNode("bsg/ufs-bsg3");
    int sd = OpenNode("sdb", O_RDWR | O_EXCL);
    EXPECT_GE(bsg, 0);
    ASSERT_GE(sd, 0);
    kernel_.Close(sd);
    kernel_.SetHeld(3, true);
    EXPECT_EQ(OpenNode("sdb", O_RDWR | O_EXCL), -EBUSY);
    EXPECT_GE(sd = OpenNode("sdb", O_RDONLY), 0) << "a plain open still works";
    kernel_.Close(sd);
    kernel_.Close(bsg);
    EXPECT_FALSE(kernel_.Owns(bsg));
}

TEST_F(FakeKernelTest, DescriptorLengthRulesAndUicResult) {
    const int fd = OpenNode("bsg/ufs-bsg3");
    std::array<uint8_t, 40> reply{};
    std::array<uint8_t, 255> din{};
    std::array<uint8_t, 36> read_device{0x16, 0, 0, 0, 0x16, 0, 0, 0, 0, 0x01};
    read_device[16] = 0x01;  // READ DESCRIPTOR, device descriptor
    const struct {
        uint8_t length_low;
        uint32_t din_len;
        int32_t result;
        uint32_t received;
    } cases[] = {{0, 255, -EINVAL, 0}, {255, 254, -EINVAL, 0}, {255, 255, 0, 0x40}, {0x10, 0x10, 0, 0x10}};
    for (const auto& c : cases) {
        read_device[23] = c.length_low;
        reply.fill(0xEE);
        ASSERT_EQ(Bsg(fd, read_device, reply, din.data(), c.din_len), 0);
        EXPECT_EQ(Result(reply), c.result) << int(c.length_low) << "/" << c.din_len;
        if (c.result == 0) {
            EXPECT_EQ(reply[8], 0x36);
            EXPECT_EQ(reply[18] << 8 | reply[19], int(c.received)) << "data segment length";
            EXPECT_EQ(din[0], 0x40);
        }
    }
    // DME_GET of an attribute the device does not have: the result code is both the reply's
    // result and the low byte of argument 2.
    std::array<uint8_t, 36> dme{0x1F};
    dme[16] = 1;
    dme[22] = 0x99;  // attribute 0x9999 in the upper half of argument 1
    dme[23] = 0x99;
    ASSERT_EQ(Bsg(fd, dme, reply), 0);
    EXPECT_EQ(Result(reply), 1);
    EXPECT_EQ(reply[28], 1);
    kernel_.Close(fd);
}

TEST_F(FakeKernelTest, TransfersAboveTheHostLimitAreRefused) {
    const int fd = OpenNode("sg1");
    std::vector<uint8_t> data(65 * 1024);
    uint8_t cdb[10] = {0x28, 0, 0, 0, 0, 0, 0, 0, 16, 0};
    sg_io_hdr_t io{};
    io.interface_id = 'S';
    io.dxfer_direction = SG_DXFER_FROM_DEV;
    io.cmd_len = 10;
    io.cmdp = cdb;
    io.dxferp = data.data();
    io.dxfer_len = 16 * 4096;
    EXPECT_EQ(kernel_.Ioctl(fd, SG_IO, &io), 0);
    EXPECT_EQ(io.status, 0);
    cdb[8] = 17;
    io.dxfer_len = 17 * 4096;
    EXPECT_EQ(kernel_.Ioctl(fd, SG_IO, &io), -EINVAL);
    kernel_.Close(fd);
}

}  // namespace
}  // namespace kt62::fake
