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

void Bsg(FuzzedDataProvider& in) {
    const auto byte = [&] { return in.ConsumeIntegral<uint8_t>(); };
    const auto op = static_cast<QueryOp>(in.ConsumeIntegralInRange<uint8_t>(1, 8));
    const QueryRequest q{op, byte(), byte(), byte(),
                         static_cast<uint16_t>(op == QueryOp::ReadDescriptor ? kMaxDescriptorBytes : 0)};
    const uint8_t dme_kind = in.ConsumeBool() ? 0 : in.ConsumeBool() ? 1 : 3;
    BsgStatus st{in.ConsumeIntegral<uint32_t>(), in.ConsumeBool() ? in.ConsumeIntegral<uint32_t>() : 0};
    st.din_resid = in.ConsumeIntegral<uint32_t>(), st.din_len = q.length;
    const std::vector<uint8_t> reply = in.ConsumeBytes<uint8_t>(kBsgReplyBytes);
    const QueryOutcome out = dme_kind ? DecodeDmeReply(dme_kind, q.idn << 8 | q.index, q.selector, reply, st)
                                      : DecodeQueryReply(q, reply, st);
    KT_FUZZ_CHECK(KnownResult(out.result));
    if (out.result != KT62_OK) return;
    KT_FUZZ_CHECK(reply.size() == kBsgReplyBytes);
    if (dme_kind) {
        KT_FUZZ_CHECK(st.device_status == 0);  // a UIC result code: never a success
        const BsgRequest sent = EncodeDmeGet(dme_kind, q.idn << 8 | q.index, q.selector);
        return KT_FUZZ_CHECK(std::memcmp(reply.data() + 20, sent.data() + 16, 8) == 0);
    }
    KT_FUZZ_CHECK(std::count(reply.begin(), reply.begin() + 4, 0) == 4);  // reply.result
    KT_FUZZ_CHECK(reply[8] == kQueryResponse);
    KT_FUZZ_CHECK(reply[14] == 0);
    const std::array<uint8_t, 4> echoed = {static_cast<uint8_t>(q.op), q.idn, q.index, q.selector};
    KT_FUZZ_CHECK(std::equal(echoed.begin(), echoed.end(), reply.begin() + 20));
    KT_FUZZ_CHECK(out.data_bytes <= st.din_len);
}

// SCSI status and sense: a success had a good status or CHECK CONDITION and moved all the data; a
// SCSI failure needs the sense key, so at least 3 bytes of sense.
void ScsiSense(FuzzedDataProvider& in) {
    ScsiStatus st;
    st.status = in.ConsumeIntegral<uint8_t>();
    st.host_status = in.ConsumeBool() ? in.ConsumeIntegral<uint16_t>() : 0;
    st.driver_status = in.ConsumeBool() ? in.ConsumeIntegral<uint16_t>() : 0;
    st.resid = in.ConsumeBool() ? in.ConsumeIntegral<int32_t>() : 0;
    st.sense_written = in.ConsumeIntegral<uint8_t>();
    const int32_t r = DecodeScsiStatus(st, in.ConsumeRemainingBytes<uint8_t>()).result;
    KT_FUZZ_CHECK(KnownResult(r));
    if (r == KT62_OK) {
        KT_FUZZ_CHECK((st.status & 0xFC) == 0);
        KT_FUZZ_CHECK(st.host_status == 0);
        KT_FUZZ_CHECK(st.resid == 0);
    }
    if (r < 0) {
        KT_FUZZ_CHECK((static_cast<uint32_t>(r) & 0xFFFF0000u) == 0xFFFE0000u);
        KT_FUZZ_CHECK(st.sense_written >= 3);
    }
}

KT_FUZZ_TARGET(data, size) {
    FuzzedDataProvider in(data, size);
    in.ConsumeBool() ? Bsg(in) : ScsiSense(in);
}
