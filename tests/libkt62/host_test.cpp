#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>

#include "device_fixture.h"
#include "fake_kernel.h"
#include "host/codec.h"

namespace kt62test {

kt62::fake::FakeKernel& CurrentKernel();  // device_backend_linux.cpp's

namespace {

using namespace kt62::host;
using kt62::fake::Failure;
using kt62::fake::Node;
using Kind = Failure::Kind;

// A well-formed reply to `q`: response code, value and data segment length as given; byte `at`
// then set to `v`. msgcode and the UIC words are host-endian: these are for little-endian hosts.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__);
std::vector<uint8_t> Reply(const QueryRequest& q, uint8_t response, uint32_t value, uint16_t data_bytes = 0,
                           size_t at = 0, uint8_t v = 0) {
    std::vector<uint8_t> r(kBsgReplyBytes, 0);
    r[8] = 0x36, r[13] = q.op == QueryOp::ReadAttribute || q.op == QueryOp::ReadDescriptor ? 0x01 : 0x81;
    r[14] = response, r[18] = static_cast<uint8_t>(data_bytes >> 8), r[19] = static_cast<uint8_t>(data_bytes);
    r[20] = static_cast<uint8_t>(q.op), r[21] = q.idn, r[22] = q.index, r[23] = q.selector;
    for (int i = 0; i < 4; ++i) r[28 + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
    r[at] = at ? v : r[at];
    return r;
}

// A reply to a DME get of attribute 0x1560: reply.result, then the UIC words copied back.
std::vector<uint8_t> DmeReply(uint32_t command, uint32_t arg2, int32_t result) {
    std::vector<uint8_t> r(kBsgReplyBytes, 0);
    const uint32_t words[] = {command, 0x1560u << 16, arg2, 0};
    std::memcpy(r.data(), &result, 4);
    std::memcpy(r.data() + 20, words, sizeof words);
    return r;
}

TEST(HostCodec, RepliesAreAnswersToTheirRequestOrFailures) {
    const QueryRequest attr{QueryOp::ReadAttribute, 0x11, 0x01, 0x02, 0, 0};
    const QueryRequest desc{QueryOp::ReadDescriptor, 0x00, 0, 0, 255, 0};
    const BsgStatus ok{kBsgReplyBytes, 0, 0, 0, 0, 255}, cut{8, 0, 0, 0, 0, 255},
        residual{40, 0, 0, 0, 200, 255}, device_status{kBsgReplyBytes, 1, 0, 0, 0, 255},
        transport_status{kBsgReplyBytes, 0, 7, 0, 0, 255}, driver_status{kBsgReplyBytes, 0, 0, 6, 0, 255};
    const struct {
        QueryRequest q;
        std::vector<uint8_t> reply;
        BsgStatus st;
        int32_t result;
        uint32_t value_or_length;
    } cases[] = {
        {attr, Reply(attr, 0, 0x01020304), ok, KT62_OK, 0x01020304},
        {desc, Reply(desc, 0, 0, 0x59), ok, KT62_OK, 0x59},
        {attr, Reply(attr, 0xF6, 0), ok, KT62_QUERY_NOT_READABLE, 0},
        {attr, Reply(attr, 0x05, 0), ok, KT62_E_TRANSPORT, 0},            // outside the failures
        {attr, Reply(attr, 0, 7, 0, 8, 0x21), ok, KT62_E_TRANSPORT, 0},   // not a query response
        {attr, Reply(attr, 0, 7, 0, 13, 0x81), ok, KT62_E_TRANSPORT, 0},  // another query function
        {attr, Reply(attr, 0, 7, 0, 22, 0x02), ok, KT62_E_TRANSPORT, 0},  // another index
        {attr, Reply(attr, 0, 7), cut, KT62_E_TRANSPORT, 0},
        {desc, Reply(desc, 0, 0, 0x59), residual, KT62_E_TRANSPORT, 0},
        {attr, Reply(attr, 0, 7), device_status, KT62_E_TRANSPORT, 0},  // nothing of ufs_bsg's
        {attr, Reply(attr, 0, 7), transport_status, KT62_E_TRANSPORT, 0},
        {attr, Reply(attr, 0, 7), driver_status, KT62_E_TRANSPORT, 0},
    };
    for (const auto& c : cases) {
        const QueryOutcome out = DecodeQueryReply(c.q, c.reply, c.st);
        EXPECT_EQ(out.result, c.result) << "row " << &c - cases;
        const uint32_t got = c.q.op == QueryOp::ReadDescriptor ? out.data_bytes : out.value;
        EXPECT_EQ(c.result == KT62_OK ? got : 0, c.value_or_length) << &c - cases;
    }
}

// A rejected DME get is the device's UIC code wherever the kernel put it: the reply's argument 2
// (older kernels), device_status alone, or both (Linux 6.12); the command echoed all the same.
TEST(HostCodec, DmeRejectionsCarryTheUicCodeWhereverTheKernelPutsIt) {
    const BsgStatus ok{kBsgReplyBytes, 0, 0, 0, 0, 0}, status1{kBsgReplyBytes, 1, 0, 0, 0, 0};
    const struct {
        std::vector<uint8_t> reply;
        BsgStatus st;
        int32_t result;
    } cases[] = {
        {DmeReply(1, 1, 1), ok, KT62_DME_FAILURE(1)},
        {DmeReply(1, 0, 0), status1, KT62_DME_FAILURE(1)},
        {DmeReply(1, 1, 1), status1, KT62_DME_FAILURE(1)},
        {DmeReply(1, 5, 5), status1, KT62_DME_FAILURE(5)},   // the controller's own word
        {DmeReply(3, 1, 1), status1, KT62_E_TRANSPORT},      // another command echoed
        {DmeReply(1, 0, 0xFF), ok, KT62_DME_FAILURE(0xFF)},  // the largest code a byte holds
        {DmeReply(1, 0, 0x100), ok, KT62_E_TRANSPORT},       // no UIC code: not a reply
    };
    for (const auto& c : cases) EXPECT_EQ(DecodeDmeReply(1, 0x1560, 0, c.reply, c.st).result, c.result);
}

TEST(HostCodec, SenseData) {
    const auto sense = [](uint8_t format, uint8_t key, uint8_t asc) {
        return std::vector<uint8_t>{format, 0, key, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, asc, 0, 0, 0, 0, 0};
    };
    const struct {
        ScsiStatus st;
        std::vector<uint8_t> sense;
        int32_t result;
    } cases[] = {
        {{2, 0, 0, 0, 18}, sense(0x70, 5, 0x21), KT62_SCSI_FAILURE(0x05, 0x21)},
        {{2, 0, 0, 0, 0}, sense(0x70, 5, 0x21), KT62_E_TRANSPORT},  // no sense written
        {{2, 0, 0, 0, 8}, sense(0x70, 5, 0x21), KT62_E_TRANSPORT},  // cut before the ASC
        {{8, 0, 0, 0, 0}, {}, KT62_E_BUSY},
        {{2, 0, 8, 0, 18}, sense(0x70, 1, 0x17), KT62_OK},  // recovered: the data moved
        {{2, 0, 8, 512, 18}, sense(0x70, 1, 0x17), KT62_E_TRANSPORT},
        {{2, 0, 8, 0, 18}, sense(0x71, 1, 0x17), KT62_SCSI_FAILURE(0x01, 0x17)},  // deferred
        {{2, 0, 8, 0, 18}, sense(0x70, 6, 0x29), KT62_SCSI_FAILURE(0x06, 0x29)},  // when it repeats
    };
    for (const auto& c : cases) EXPECT_EQ(DecodeScsiStatus(c.st, c.sense).result, c.result) << c.sense[2];
}

class LinuxHost : public DeviceTest {
protected:
    // A host at dir_/root1 of 16 KiB per command holding a 16 MiB device, opened.
    KT62_HANDLE Plug(const char* write = "1", const char* held = "false") {
        UseProfile(std::string(R"({"programmers":[{"max_hw_sectors_kb":16,"held":)") + held +
                   R"(,"ufs":{"raw_capacity_bytes":16777216}}]})");
        setenv("KT62_LINUX_WRITE", write, 1);
        return OpenAfterSearch(0);
    }
    std::string Requests() {
        const std::string text = kt::test::TempDir::Read(requests_);
        std::filesystem::remove(requests_);
        return text;
    }
    int32_t Call(KT62_HANDLE h, const std::string& call) {
        uint32_t v = 0, w = 0;
        uint8_t f = 0;
        if (call == "attribute") return kt62UfsReadAttribute(h, 0x0A, 0, 0, &v);
        if (call == "descriptor") return kt62UfsReadDescriptor(h, 0, 0, 0, buf_.data(), 64);
        if (call == "flag") return kt62UfsReadFlag(h, 0x04, &f);
        if (call == "dme") return kt62UfsGetDME(h, 0x1560, 0, 1, &v);
        if (call == "capacity") return kt62ScsiReadCapacity(h, &v, &w);
        if (call == "read") return kt62ScsiRead10(h, 8, 4096, buf_.data(), 4);
        return kt62ScsiWrite10(h, 8, 4096, buf_.data(), 4);
    }
    const std::string requests_ = dir_.Path() + "/requests";
    std::vector<uint8_t> buf_ = std::vector<uint8_t>(4 * 4096, 0x5A);  // one command's worth
};

// Each failure channel ends in an honest result and a usable handle (more: e2e linux_kernel_failures).
TEST_F(LinuxHost, KernelFailuresAreHonestResultsAndTheNextCallWorks) {
    const struct {
        Node node;
        Failure failure;
        const char* call;
        int32_t expect;
    } channels[] = {
        {Node::Bsg, {Kind::Errno, EIO}, "dme", KT62_E_TRANSPORT},
        {Node::Bsg, {Kind::BsgResult, -EINVAL}, "attribute", KT62_E_TRANSPORT},
        // After the same request answered: its reply must not be taken for this one's.
        {Node::Bsg, {Kind::NoReply}, "attribute", KT62_E_TRANSPORT},
        {Node::Bsg, {Kind::BsgResult, -ETIMEDOUT}, "dme", KT62_E_TIMEOUT},
        {Node::Bsg, {Kind::ZeroReply}, "dme", KT62_E_TRANSPORT},
        {Node::Block, {Kind::Errno, EIO}, "read", KT62_E_TRANSPORT},
        {Node::Block, {Kind::CheckCondition, 0, 0x07, 0x27, 0x00}, "write", KT62_SCSI_FAILURE(0x07, 0x27)},
        {Node::Block, {Kind::Residual, 512}, "write", KT62_E_TRANSPORT},
        {Node::Sg, {Kind::Residual, 4}, "capacity", KT62_E_TRANSPORT},
    };
    KT62_HANDLE h = Plug();
    for (const auto& c : channels) {
        Failure failure = c.failure;
        // The transfer command itself, not the READ CAPACITY(10) the backend may send before it.
        if (c.call[0] == 'r' || c.call[0] == 'w') failure.only_op = c.call[0] == 'r' ? 0x28 : 0x2A;
        CurrentKernel().FailIoctls(c.node, failure);
        const int32_t r = Call(h, c.call);
        EXPECT_EQ(r, c.expect) << c.call << " " << kt62ResultName(r);
        EXPECT_EQ(Call(h, c.call), KT62_OK) << c.call;
    }
}

// A UNIT ATTENTION is sent once more; a second is the call's failure, traced with its whole sense.
TEST_F(LinuxHost, UnitAttentionIsRetriedOnce) {
    KT62_HANDLE h = Plug();
    const std::string trace = dir_.Path() + "/trace";
    CurrentKernel().LogTo(requests_);
    setenv("KT62_TRACE", trace.c_str(), 1);
    for (const int times : {1, 2}) {
        CurrentKernel().FailIoctls(Node::Sg, {Kind::CheckCondition, 0, 0x06, 0x29, 0x02}, times);
        EXPECT_EQ(Call(h, "capacity"), times == 1 ? KT62_OK : KT62_SCSI_FAILURE(0x06, 0x29));
        EXPECT_EQ(Requests(), "sg0 READ CAPACITY(10)\nsg0 READ CAPACITY(10)\n") << times;
    }
    EXPECT_EQ(Call(h, "capacity"), KT62_OK);
    const std::string call = "kt62ScsiReadCapacity h=" + std::to_string(Id(h));
    EXPECT_EQ(kt::test::TempDir::Read(trace), call + " -> 0\n" + call + " sense=06/29/02 -> " +
                                                  std::to_string(KT62_SCSI_FAILURE(0x06, 0x29)) + "\n" +
                                                  call + " -> 0\n");
}

// Descriptor lengths the kernel would cut or refuse send nothing.
TEST_F(LinuxHost, DescriptorLengthsTheKernelWouldCutSendNothing) {
    KT62_HANDLE h = Plug();
    CurrentKernel().LogTo(requests_);
    for (const uint32_t n : {0u, 256u})
        EXPECT_EQ(kt62UfsWriteDescriptor(h, 1, 0, 0, buf_.data(), n), KT62_QUERY_INVALID_LENGTH) << n;
    EXPECT_EQ(Requests(), "");
    kt62UfsWriteDescriptor(h, 1, 0, 0, buf_.data(), 255);
    EXPECT_EQ(Requests(), "ufs-bsg0 query write-descriptor idn=0x01 index=0 selector=0\n");
}

// A unit mounted (a partition counts, a longer name does not) or held is not written.
TEST_F(LinuxHost, AUnitInUseIsNotWritten) {
    KT62_HANDLE h = Plug("1", "true");
    for (const auto& [mounts, says] :
         {std::pair{"/dev/sda2 /mnt ext4 rw 0 0\n", "/dev/sda is mounted;"},
          {"/dev/sdab1 /mnt ext4 rw 0 0\n", "/dev/sda is mounted or held by another"}}) {
        dir_.Write("root1/proc/self/mounts", mounts);
        const std::string err = Stderr([&] { EXPECT_EQ(Call(h, "write"), KT62_E_UNIT_IN_USE); });
        EXPECT_NE(err.find(says), std::string::npos) << err;
    }
}

// A hostile layout ends at once in a refusal naming its cause; a write to an unproven unit sends nothing.
TEST_F(LinuxHost, HostileLayoutsAreRefusedAtOnce) {
    namespace fs = std::filesystem;
    const auto fifo = [](const fs::path& p) {
        fs::create_directories(p.parent_path());
        ASSERT_EQ(mkfifo(p.c_str(), 0600), 0) << p;
    };
    const std::string unit = "sys/bus/scsi/devices/0:0:0:0", queue = unit + "/block/sda/queue";
    const struct {
        const char* sg;  // KT62_SG
        std::function<void(const fs::path&)> lay_out;
        bool write;  // else the search alone
        const char* says;
    } cases[] = {
        {"/dev/sda", [](const fs::path&) {}, false,
         "KT62_SG: /dev/sda: not a SCSI generic node (no /sys/class/scsi_generic/sda); use /dev/sg0,"},
        {"/dev/sda:/dev/sdb", [](const fs::path&) {}, false, "KT62_SG: /dev/sdb: No such file"},
        {"/dev/sg5",
         [&](const fs::path& r) {
             fs::create_directories(r / "dev/sg5"), fs::create_directories(r / "sys/class/scsi_generic/sg5");
         },
         false, "/dev/sg5: a directory, not"},
        {"",
         [&](const fs::path& r) {
             fs::remove(r / queue / "max_hw_sectors_kb"), fifo(r / queue / "max_hw_sectors_kb");
         },
         false, "max_hw_sectors_kb: not a regular file (a FIFO); taken as 512"},
        {"", [&](const fs::path& r) { fs::create_directories(r / unit / "block/sdb"); }, true,
         "cannot be told: 2 block devices in"},
        {"", [&](const fs::path& r) { fs::remove_all(r / unit / "block/sda"); }, true,
         "cannot be told: no block device in"},
        {"", [](const fs::path& r) { fs::remove(r / "proc/self/mounts"); }, true,
         "proc/self/mounts cannot be read: No such file"},
        {"", [](const fs::path& r) { fs::resize_file(r / "proc/self/mounts", (4 << 20) + 1); }, true,
         "cannot be read: larger than 4194304 bytes"},
    };
    for (const auto& c : cases) {
        const auto row = &c - cases;
        UseProfile(R"({"programmers":[{"ufs":{"raw_capacity_bytes":16777216}}]})");
        c.lay_out(std::getenv("KT62_LINUX_ROOT"));
        CurrentKernel().LogTo(requests_);
        setenv("KT62_SG", c.sg, 1);
        alarm(10);  // a read that blocks ends the test here
        KT62_HANDLE h = c.write ? OpenAfterSearch(0) : KT62_INVALID_HANDLE;
        Requests();
        const std::string err = Stderr([&] {
            EXPECT_EQ(c.write ? Call(h, "write") : kt62Search(), c.write ? KT62_E_UNIT_IN_USE : 1) << row;
        });
        alarm(0);
        EXPECT_EQ(Requests(), "") << row;
        if (c.write) kt62Close(h), opened_.clear();
        EXPECT_NE(err.find(c.says), std::string::npos) << row << ": " << err;
    }
    unsetenv("KT62_SG");
}

TEST_F(LinuxHost, BackendChoice) {
    Plug();
    const std::string hosts = dir_.Path() + "/root1", none = dir_.Path() + "/none";
    const std::string profile = dir_.Write("two.json", R"({"programmers":[{},{}]})");
    const struct {
        const char* backend;  // nullptr: unset
        bool hosts, emulator_profile;
        int32_t count;
        const char* stderr_has;
    } cases[] = {
        {nullptr, true, false, 1, ""},    {"auto", true, false, 1, ""},
        {"auto", true, true, 2, ""},      {"auto", false, false, 1, ""},
        {"emulator", true, false, 1, ""}, {"linux", false, false, 0, ""},
        {"linux", true, true, 1, ""},     {"ufs", true, false, 0, "KT62_BACKEND"},
    };
    for (const auto& c : cases) {
        setenv("KT62_LINUX_ROOT", (c.hosts ? hosts : none).c_str(), 1);
        c.backend ? setenv("KT62_BACKEND", c.backend, 1) : unsetenv("KT62_BACKEND");
        c.emulator_profile ? setenv("KT62_EMULATOR", profile.c_str(), 1) : unsetenv("KT62_EMULATOR");
        const std::string err =
            Stderr([&] { EXPECT_EQ(kt62Search(), c.count) << c.backend << " " << c.hosts; });
        EXPECT_EQ(err.empty(), !*c.stderr_has) << err;
        EXPECT_NE(err.find(c.stderr_has), std::string::npos) << err;
    }
}

}  // namespace
}  // namespace kt62test
