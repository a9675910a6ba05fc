// A stand-in for the Linux kernel below the host backend: open, ioctl and close on the UFS BSG,
// SCSI generic and block nodes of a fake root, answered as ufs-bsg, bsg-lib and sg do (held
// against a real one by tests/guest) over the emulator's device, failing as they fail when told.
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

namespace kt62::fake {

// One UFS host controller with its device; logical unit U is SCSI device <number>:0:0:U.
struct HostSetup {
    int number = 0;                    // ufs-bsg<number>
    std::string sg = "sg0";            // the SCSI generic node of unit 0
    std::string block = "sda";         // its block device
    uint32_t max_hw_sectors_kb = 512;  // the block device's queue limit
    std::string ufs_json = "{}";       // the device: the "ufs" keys of an emulator profile
    bool held = false;   // something else holds the block device (mounted, or opened exclusively)
    int open_error = 0;  // every open of the BSG and SCSI generic nodes fails with this errno
    // Units 0 .. units-1 have SCSI devices; unit U > 0 has the nodes <sg>u<U> and <block>u<U>.
    int units = 8;
};

enum class Node { Bsg, Sg, Block };

// What an ioctl answers instead of what the device would; "nothing executed" unless said.
struct Failure {
    enum class Kind {
        Errno,           // the ioctl fails: value = errno
        BsgResult,       // ioctl 0, reply.result = value: kernels that complete only the jobs that succeed
        ZeroReply,       // ioctl 0, an all-zero reply: a timed-out query on kernels that ignore the timeout
        StaleReply,      // ioctl 0, the previous reply: kernels that did not clear the reply per job
        NoReply,         // ioctl 0 and nothing written back, not even response_len
        CheckCondition,  // SG: CHECK CONDITION with this sense
        HostStatus,      // SG: host_status = value
        Residual,        // SG: the command runs but the last `value` bytes are not transferred
    };
    Kind kind = Kind::Errno;
    int value = 0;
    uint8_t sense_key = 0, asc = 0, ascq = 0;
    bool descriptor_sense = false;  // 0x72 sense data instead of fixed-format 0x70
    int only_op = -1;               // SG: only commands with this operation code (CDB byte 0)
};

class FakeKernel final : public kt62::host::Transport {
public:
    // `root` stands for "/"; `state_dir` keeps what the devices store.
    FakeKernel(std::filesystem::path root, std::filesystem::path state_dir);
    ~FakeKernel() override;
    FakeKernel(const FakeKernel&) = delete;
    FakeKernel& operator=(const FakeKernel&) = delete;

    // Plugs in a host and lays out its entries; std::invalid_argument for ufs keys the emulator refuses.
    void AddHost(const HostSetup& spec);
    // The next `times` SG_IO ioctls on `node` (any ioctl for Errno), after `after` more, fail so.
    void FailIoctls(Node node, const Failure& failure, int times = 1, int after = 0);

    // Appends one line per request to this file as it arrives (empty: none).
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
        uint8_t lun;
    };

    std::optional<Failure> Injected(Node node, bool sg_io, int op = -1);
    void Record(const Host& host, Node node, const std::string& what, uint8_t lun = 0);  // to the log
    int BsgIo(Host& host, void* arg);
    static void Query(Host& host, const uint8_t* req, sg_io_v4* hdr, uint8_t* reply);
    static uint8_t Uic(Host& host, const uint8_t* req, uint8_t* reply);  // the UIC result code
    int SgIo(Host& host, Node node, uint8_t lun, void* arg);
    int Reset(Host& host, Node node);

    const std::filesystem::path root_;
    const std::filesystem::path state_dir_;
    mutable std::mutex mutex_;  // held while a request runs on a device
    std::vector<std::unique_ptr<Host>> hosts_;
    // Never held while a device runs: a preloaded shim asks Owns() from the device's own file calls.
    mutable std::mutex fds_mutex_;
    std::map<int, Fd> fds_;
    std::vector<Injection> injections_;
    std::string log_path_;
};

}  // namespace kt62::fake
