#include "host/transport.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "fileio/file_access.h"

namespace kt62::host {
namespace {

class System final : public Transport {
public:
    int Open(const char* path, int flags) override {
        const int fd = kt::fileio::Uninterrupted([&] { return ::open(path, flags); });
        return fd >= 0 ? fd : -errno;
    }
    int Ioctl(int fd, unsigned long request, void* arg) override {
        return kt::fileio::Uninterrupted([&] { return ::ioctl(fd, request, arg); }) == 0 ? 0 : -errno;
    }
    void Close(int fd) override { ::close(fd); }
};

std::atomic<Transport*> current{nullptr};

}  // namespace

Transport& SystemTransport() {
    static System system;
    return system;
}

void SetTransport(Transport* transport) { current.store(transport); }

Transport& CurrentTransport() {
    Transport* t = current.load();
    return t ? *t : SystemTransport();
}

}  // namespace kt62::host
