#include "emu/lock_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#include "emu/state_folder.h"
#include "fileio/file_access.h"

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
    if (!kt::fileio::IsOpenDescriptor(fd_)) return;
    // Unlocked first: a child forked meanwhile holds the descriptor, and with it the lock, until
    // it ends. Neither can fail on a descriptor that is open and locked; the file holds nothing to lose.
    (void)::flock(fd_, LOCK_UN);
    (void)::close(std::exchange(fd_, -1));
}

LockFile::Outcome LockFile::Acquire(const std::filesystem::path& file, LockFile& out, std::string& why) {
    if (!PrepareStateFolder(file.parent_path(), why)) return Outcome::Failed;
    // Never through a link: whoever put one there would have the holder's pid written over
    // what it points at.
    kt::fileio::File f(::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!f.IsOpen()) {
        why = "cannot open " + file.string() + ": " +
              (errno == ELOOP ? std::string("a symbolic link; a lock file is never opened through one")
                              : std::generic_category().message(errno));
        return Outcome::Failed;
    }
    if (::flock(f.Get(), LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        if (err != EWOULDBLOCK) {
            why = "cannot lock " + file.string() + ": " + std::generic_category().message(err);
            return Outcome::Failed;
        }
        // The holder wrote its process id: name it, it is what the user needs to find. A file
        // that cannot be read names nobody.
        std::string pid(32, '\0');
        std::size_t got = 0;
        (void)kt::fileio::ReadAllAt(f.Get(), pid.data(), pid.size(), 0, got);
        pid = pid.substr(0, std::min(got, pid.find_first_of("\n ")));
        why = pid.empty() ? std::string() : " by process " + pid;
        return Outcome::InUse;
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    int error = ::ftruncate(f.Get(), 0) == 0 ? 0 : errno;
    if (error == 0) error = kt::fileio::WriteAllAt(f.Get(), pid.data(), pid.size(), 0);
    if (error != 0) {
        why = "cannot write " + file.string() + ": " + std::generic_category().message(error);
        return Outcome::Failed;
    }
    out = LockFile();
    out.fd_ = f.Release();
    return Outcome::Locked;
}

}  // namespace kt62::emu
