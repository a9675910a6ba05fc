#include "host/transport.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace kt62::host {
namespace {

class System final : public Transport {
public:
    int Open(const char* path, int flags) override {
        for (;;) {
            const int fd = ::open(path, flags);
            if (fd >= 0) return fd;
            if (errno != EINTR) return -errno;
        }
    }
    int Ioctl(int fd, unsigned long request, void* arg) override {
        for (;;) {
            if (::ioctl(fd, request, arg) == 0) return 0;
            if (errno != EINTR) return -errno;
        }
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
