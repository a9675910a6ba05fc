#include "host/linux_backend.h"

#include <fcntl.h>
#include <linux/bsg.h>
#include <scsi/sg.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "diag.h"
#include "encoding/big_endian.h"
#include "fileio/file_access.h"
#include "host/codec.h"
#include "host/transport.h"
#include "trace.h"

namespace kt62::host {
namespace {

// Transfer unit of one READ(10)/WRITE(10) call when kt62SetPacketSize left it at 0.
constexpr uint64_t kDefaultPacketBytes = uint64_t{8} << 20;
constexpr uint64_t kMaxBlocksPerCommand = 0xFFFF;
constexpr uint32_t kScsiTimeoutMs = 60000;
constexpr uint8_t kSenseBytes = 64;
constexpr int32_t kLbaOutOfRange = KT62_SCSI_FAILURE(0x05, 0x21);
constexpr int32_t kUnitNotSupported = KT62_SCSI_FAILURE(0x05, 0x25);
// UFS logical units 0-7 take sector calls; the well-known units do not.
constexpr uint8_t kUnits = 8;

std::string ErrnoText(int error) {
    if (error == EPERM || error == EACCES) return "permission denied: needs root or CAP_SYS_RAWIO";
    return std::generic_category().message(error);
}

// SG_SCSI_RESET asks for more than the other requests.
std::string ResetErrnoText(int error) {
    if (error == EPERM || error == EACCES)
        return "permission denied: a reset needs root, or both CAP_SYS_ADMIN and CAP_SYS_RAWIO";
    return ErrnoText(error);
}

// The command as the user's messages name it: "READ(10) at sector 8".
std::string CommandText(const Cdb& cdb) {
    switch (cdb[0]) {
        case 0x12:
            return "INQUIRY";
        case 0x25:
            return "READ CAPACITY(10)";
        case 0x28:
        case 0x2A:
            return std::string(cdb[0] == 0x28 ? "READ(10)" : "WRITE(10)") + " at sector " +
                   std::to_string(kt::BigEndian32(&cdb[2]));
        default:
            return "SCSI command " + std::to_string(cdb[0]);
    }
}

// "3.1" from wSpecVersion 0x0310 (BCD: major, minor, version suffix).
std::string SpecVersionText(uint16_t bcd) {
    const auto digit = [](unsigned v) { return static_cast<char>('0' + std::min(v, 9u)); };
    std::string text;
    if (bcd >> 12) text += digit(bcd >> 12);
    text += digit((bcd >> 8) & 0xF);
    text += '.';
    text += digit((bcd >> 4) & 0xF);
    return text;
}

// The mount table of a machine with thousands of mounts is a few hundred KiB.
constexpr size_t kMountTableLimit = size_t{4} << 20;

// Whether a line of /proc/self/mounts names `node` or one of its partitions as its source;
// nullopt, with `why` set, when the table cannot be read: nothing then shows the unit is free.
std::optional<bool> MountedIn(const std::string& mounts_file, const std::string& node_name,
                              std::string& why) {
    // procfs gives the file a size of 0: it is read to its end, up to the limit.
    const std::optional<std::string> table = kt::fileio::ReadWhole(mounts_file, kMountTableLimit, why);
    if (!table) return std::nullopt;
    const std::string device = "/dev/" + node_name;
    std::string_view rest(*table);
    while (!rest.empty()) {
        const size_t end = std::min(rest.find('\n'), rest.size());
        std::string_view source = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        source.remove_prefix(std::min(source.find_first_not_of(" \t"), source.size()));
        source = source.substr(0, source.find_first_of(" \t"));
        if (source.substr(0, device.size()) != device) continue;
        const std::string_view tail = source.substr(device.size());
        if (std::all_of(tail.begin(), tail.end(), [](char c) { return c >= '0' && c <= '9'; })) return true;
    }
    return false;
}

// One logical unit as a handle's sector calls reach it: unit U of host N is SCSI device N:0:0:U,
// with nodes of its own, and each unit is checked and claimed for writing on its own.
struct UnitLink {
    HostNodes nodes;     // the generic and block nodes and queue limits are the unit's
    std::string who;     // how messages name it: "ufs-bsg0", "ufs-bsg0 unit 2"
    bool found = false;  // looked up: unit 0 at the open, the others at their first call
    bool present = false;
    int sg_fd = -1;
    int exclusive_fd = -1;
    int read_fd = -1;  // -2: the block device could not be opened
    uint32_t blocks = 0;
    uint32_t block_bytes = 0;
};

// One handle on a host's UFS device: the programmer and its device are one and the same here.
class LinuxConnection final : public Connection, public UfsDevice {
public:
    LinuxConnection(HostNodes nodes, bool write_allowed, int bsg_fd, int sg_fd)
        : nodes_(std::move(nodes)), write_allowed_(write_allowed), bsg_fd_(bsg_fd) {
        units_[0] = UnitLink{nodes_, nodes_.name, true, true, sg_fd};
    }
    ~LinuxConnection() override { LinuxConnection::Close(); }
    LinuxConnection(const LinuxConnection&) = delete;
    LinuxConnection& operator=(const LinuxConnection&) = delete;

    UfsDevice& Device() override { return *this; }

    int32_t GetVersion(uint8_t* /*version*/) override { return KT62_E_NOT_SUPPORTED; }

    int32_t GetProduct(uint8_t* version, uint8_t* name, uint8_t* extra) override {
        std::string text;
        if (kt::fileio::IsOpenDescriptor(bsg_fd_)) {
            std::array<uint8_t, 0x12> device{};
            if (const int32_t r = ReadDescriptor(0x00, 0, 0, device.data(), device.size()); r != KT62_OK)
                return r;
            text = SpecVersionText(kt::BigEndian16(&device[0x10]));
        } else {
            std::array<uint8_t, 192> inquiry{};
            if (const int32_t r = ScsiInquiry(inquiry.data()); r != KT62_OK) return r;
            text.assign(reinterpret_cast<const char*>(inquiry.data() + 32), 4);
            text.erase(text.find_last_not_of(" \0", std::string::npos, 2) + 1);
        }
        CopyPadded(text, version, 4);
        CopyPadded(nodes_.name, name, 16);
        std::fill_n(extra, 8, uint8_t{0});
        return KT62_OK;
    }

    int32_t ScsiInquiry(uint8_t* buffer) override {
        return Scsi(units_[0], units_[0].sg_fd, InquiryCdb(), kInquiryCdbBytes, SG_DXFER_FROM_DEV, buffer,
                    kInquiryBytes);
    }

    int32_t ScsiReadCapacity(uint8_t lun, uint32_t* sectors, uint32_t* bytes_per_sector) override {
        UnitLink* unit = nullptr;
        if (const int32_t r = Reach(lun, unit); r != KT62_OK) return r;
        return Capacity(*unit, sectors, bytes_per_sector);
    }

    int32_t ScsiRead10(uint8_t lun, uint32_t lba, uint32_t bytes_per_sector, uint8_t* buffer, uint32_t count,
                       uint32_t packet_bytes) override {
        UnitLink* unit = nullptr;
        if (const int32_t r = Reach(lun, unit); r != KT62_OK) return r;
        return Transfer(*unit, false, lba, bytes_per_sector, buffer, count, packet_bytes);
    }

    int32_t ScsiWrite10(uint8_t lun, uint32_t lba, uint32_t bytes_per_sector, const uint8_t* buffer,
                        uint32_t count, uint32_t packet_bytes) override {
        if (!write_allowed_) return KT62_E_READ_ONLY;
        UnitLink* unit = nullptr;
        if (const int32_t r = Reach(lun, unit); r != KT62_OK) return r;
        // The kernel only reads from the buffer of a data-out command.
        return Transfer(*unit, true, lba, bytes_per_sector, const_cast<uint8_t*>(buffer), count,
                        packet_bytes);
    }

    static int32_t Capacity(const UnitLink& unit, uint32_t* sectors, uint32_t* bytes_per_sector) {
        std::array<uint8_t, kCapacityBytes> data{};
        const Cdb cdb = ReadCapacity10Cdb();
        if (const int32_t r =
                Scsi(unit, unit.sg_fd, cdb, cdb.size(), SG_DXFER_FROM_DEV, data.data(), data.size());
            r != KT62_OK)
            return r;
        const uint32_t last = kt::BigEndian32(data.data());
        *sectors = last == UINT32_MAX ? last : last + 1;
        *bytes_per_sector = kt::BigEndian32(&data[4]);
        return KT62_OK;
    }

    int32_t ReadFlag(uint8_t idn, uint8_t* value) override {
        QueryOutcome out = Query({QueryOp::ReadFlag, idn, 0, 0, 0, 0});
        if (out.result == KT62_OK) *value = static_cast<uint8_t>(out.value);
        return out.result;
    }
    int32_t SetFlag(uint8_t idn) override { return Change({QueryOp::SetFlag, idn, 0, 0, 0, 0}); }
    int32_t ClearFlag(uint8_t idn) override { return Change({QueryOp::ClearFlag, idn, 0, 0, 0, 0}); }
    int32_t ToggleFlag(uint8_t idn) override { return Change({QueryOp::ToggleFlag, idn, 0, 0, 0, 0}); }

    int32_t ReadAttribute(uint8_t idn, uint8_t index, uint8_t selector, uint32_t* value) override {
        QueryOutcome out = Query({QueryOp::ReadAttribute, idn, index, selector, 0, 0});
        if (out.result == KT62_OK) *value = out.value;
        return out.result;
    }
    int32_t WriteAttribute(uint8_t idn, uint8_t index, uint8_t selector, uint32_t value) override {
        return Change({QueryOp::WriteAttribute, idn, index, selector, 0, value});
    }

    int32_t ReadDescriptor(uint8_t idn, uint8_t index, uint8_t selector, uint8_t* buffer,
                           uint32_t length) override {
        // Always the longest read: the device answers with the whole descriptor, whatever its size.
        std::array<uint8_t, kMaxDescriptorBytes> data{};
        const QueryOutcome out =
            Query({QueryOp::ReadDescriptor, idn, index, selector, kMaxDescriptorBytes, 0}, data.data(),
                  data.size());
        if (out.result == KT62_OK && length > 0)
            std::copy_n(data.begin(), std::min(length, out.data_bytes), buffer);
        return out.result;
    }
    int32_t WriteDescriptor(uint8_t idn, uint8_t index, uint8_t selector, const uint8_t* buffer,
                            uint32_t length) override {
        if (!write_allowed_) return KT62_E_READ_ONLY;
        // The kernel would silently cut a longer one, and refuses an empty one.
        if (length == 0 || length > kMaxDescriptorBytes) return KT62_QUERY_INVALID_LENGTH;
        std::array<uint8_t, kMaxDescriptorBytes> data{};
        std::copy_n(buffer, length, data.begin());
        return Query({QueryOp::WriteDescriptor, idn, index, selector, static_cast<uint16_t>(length), 0},
                     nullptr, 0, data.data(), length)
            .result;
    }

    int32_t GetDme(uint32_t attr_id, uint8_t selector, uint8_t kind, uint32_t* value) override {
        if (kind != 1 && kind != 3) return KT62_E_BAD_ARGUMENT;
        if (!kt::fileio::IsOpenDescriptor(bsg_fd_)) return KT62_E_NOT_SUPPORTED;
        // Argument 1 has 16 bits for the attribute: a larger id would address another attribute.
        constexpr int32_t kInvalidMibAttribute = KT62_DME_FAILURE(1);
        if (attr_id > 0xFFFF) return kInvalidMibAttribute;
        BsgStatus st;
        if (const int32_t r = Bsg(EncodeDmeGet(kind, attr_id, selector), st); r != KT62_OK) return r;
        const QueryOutcome out = DecodeDmeReply(kind, attr_id, selector, reply_, st);
        if (out.result == KT62_OK) *value = out.value;
        return out.result;
    }

    int32_t Reset(uint8_t kind) override {
        if (!write_allowed_) return KT62_E_READ_ONLY;
        if (kind != 1) return KT62_E_BAD_ARGUMENT;
        if (!kt::fileio::IsOpenDescriptor(units_[0].sg_fd)) return KT62_E_NOT_SUPPORTED;
        int what = SG_SCSI_RESET_HOST;
        const int e = CurrentTransport().Ioctl(units_[0].sg_fd, SG_SCSI_RESET, &what);
        // The units may come back formatted differently, and the others enabled or gone.
        units_[0].block_bytes = 0;
        for (uint8_t lun = 1; lun < kUnits; ++lun) Forget(units_[lun]);
        if (e == 0) return KT62_OK;
        Complain(nodes_.name + ": reset failed: " + ResetErrnoText(-e));
        return ErrnoResult(-e);
    }

    int32_t Update(const kt62_char16* /*path*/) override { return KT62_E_NOT_SUPPORTED; }

    void Close() override {
        Transport& t = CurrentTransport();
        if (kt::fileio::IsOpenDescriptor(bsg_fd_)) t.Close(bsg_fd_);
        bsg_fd_ = -1;
        for (UnitLink& unit : units_) Forget(unit);
    }

private:
    // The reply lands in reply_.
    int32_t Bsg(const BsgRequest& request, BsgStatus& st,
                uint8_t* din = nullptr,  // NOLINT(readability-non-const-parameter): the kernel fills it
                uint32_t din_len = 0, const uint8_t* dout = nullptr, uint32_t dout_len = 0) {
        // Zeroed each time: a kernel that writes nothing back must not leave the previous request's
        // reply to be believed.
        reply_.fill(0);
        sg_io_v4 io{};
        io.guard = 'Q';
        io.protocol = BSG_PROTOCOL_SCSI;
        io.subprotocol = BSG_SUB_PROTOCOL_SCSI_TRANSPORT;
        io.request_len = request.size();
        io.request = reinterpret_cast<uintptr_t>(request.data());
        io.max_response_len = reply_.size();
        io.response = reinterpret_cast<uintptr_t>(reply_.data());
        io.din_xfer_len = din_len;
        io.din_xferp = reinterpret_cast<uintptr_t>(din);
        io.dout_xfer_len = dout_len;
        io.dout_xferp = reinterpret_cast<uintptr_t>(dout);
        if (const int e = CurrentTransport().Ioctl(bsg_fd_, SG_IO, &io); e != 0) return ErrnoResult(-e);
        st.response_len = io.response_len;
        st.device_status = io.device_status;
        st.transport_status = io.transport_status;
        st.driver_status = io.driver_status;
        st.din_resid = static_cast<uint32_t>(std::max(io.din_resid, 0));
        st.din_len = din_len;
        return KT62_OK;
    }

    QueryOutcome Query(const QueryRequest& q, uint8_t* din = nullptr, uint32_t din_len = 0,
                       const uint8_t* dout = nullptr, uint32_t dout_len = 0) {
        QueryOutcome out;
        if (!kt::fileio::IsOpenDescriptor(bsg_fd_)) {
            out.result = KT62_E_NOT_SUPPORTED;
            return out;
        }
        BsgStatus st;
        out.result = Bsg(EncodeQuery(q), st, din, din_len, dout, dout_len);
        return out.result == KT62_OK ? DecodeQueryReply(q, reply_, st) : out;
    }

    int32_t Change(const QueryRequest& q) {
        if (!write_allowed_) return KT62_E_READ_ONLY;
        return Query(q).result;
    }

    // One command; a UNIT ATTENTION (the first command after a power on or a reset gets one) is
    // sent again once. A failure with sense data says its whole sense, which the result has no
    // room for, in the call's trace line and on standard error (kt62LastMessage).
    // On `fd`, the unit's SCSI generic node or its block device.
    static int32_t Scsi(const UnitLink& unit, int fd, const Cdb& cdb, size_t cdb_len, int direction,
                        uint8_t* data, uint32_t data_len) {
        if (!kt::fileio::IsOpenDescriptor(fd)) return KT62_E_NOT_SUPPORTED;
        ScsiOutcome out;
        for (int tries = 0; tries < 2; ++tries) {
            std::array<uint8_t, kSenseBytes> sense{};
            sg_io_hdr io{};
            io.interface_id = 'S';
            io.dxfer_direction = direction;
            io.cmd_len = static_cast<uint8_t>(cdb_len);
            io.mx_sb_len = sense.size();
            io.dxfer_len = data_len;
            io.dxferp = data;
            io.cmdp = const_cast<uint8_t*>(cdb.data());  // the kernel only reads the CDB
            io.sbp = sense.data();
            io.timeout = kScsiTimeoutMs;
            if (const int e = CurrentTransport().Ioctl(fd, SG_IO, &io); e != 0) return ErrnoResult(-e);
            const ScsiStatus st{io.status, io.host_status, io.driver_status, io.resid, io.sb_len_wr};
            out = DecodeScsiStatus(st, sense);
            if (!out.Retry()) break;
        }
        if (out.result != KT62_OK && out.has_sense) {
            std::array<char, 24> note{};
            (void)std::snprintf(note.data(), note.size(), "sense=%02X/%02X/%02X", out.sense.key,
                                out.sense.asc, out.sense.ascq);
            NoteForTrace(note.data());
            Complain(unit.who + ": " + CommandText(cdb) + ": " + SenseText(out.sense));
        }
        return out.result;
    }

    // Unit `lun`'s link; its nodes are looked up and its generic node opened at its first call.
    int32_t Reach(uint8_t lun, UnitLink*& unit) {
        if (lun >= kUnits) return NotThere(lun);
        UnitLink& u = units_[lun];
        if (!u.found) {
            std::optional<HostNodes> nodes = UnitNodes(nodes_, lun);
            u.present = nodes.has_value();
            u.who = nodes_.name + " unit " + std::to_string(lun);
            if (nodes) u.nodes = std::move(*nodes);
            if (u.present && !u.nodes.sg_node.empty()) {
                const int fd = CurrentTransport().Open(
                    u.nodes.sg_node.c_str(), (write_allowed_ ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
                if (!kt::fileio::IsOpenDescriptor(fd)) {
                    Complain(u.who + ": " + u.nodes.sg_node + ": " + ErrnoText(-fd));
                    return ErrnoResult(-fd);
                }
                u.sg_fd = fd;
            }
            u.found = true;
        }
        if (!u.present) return NotThere(lun);
        unit = &u;
        return KT62_OK;
    }

    // The kernel lists no SCSI device for a disabled unit, nor for one enabled after its last scan.
    int32_t NotThere(uint8_t lun) const {
        Complain(nodes_.name + ": logical unit " + std::to_string(lun) +
                 " has no SCSI device: it is not enabled, or the kernel has not scanned it since");
        return kUnitNotSupported;
    }

    // Closes what a unit's calls opened; the unit is looked up again at its next call (unit 0 keeps
    // the nodes of the open).
    void Forget(UnitLink& unit) {
        Transport& t = CurrentTransport();
        for (int* fd : {&unit.sg_fd, &unit.exclusive_fd, &unit.read_fd}) {
            if (kt::fileio::IsOpenDescriptor(*fd)) t.Close(*fd);
            *fd = -1;
        }
        unit.blocks = unit.block_bytes = 0;
        if (&unit != units_.data()) unit.found = false;
    }

    // The unit's block size and block count, asked once per open (and again after a reset).
    static int32_t Geometry(UnitLink& unit) {
        if (unit.block_bytes != 0) return KT62_OK;
        uint32_t sectors = 0;
        uint32_t bytes = 0;
        if (const int32_t r = Capacity(unit, &sectors, &bytes); r != KT62_OK) return r;
        if (bytes == 0) return KT62_E_TRANSPORT;
        unit.blocks = sectors;
        unit.block_bytes = bytes;
        return KT62_OK;
    }

    // A write while the unit is mounted would corrupt the file system under the kernel's feet.
    // Where this cannot be told (no single block device, no mount table) the write is refused too.
    // Read from files only, so that a refused write sends nothing to the kernel.
    static int32_t CheckNotMounted(const UnitLink& unit) {
        if (kt::fileio::IsOpenDescriptor(unit.exclusive_fd)) return KT62_OK;
        const HostNodes& n = unit.nodes;
        if (n.block_node.empty())
            return Refuse(unit, "whether the unit is mounted cannot be told: " +
                                    (n.block_problem.empty() ? "no block device known" : n.block_problem));
        const std::string sd = n.block_node.substr(n.block_node.rfind('/') + 1);
        std::string why;
        const std::optional<bool> mounted = MountedIn(n.mounts_file, sd, why);
        if (!mounted) return Refuse(unit, "the mount table " + n.mounts_file + " cannot be read: " + why);
        if (*mounted) return Refuse(unit, n.block_node + " is mounted");
        return KT62_OK;
    }

    static int32_t Refuse(const UnitLink& unit, const std::string& why) {
        Complain(unit.who + ": " + why + "; writes refused");
        return KT62_E_UNIT_IN_USE;
    }

    // The exclusive open fails while anything the kernel knows uses the unit; it stays held until
    // the handle closes, so that nothing mounts the unit meanwhile.
    static int32_t ClaimUnit(UnitLink& unit) {
        if (kt::fileio::IsOpenDescriptor(unit.exclusive_fd)) return KT62_OK;
        const std::string& block = unit.nodes.block_node;
        // Opened for writing: the writes go through this node (DataNode).
        const int fd = CurrentTransport().Open(block.c_str(), O_RDWR | O_EXCL | O_NONBLOCK | O_CLOEXEC);
        if (kt::fileio::IsOpenDescriptor(fd)) {
            unit.exclusive_fd = fd;
            return KT62_OK;
        }
        if (fd == -EBUSY) return Refuse(unit, block + " is mounted or held by another program");
        Complain(unit.who + ": " + block + ": " + ErrnoText(-fd) + "; writes refused");
        return fd == -EPERM || fd == -EACCES ? KT62_E_PERMISSION : KT62_E_UNIT_IN_USE;
    }

    // READ(10) and WRITE(10) go through the unit's block device where it has one: the kernel maps
    // the caller's buffer for a command there, while the SCSI generic driver copies every byte
    // through pages of its own, which made whole-unit transfers several times slower than dd.
    // A write has claimed the block device by now (a unit without one is refused); a unit whose
    // block device cannot be opened for reading is read through the generic node.
    static int DataNode(UnitLink& unit) {
        if (kt::fileio::IsOpenDescriptor(unit.exclusive_fd)) return unit.exclusive_fd;
        if (unit.nodes.block_node.empty()) return unit.sg_fd;
        if (unit.read_fd == -1) {
            unit.read_fd =
                CurrentTransport().Open(unit.nodes.block_node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            if (!kt::fileio::IsOpenDescriptor(unit.read_fd))
                unit.read_fd = -2;  // not tried again on this handle
        }
        return kt::fileio::IsOpenDescriptor(unit.read_fd) ? unit.read_fd : unit.sg_fd;
    }

    // On the block device the kernel maps the caller's pages into one request, which it cannot
    // split: each page may be a segment of its own (one more when the buffer starts mid-page), and
    // a command with more segments than the queue takes fails with EINVAL. sg's own pages fit.
    static uint64_t MappedLimit(const UnitLink& unit, int fd) {
        if (fd == unit.sg_fd || unit.nodes.max_segments == 0) return UINT64_MAX;
        const auto page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
        return std::max<uint64_t>(unit.nodes.max_segments - 1, 1) * page;
    }

    static int32_t Transfer(UnitLink& unit, bool write, uint32_t lba, uint32_t bytes_per_sector,
                            uint8_t* buffer, uint32_t count, uint32_t packet_bytes) {
        if (write) {
            if (const int32_t r = CheckNotMounted(unit); r != KT62_OK) return r;
        }
        if (const int32_t r = Geometry(unit); r != KT62_OK) return r;
        if (bytes_per_sector != unit.block_bytes) return KT62_E_BAD_ARGUMENT;
        // Checked as a whole first, so that no piece moves before a refusal.
        if (uint64_t{lba} + count > unit.blocks) return kLbaOutOfRange;
        if (write) {
            if (const int32_t r = ClaimUnit(unit); r != KT62_OK) return r;
        }
        const uint64_t packet = packet_bytes ? packet_bytes : kDefaultPacketBytes;
        const uint64_t limit = std::min<uint64_t>(packet, uint64_t{unit.nodes.max_hw_sectors_kb} * 1024);
        const int fd = DataNode(unit);
        const uint32_t block = unit.block_bytes;
        const auto per_piece = static_cast<uint32_t>(
            std::clamp<uint64_t>(std::min(limit, MappedLimit(unit, fd)) / block, 1, kMaxBlocksPerCommand));
        for (uint32_t done = 0; done < count;) {
            const uint32_t n = std::min(per_piece, count - done);
            const Cdb cdb = Rw10Cdb(write, lba + done, static_cast<uint16_t>(n));
            const int32_t r = Scsi(unit, fd, cdb, cdb.size(), write ? SG_DXFER_TO_DEV : SG_DXFER_FROM_DEV,
                                   buffer + uint64_t{done} * block, n * block);
            if (r != KT62_OK) return r;
            done += n;
        }
        return KT62_OK;
    }

    HostNodes nodes_;
    bool write_allowed_;
    int bsg_fd_;
    std::array<UnitLink, kUnits> units_{};
    std::array<uint8_t, kBsgReplyBytes> reply_{};
};

class LinuxBackend final : public Backend {
public:
    LinuxBackend(HostNodes nodes, bool write_allowed)
        : nodes_(std::move(nodes)), write_allowed_(write_allowed) {}

    std::unique_ptr<Connection> Open(int32_t /*position*/) override {
        Transport& t = CurrentTransport();
        int bsg = -1;
        int sg = -1;
        const auto fail = [&](const std::string& node, int e) {
            Complain(nodes_.name + " cannot be opened: " + node + ": " + ErrnoText(-e));
            if (bsg >= 0) t.Close(bsg);
            return nullptr;
        };
        // Non-blocking, so that a node that is not what it seems cannot hang the open; SG_IO waits
        // for its command all the same.
        if (!nodes_.bsg_node.empty()) {
            bsg = t.Open(nodes_.bsg_node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
            if (bsg < 0) return fail(nodes_.bsg_node, bsg);
        }
        if (!nodes_.sg_node.empty()) {
            // The SCSI generic driver lets WRITE(10) through only on a node opened for writing.
            sg =
                t.Open(nodes_.sg_node.c_str(), (write_allowed_ ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
            if (sg < 0) return fail(nodes_.sg_node, sg);
        }
        return std::make_unique<LinuxConnection>(nodes_, write_allowed_, bsg, sg);
    }

private:
    HostNodes nodes_;
    bool write_allowed_;
};

}  // namespace

std::shared_ptr<Backend> MakeLinuxBackend(const HostNodes& nodes, bool write_allowed) {
    return std::make_shared<LinuxBackend>(nodes, write_allowed);
}

}  // namespace kt62::host
