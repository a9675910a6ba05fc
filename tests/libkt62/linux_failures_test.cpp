// The Linux host backend when the kernel fails: every failure channel ends in
// an honest result (never success) and leaves the handle usable.
#include <cerrno>

#include "emulator_fixture.h"
#include "fake_kernel.h"

namespace kt62test {
namespace {

using kt62::fake::Failure;
using kt62::fake::Node;
using Kind = Failure::Kind;

constexpr uint32_t kBlock = 4096;
constexpr int32_t kAnyLibraryError = 1000;  // any positive result

class LinuxHost : public EmulatorTest {
protected:
    void SetUp() override {
        EmulatorTest::SetUp();
        kt62::fake::HostSpec host;
        host.max_hw_sectors_kb = 16;
        host.ufs_json = R"({"raw_capacity_bytes":16777216})";
        kernel_.AddHost(host);
        kt62::host::SetTransport(&kernel_);
        setenv("KT62_BACKEND", "linux", 1);
        setenv("KT62_LINUX_ROOT", (dir_.Path() + "/root").c_str(), 1);
        setenv("KT62_LINUX_WRITE", "1", 1);
    }
    void TearDown() override {
        EmulatorTest::TearDown();
        kt62::host::SetTransport(nullptr);
        for (const char* v : {"KT62_BACKEND", "KT62_LINUX_ROOT", "KT62_LINUX_WRITE"}) unsetenv(v);
    }

    kt62::fake::FakeKernel kernel_{dir_.Path() + "/root", dir_.Path() + "/state"};
    std::vector<uint8_t> buf_ = std::vector<uint8_t>(4 * kBlock, 0x5A);  // one command's worth
};

struct Channel {
    const char* name;
    Node node;
    Failure failure;
    const char* call;
    int32_t expect;
};

int32_t Call(KT62_HANDLE h, const std::string& call, std::vector<uint8_t>& buf) {
    uint32_t v = 0, w = 0;
    uint8_t f = 0;
    if (call == "attribute") return kt62UfsReadAttribute(h, 0x0A, 0, 0, &v);
    if (call == "descriptor") return kt62UfsReadDescriptor(h, 0, 0, 0, buf.data(), 64);
    if (call == "flag") return kt62UfsReadFlag(h, 0x04, &f);
    if (call == "dme") return kt62UfsGetDME(h, 0x1560, 0, 1, &v);
    if (call == "inquiry") return kt62ScsiInquiry(h, buf.data());
    if (call == "capacity") return kt62ScsiReadCapacity(h, &v, &w);
    if (call == "read") return kt62ScsiRead10(h, 8, kBlock, buf.data(), 4);
    if (call == "write") return kt62ScsiWrite10(h, 8, kBlock, buf.data(), 4);
    return -1;
}

const Channel kChannels[] = {
    {"bsg_eperm", Node::Bsg, {Kind::Errno, EPERM}, "attribute", KT62_E_PERMISSION},
    {"bsg_eio", Node::Bsg, {Kind::Errno, EIO}, "dme", KT62_E_TRANSPORT},
    {"bsg_result_einval", Node::Bsg, {Kind::BsgResult, -EINVAL}, "attribute", KT62_E_TRANSPORT},
    {"bsg_result_timeout", Node::Bsg, {Kind::BsgResult, -ETIMEDOUT}, "descriptor", KT62_E_TIMEOUT},
    {"uic_result_timeout", Node::Bsg, {Kind::BsgResult, -ETIMEDOUT}, "dme", KT62_E_TIMEOUT},
    {"bsg_zero_reply", Node::Bsg, {Kind::ZeroReply}, "attribute", KT62_E_TRANSPORT},
    {"bsg_zero_reply_descriptor", Node::Bsg, {Kind::ZeroReply}, "descriptor", KT62_E_TRANSPORT},
    {"uic_zero_reply", Node::Bsg, {Kind::ZeroReply}, "dme", KT62_E_TRANSPORT},
    {"bsg_stale_reply", Node::Bsg, {Kind::StaleReply}, "flag", KT62_E_TRANSPORT},
    {"bsg_transport_status", Node::Bsg, {Kind::HostStatus, 0x07}, "attribute", kAnyLibraryError},
    {"bsg_driver_status", Node::Bsg, {Kind::DriverStatus, 0x06}, "flag", kAnyLibraryError},
    {"sg_eperm", Node::Sg, {Kind::Errno, EPERM}, "inquiry", KT62_E_PERMISSION},
    {"sg_eio", Node::Sg, {Kind::Errno, EIO}, "read", KT62_E_TRANSPORT},
    {"sense_fixed",
     Node::Sg,
     {Kind::CheckCondition, 0, 0x03, 0x11, 0x00},
     "read",
     KT62_SCSI_FAILURE(0x03, 0x11)},
    {"sense_descriptor",
     Node::Sg,
     {Kind::CheckCondition, 0, 0x03, 0x11, 0x00, true},
     "read",
     KT62_SCSI_FAILURE(0x03, 0x11)},
    {"sense_descriptor_capacity",
     Node::Sg,
     {Kind::CheckCondition, 0, 0x02, 0x04, 0x01, true},
     "capacity",
     KT62_SCSI_FAILURE(0x02, 0x04)},
    {"sense_fixed_write",
     Node::Sg,
     {Kind::CheckCondition, 0, 0x07, 0x27, 0x00},
     "write",
     KT62_SCSI_FAILURE(0x07, 0x27)},
    {"host_status", Node::Sg, {Kind::HostStatus, 0x07}, "read", kAnyLibraryError},
    {"host_status_inquiry", Node::Sg, {Kind::HostStatus, 0x03}, "inquiry", kAnyLibraryError},
    {"driver_status", Node::Sg, {Kind::DriverStatus, 0x06}, "capacity", kAnyLibraryError},
    {"residual_read", Node::Sg, {Kind::Residual, 4096}, "read", KT62_E_TRANSPORT},
    {"residual_write", Node::Sg, {Kind::Residual, 512}, "write", KT62_E_TRANSPORT},
    {"residual_capacity", Node::Sg, {Kind::Residual, 4}, "capacity", KT62_E_TRANSPORT},
};

class KernelFailure : public LinuxHost, public ::testing::WithParamInterface<Channel> {};

TEST_P(KernelFailure, IsAnHonestResultAndTheNextCallWorks) {
    const Channel& c = GetParam();
    KT62_HANDLE h = OpenAfterSearch(0);
    ASSERT_NE(h, KT62_INVALID_HANDLE);
    // A different request first, so that a stale reply is one to another request.
    ASSERT_EQ(Call(h, "descriptor", buf_), KT62_OK);
    Failure failure = c.failure;
    // The transfer command itself, not the READ CAPACITY(10) the backend may send before it.
    if (std::string(c.call) == "read") failure.only_op = 0x28;
    if (std::string(c.call) == "write") failure.only_op = 0x2A;
    kernel_.FailIoctls(c.node, failure);
    const int32_t r = Call(h, c.call, buf_);
    if (c.expect == kAnyLibraryError)
        EXPECT_GT(r, 0) << kt62ResultName(r);
    else
        EXPECT_EQ(r, c.expect) << kt62ResultName(r);
    EXPECT_EQ(Call(h, c.call, buf_), KT62_OK);
}

INSTANTIATE_TEST_SUITE_P(Channels, KernelFailure, ::testing::ValuesIn(kChannels),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace kt62test
