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

// The one loop behind every whole-range read and write: `call(done)` moves the next part.
template <typename Call>
int Transfer(std::size_t size, std::size_t& done, bool zero_means_full, Call call) {
    while (done < size) {
        const ssize_t n = Uninterrupted([&] { return call(done); });
        if (n < 0) return errno;
        if (n == 0) return zero_means_full ? ENOSPC : 0;  // a read's end of file
        done += static_cast<std::size_t>(n);
    }
    return 0;
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
// A refusal leaves errno set: EINVAL for a file of another kind.
File OpenRegular(const std::string& path, int flags, std::string& why, bool character_device = false) {
    const auto refuse = [&why](int error, std::string text) {
        why = std::move(text);
        errno = error;
        return File();
    };
    File f(::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666));
    if (!f.IsOpen()) {
        const int error = errno;
        return refuse(error, OpenFailure(path, error));
    }
    struct stat st {};
    if (::fstat(f.Get(), &st) != 0) return refuse(errno, ErrnoText(errno));
    if (!S_ISREG(st.st_mode) && !(character_device && S_ISCHR(st.st_mode)))
        return refuse(EINVAL, NotRegular(st.st_mode));
    // Regular files never block; the flag only matters to what was refused above.
    const int status = ::fcntl(f.Get(), F_GETFL);
    if (status == -1 || ::fcntl(f.Get(), F_SETFL, status & ~O_NONBLOCK) != 0)
        return refuse(errno, ErrnoText(errno));
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
    if (!IsOpenDescriptor(fd_)) return 0;
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

std::optional<std::string> ReadWhole(const std::string& path, std::size_t limit, std::string& why,
                                     int* error) {
    int failed = 0;
    const File f = OpenForReading(path, why);
    if (!f.IsOpen()) failed = errno;
    struct stat st {};
    std::string text;
    // The size can grow while we read (or lie, in /proc): the limit holds for what is read too.
    if (failed == 0 && ::fstat(f.Get(), &st) == 0 && static_cast<std::uint64_t>(st.st_size) > limit)
        failed = EFBIG;
    if (failed == 0) failed = ReadToEnd(f.Get(), limit, text);
    if (failed == 0) return text;
    if (failed == EFBIG) why = "larger than " + std::to_string(limit) + " bytes, the limit for this file";
    if (f.IsOpen() && failed != EFBIG) why = ErrnoText(failed);
    if (error != nullptr) *error = failed;
    return std::nullopt;
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

int WriteAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    return Transfer(size, done, true, [&](std::size_t at) { return ::write(fd, bytes + at, size - at); });
}

int WriteAllAt(int fd, const void* data, std::size_t size, std::uint64_t offset) {
    const auto* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    return Transfer(size, done, true, [&](std::size_t at) {
        return ::pwrite(fd, bytes + at, size - at, static_cast<off_t>(offset + at));
    });
}

int ReadAllAt(int fd, void* data, std::size_t size, std::uint64_t offset, std::size_t& got) {
    auto* bytes = static_cast<char*>(data);
    got = 0;
    return Transfer(size, got, false, [&](std::size_t at) {
        return ::pread(fd, bytes + at, size - at, static_cast<off_t>(offset + at));
    });
}

int ReadToEnd(int fd, std::size_t limit, std::string& out) {
    for (;;) {
        char buf[65536];
        std::size_t got = 0;
        const int error = Transfer(sizeof buf, got, false,
                                   [&](std::size_t at) { return ::read(fd, buf + at, sizeof buf - at); });
        out.append(buf, got);
        if (out.size() > limit) return EFBIG;
        if (error != 0 || got < sizeof buf) return error;
    }
}

int MakeFolders(const std::string& dir, unsigned mode) {
    for (std::size_t end = dir.find('/', 1);; end = dir.find('/', end + 1)) {
        const std::string part = dir.substr(0, end);
        if (::mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return errno;
        if (end == std::string::npos || end + 1 == dir.size()) break;
    }
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

namespace {

std::string FolderOf(const std::string& file) {
    const std::size_t slash = file.rfind('/');
    return slash == std::string::npos ? "." : file.substr(0, slash + 1);
}

// The rename reaches the disk with its folder. A folder this process may not read cannot be
// flushed by it, and some file systems flush no folders: the rename stands all the same.
int SyncFolder(const std::string& dir) {
    const File d(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!d.IsOpen()) return errno == EACCES ? 0 : errno;
    if (::fsync(d.Get()) != 0 && errno != EINVAL) return errno;
    return 0;
}

// A file we may write in a folder that refuses new files: no file beside it,
// so its content is replaced in place. The room for the new content is
// claimed before a byte changes, so a full disk leaves the file as it was,
// and a write that fails on the way puts the old content back.
bool RewriteInPlace(const std::string& path, std::string_view bytes, std::string& why) {
    // `path` has its links resolved already: one put there since is not followed.
    File f(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    struct stat st {};
    if (!f.IsOpen() || ::fstat(f.Get(), &st) != 0) {
        why = ErrnoText(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        why = NotRegular(st.st_mode) + "; not replaced";
        return false;
    }
    std::string old(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t got = 0;
    int error = ReadAllAt(f.Get(), old.data(), old.size(), 0, got);
    old.resize(got);
    const bool have_old = error == 0;
    // A file system that cannot claim ahead is written all the same. Room the file has already
    // is claimed again at no cost.
    if (have_old) {
        const int r = ::posix_fallocate(f.Get(), 0, static_cast<off_t>(bytes.size()));
        if (r != 0 && r != EOPNOTSUPP && r != EINVAL) error = r;
    }
    const auto put = [&f](std::string_view data) {
        if (const int e = WriteAllAt(f.Get(), data.data(), data.size(), 0); e != 0) return e;
        return ::ftruncate(f.Get(), static_cast<off_t>(data.size())) == 0 ? 0 : errno;
    };
    if (error == 0) error = put(bytes);
    if (error == 0 && ::fsync(f.Get()) != 0) error = errno;
    if (error != 0) {
        why = ErrnoText(error);
        if (have_old && put(old) != 0) why += "; the old content could not be put back";
        return false;
    }
    if (const int close_error = f.Close(); close_error != 0) {
        why = ErrnoText(close_error);
        return false;
    }
    return true;
}

// Where an existing file is replaced: the file a link points at, and its kind and owner in
// `old`. "" with `why` set when it may not be replaced.
std::string ReplacementTarget(const std::string& path, struct stat& old, bool& existed, std::string& why) {
    existed = false;
    if (!LinksMayBeFollowed(path, why)) return {};
    std::string target = path;
    if (::lstat(path.c_str(), &old) != 0) {
        if (errno == ENOENT) return target;
        why = ErrnoText(errno);
        return {};
    }
    if (S_ISLNK(old.st_mode)) {
        char* real = ::realpath(path.c_str(), nullptr);
        if (real == nullptr) {
            why = "a symbolic link to nothing (" + ErrnoText(errno) + ")";
            return {};
        }
        target = real;
        std::free(real);  // NOLINT(cppcoreguidelines-no-malloc): realpath's own buffer
        if (::stat(target.c_str(), &old) != 0) {
            why = ErrnoText(errno);
            return {};
        }
    }
    if (!S_ISREG(old.st_mode)) {
        why = NotRegular(old.st_mode) + "; not replaced";
        return {};
    }
    existed = true;
    return target;
}

}  // namespace

int ReplaceVia(const std::string& target, const std::string& temp, std::string_view bytes, unsigned mode,
               const char*& step, const struct stat* like) {
    step = "create";
    File f(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!f.IsOpen()) return errno;
    if (like != nullptr) {
        // Only root gives a file away, and a file system without owners and modes (FAT) refuses
        // both: the new file is then made as any other there.
        (void)!::fchown(f.Get(), like->st_uid, like->st_gid);
        (void)::fchmod(f.Get(), like->st_mode & 07777);
    }
    step = "write";
    int error = WriteAll(f.Get(), bytes.data(), bytes.size());
    if (error == 0 && ::fsync(f.Get()) != 0) error = errno;
    if (const int close_error = f.Close(); error == 0 && close_error != 0) {
        step = "close";
        error = close_error;
    }
    if (error == 0 && ::rename(temp.c_str(), target.c_str()) != 0) {
        step = "rename to";
        error = errno;
    }
    if (error != 0) {
        (void)::unlink(temp.c_str());  // nothing else refers to it; a failure leaves a stray file only
        return error;
    }
    step = "sync the folder of";
    return SyncFolder(FolderOf(target));
}

bool ReplaceWhole(const std::string& path, std::string_view bytes, std::string& why) {
    struct stat old {};
    bool existed = false;
    const std::string target = ReplacementTarget(path, old, existed, why);
    if (target.empty()) return false;
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temp =
            target + "." + std::to_string(::getpid()) + "." + std::to_string(counter++) + ".tmp";
        const char* step = "";
        const int error = ReplaceVia(target, temp, bytes, 0666, step, existed ? &old : nullptr);
        const bool created = std::string_view(step) != "create";
        if (!created && error == EACCES && existed) return RewriteInPlace(target, bytes, why);
        if (created || error != EEXIST) {
            if (error != 0) why = ErrnoText(error);
            return error == 0;
        }
    }
    why = "no free temporary name beside it";
    return false;
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
