#include "fake_kernel.h"

#include <fcntl.h>
#include <linux/bsg.h>
#include <scsi/sg.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include <kt62/apiKT6200.h>

#include "emu/profile.h"
#include "emu/ufs_device.h"
#include "encoding/big_endian.h"

namespace kt62::fake {

namespace fs = std::filesystem;

namespace {

using kt::BigEndian16, kt::BigEndian32, kt::PutBigEndian16, kt::PutBigEndian32;
constexpr uint32_t kRequestLen = 36, kReplyLen = 40, kMsgQuery = 0x16, kMsgUic = 0x1F;
constexpr uint8_t kQueryResponse = 0x36, kUicDmeFailure = 10, kDriverSense = 0x08;

// ufs-bsg request and reply as the uapi header lays them out (packed): msgcode, UPIU header, fields.
constexpr int kReqFunction = 9, kReqOpcode = 16, kReqIdn = 17, kReqIndex = 18, kReqSelector = 19,
              kReqLength = 22, kReqValue = 24;
constexpr int kRepResult = 0, kRepRcvLen = 4, kRepCode = 8, kRepLun = 10, kRepTag = 11, kRepFunction = 13,
              kRepResponse = 14, kRepDataLen = 18, kRepOpcode = 20, kRepLength = 26, kRepValue = 28;
// UIC command words, host-endian, in the transaction-specific fields.
constexpr int kReqUic = 16, kRepUic = 20;

template <typename T>
T Native(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <typename T>
void PutNative(uint8_t* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

// The device model's query failures are the low byte of its negative results.
uint8_t ResponseCode(int32_t r) { return r <= 0 && r >= -255 ? static_cast<uint8_t>(r & 0xFF) : 0xFF; }

const char* QueryName(uint8_t op) {
    static constexpr const char* kNames[] = {
        "nop",       "read-descriptor", "write-descriptor", "read-attribute", "write-attribute",
        "read-flag", "set-flag",        "clear-flag",       "toggle-flag"};
    return op < std::size(kNames) ? kNames[op] : "unknown";
}

std::string Hex(uint32_t v, int width) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", width, v);
    return text;
}

void Touch(const fs::path& path, const std::string& content = "") {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string UnitNode(const std::string& unit0, uint8_t lun) {
    return lun == 0 ? unit0 : unit0 + "u" + std::to_string(lun);
}

// The sys and dev entries of a host as Linux shows them, with plain files for the nodes.
void LayOutHost(const fs::path& root, const HostSetup& spec) {
    const std::string bsg = "ufs-bsg" + std::to_string(spec.number);
    fs::create_directories(root / "sys/class/bsg" / bsg);
    Touch(root / "dev/bsg" / bsg);
    if (!fs::exists(root / "proc/self/mounts")) Touch(root / "proc/self/mounts");
    for (uint8_t lun = 0; lun < spec.units; ++lun) {
        const std::string sg = UnitNode(spec.sg, lun), block = UnitNode(spec.block, lun);
        const fs::path unit =
            root / "sys/bus/scsi/devices" / (std::to_string(spec.number) + ":0:0:" + std::to_string(lun));
        fs::create_directories(unit / "scsi_generic" / sg);
        Touch(root / "dev" / sg);
        fs::create_directories(root / "sys/class/scsi_generic" / sg);
        fs::create_directory_symlink(unit, root / "sys/class/scsi_generic" / sg / "device");
        const fs::path disk = unit / "block" / block;
        Touch(disk / "queue/max_hw_sectors_kb", std::to_string(spec.max_hw_sectors_kb) + "\n");
        fs::create_directory_symlink(unit, disk / "device");
        fs::create_directories(root / "sys/class/block");
        fs::create_directory_symlink(disk, root / "sys/class/block" / block);
        Touch(root / "dev" / block);
    }
}

}  // namespace

struct FakeKernel::Host {
    HostSetup spec;
    std::unique_ptr<emu::PoweredDevice> device;
    std::array<uint8_t, kReplyLen> last_reply{};
    uint8_t tag = 0;

    std::string Name(Node node, uint8_t lun = 0) const {
        return node == Node::Bsg  ? "ufs-bsg" + std::to_string(spec.number)
               : node == Node::Sg ? UnitNode(spec.sg, lun)
                                  : UnitNode(spec.block, lun);
    }
};

FakeKernel::FakeKernel(fs::path root, fs::path state_dir)
    : root_(root.lexically_normal()), state_dir_(std::move(state_dir)) {}

FakeKernel::~FakeKernel() {
    for (const auto& [fd, unused] : fds_) syscall(SYS_close, fd);
}

void FakeKernel::AddHost(const HostSetup& spec) {
    LayOutHost(root_, spec);
    const ParsedProfile parsed = ParseProfile(R"({"programmers":[{"ufs":)" + spec.ufs_json + "}]}");
    if (parsed.error)
        throw std::invalid_argument("fake kernel: host " + std::to_string(spec.number) + ": " +
                                    parsed.error->key + ": " + parsed.error->reason);
    auto host = std::make_unique<Host>();
    host->spec = spec;
    host->device =
        emu::MakeUfsDevice(parsed.profile.programmers.at(0).ufs, emu::DeviceContext{state_dir_, spec.number});
    std::lock_guard lock(mutex_);
    hosts_.push_back(std::move(host));
}

void FakeKernel::FailIoctls(Node node, const Failure& failure, int times, int after) {
    std::lock_guard lock(mutex_);
    injections_.push_back({node, after, times, failure});
}

void FakeKernel::LogTo(std::string path) {
    std::lock_guard lock(mutex_);
    log_path_ = std::move(path);
}

bool FakeKernel::Owns(int fd) const {
    std::lock_guard lock(fds_mutex_);
    return fds_.count(fd) != 0;
}

void FakeKernel::Record(const Host& host, Node node, const std::string& what, uint8_t lun) {
    if (!log_path_.empty())
        std::ofstream(log_path_, std::ios::app) << host.Name(node, lun) << ' ' << what << '\n';
}

// Other ioctls than SG_IO take only Errno failures.
std::optional<Failure> FakeKernel::Injected(Node node, bool sg_io, int op) {
    for (auto it = injections_.begin(); it != injections_.end(); ++it) {
        const Failure f = it->failure;
        if (it->node != node || (!sg_io && f.kind != Failure::Kind::Errno)) continue;
        if (f.only_op >= 0 && f.only_op != op) continue;
        if (it->after > 0) return --it->after, std::nullopt;
        if (--it->times <= 0) injections_.erase(it);
        return f;
    }
    return std::nullopt;
}

int FakeKernel::Open(const char* path, int flags) {
    const std::string name = fs::path(path).lexically_normal().lexically_relative(root_).generic_string();
    std::lock_guard lock(mutex_);
    Host* host = nullptr;
    Node node = Node::Bsg;
    uint8_t lun = 0;
    for (auto& h : hosts_) {
        for (uint8_t u = 0; u < h->spec.units; ++u) {
            for (Node n : {Node::Bsg, Node::Sg, Node::Block}) {
                const std::string node_name = h->Name(n, u);
                const std::string want = n == Node::Bsg ? "dev/bsg/" + node_name : "dev/" + node_name;
                if (name == want) host = h.get(), node = n, lun = n == Node::Bsg ? 0 : u;
            }
        }
    }
    if (host == nullptr) return -ENOENT;
    Record(*host, node,
           std::string("open") + ((flags & O_ACCMODE) == O_RDONLY ? " read" : " read-write") +
               ((flags & O_EXCL) ? " exclusive" : ""),
           lun);
    if (node != Node::Block && host->spec.open_error != 0) return -host->spec.open_error;
    if (node == Node::Block && (flags & O_EXCL) && host->spec.held && lun == 0) return -EBUSY;
    const int fd = eventfd(0, EFD_CLOEXEC);
    if (fd < 0) return -errno;
    std::lock_guard fds_lock(fds_mutex_);
    fds_[fd] = Fd{host, node, lun};
    return fd;
}

void FakeKernel::Close(int fd) {
    {
        std::lock_guard lock(fds_mutex_);
        if (fds_.erase(fd) == 0) return;
    }
    // Not close(2): a preloaded shim answers that one with this very function.
    syscall(SYS_close, fd);
}

int FakeKernel::Ioctl(int fd, unsigned long request, void* arg) {
    Fd f{};
    {
        std::lock_guard fds_lock(fds_mutex_);
        const auto it = fds_.find(fd);
        if (it == fds_.end()) return -EBADF;
        f = it->second;
    }
    std::lock_guard lock(mutex_);
    if (request == SG_IO && f.node == Node::Bsg) return BsgIo(*f.host, arg);
    if (request == SG_IO) return SgIo(*f.host, f.node, f.lun, arg);
    if (request == SG_SCSI_RESET && f.node != Node::Bsg) return Reset(*f.host, f.node);
    return -ENOTTY;
}

int FakeKernel::BsgIo(Host& host, void* arg) {
    auto* hdr = static_cast<sg_io_v4*>(arg);
    if (hdr->guard != 'Q' || hdr->protocol != BSG_PROTOCOL_SCSI ||
        hdr->subprotocol != BSG_SUB_PROTOCOL_SCSI_TRANSPORT || hdr->request_len < kRequestLen)
        return -EINVAL;
    std::array<uint8_t, kRequestLen> req{};
    std::memcpy(req.data(), reinterpret_cast<const void*>(hdr->request), kRequestLen);  // NOLINT
    const uint32_t msgcode = Native<uint32_t>(req.data());
    const uint32_t arg1 = Native<uint32_t>(req.data() + kReqUic + 4);
    if (msgcode == kMsgQuery)
        Record(host, Node::Bsg,
               std::string("query ") + QueryName(req[kReqOpcode]) + " idn=" + Hex(req[kReqIdn], 2) +
                   " index=" + std::to_string(req[kReqIndex]) +
                   " selector=" + std::to_string(req[kReqSelector]));
    else
        Record(host, Node::Bsg,
               std::string(req[kReqUic] == 1 ? "uic dme-get" : "uic dme-peer-get") +
                   " attribute=" + Hex(arg1 >> 16, 4) + " selector=" + std::to_string(arg1 & 0xFFFF));

    const std::optional<Failure> failure = Injected(Node::Bsg, true);
    if (failure && failure->kind == Failure::Kind::Errno) return -failure->value;
    if (failure && failure->kind == Failure::Kind::NoReply) return 0;
    // The block layer bounces an unaligned data-in buffer through zeroed pages and copies it all.
    if (hdr->din_xferp != 0 && ((hdr->din_xferp | hdr->din_xfer_len) & 511) != 0)
        std::memset(reinterpret_cast<void*>(hdr->din_xferp), 0, hdr->din_xfer_len);  // NOLINT
    hdr->driver_status = hdr->transport_status = hdr->device_status = hdr->info = 0;
    hdr->din_resid = hdr->dout_resid = 0;
    hdr->duration = 1;
    std::array<uint8_t, kReplyLen> reply{};
    if (failure && failure->kind == Failure::Kind::BsgResult) {
        PutNative<int32_t>(reply.data() + kRepResult, failure->value);
    } else if (failure && failure->kind == Failure::Kind::StaleReply) {
        reply = host.last_reply;
    } else if (failure) {  // a zeroed reply
    } else if (msgcode == kMsgQuery) {
        Query(host, req.data(), hdr, reply.data());
    } else if (const uint8_t code = Uic(host, req.data(), reply.data()); code != 0) {
        // bsg-lib reports the UIC result code as the device status.
        hdr->device_status = code;
        hdr->info |= SG_INFO_CHECK;
    }
    hdr->response_len = std::min<uint32_t>(hdr->max_response_len, kReplyLen);
    std::memcpy(reinterpret_cast<void*>(hdr->response), reply.data(), hdr->response_len);  // NOLINT
    host.last_reply = reply;
    return 0;
}

void FakeKernel::Query(Host& host, const uint8_t* req, sg_io_v4* hdr, uint8_t* reply) {
    const uint8_t opcode = req[kReqOpcode], idn = req[kReqIdn], index = req[kReqIndex],
                  selector = req[kReqSelector];
    const uint32_t desc_len = std::min<uint32_t>(255, BigEndian16(req + kReqLength));
    auto* payload = reinterpret_cast<uint8_t*>(opcode == 2 ? hdr->dout_xferp : hdr->din_xferp);  // NOLINT
    reply[kRepCode] = kQueryResponse;
    reply[kRepLun] = req[6];
    reply[kRepTag] = ++host.tag;
    reply[kRepFunction] = req[kReqFunction];
    std::memcpy(reply + kRepOpcode, req + kReqOpcode, 4);
    emu::PoweredDevice& device = *host.device;
    int32_t result = KT62_OK;
    uint8_t flag = 0;
    uint32_t attribute = 0;
    switch (opcode) {
        case 1: {
            std::array<uint8_t, 255> desc{};
            result = device.ReadDescriptor(idn, index, selector, desc.data(), 255);
            if (result == KT62_OK) {
                // The device sends the descriptor, never more than asked for.
                const uint32_t n = std::min<uint32_t>(desc[0], desc_len);
                std::memcpy(payload, desc.data(), n);
                PutBigEndian16(reply + kRepDataLen, n);
                PutBigEndian16(reply + kRepLength, n);
                PutNative<uint32_t>(reply + kRepRcvLen, n);
            }
            break;
        }
        case 2:
            result = device.WriteDescriptor(idn, index, selector, payload, desc_len);
            if (result == KT62_OK) PutBigEndian16(reply + kRepLength, desc_len);
            break;
        case 3:
            result = device.ReadAttribute(idn, index, selector, &attribute);
            break;
        case 4:
            result = device.WriteAttribute(idn, index, selector, attribute = BigEndian32(req + kReqValue));
            break;
        default:  // read, set, clear, toggle: the reply carries the flag as it is then
            result = opcode == 5   ? device.ReadFlag(idn, &flag)
                     : opcode == 6 ? device.SetFlag(idn)
                     : opcode == 7 ? device.ClearFlag(idn)
                                   : device.ToggleFlag(idn);
            if (result == KT62_OK && opcode != 5) (void)device.ReadFlag(idn, &flag);
            reply[kRepValue + 3] = flag;
    }
    if (result == KT62_OK && (opcode == 3 || opcode == 4)) PutBigEndian32(reply + kRepValue, attribute);
    reply[kRepResponse] = ResponseCode(result);
}

// The controller ORs the result code into argument 2 and puts the value in argument 3.
uint8_t FakeKernel::Uic(Host& host, const uint8_t* req, uint8_t* reply) {
    const uint32_t command = Native<uint32_t>(req + kReqUic), arg1 = Native<uint32_t>(req + kReqUic + 4);
    uint32_t value = 0;
    const uint32_t selector = arg1 & 0xFFFF;
    const int32_t r = selector > 0xFF ? KT62_DME_FAILURE(5)
                                      : host.device->GetDme(arg1 >> 16, static_cast<uint8_t>(selector),
                                                            static_cast<uint8_t>(command), &value);
    const bool rejected = (static_cast<uint32_t>(r) & 0xFFFF0000u) == 0xFFFD0000u;
    const uint8_t code = r == KT62_OK ? 0 : rejected ? static_cast<uint8_t>(r & 0xFF) : kUicDmeFailure;
    PutNative<uint32_t>(reply + kRepUic, command);
    PutNative<uint32_t>(reply + kRepUic + 4, arg1);
    PutNative<uint32_t>(reply + kRepUic + 8, Native<uint32_t>(req + kReqUic + 8) | code);
    PutNative<uint32_t>(reply + kRepUic + 12, code == 0 ? value : 0);
    PutNative<int32_t>(reply + kRepResult, code);
    return code;
}

namespace {

// CHECK CONDITION with sense data in the format asked for, as sg reports it.
void CheckCondition(sg_io_hdr_t* h, uint8_t key, uint8_t asc, uint8_t ascq, bool descriptor) {
    const std::array<uint8_t, 18> sense =
        descriptor ? std::array<uint8_t, 18>{0x72, key, asc, ascq}
                   : std::array<uint8_t, 18>{0x70, 0, key, 0, 0, 0, 0, 10, 0, 0, 0, 0, asc, ascq};
    h->status = 0x02;
    h->masked_status = 0x01;
    h->driver_status = kDriverSense;
    h->info |= SG_INFO_CHECK;
    h->resid = static_cast<int>(h->dxfer_len);
    const size_t n = std::min<size_t>(descriptor ? 8 : 18, h->mx_sb_len);
    std::memcpy(h->sbp, sense.data(), n);
    h->sb_len_wr = static_cast<unsigned char>(n);
}

// A device failure as the sense the unit reports.
void Failed(sg_io_hdr_t* h, int32_t r) {
    if ((static_cast<uint32_t>(r) & 0xFFFF0000u) == 0xFFFE0000u)
        CheckCondition(h, static_cast<uint8_t>(r & 0xFF), static_cast<uint8_t>(r >> 8 & 0xFF), 0, false);
    else
        CheckCondition(h, 0x04, 0x44, 0, false);  // HARDWARE ERROR, internal target failure
}

}  // namespace

int FakeKernel::SgIo(Host& host, Node node, uint8_t lun, void* arg) {
    auto* h = static_cast<sg_io_hdr_t*>(arg);
    if (h->interface_id != 'S' || h->cmd_len < 6 || h->cmd_len > 16) return -EINVAL;
    std::array<uint8_t, 16> cdb{};
    std::memcpy(cdb.data(), h->cmdp, h->cmd_len);
    const uint8_t op = cdb[0];
    const uint32_t lba = BigEndian32(&cdb[2]);
    Record(host, node,
           op == 0x28 || op == 0x2A
               ? std::string(op == 0x28 ? "READ(10)" : "WRITE(10)") + " lba=" + std::to_string(lba) +
                     " blocks=" + std::to_string(BigEndian16(&cdb[7]))
           : op == 0x12 ? "INQUIRY"
                        : "READ CAPACITY(10)",
           lun);
    const std::optional<Failure> failure = Injected(node, true, op);
    if (failure && failure->kind == Failure::Kind::Errno) return -failure->value;
    // The block layer maps at most max_hw_sectors_kb of user memory for one command.
    if (h->dxfer_len > uint64_t{host.spec.max_hw_sectors_kb} * 1024) return -EINVAL;
    h->status = h->masked_status = h->msg_status = h->sb_len_wr = 0;
    h->host_status = h->driver_status = h->resid = h->info = 0;
    h->duration = 1;
    uint32_t short_by = 0;
    if (failure && failure->kind == Failure::Kind::CheckCondition)
        return CheckCondition(h, failure->sense_key, failure->asc, failure->ascq, failure->descriptor_sense),
               0;
    if (failure && failure->kind == Failure::Kind::HostStatus) {
        h->host_status = static_cast<uint16_t>(failure->value);
        h->info |= SG_INFO_CHECK;
        h->resid = static_cast<int>(h->dxfer_len);
        return 0;
    }
    if (failure && failure->kind == Failure::Kind::Residual)
        short_by = std::min<uint32_t>(static_cast<uint32_t>(failure->value), h->dxfer_len);
    auto* data = static_cast<uint8_t*>(h->dxferp);
    emu::PoweredDevice& device = *host.device;
    std::array<uint8_t, 192> buf{};
    // Data in: `n` bytes of buf, no more than the command allows.
    const auto data_in = [&](uint32_t n) {
        n = std::min(n, h->dxfer_len - short_by);
        std::memcpy(data, buf.data(), n);
        h->resid = static_cast<int>(h->dxfer_len - n);
        return 0;
    };
    if (op == 0x12) {  // INQUIRY: standard data
        if (const int32_t res = device.ScsiInquiry(buf.data()); res != KT62_OK) return Failed(h, res), 0;
        return data_in(std::min<uint32_t>(buf[4] + 5, BigEndian16(&cdb[3])));
    }
    uint32_t sectors = 0, size = 0;
    if (const int32_t res = device.ScsiReadCapacity(lun, &sectors, &size); res != KT62_OK)
        return Failed(h, res), 0;
    if (op == 0x25) {  // READ CAPACITY(10): last LBA and block length
        PutBigEndian32(buf.data(), sectors - 1);
        PutBigEndian32(buf.data() + 4, size);
        return data_in(8);
    }
    const uint32_t blocks = (h->dxfer_len - short_by) / size;
    const int32_t res = op == 0x28 ? device.ScsiRead10(lun, lba, size, data, blocks, 0)
                                   : device.ScsiWrite10(lun, lba, size, data, blocks, 0);
    if (res != KT62_OK) return Failed(h, res), 0;
    h->resid = static_cast<int>(short_by);
    return 0;
}

// SG_SCSI_RESET of the host ends in a hardware reset of the device, as ufshcd's does.
int FakeKernel::Reset(Host& host, Node node) {
    Record(host, node, "reset host");
    if (const std::optional<Failure> failure = Injected(node, false)) return -failure->value;
    return host.device->Reset(1) == KT62_OK ? 0 : -EIO;
}

}  // namespace kt62::fake
