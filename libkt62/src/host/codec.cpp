#include "host/codec.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <kt62/apiKT6200.h>

#include "encoding/big_endian.h"

namespace kt62::host {
namespace {

// Offsets in struct ufs_bsg_request: msgcode, then the request UPIU (header 12 bytes,
// transaction-specific fields 20 bytes).
constexpr size_t kReqHeader = 4;
constexpr size_t kReqFields = 16;
// Offsets in struct ufs_bsg_reply: result, reply_payload_rcv_len, then the response UPIU.
constexpr size_t kRepHeader = 8;
constexpr size_t kRepFields = 20;

// Header bytes.
constexpr size_t kTransactionCode = 0;
constexpr size_t kQueryFunction = 5;
constexpr size_t kResponse = 6;
constexpr size_t kDataSegmentLength = 10;

constexpr uint8_t kStandardRead = 0x01;
constexpr uint8_t kStandardWrite = 0x81;

constexpr uint32_t kDmeGet = 0x01;
constexpr uint32_t kDmePeerGet = 0x03;

// The kernel's own integers (msgcode, result, UIC words) are in the host's byte order.
void PutHost32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
uint32_t Host32(const uint8_t* p) {
    uint32_t v = 0;
    std::memcpy(&v, p, 4);
    return v;
}

bool IsWrite(QueryOp op) {
    return op == QueryOp::WriteDescriptor || op == QueryOp::WriteAttribute || op == QueryOp::SetFlag ||
           op == QueryOp::ClearFlag || op == QueryOp::ToggleFlag;
}

// The part every BSG reply shares: the ioctl's status words, then reply.result. device_status is
// the caller's: bsg-lib puts the low byte of ufs_bsg's return value there, which is a UIC result
// code for a DME command.
int32_t ReplyEnvelope(std::span<const uint8_t> reply, const BsgStatus& st) {
    if (reply.size() < kBsgReplyBytes) return KT62_E_TRANSPORT;
    if (st.transport_status != 0 || st.driver_status != 0) return KT62_E_TRANSPORT;
    if (st.response_len != 0 && st.response_len < 4) return KT62_E_TRANSPORT;
    const auto result = static_cast<int32_t>(Host32(reply.data()));
    if (result == -ETIMEDOUT) return KT62_E_TIMEOUT;
    if (result < 0) return KT62_E_TRANSPORT;
    // A positive result is a UIC result code; the caller decides what it means.
    if (st.response_len != 0 && st.response_len < kBsgReplyBytes) return KT62_E_TRANSPORT;
    return KT62_OK;
}

}  // namespace

BsgRequest EncodeQuery(const QueryRequest& q) {
    BsgRequest r{};
    PutHost32(r.data(), kMsgQuery);
    uint8_t* h = r.data() + kReqHeader;
    h[kTransactionCode] = static_cast<uint8_t>(kMsgQuery);
    h[kQueryFunction] = IsWrite(q.op) ? kStandardWrite : kStandardRead;
    // The kernel fills the data segment length itself only for the data it carries out.
    if (q.op == QueryOp::WriteDescriptor) kt::PutBigEndian16(h + kDataSegmentLength, q.length);
    uint8_t* f = r.data() + kReqFields;
    f[0] = static_cast<uint8_t>(q.op);
    f[1] = q.idn;
    f[2] = q.index;
    f[3] = q.selector;
    if (q.op == QueryOp::ReadDescriptor || q.op == QueryOp::WriteDescriptor)
        kt::PutBigEndian16(f + 6, q.length);
    if (q.op == QueryOp::WriteAttribute) kt::PutBigEndian32(f + 8, q.value);
    return r;
}

QueryOutcome DecodeQueryReply(const QueryRequest& q, std::span<const uint8_t> reply, const BsgStatus& st) {
    QueryOutcome out;
    // ufs_bsg answers a query the device refused with a response code and result 0: a device
    // status comes from below it.
    if (st.device_status != 0) {
        out.result = KT62_E_TRANSPORT;
        return out;
    }
    if (const int32_t r = ReplyEnvelope(reply, st); r != KT62_OK) {
        out.result = r;
        return out;
    }
    out.result = KT62_E_TRANSPORT;
    if (Host32(reply.data()) != 0) return out;
    const uint8_t* h = reply.data() + kRepHeader;
    const uint8_t* f = reply.data() + kRepFields;
    // Older kernels answer a timed-out query with a zeroed response; a reply left from an earlier
    // request names another opcode, IDN, index or selector.
    if (h[kTransactionCode] != kQueryResponse) return out;
    if (h[kQueryFunction] != (IsWrite(q.op) ? kStandardWrite : kStandardRead)) return out;
    if (f[0] != static_cast<uint8_t>(q.op) || f[1] != q.idn || f[2] != q.index || f[3] != q.selector)
        return out;
    const uint8_t response = h[kResponse];
    if (response != 0) {
        // Failures are 0xF6..0xFF; they read as the negative results the emulator gives.
        if (response >= 0x80) out.result = static_cast<int32_t>(response) - 0x100;
        return out;
    }
    out.value = kt::BigEndian32(f + 8);
    if (q.op == QueryOp::ReadFlag) out.value &= 0xFF;
    if (q.op == QueryOp::ReadDescriptor) {
        const uint32_t bytes = kt::BigEndian16(h + kDataSegmentLength);
        // The kernel copies the data segment only when it fits the buffer; less arriving than
        // announced is a short transfer.
        if (bytes > kMaxDescriptorBytes || bytes > st.din_len || st.din_resid > st.din_len - bytes)
            return out;
        out.data_bytes = bytes;
    }
    out.result = KT62_OK;
    return out;
}

BsgRequest EncodeDmeGet(uint8_t kind, uint32_t attr_id, uint8_t selector) {
    BsgRequest r{};
    PutHost32(r.data(), kMsgUic);
    uint8_t* uc = r.data() + kReqFields;
    PutHost32(uc, kind == 3 ? kDmePeerGet : kDmeGet);
    PutHost32(uc + 4, attr_id << 16 | selector);
    return r;
}

QueryOutcome DecodeDmeReply(uint8_t kind, uint32_t attr_id, uint8_t selector, std::span<const uint8_t> reply,
                            const BsgStatus& st) {
    QueryOutcome out;
    if (const int32_t r = ReplyEnvelope(reply, st); r != KT62_OK) {
        out.result = r;
        return out;
    }
    out.result = KT62_E_TRANSPORT;
    const auto result = static_cast<int32_t>(Host32(reply.data()));
    const uint8_t* uc = reply.data() + kRepFields;
    // The kernel copies the command back whatever its outcome: it must be this command.
    if (Host32(uc) != (kind == 3 ? kDmePeerGet : kDmeGet) || Host32(uc + 4) != (attr_id << 16 | selector))
        return out;
    if (result > 0xFF || st.device_status > 0xFF) return out;
    // A rejected command's UIC result code can stand in three places, depending on the kernel:
    // the low byte of argument 2 (the controller's own word, copied back), reply.result (what
    // ufs_bsg returned) and device_status (bsg-lib's copy of that). Any non-zero one is the
    // device's answer, never a success; when they disagree, argument 2 is the source the others
    // were copied from, so it is the one reported.
    uint32_t code = Host32(uc + 8) & 0xFF;
    if (code == 0) code = static_cast<uint32_t>(result);
    if (code == 0) code = st.device_status;
    if (code != 0) {
        out.result = KT62_DME_FAILURE(code);
        return out;
    }
    out.value = Host32(uc + 12);
    out.result = KT62_OK;
    return out;
}

int32_t ErrnoResult(int error) {
    switch (error) {
        case EPERM:
        case EACCES:
            return KT62_E_PERMISSION;
        case ETIMEDOUT:
            return KT62_E_TIMEOUT;
        case EBUSY:
        case EAGAIN:
            return KT62_E_BUSY;
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return KT62_E_NO_PROGRAMMER;
        case EOPNOTSUPP:
            return KT62_E_NOT_SUPPORTED;
        default:
            return KT62_E_TRANSPORT;
    }
}

Cdb InquiryCdb() { return Cdb{0x12, 0, 0, 0, kInquiryBytes, 0}; }

Cdb ReadCapacity10Cdb() { return Cdb{0x25}; }

Cdb Rw10Cdb(bool write, uint32_t lba, uint16_t blocks) {
    Cdb c{};
    c[0] = write ? 0x2A : 0x28;
    kt::PutBigEndian32(c.data() + 2, lba);
    kt::PutBigEndian16(c.data() + 7, blocks);
    return c;
}

ScsiOutcome DecodeScsiStatus(const ScsiStatus& s, std::span<const uint8_t> sense) {
    constexpr uint8_t kCheckCondition = 0x02;
    constexpr uint16_t kDidTimeOut = 0x03;
    constexpr uint16_t kDriverTimeout = 0x06;
    constexpr uint16_t kDriverSense = 0x08;
    ScsiOutcome out;
    out.result = KT62_E_TRANSPORT;
    if (s.host_status == kDidTimeOut || (s.driver_status & 0x0F) == kDriverTimeout) {
        out.result = KT62_E_TIMEOUT;
        return out;
    }
    if (s.host_status != 0) return out;
    if ((s.driver_status & 0x0F) != 0 && (s.driver_status & 0x0F) != kDriverSense) return out;
    switch (s.status & 0xFE) {
        case 0x00:
            break;
        case kCheckCondition: {
            const size_t n = std::min<size_t>(s.sense_written, sense.size());
            const uint8_t format = n > 0 ? sense[0] & 0x7F : 0;
            Sense& d = out.sense;
            if ((format == 0x70 || format == 0x71) && n >= 13) {
                d = {static_cast<uint8_t>(sense[2] & 0x0F), sense[12], n >= 14 ? sense[13] : uint8_t{0},
                     format == 0x71};
            } else if ((format == 0x72 || format == 0x73) && n >= 3) {
                d = {static_cast<uint8_t>(sense[1] & 0x0F), sense[2], n >= 4 ? sense[3] : uint8_t{0},
                     format == 0x73};
            } else {
                return out;
            }
            out.has_sense = true;
            if (d.key != kSenseRecoveredError || d.deferred) {
                out.result = KT62_SCSI_FAILURE(d.key, d.asc);
                return out;
            }
            break;  // the data moved: judged as a good status, residual included
        }
        case 0x08:  // BUSY
        case 0x28:  // TASK SET FULL
            out.result = KT62_E_BUSY;
            return out;
        default:
            return out;
    }
    out.result = s.resid != 0 ? KT62_E_TRANSPORT : KT62_OK;
    return out;
}

std::string SenseText(const Sense& sense) {
    static constexpr const char* kKeys[16] = {
        "NO SENSE",       "RECOVERED ERROR", "NOT READY",      "MEDIUM ERROR",
        "HARDWARE ERROR", "ILLEGAL REQUEST", "UNIT ATTENTION", "DATA PROTECT",
        "BLANK CHECK",    "VENDOR SPECIFIC", "COPY ABORTED",   "ABORTED COMMAND",
        "RESERVED",       "VOLUME OVERFLOW", "MISCOMPARE",     "COMPLETED"};
    std::array<char, 80> text{};
    (void)std::snprintf(text.data(), text.size(), "sense key %X %s%s, ASC %02Xh ASCQ %02Xh", sense.key & 0xF,
                        kKeys[sense.key & 0xF], sense.deferred ? " (deferred)" : "", sense.asc, sense.ascq);
    return text.data();
}

}  // namespace kt62::host
