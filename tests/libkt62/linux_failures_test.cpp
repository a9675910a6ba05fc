// The Linux host backend when the kernel fails: every failure channel ends in an honest result
// (never success) and leaves the handle usable. (The e2e case linux_kernel_failures shows the
// query timeout, the zero and stale replies, EPERM, descriptor sense on READ CAPACITY, a host
// status on INQUIRY and a short read in the pane.)
#include <cerrno>

#include "emulator_fixture.h"
#include "fake_kernel.h"

namespace kt62test {
namespace {

using kt62::fake::Failure;
using kt62::fake::Node;
using Kind = Failure::Kind;
constexpr int32_t kAnyLibraryError = 1000;  // any positive result

struct Channel {
    const char* name;
    Node node;
    Failure failure;
    const char* call;
    int32_t expect;
};

// clang-format off
const Channel kChannels[] = {
    {"bsg_eio", Node::Bsg, {Kind::Errno, EIO}, "dme", KT62_E_TRANSPORT},
    {"bsg_result_einval", Node::Bsg, {Kind::BsgResult, -EINVAL}, "attribute", KT62_E_TRANSPORT},
    {"uic_result_timeout", Node::Bsg, {Kind::BsgResult, -ETIMEDOUT}, "dme", KT62_E_TIMEOUT},
    {"bsg_zero_reply_descriptor", Node::Bsg, {Kind::ZeroReply}, "descriptor", KT62_E_TRANSPORT},
    {"uic_zero_reply", Node::Bsg, {Kind::ZeroReply}, "dme", KT62_E_TRANSPORT},
    {"bsg_transport_status", Node::Bsg, {Kind::HostStatus, 0x07}, "attribute", kAnyLibraryError},
    {"bsg_driver_status", Node::Bsg, {Kind::DriverStatus, 0x06}, "flag", kAnyLibraryError},
    {"sg_eperm", Node::Sg, {Kind::Errno, EPERM}, "inquiry", KT62_E_PERMISSION},
    {"sg_eio", Node::Sg, {Kind::Errno, EIO}, "read", KT62_E_TRANSPORT},
    {"sense_fixed", Node::Sg, {Kind::CheckCondition, 0, 0x03, 0x11, 0x00}, "read", KT62_SCSI_FAILURE(0x03, 0x11)},
    {"sense_descriptor", Node::Sg, {Kind::CheckCondition, 0, 0x03, 0x11, 0x00, true}, "read", KT62_SCSI_FAILURE(0x03, 0x11)},
    {"sense_fixed_write", Node::Sg, {Kind::CheckCondition, 0, 0x07, 0x27, 0x00}, "write", KT62_SCSI_FAILURE(0x07, 0x27)},
    {"host_status", Node::Sg, {Kind::HostStatus, 0x07}, "read", kAnyLibraryError},
    {"driver_status", Node::Sg, {Kind::DriverStatus, 0x06}, "capacity", kAnyLibraryError},
    {"residual_write", Node::Sg, {Kind::Residual, 512}, "write", KT62_E_TRANSPORT},
    {"residual_capacity", Node::Sg, {Kind::Residual, 4}, "capacity", KT62_E_TRANSPORT},
};
// clang-format on

class KernelFailure : public EmulatorTest, public ::testing::WithParamInterface<Channel> {
protected:
    void TearDown() override {
        EmulatorTest::TearDown();
        kt62::host::SetTransport(nullptr);
        for (const char* v : {"KT62_BACKEND", "KT62_LINUX_ROOT", "KT62_LINUX_WRITE"}) unsetenv(v);
    }
    int32_t Call(KT62_HANDLE h, const std::string& call) {
        uint32_t v = 0, w = 0;
        uint8_t f = 0;
        if (call == "attribute") return kt62UfsReadAttribute(h, 0x0A, 0, 0, &v);
        if (call == "descriptor") return kt62UfsReadDescriptor(h, 0, 0, 0, buf_.data(), 64);
        if (call == "flag") return kt62UfsReadFlag(h, 0x04, &f);
        if (call == "dme") return kt62UfsGetDME(h, 0x1560, 0, 1, &v);
        if (call == "inquiry") return kt62ScsiInquiry(h, buf_.data());
        if (call == "capacity") return kt62ScsiReadCapacity(h, &v, &w);
        if (call == "read") return kt62ScsiRead10(h, 8, 4096, buf_.data(), 4);
        return kt62ScsiWrite10(h, 8, 4096, buf_.data(), 4);
    }
    kt62::fake::FakeKernel kernel_{dir_.Path() + "/root", dir_.Path() + "/state"};
    std::vector<uint8_t> buf_ = std::vector<uint8_t>(4 * 4096, 0x5A);  // one command's worth
};

TEST_P(KernelFailure, IsAnHonestResultAndTheNextCallWorks) {
    const Channel& c = GetParam();
    kt62::fake::HostSpec host;
    host.max_hw_sectors_kb = 16;
    host.ufs_json = R"({"raw_capacity_bytes":16777216})";
    kernel_.AddHost(host);
    kt62::host::SetTransport(&kernel_);
    setenv("KT62_BACKEND", "linux", 1);
    setenv("KT62_LINUX_ROOT", (dir_.Path() + "/root").c_str(), 1);
    setenv("KT62_LINUX_WRITE", "1", 1);
    KT62_HANDLE h = OpenAfterSearch(0);
    // A different request first, so that a stale reply is one to another request.
    ASSERT_EQ(Call(h, "descriptor"), KT62_OK);
    Failure failure = c.failure;
    // The transfer command itself, not the READ CAPACITY(10) the backend may send before it.
    if (std::string(c.call) == "read" || std::string(c.call) == "write")
        failure.only_op = c.call[0] == 'r' ? 0x28 : 0x2A;
    kernel_.FailIoctls(c.node, failure);
    const int32_t r = Call(h, c.call);
    if (c.expect == kAnyLibraryError) {
        EXPECT_GT(r, 0) << kt62ResultName(r);
    } else
        EXPECT_EQ(r, c.expect) << kt62ResultName(r);
    EXPECT_EQ(Call(h, c.call), KT62_OK);
}

INSTANTIATE_TEST_SUITE_P(Channels, KernelFailure, ::testing::ValuesIn(kChannels),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace kt62test
