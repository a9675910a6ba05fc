// The only ways the Linux host backend reaches the kernel: open, ioctl and
// close on device nodes. Everything above this seam is pure and testable;
// tests stand a fake kernel in through SetTransport.
#pragma once

namespace kt62::host {

class Transport {
public:
    virtual ~Transport() = default;
    // A file descriptor, or -errno.
    virtual int Open(const char* path, int flags) = 0;
    // 0, or -errno. `arg` is what ioctl(2) takes for the request.
    virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;
    virtual void Close(int fd) = 0;
};

// The real kernel: libc's open, ioctl and close (so an LD_PRELOAD shim can answer them).
Transport& SystemTransport();

// Routes every later call of the backend to `transport`; nullptr restores the system one. For
// tests; not thread-safe against calls in flight.
void SetTransport(Transport* transport);
Transport& CurrentTransport();

}  // namespace kt62::host
