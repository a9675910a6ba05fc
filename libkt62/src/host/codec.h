// The bytes the Linux UFS host backend exchanges with the kernel, and what a
// reply means: UPIU query requests and UIC commands through the UFS BSG node
// (struct ufs_bsg_request / ufs_bsg_reply), SCSI CDBs and sense data through
// the SCSI generic node. Pure functions, no system calls: everything the
// kernel answers is judged here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace kt62::host {

inline constexpr size_t kBsgRequestBytes = 36;  // msgcode + the 32-byte request UPIU
inline constexpr size_t kBsgReplyBytes = 40;    // result, payload length + the 32-byte response UPIU
inline constexpr uint32_t kMaxDescriptorBytes = 255;

inline constexpr uint32_t kMsgQuery = 0x16;  // UPIU_TRANSACTION_QUERY_REQ
inline constexpr uint32_t kMsgUic = 0x1F;    // UPIU_TRANSACTION_UIC_CMD
inline constexpr uint8_t kQueryResponse = 0x36;

enum class QueryOp : uint8_t {
    ReadDescriptor = 0x01,
    WriteDescriptor = 0x02,
    ReadAttribute = 0x03,
    WriteAttribute = 0x04,
    ReadFlag = 0x05,
    SetFlag = 0x06,
    ClearFlag = 0x07,
    ToggleFlag = 0x08,
};

struct QueryRequest {
    QueryOp op = QueryOp::ReadAttribute;
    uint8_t idn = 0;
    uint8_t index = 0;
    uint8_t selector = 0;
    uint16_t length = 0;  // descriptor bytes
    uint32_t value = 0;   // attribute value to write
};

using BsgRequest = std::array<uint8_t, kBsgRequestBytes>;

BsgRequest EncodeQuery(const QueryRequest& q);

// What the kernel handed back besides the reply bytes.
struct BsgStatus {
    uint32_t response_len = 0;  // bytes of the reply the kernel wrote (0: it did not say)
    uint32_t device_status = 0;
    uint32_t transport_status = 0;
    uint32_t driver_status = 0;
    uint32_t din_resid = 0;
    uint32_t din_len = 0;  // bytes of data-in asked for
};

struct QueryOutcome {
    int32_t result = 0;       // a kt62 result
    uint32_t value = 0;       // attribute value, or the flag in the low byte
    uint32_t data_bytes = 0;  // descriptor bytes that arrived
};

// Judges a query reply against the request it answers: anything but a well-formed answer to
// that very request (zeroed, stale, short, another opcode or IDN) is a transport failure.
QueryOutcome DecodeQueryReply(const QueryRequest& q, std::span<const uint8_t> reply, const BsgStatus& status);

// kind 1: DME_GET, kind 3: DME_PEER_GET. A command the device rejects is its UIC result code,
// KT62_DME_FAILURE(code), wherever the kernel put the code (see the decoder).
BsgRequest EncodeDmeGet(uint8_t kind, uint32_t attr_id, uint8_t selector);
QueryOutcome DecodeDmeReply(uint8_t kind, uint32_t attr_id, uint8_t selector, std::span<const uint8_t> reply,
                            const BsgStatus& status);

// A kernel error number (positive) as a kt62 result.
int32_t ErrnoResult(int error);

// ---- SCSI through the SCSI generic node ----

using Cdb = std::array<uint8_t, 10>;
inline constexpr uint8_t kInquiryBytes = 36;
inline constexpr uint8_t kCapacityBytes = 8;

Cdb InquiryCdb();  // only the first 6 bytes are sent
Cdb ReadCapacity10Cdb();
Cdb Rw10Cdb(bool write, uint32_t lba, uint16_t blocks);
inline constexpr uint8_t kInquiryCdbBytes = 6;

// What sg_io_hdr reports of one command.
struct ScsiStatus {
    uint8_t status = 0;  // SCSI status byte
    uint16_t host_status = 0;
    uint16_t driver_status = 0;
    int32_t resid = 0;
    uint8_t sense_written = 0;  // sb_len_wr
};

inline constexpr uint8_t kSenseRecoveredError = 0x1;
inline constexpr uint8_t kSenseUnitAttention = 0x6;

// What fixed- or descriptor-format sense data says.
struct Sense {
    uint8_t key = 0;
    uint8_t asc = 0;
    uint8_t ascq = 0;
    bool deferred = false;  // about an earlier command (0x71, 0x73)
};

struct ScsiOutcome {
    int32_t result = 0;  // a kt62 result
    bool has_sense = false;
    Sense sense;  // when has_sense: CHECK CONDITION with well-formed sense data
    // UNIT ATTENTION (a power on, a reset, a changed unit): the device reports the event once
    // and has not run the command, so it deserves one more try.
    bool Retry() const { return has_sense && sense.key == kSenseUnitAttention && !sense.deferred; }
};

// The result of one SCSI command: 0, KT62_SCSI_FAILURE(key, ASC) for CHECK CONDITION with
// fixed- or descriptor-format sense, a library error for everything else, including a
// residual (a command moves all its bytes or fails). RECOVERED ERROR is a success: the device
// moved the data and only says it needed its own retries. A deferred error is a failure
// whatever its key: the device did not run this command.
ScsiOutcome DecodeScsiStatus(const ScsiStatus& s, std::span<const uint8_t> sense);

// "sense key 5 ILLEGAL REQUEST, ASC 21h ASCQ 00h".
std::string SenseText(const Sense& sense);

}  // namespace kt62::host
