#include "emu/lock_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "emu/state_folder.h"

namespace kt62::emu {

LockFile::~LockFile() { Release(); }

LockFile::LockFile(LockFile&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

LockFile& LockFile::operator=(LockFile&& other) noexcept {
    if (this != &other) {
        Release();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

void LockFile::Release() {
    if (fd_ < 0) return;
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

LockFile::Outcome LockFile::Acquire(const std::filesystem::path& file, LockFile& out, std::string& why) {
    if (!PrepareStateFolder(file.parent_path(), why)) return Outcome::Failed;
    // Never through a link: whoever put one there would have the holder's pid written over
    // what it points at.
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        why = "cannot open " + file.string() + ": " +
              (errno == ELOOP ? std::string("a symbolic link; a lock file is never opened through one")
                              : std::generic_category().message(errno));
        return Outcome::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        if (err == EWOULDBLOCK) {
            // The holder wrote its process id: name it, it is what the user needs to find.
            char buf[32] = {};
            const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
            std::string pid = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
            while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' ')) pid.pop_back();
            why = pid.empty() ? std::string() : " by process " + pid;
            ::close(fd);
            return Outcome::InUse;
        }
        why = "cannot lock " + file.string() + ": " + std::generic_category().message(err);
        ::close(fd);
        return Outcome::Failed;
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const ssize_t n = ::pwrite(fd, pid.data(), pid.size(), 0);
    }
    out = LockFile();
    out.fd_ = fd;
    return Outcome::Locked;
}

}  // namespace kt62::emu
