#include "fileio/file_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <system_error>
#include <utility>

namespace kt::fileio {
namespace {

std::string ErrnoText(int error) { return std::generic_category().message(error); }

std::string NotRegular(unsigned mode) { return "not a regular file (" + KindOf(mode) + ")"; }

// After a failed open: a socket or a FIFO without a reader fails with ENXIO, which says little;
// the kind of thing found there says more.
std::string OpenFailure(const std::string& path, int error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return NotRegular(st.st_mode);
    return ErrnoText(error);
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// A write follows a symbolic link only where its owner is this process's user or the owner of
// what it points at, as the kernel's protected_symlinks rule has it for sticky folders: else a
// user who can plant a link (in a build tree, a settings folder) makes a program run as root
// write over any file. Every link among the path's parts is held to it. Root's links (/dev/stderr,
// /var/run) were made by whoever could write anything anyway.
bool LinksMayBeFollowed(const std::string& path, std::string& why) {
    const uid_t me = ::geteuid();
    for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string part = path.substr(0, end);
        struct stat link {};
        if (!part.empty() && ::lstat(part.c_str(), &link) == 0 && S_ISLNK(link.st_mode) &&
            link.st_uid != me && link.st_uid != 0) {
            struct stat target {};
            const bool resolved = ::stat(part.c_str(), &target) == 0;
            if (!resolved || target.st_uid != link.st_uid) {
                why = "a symbolic link" + (part == path ? std::string() : " (" + part + ")") +
                      " owned by uid " + std::to_string(link.st_uid) +
                      (resolved ? " to a file owned by uid " + std::to_string(target.st_uid)
                                : std::string(" to nothing")) +
                      "; not followed for writing";
                return false;
            }
        }
        if (end == std::string::npos) return true;
    }
}

// Opens without blocking (a FIFO would wait for its other end), then keeps regular files only.
File OpenRegular(const std::string& path, int flags, std::string& why, bool character_device = false) {
    File f(::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666));
    if (!f.IsOpen()) {
        why = OpenFailure(path, errno);
        return {};
    }
    struct stat st {};
    if (::fstat(f.Get(), &st) != 0) {
        why = ErrnoText(errno);
        return {};
    }
    if (!S_ISREG(st.st_mode) && !(character_device && S_ISCHR(st.st_mode))) {
        why = NotRegular(st.st_mode);
        return {};
    }
    // Regular files never block; the flag only matters to what was refused above.
    (void)::fcntl(f.Get(), F_SETFL, ::fcntl(f.Get(), F_GETFL) & ~O_NONBLOCK);
    return f;
}

}  // namespace

File::~File() { Close(); }

File::File(File&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

int File::Release() { return std::exchange(fd_, -1); }

int File::Close() {
    if (fd_ < 0) return 0;
    return ::close(std::exchange(fd_, -1)) == 0 ? 0 : errno;
}

std::string KindOf(unsigned mode) {
    if (S_ISREG(mode)) return "a regular file";
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISLNK(mode)) return "a symbolic link";
    return "an unknown kind of file";
}

File OpenForReading(const std::string& path, std::string& why) { return OpenRegular(path, O_RDONLY, why); }

std::optional<std::string> ReadWhole(const std::string& path, std::size_t limit, std::string& why) {
    const File f = OpenForReading(path, why);
    if (!f.IsOpen()) return std::nullopt;
    const std::string too_big = "larger than " + std::to_string(limit) + " bytes, the limit for this file";
    struct stat st {};
    if (::fstat(f.Get(), &st) == 0 && static_cast<std::uint64_t>(st.st_size) > limit) {
        why = too_big;
        return std::nullopt;
    }
    std::string text;
    char buf[65536];
    // The size can grow while we read (or lie, in /proc): the limit holds for what is read too.
    for (;;) {
        const ssize_t n = ::read(f.Get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            why = ErrnoText(errno);
            return std::nullopt;
        }
        if (n == 0) break;
        text.append(buf, static_cast<size_t>(n));
        if (text.size() > limit) {
            why = too_big;
            return std::nullopt;
        }
    }
    return text;
}

File OpenForWriting(const std::string& path, WriteMode mode, std::string& why, bool character_device) {
    if (!LinksMayBeFollowed(path, why)) return {};
    // Not O_TRUNC: a device or a FIFO must be refused before anything happens to it.
    File f = OpenRegular(path, O_WRONLY | O_CREAT | (mode == WriteMode::Append ? O_APPEND : 0), why,
                         character_device);
    // An empty file is not cut: ext4 takes a cut to size 0 as a file being
    // replaced and writes all of it out at close, which makes the close of a
    // new 1 GiB image wait for the disk.
    struct stat st {};
    if (f.IsOpen() && mode == WriteMode::Truncate && ::fstat(f.Get(), &st) == 0 && S_ISREG(st.st_mode) &&
        st.st_size != 0 && ::ftruncate(f.Get(), 0) != 0) {
        why = ErrnoText(errno);
        return {};
    }
    return f;
}

namespace {

// A file we may write in a folder that refuses new files: no file beside it,
// so its content is replaced in place. The room for the new content is
// claimed before a byte changes, so a full disk leaves the file as it was,
// and a write that fails on the way puts the old content back.
bool RewriteInPlace(const std::string& path, std::string_view bytes, std::string& why) {
    // `path` has its links resolved already: one put there since is not followed.
    File f(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    if (!f.IsOpen()) {
        why = ErrnoText(errno);
        return false;
    }
    struct stat st {};
    int error = ::fstat(f.Get(), &st) != 0 ? errno : 0;
    if (error == 0 && !S_ISREG(st.st_mode)) {
        why = NotRegular(st.st_mode) + "; not replaced";
        return false;
    }
    std::string old(error == 0 ? static_cast<std::size_t>(st.st_size) : 0, '\0');
    for (std::size_t got = 0; error == 0 && got < old.size();) {
        const ssize_t n = ::pread(f.Get(), old.data() + got, old.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) error = n < 0 ? errno : EIO;
        got += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    const bool have_old = error == 0;
    // A file system that cannot claim ahead is written all the same.
    if (error == 0 && bytes.size() > old.size()) {
        const int r = ::posix_fallocate(f.Get(), 0, static_cast<off_t>(bytes.size()));
        if (r != 0 && r != EOPNOTSUPP && r != EINVAL) error = r;
    }
    auto put_all = [&](std::string_view data) {
        for (off_t at = 0; !data.empty();) {
            const ssize_t n = ::pwrite(f.Get(), data.data(), data.size(), at);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return n < 0 ? errno : ENOSPC;
            data.remove_prefix(static_cast<std::size_t>(n));
            at += n;
        }
        return 0;
    };
    if (error == 0) error = put_all(bytes);
    if (error == 0 && ::ftruncate(f.Get(), static_cast<off_t>(bytes.size())) != 0) error = errno;
    if (error == 0 && ::fsync(f.Get()) != 0) error = errno;
    if (error != 0 && have_old) {
        (void)put_all(old);
        (void)!::ftruncate(f.Get(), static_cast<off_t>(old.size()));
    }
    if (const int close_error = f.Close(); error == 0) error = close_error;
    if (error != 0) why = ErrnoText(error);
    return error == 0;
}

}  // namespace

bool ReplaceWhole(const std::string& path, std::string_view bytes, std::string& why) {
    if (!LinksMayBeFollowed(path, why)) return false;
    std::string target = path;
    struct stat old {};
    bool existed = false;
    if (::lstat(path.c_str(), &old) == 0) {
        if (S_ISLNK(old.st_mode)) {
            char* real = ::realpath(path.c_str(), nullptr);
            if (real == nullptr) {
                why = "a symbolic link to nothing (" + ErrnoText(errno) + ")";
                return false;
            }
            target = real;
            std::free(real);  // NOLINT(cppcoreguidelines-no-malloc): realpath's own buffer
            if (::stat(target.c_str(), &old) != 0) {
                why = ErrnoText(errno);
                return false;
            }
        }
        if (!S_ISREG(old.st_mode)) {
            why = NotRegular(old.st_mode) + "; not replaced";
            return false;
        }
        existed = true;
    } else if (errno != ENOENT) {
        why = ErrnoText(errno);
        return false;
    }
    const std::size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);

    static std::atomic<unsigned> counter{0};
    std::string temp;
    File f;
    for (int attempt = 0; attempt < 100 && !f.IsOpen(); ++attempt) {
        temp = target + "." + std::to_string(::getpid()) + "." + std::to_string(counter++) + ".tmp";
        f = File(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!f.IsOpen() && errno == EACCES && existed) return RewriteInPlace(target, bytes, why);
        if (!f.IsOpen() && errno != EEXIST) {
            why = ErrnoText(errno);
            return false;
        }
    }
    if (!f.IsOpen()) {
        why = "no free temporary name beside it";
        return false;
    }
    if (existed) {
        // The new file takes the old one's owner (where permitted) and permissions.
        (void)!::fchown(f.Get(), old.st_uid, old.st_gid);
        (void)::fchmod(f.Get(), old.st_mode & 07777);
    }
    int error = 0;
    if (!WriteAll(f.Get(), bytes) || ::fsync(f.Get()) != 0) error = errno;
    if (const int close_error = f.Close(); error == 0) error = close_error;
    if (error == 0 && ::rename(temp.c_str(), target.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        why = ErrnoText(error);
        return false;
    }
    // The rename reaches the disk with its folder.
    if (const int d = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); d >= 0) {
        (void)::fsync(d);
        ::close(d);
    }
    return true;
}

std::optional<std::string> FlushStandardOutput() {
    std::cout.flush();
    const bool stream_failed = !std::cout.good();
    errno = 0;
    const bool c_failed = std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
    const int error = errno;
    if (stream_failed || c_failed)
        // A failure while the program ran left no errno worth showing by now.
        return "standard output: not all output was written" + (error != 0 ? ": " + ErrnoText(error) : "");
    return std::nullopt;
}

}  // namespace kt::fileio
