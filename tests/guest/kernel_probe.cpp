// One fixed list of requests, good and bad, to the UFS BSG and SCSI generic nodes of the first UFS host
// under ROOT (default "/"); per request a line: its name, then "field=value" for every field the kernel
// reports ("unset" where it left the probe's). Runs on a real kernel (in a guest) and on the fake one.
#include <fcntl.h>
#include <linux/bsg.h>
#include <scsi/sg.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "encoding/big_endian.h"
#include "host/codec.h"
#include "host/discovery.h"
#include "host/transport.h"

namespace kt62::probe {
namespace {

using host::BsgRequest;
using host::Cdb;
using host::QueryOp;
using kt::BigEndian16;
using kt::BigEndian32;

// What the probe leaves in every field and byte the kernel may write, to tell which it wrote.
constexpr uint8_t kUnsetByte = 0xEE;

template <typename T>
void Unset(T& v) {
    std::memset(&v, kUnsetByte, sizeof v);
}
template <typename T>
bool IsUnset(T v) {
    T unset;
    Unset(unset);
    return v == unset;
}
template <typename T>
T Native(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

size_t Untouched(const std::vector<uint8_t>& data) {
    return static_cast<size_t>(std::count(data.begin(), data.end(), kUnsetByte));
}

struct Line {
    std::ostringstream text;
    template <typename T>
    Line& Put(const char* field, T v, bool hex = true) {
        text << ' ' << field << '=';
        if (IsUnset(v))
            text << "unset";
        else if (hex)
            text << "0x" << std::hex << std::uppercase << static_cast<uint64_t>(v) << std::dec;
        else
            text << static_cast<int64_t>(v);
        return *this;
    }
    Line& Bytes(const char* field, const uint8_t* p, size_t n) {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        text << ' ' << field << '=';
        for (size_t i = 0; i < n; ++i) text << kDigits[p[i] >> 4] << kDigits[p[i] & 0xF];
        return *this;
    }
};

struct BsgCase {
    const char* name;
    BsgRequest request;
    uint32_t din = 0;  // data-in bytes offered
};

BsgRequest Query(QueryOp op, uint8_t idn, uint8_t index = 0, uint16_t length = 0, uint32_t value = 0) {
    return host::EncodeQuery({op, idn, index, 0, length, value});
}

std::string Bsg(host::Transport& t, int fd, const BsgCase& c) {
    std::array<uint8_t, host::kBsgReplyBytes> reply{};
    reply.fill(kUnsetByte);
    std::vector<uint8_t> din(c.din, kUnsetByte);
    sg_io_v4 io{};
    io.guard = 'Q';
    io.protocol = BSG_PROTOCOL_SCSI;
    io.subprotocol = BSG_SUB_PROTOCOL_SCSI_TRANSPORT;
    io.request_len = c.request.size();
    io.request = reinterpret_cast<uintptr_t>(c.request.data());
    io.max_response_len = reply.size();
    io.response = reinterpret_cast<uintptr_t>(reply.data());
    io.din_xfer_len = c.din;
    io.din_xferp = reinterpret_cast<uintptr_t>(din.data());
    Unset(io.device_status), Unset(io.transport_status), Unset(io.driver_status), Unset(io.info);
    Unset(io.response_len), Unset(io.din_resid);
    const int r = t.Ioctl(fd, SG_IO, &io);
    Line line;
    line.text << c.name;
    line.Put("ioctl", r, false).Put("device_status", io.device_status);
    line.Put("transport_status", io.transport_status).Put("driver_status", io.driver_status);
    line.Put("info", io.info);
    line.Put("response_len", io.response_len, false).Put("din_resid", io.din_resid, false);
    line.Put("result", Native<int32_t>(reply.data()), false);
    line.Put("rcv_len", Native<uint32_t>(reply.data() + 4), false);
    const uint8_t* h = reply.data() + 8;  // the response UPIU's header, then its fields
    const uint8_t* f = reply.data() + 20;
    if (Native<uint32_t>(c.request.data()) == host::kMsgUic) {
        line.Put("command", Native<uint32_t>(f)).Put("arg1", Native<uint32_t>(f + 4));
        line.Put("arg2", Native<uint32_t>(f + 8)).Put("arg3", Native<uint32_t>(f + 12));
    } else {
        line.Put("code", h[0]).Put("function", h[5]).Put("response", h[6]);
        line.Put("data_length", BigEndian16(h + 10));
        line.Put("opcode", f[0]).Put("idn", f[1]).Put("index", f[2]).Put("selector", f[3]);
        line.Put("length", BigEndian16(f + 6)).Put("value", BigEndian32(f + 8));
        if (c.din > 0) line.Bytes("data", din.data(), 2).Put("untouched", Untouched(din), false);
    }
    return line.text.str();
}

struct ScsiCase {
    const char* name;
    Cdb cdb;
    uint8_t cdb_len;
    int direction;
    uint32_t bytes;
};

std::string Scsi(host::Transport& t, int fd, const ScsiCase& c, std::vector<uint8_t>& data) {
    std::array<uint8_t, 32> sense{};
    sense.fill(kUnsetByte);
    sg_io_hdr io{};
    io.interface_id = 'S';
    io.dxfer_direction = c.direction;
    io.cmd_len = c.cdb_len;
    io.mx_sb_len = sense.size();
    io.dxfer_len = c.bytes;
    io.dxferp = data.data();
    io.cmdp = const_cast<uint8_t*>(c.cdb.data());  // the kernel only reads it
    io.sbp = sense.data();
    io.timeout = 60000;
    Unset(io.status), Unset(io.masked_status), Unset(io.host_status), Unset(io.driver_status);
    Unset(io.resid), Unset(io.sb_len_wr), Unset(io.info);
    const int r = t.Ioctl(fd, SG_IO, &io);
    Line line;
    line.text << c.name;
    line.Put("ioctl", r, false).Put("status", io.status).Put("masked_status", io.masked_status);
    line.Put("host_status", io.host_status).Put("driver_status", io.driver_status);
    line.Put("resid", io.resid, false);
    line.Put("sb_len_wr", io.sb_len_wr, false).Put("info", io.info);
    line.Bytes("sense", sense.data(),
               IsUnset(io.sb_len_wr) ? 0 : std::min<size_t>(io.sb_len_wr, sense.size()));
    // The data of a failed command is whatever sg's buffers held: only the device's is compared.
    if (c.direction == SG_DXFER_FROM_DEV && r == 0 && io.status == 0)
        line.Bytes("data", data.data(), std::min<size_t>(8, data.size()))
            .Put("untouched", Untouched(data), false);
    return line.text.str();
}

}  // namespace

std::vector<std::string> ProbeKernel(host::Transport& kernel, const std::string& root) {
    const std::vector<host::HostNodes> hosts = host::DiscoverHosts(root, "");
    if (hosts.empty() || hosts[0].sg_node.empty())
        return {"error: no UFS host with a SCSI generic node under " + root};
    const int bsg = kernel.Open(hosts[0].bsg_node.c_str(), O_RDWR | O_CLOEXEC);
    const int sg = kernel.Open(hosts[0].sg_node.c_str(), O_RDWR | O_CLOEXEC);
    if (bsg < 0 || sg < 0) {
        for (int fd : {bsg, sg})
            if (fd >= 0) kernel.Close(fd);
        return {"error: cannot open " + hosts[0].bsg_node + " (" + std::to_string(bsg) + ") or " +
                hosts[0].sg_node + " (" + std::to_string(sg) + ")"};
    }

    constexpr uint8_t kBootLunEn = 0x00, kActiveIccLevel = 0x03, kSecondsPassed = 0x0F;
    constexpr uint8_t kDeviceInit = 0x01, kBackgroundOpsEn = 0x04, kPurgeEnable = 0x06;
    constexpr uint8_t kUnknownIdn = 0x7F;
    constexpr uint32_t kPaActiveTxDataLanes = 0x1560, kUnknownMib = 0x5000;
    const BsgCase queries[] = {
        {"desc.device", Query(QueryOp::ReadDescriptor, 0x00, 0, 255), 255},
        {"desc.configuration", Query(QueryOp::ReadDescriptor, 0x01, 0, 255), 255},
        {"desc.unit0", Query(QueryOp::ReadDescriptor, 0x02, 0, 255), 255},
        {"desc.unit_absent", Query(QueryOp::ReadDescriptor, 0x02, 8, 255), 255},
        {"desc.unknown_idn", Query(QueryOp::ReadDescriptor, 0x0F, 0, 255), 255},
        {"attr.read", Query(QueryOp::ReadAttribute, kBootLunEn)},
        {"attr.read_unknown", Query(QueryOp::ReadAttribute, kUnknownIdn)},
        {"attr.read_write_only", Query(QueryOp::ReadAttribute, kSecondsPassed)},
        {"attr.write", Query(QueryOp::WriteAttribute, kActiveIccLevel, 0, 0, 5)},
        {"attr.read_written", Query(QueryOp::ReadAttribute, kActiveIccLevel)},
        {"flag.read", Query(QueryOp::ReadFlag, kDeviceInit)},
        {"flag.read_unknown", Query(QueryOp::ReadFlag, kUnknownIdn)},
        {"flag.read_write_only", Query(QueryOp::ReadFlag, kPurgeEnable)},
        {"flag.clear", Query(QueryOp::ClearFlag, kBackgroundOpsEn)},
        {"flag.read_cleared", Query(QueryOp::ReadFlag, kBackgroundOpsEn)},
        {"flag.set", Query(QueryOp::SetFlag, kBackgroundOpsEn)},
        {"flag.read_set", Query(QueryOp::ReadFlag, kBackgroundOpsEn)},
        {"dme.get", host::EncodeDmeGet(1, kPaActiveTxDataLanes, 0)},
        {"dme.peer_get", host::EncodeDmeGet(3, kPaActiveTxDataLanes, 0)},
        {"dme.get_unknown", host::EncodeDmeGet(1, kUnknownMib, 0)},
    };
    std::vector<std::string> lines;
    for (const BsgCase& c : queries) lines.push_back(Bsg(kernel, bsg, c));

    std::vector<uint8_t> capacity(8, kUnsetByte);
    lines.push_back(Scsi(
        kernel, sg, {"scsi.read_capacity", host::ReadCapacity10Cdb(), 10, SG_DXFER_FROM_DEV, 8}, capacity));
    const uint32_t end = BigEndian32(capacity.data()) + 1;
    const uint32_t block = BigEndian32(capacity.data() + 4) < 65536 ? BigEndian32(capacity.data() + 4) : 4096;
    const ScsiCase commands[] = {
        {"scsi.inquiry", host::InquiryCdb(), host::kInquiryCdbBytes, SG_DXFER_FROM_DEV, host::kInquiryBytes},
        {"scsi.read10", host::Rw10Cdb(false, 0, 1), 10, SG_DXFER_FROM_DEV, block},
        {"scsi.write10", host::Rw10Cdb(true, 1, 1), 10, SG_DXFER_TO_DEV, block},
        {"scsi.read10_written", host::Rw10Cdb(false, 1, 1), 10, SG_DXFER_FROM_DEV, block},
        {"scsi.read10_past_end", host::Rw10Cdb(false, end, 1), 10, SG_DXFER_FROM_DEV, block},
    };
    for (const ScsiCase& c : commands) {
        std::vector<uint8_t> data(c.bytes, c.direction == SG_DXFER_TO_DEV ? 0x5A : kUnsetByte);
        for (size_t i = 0; i < data.size() && c.direction == SG_DXFER_TO_DEV; i += 2) data[i] = 0xA5;
        lines.push_back(Scsi(kernel, sg, c, data));
    }
    kernel.Close(bsg);
    kernel.Close(sg);
    return lines;
}

}  // namespace kt62::probe

#ifndef KT_PROBE_NO_MAIN
int main(int argc, char** argv) {
    const std::vector<std::string> lines =
        kt62::probe::ProbeKernel(kt62::host::SystemTransport(), argc > 1 ? argv[1] : "/");
    for (const std::string& line : lines) std::cout << line << '\n';
    return lines.front().rfind("error", 0) == 0 ? 1 : 0;
}
#endif
