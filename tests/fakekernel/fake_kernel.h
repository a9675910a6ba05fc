// A stand-in for the Linux kernel below the host backend: it answers open,
// ioctl and close on the UFS BSG, SCSI generic and block nodes of a fake root
// the way the kernel's ufs-bsg, bsg-lib and sg drivers do, over the
// emulator's device model, and it can be told to fail the way they fail.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/transport.h"

struct sg_io_v4;

namespace kt62::emu {
class PoweredDevice;
}

namespace kt62::fake {

// One UFS host controller with its device; logical unit 0 is SCSI device <number>:0:0:0.
struct HostSpec {
    int number = 0;             // ufs-bsg<number>
    std::string sg = "sg0";     // the SCSI generic node of unit 0
    std::string block = "sda";  // its block device; empty: none
    // queue/max_hw_sectors_kb of the block device; 0: the file is absent.
    uint32_t max_hw_sectors_kb = 512;
    std::string ufs_json = "{}";  // the device: the "ufs" keys of an emulator profile
    bool held = false;            // something else holds the block device (mounted, or opened exclusively)
    int open_error = 0;           // every open of the BSG and SCSI generic nodes fails with this errno
};

enum class Node { Bsg, Sg, Block };

// What an ioctl answers instead of what the device would. By itself the fake answers as the
// ufs_bsg, bsg-lib and sg of 6.12.118 do (tests/guest/kernel_diff_test.cpp holds it against that
// kernel); the kinds that only other kernels, or no kernel, answer with say so.
struct Failure {
    enum class Kind {
        Errno,  // ioctl fails: value = errno (EPERM, EIO, ...)
        // BSG: ioctl 0, reply.result = value (-EINVAL, -ETIMEDOUT), device_status 0; nothing
        // executed. Kernels whose ufs_bsg completes only the jobs that succeed: 6.12 before 6.12.117
        // and older series without that fix. Later ones fail the ioctl with that errno instead.
        BsgResult,
        // BSG: ioctl 0, an all-zero reply: a query that timed out on kernels whose ufshcd ignores
        // the outcome of a raw UPIU's wait (6.12.118 still does), before the September 2025
        // rework that returns the timeout.
        ZeroReply,
        // BSG: ioctl 0, the previous reply still in the buffer; nothing executed. Kernels before
        // ufs_bsg cleared its reply buffer for each job (6.12 before 6.12.117): a task management
        // request the controller failed leaves an earlier job's response there.
        StaleReply,
        NoReply,         // BSG: ioctl 0 and nothing written back, not even response_len
        CheckCondition,  // SG: CHECK CONDITION with this sense; nothing executed
        // host_status (SG) / transport_status (BSG) = value; nothing executed. On BSG only the
        // fake: bsg-lib takes it from the job's result, which has no host byte when the ioctl
        // succeeds (a negative one fails the ioctl, a UIC result code is the device status).
        HostStatus,
        // driver_status = value; nothing executed. On BSG only the fake: bsg-lib always reports 0.
        // On SG, kernels whose SCSI midlayer has no driver byte (6.12 among them) report only
        // DRIVER_SENSE, which sg sets itself with sense data; other values are older kernels'.
        DriverStatus,
        Residual,  // SG: the command runs but the last `value` bytes are not transferred
    };
    Kind kind = Kind::Errno;
    int value = 0;
    uint8_t sense_key = 0, asc = 0, ascq = 0;
    bool descriptor_sense = false;  // 0x72 sense data instead of fixed-format 0x70
    int only_op = -1;               // SG: only commands with this operation code (CDB byte 0)
};

// One request as it reached the kernel.
struct Request {
    std::string node_name;  // "ufs-bsg0", "sg0", "sda"
    enum class Type { Open, Query, Uic, Scsi, Reset, Other } type = Type::Other;
    uint8_t op = 0;  // query opcode; UIC command; CDB byte 0; reset kind
    uint8_t idn = 0, index = 0, selector = 0;
    uint32_t lba = 0, blocks = 0;  // READ(10)/WRITE(10)
    uint32_t arg = 0;              // UIC argument 1; open flags
    std::string Text() const;
};

class FakeKernel final : public kt62::host::Transport {
public:
    // `root` stands for "/"; `state_dir` keeps what the devices store.
    FakeKernel(std::filesystem::path root, std::filesystem::path state_dir);
    ~FakeKernel() override;
    FakeKernel(const FakeKernel&) = delete;
    FakeKernel& operator=(const FakeKernel&) = delete;

    // Plugs in a host with its device, laying its sys and dev entries out under the root.
    // Throws std::invalid_argument for ufs keys the emulator refuses.
    void AddHost(const HostSpec& spec);
    // The next `times` SG_IO ioctls on `node` kinds (any ioctl for Failure::Kind::Errno),
    // after `after` more that are answered, answer with `failure`.
    void FailIoctls(Node node, const Failure& failure, int times = 1, int after = 0);

    // Appends each request's Text() to this file as it arrives (empty: none).
    void LogTo(std::string path);
    bool Owns(int fd) const;

    int Open(const char* path, int flags) override;
    int Ioctl(int fd, unsigned long request, void* arg) override;
    void Close(int fd) override;

private:
    struct Host;
    struct Injection {
        Node node;
        int after, times;
        Failure failure;
    };
    struct Fd {
        Host* host;
        Node node;
        int flags;
        // sg's reserve buffer of the open file (SCSI generic nodes).
        std::shared_ptr<std::vector<uint8_t>> sg_reserve = std::make_shared<std::vector<uint8_t>>();
    };

    std::optional<Failure> Injected(Node node, bool sg_io, int op = -1);
    void Record(const Request& r);
    int BsgIo(Host& host, void* arg);
    static void Query(Host& host, const uint8_t* req, sg_io_v4* hdr, uint8_t* reply);
    // Returns the UIC result code.
    static uint8_t Uic(Host& host, const uint8_t* req, uint8_t* reply);
    int SgIo(Host& host, Node node, void* arg, std::vector<uint8_t>& reserve);
    int Reset(Host& host, Node node, void* arg);

    const std::filesystem::path root_;
    const std::filesystem::path state_dir_;
    mutable std::mutex mutex_;  // held while a request runs on a device
    std::vector<std::unique_ptr<Host>> hosts_;
    // Never held while a device runs: a preloaded shim asks Owns() from inside the device's own
    // file calls.
    mutable std::mutex fds_mutex_;
    std::map<int, Fd> fds_;
    std::vector<Injection> injections_;
    std::string log_path_;
};

// Lays out the sys and dev entries of a host under `root` as Linux shows them, with plain files:
// R/sys/class/bsg/ufs-bsgN, R/dev/bsg/ufs-bsgN, the SCSI device folder N:0:0:0 of logical unit 0
// with scsi_generic/sgX and block/sdX/queue/max_hw_sectors_kb, the class entries
// R/sys/class/scsi_generic/sgX and R/sys/class/block/sdX leading back to it, R/dev/sgX, R/dev/sdX,
// and an empty R/proc/self/mounts when there is none.
void LayOutHost(const std::filesystem::path& root, const HostSpec& spec);

}  // namespace kt62::fake
