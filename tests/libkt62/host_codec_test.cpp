// The Linux host codec against byte vectors laid out from the kernel's
// structures (ufs_bsg_request / ufs_bsg_reply, SCSI CDBs and sense data),
// and every way a reply can fail to be an answer.
#include <gtest/gtest.h>
#include <kt62/apiKT6200.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "host/codec.h"

namespace {

using namespace kt62::host;

std::vector<uint8_t> Hex(const std::string& text) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return out;
}

std::vector<uint8_t> WithResult(std::vector<uint8_t> reply, int32_t result) {
    std::memcpy(reply.data(), &result, 4);
    return reply;
}

// msgcode and the UIC words are host-endian; these vectors are for little-endian hosts.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__);

TEST(HostCodec, QueryRequestsForAllEightOpcodes) {
    //                 msgcode  | header: tc fl lun tag . fn resp st ehs di dsl | op idn ix sel rsv len val
    const struct {
        QueryRequest q;
        const char* bytes;
    } cases[] = {
        {{QueryOp::ReadDescriptor, 0x02, 0x03, 0x00, 255, 0},
         "16000000 16000000 00010000 00000000 01020300 000000ff 00000000 00000000 00000000"},
        {{QueryOp::WriteDescriptor, 0x01, 0x00, 0x00, 0x90, 0},
         "16000000 16000000 00810000 00000090 02010000 00000090 00000000 00000000 00000000"},
        {{QueryOp::ReadAttribute, 0x11, 0x04, 0x05, 0, 0},
         "16000000 16000000 00010000 00000000 03110405 00000000 00000000 00000000 00000000"},
        {{QueryOp::WriteAttribute, 0x01, 0x00, 0x00, 0, 0x12345678},
         "16000000 16000000 00810000 00000000 04010000 00000000 12345678 00000000 00000000"},
        {{QueryOp::ReadFlag, 0x03, 0, 0, 0, 0},
         "16000000 16000000 00010000 00000000 05030000 00000000 00000000 00000000 00000000"},
        {{QueryOp::SetFlag, 0x01, 0, 0, 0, 0},
         "16000000 16000000 00810000 00000000 06010000 00000000 00000000 00000000 00000000"},
        {{QueryOp::ClearFlag, 0x0E, 0, 0, 0, 0},
         "16000000 16000000 00810000 00000000 070e0000 00000000 00000000 00000000 00000000"},
        {{QueryOp::ToggleFlag, 0x0E, 0, 0, 0, 0},
         "16000000 16000000 00810000 00000000 080e0000 00000000 00000000 00000000 00000000"},
    };
    for (const auto& c : cases) {
        const BsgRequest r = EncodeQuery(c.q);
        EXPECT_EQ(std::vector<uint8_t>(r.begin(), r.end()), Hex(c.bytes)) << int(c.q.op);
    }
}

// A well-formed reply to `q`: response code, value and data segment length as given.
std::vector<uint8_t> Reply(const QueryRequest& q, uint8_t response, uint32_t value, uint16_t data_bytes = 0) {
    std::vector<uint8_t> r(kBsgReplyBytes, 0);
    const bool write =
        q.op != QueryOp::ReadDescriptor && q.op != QueryOp::ReadAttribute && q.op != QueryOp::ReadFlag;
    r[8] = 0x36;
    r[13] = write ? 0x81 : 0x01;
    r[14] = response;
    r[18] = static_cast<uint8_t>(data_bytes >> 8);
    r[19] = static_cast<uint8_t>(data_bytes);
    r[20] = static_cast<uint8_t>(q.op);
    r[21] = q.idn;
    r[22] = q.index;
    r[23] = q.selector;
    for (int i = 0; i < 4; ++i) r[28 + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
    return r;
}

TEST(HostCodec, QueryRepliesAreAnswersToTheirRequestOrFailures) {
    const QueryRequest attr{QueryOp::ReadAttribute, 0x11, 0x01, 0x02, 0, 0};
    const QueryRequest flag{QueryOp::ReadFlag, 0x03, 0, 0, 0, 0};
    const QueryRequest desc{QueryOp::ReadDescriptor, 0x00, 0, 0, 255, 0};
    const BsgStatus ok{kBsgReplyBytes, 0, 0, 0, 0, 255};
    const auto with = [](std::vector<uint8_t> r, size_t at, uint8_t v) {
        r[at] = v;
        return r;
    };
    const auto status = [&](auto change) {
        BsgStatus s = ok;
        change(s);
        return s;
    };
    const struct {
        const char* what;
        QueryRequest q;
        std::vector<uint8_t> reply;
        BsgStatus st;
        int32_t result;
        uint32_t value;
        uint32_t data_bytes;
    } cases[] = {
        {"attribute, big-endian", attr, Reply(attr, 0, 0x01020304), ok, KT62_OK, 0x01020304, 0},
        {"flag in the low byte", flag, Reply(flag, 0, 0x00000001), ok, KT62_OK, 1, 0},
        {"descriptor length", desc, Reply(desc, 0, 0, 0x59), ok, KT62_OK, 0, 0x59},
        {"invalid IDN", attr, Reply(attr, 0xFD, 0), ok, KT62_QUERY_INVALID_IDN, 0, 0},
        {"not readable", attr, Reply(attr, 0xF6, 0), ok, KT62_QUERY_NOT_READABLE, 0, 0},
        {"response code outside the failures", attr, Reply(attr, 0x05, 0), ok, KT62_E_TRANSPORT, 0, 0},
        {"zeroed (older kernels' timeout)", attr, std::vector<uint8_t>(40, 0), ok, KT62_E_TRANSPORT, 0, 0},
        {"not a query response", attr, with(Reply(attr, 0, 7), 8, 0x21), ok, KT62_E_TRANSPORT, 0, 0},
        {"stale: other opcode", attr, with(Reply(attr, 0, 7), 20, 0x05), ok, KT62_E_TRANSPORT, 0, 0},
        {"stale: other IDN", attr, with(Reply(attr, 0, 7), 21, 0x12), ok, KT62_E_TRANSPORT, 0, 0},
        {"other query function", attr, with(Reply(attr, 0, 7), 13, 0x81), ok, KT62_E_TRANSPORT, 0, 0},
        {"result -ETIMEDOUT", attr, WithResult(Reply(attr, 0, 7), -ETIMEDOUT), ok, KT62_E_TIMEOUT, 0, 0},
        {"result -EINVAL", attr, WithResult(Reply(attr, 0, 7), -EINVAL), ok, KT62_E_TRANSPORT, 0, 0},
        {"reply cut short", attr, Reply(attr, 0, 7), status([](BsgStatus& s) { s.response_len = 8; }),
         KT62_E_TRANSPORT, 0, 0},
        {"device status", attr, Reply(attr, 0, 7), status([](BsgStatus& s) { s.device_status = 2; }),
         KT62_E_TRANSPORT, 0, 0},
        {"descriptor longer than 255", desc, Reply(desc, 0, 0, 0x100), ok, KT62_E_TRANSPORT, 0, 0},
        {"descriptor residual", desc, Reply(desc, 0, 0, 0x59),
         status([](BsgStatus& s) { s.din_resid = 200; }), KT62_E_TRANSPORT, 0, 0},
    };
    for (const auto& c : cases) {
        const QueryOutcome out = DecodeQueryReply(c.q, c.reply, c.st);
        EXPECT_EQ(out.result, c.result) << c.what;
        if (c.result != KT62_OK) continue;
        EXPECT_EQ(out.value, c.value) << c.what;
        EXPECT_EQ(out.data_bytes, c.data_bytes) << c.what;
    }
}

TEST(HostCodec, DmeGetLocalAndPeer) {
    BsgRequest r = EncodeDmeGet(1, 0x1560, 4);
    EXPECT_EQ(std::vector<uint8_t>(r.begin(), r.end()),
              Hex("1f000000 00000000 00000000 00000000 01000000 04006015 00000000 00000000 00000000"));
    r = EncodeDmeGet(3, 0x15A7, 0);
    EXPECT_EQ(r[16], 0x03);

    // The command comes back with argument 2 (result code) and argument 3 (value) filled.
    const auto reply = [](uint32_t command, uint32_t arg1, uint8_t code, uint32_t value, int32_t result = 0) {
        std::vector<uint8_t> b = WithResult(std::vector<uint8_t>(kBsgReplyBytes, 0), result);
        std::memcpy(b.data() + 20, &command, 4);
        std::memcpy(b.data() + 24, &arg1, 4);
        b[28] = code;
        std::memcpy(b.data() + 32, &value, 4);
        return b;
    };
    const BsgStatus ok{kBsgReplyBytes, 0, 0, 0, 0, 0};
    const struct {
        const char* what;
        uint8_t kind;
        std::vector<uint8_t> reply;
        int32_t result;
    } cases[] = {
        {"local", 1, reply(1, 0x15600004, 0, 2), KT62_OK},
        {"UIC result code", 1, reply(1, 0x15600004, 5, 0), KT62_DME_FAILURE(5)},
        {"result code only in reply.result", 1, reply(1, 0x15600004, 0, 0, 1), KT62_DME_FAILURE(1)},
        {"zeroed", 1, std::vector<uint8_t>(40, 0), KT62_E_TRANSPORT},
        {"other command", 1, reply(3, 0x15600004, 0, 2), KT62_E_TRANSPORT},
        {"timeout", 1, reply(1, 0x15600004, 0, 0, -ETIMEDOUT), KT62_E_TIMEOUT},
    };
    for (const auto& c : cases) {
        const QueryOutcome out = DecodeDmeReply(c.kind, 0x1560, 4, c.reply, ok);
        EXPECT_EQ(out.result, c.result) << c.what;
        if (c.result == KT62_OK) {
            EXPECT_EQ(out.value, 2u) << c.what;
        }
    }
}

TEST(HostCodec, ScsiCommandBlocks) {
    const Cdb inquiry = InquiryCdb();
    EXPECT_EQ(std::vector<uint8_t>(inquiry.begin(), inquiry.begin() + kInquiryCdbBytes),
              Hex("12 00 00 00 24 00"));
    const Cdb capacity = ReadCapacity10Cdb();
    EXPECT_EQ(std::vector<uint8_t>(capacity.begin(), capacity.end()), Hex("25 00 00 00 00 00 00 00 00 00"));
    const Cdb read = Rw10Cdb(false, 0x01020304, 0x0506);
    EXPECT_EQ(std::vector<uint8_t>(read.begin(), read.end()), Hex("28 00 01 02 03 04 00 05 06 00"));
    const Cdb write = Rw10Cdb(true, 7, 1);
    EXPECT_EQ(std::vector<uint8_t>(write.begin(), write.end()), Hex("2a 00 00 00 00 07 00 00 01 00"));
}

TEST(HostCodec, ScsiStatusAndSense) {
    const std::vector<uint8_t> fixed = Hex("70 00 05 00 00 00 00 0a 00 00 00 00 21 00 00 00 00 00");
    const std::vector<uint8_t> descriptor = Hex("72 05 24 00 00 00 00 00");
    const struct {
        const char* what;
        ScsiStatus st;
        std::vector<uint8_t> sense;
        int32_t result;
    } cases[] = {
        {"good", {0, 0, 0, 0, 0}, {}, KT62_OK},
        {"fixed sense", {2, 0, 0, 0, 18}, fixed, KT62_SCSI_FAILURE(0x05, 0x21)},
        {"descriptor sense", {2, 0, 0x08, 0, 8}, descriptor, KT62_SCSI_FAILURE(0x05, 0x24)},
        {"check condition without sense", {2, 0, 0, 0, 0}, fixed, KT62_E_TRANSPORT},
        {"fixed sense cut before the ASC", {2, 0, 0, 0, 8}, fixed, KT62_E_TRANSPORT},
        {"busy", {0x08, 0, 0, 0, 0}, {}, KT62_E_BUSY},
        {"host status DID_TIME_OUT", {0, 0x03, 0, 0, 0}, {}, KT62_E_TIMEOUT},
        {"host status DID_ERROR", {0, 0x07, 0, 0, 0}, {}, KT62_E_TRANSPORT},
        {"driver status DRIVER_TIMEOUT", {0, 0, 0x06, 0, 0}, {}, KT62_E_TIMEOUT},
        {"residual", {0, 0, 0, 512, 0}, {}, KT62_E_TRANSPORT},
    };
    for (const auto& c : cases) EXPECT_EQ(DecodeScsiStatus(c.st, c.sense), c.result) << c.what;
}

TEST(HostCodec, KernelErrorNumbers) {
    const struct {
        int error;
        int32_t result;
    } cases[] = {{EPERM, KT62_E_PERMISSION},     {ETIMEDOUT, KT62_E_TIMEOUT}, {EBUSY, KT62_E_BUSY},
                 {ENODEV, KT62_E_NO_PROGRAMMER}, {EIO, KT62_E_TRANSPORT},     {EINVAL, KT62_E_TRANSPORT},
                 {ENOTTY, KT62_E_TRANSPORT}};
    for (const auto& c : cases) EXPECT_EQ(ErrnoResult(c.error), c.result) << c.error;
}

}  // namespace
