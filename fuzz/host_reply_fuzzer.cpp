// The Linux host codec fed any kernel answer: a success only ever answers the request sent and
// claims no more bytes than the buffer took; a failure is a device status or a library error.
#include <kt62/apiKT6200.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "host/codec.h"

using namespace kt62::host;

bool KnownResult(int32_t r) { return r <= 0 || (r >= KT62_E_BAD_ARGUMENT && r <= KT62_E_UNIT_IN_USE); }

void Query(FuzzedDataProvider& in) {
    QueryRequest q{static_cast<QueryOp>(in.ConsumeIntegralInRange<uint8_t>(1, 8))};
    q.idn = in.ConsumeIntegral<uint8_t>(), q.index = in.ConsumeIntegral<uint8_t>();
    q.selector = in.ConsumeIntegral<uint8_t>();
    q.length = q.op == QueryOp::ReadDescriptor ? kMaxDescriptorBytes : 0;
    BsgStatus st;
    st.response_len = in.ConsumeIntegral<uint32_t>();
    st.device_status = in.ConsumeBool() ? in.ConsumeIntegral<uint32_t>() : 0;
    st.din_resid = in.ConsumeIntegral<uint32_t>();
    st.din_len = q.length;
    const std::vector<uint8_t> reply = in.ConsumeBytes<uint8_t>(kBsgReplyBytes);
    const QueryOutcome out = DecodeQueryReply(q, reply, st);
    KT_FUZZ_CHECK(KnownResult(out.result));
    if (out.result != KT62_OK) return;
    KT_FUZZ_CHECK(reply.size() == kBsgReplyBytes);
    KT_FUZZ_CHECK(std::count(reply.begin(), reply.begin() + 4, 0) == 4);  // reply.result
    KT_FUZZ_CHECK(reply[8] == kQueryResponse);
    KT_FUZZ_CHECK(reply[14] == 0);
    const std::array<uint8_t, 4> echoed = {static_cast<uint8_t>(q.op), q.idn, q.index, q.selector};
    KT_FUZZ_CHECK(std::equal(echoed.begin(), echoed.end(), reply.begin() + 20));
    KT_FUZZ_CHECK(out.data_bytes <= st.din_len);
}

void Dme(FuzzedDataProvider& in) {
    const uint8_t kind = in.ConsumeBool() ? 1 : 3;
    const uint32_t attr = in.ConsumeIntegralInRange<uint32_t>(0, 0xFFFF);
    const uint8_t selector = in.ConsumeIntegral<uint8_t>();
    BsgStatus st;
    st.response_len = in.ConsumeIntegral<uint32_t>();
    st.device_status = in.ConsumeBool() ? in.ConsumeIntegral<uint32_t>() : 0;
    const std::vector<uint8_t> reply = in.ConsumeBytes<uint8_t>(kBsgReplyBytes);
    const QueryOutcome out = DecodeDmeReply(kind, attr, selector, reply, st);
    KT_FUZZ_CHECK(KnownResult(out.result));
    if (out.result != KT62_OK) return;
    KT_FUZZ_CHECK(st.device_status == 0);  // a UIC result code: never a success
    const BsgRequest sent = EncodeDmeGet(kind, attr, selector);
    KT_FUZZ_CHECK(std::memcmp(reply.data() + 20, sent.data() + 16, 8) == 0);
}

void ScsiSense(FuzzedDataProvider& in) {
    ScsiStatus st;
    st.status = in.ConsumeIntegral<uint8_t>();
    st.host_status = in.ConsumeBool() ? in.ConsumeIntegral<uint16_t>() : 0;
    st.driver_status = in.ConsumeBool() ? in.ConsumeIntegral<uint16_t>() : 0;
    st.resid = in.ConsumeBool() ? in.ConsumeIntegral<int32_t>() : 0;
    st.sense_written = in.ConsumeIntegral<uint8_t>();
    const std::vector<uint8_t> sense = in.ConsumeRemainingBytes<uint8_t>();
    const ScsiOutcome out = DecodeScsiStatus(st, sense);
    const int32_t r = out.result;
    KT_FUZZ_CHECK(KnownResult(r));
    // Success: a good status, or CHECK CONDITION with a current RECOVERED ERROR in what was written.
    const size_t n = std::min<size_t>(st.sense_written, sense.size());
    const uint8_t format = n > 0 ? sense[0] & 0x7F : 0;
    const bool recovered = (format == 0x70 && n >= 13 && (sense[2] & 0x0F) == kSenseRecoveredError) ||
                           (format == 0x72 && n >= 3 && (sense[1] & 0x0F) == kSenseRecoveredError);
    if (r == KT62_OK) {
        KT_FUZZ_CHECK((st.status & 0xFE) == 0 || ((st.status & 0xFE) == 2 && recovered));
        KT_FUZZ_CHECK(st.host_status == 0);
        KT_FUZZ_CHECK(st.resid == 0);
    }
    // A SCSI failure carries what the sense data says, read within what was written.
    if (r < 0) {
        KT_FUZZ_CHECK((static_cast<uint32_t>(r) & 0xFFFF0000u) == 0xFFFE0000u);
        KT_FUZZ_CHECK(st.sense_written >= 3);
    }
}

KT_FUZZ_TARGET(data, size) {
    FuzzedDataProvider in(data, size);
    const int which = in.ConsumeIntegralInRange<int>(0, 2);
    which == 0 ? Query(in) : which == 1 ? Dme(in) : ScsiSense(in);
}
