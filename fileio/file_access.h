// Every file a user or a setting names is opened here. A name can point at anything: a FIFO
// that blocks an open for good, a device that never ends, a directory, a socket. Reading opens
// without blocking and takes regular files only; whole-file reads stop at a limit; writing
// never replaces or truncates anything but a regular file and never creates missing folders
// (MakeFolders does, when asked).
//
// Symbolic links are followed on purpose, for reading and for writing: a link to a profile or
// an image is how users keep one file in two places, and a replaced file stays behind its link
// (the link itself is never replaced by a file). A write follows a link only where the link's
// owner is this process's user, root, or the owner of what it points at: a link another user planted
// is refused, so a program run as root never writes through it. Temporary files are made new,
// never through a link.
//
// Failures come back as a reason without the file name ("not a regular file (a FIFO)",
// "Permission denied"); callers put the name in front.
//
// The program's other file work goes through here as well: whole reads and writes that go on
// after an interrupt or a short transfer, replacement through a temporary file, and folders made
// with their parents.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct stat;

namespace kt::fileio {

// Whether a descriptor variable holds an open descriptor (not -1 or another negative mark).
constexpr bool IsOpenDescriptor(int fd) { return fd >= 0; }

// An open descriptor, closed when it goes.
class File {
public:
    File() = default;
    explicit File(int fd) : fd_(fd) {}
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool IsOpen() const { return IsOpenDescriptor(fd_); }
    int Get() const { return fd_; }
    int Release();
    // 0, or the errno of a failed close (a delayed write error shows here).
    int Close();

private:
    int fd_ = -1;
};

// What a mode describes, for messages: "a FIFO", "a directory", ...
std::string KindOf(unsigned mode);

// Opens an existing regular file for reading. Empty File and `why` set otherwise.
File OpenForReading(const std::string& path, std::string& why);

// Reads a whole regular file of at most `limit` bytes; a larger one is refused with the limit
// in `why`.
// `error`, when given, takes the errno of a failure (ENOENT for a missing file, EFBIG for a large one).
std::optional<std::string> ReadWhole(const std::string& path, std::size_t limit, std::string& why,
                                     int* error = nullptr);

enum class WriteMode { Truncate, Append, Keep };

// Opens a regular file for writing in place, creating it (mode 0666 before the umask) when
// missing. Anything else that exists under the name is refused before it is touched, but for a
// character device (/dev/null, /dev/full) when the caller accepts one: it takes the bytes as it
// would and is never truncated.
File OpenForWriting(const std::string& path, WriteMode mode, std::string& why, bool character_device = false);

// Replaces the content of a regular file, or creates it: a new file beside it, flushed, then
// renamed over it, so a failure leaves the old content. The old file's permissions carry over.
// An existing name that is not a regular file (or a link to one) is refused. An existing file in
// a folder that refuses new files is rewritten in place instead: its room claimed first, its old
// content put back when a write fails.
bool ReplaceWhole(const std::string& path, std::string_view bytes, std::string& why);

// Reading and writing whole ranges of a descriptor: a call an interrupt cut short is made again,
// and a short transfer is followed by the rest. Each gives 0 or the errno of the failure.

// Writes all `size` bytes at the file position. A write that takes nothing is ENOSPC, as a device
// that is full may say so by taking 0 bytes.
int WriteAll(int fd, const void* data, std::size_t size);
int WriteAllAt(int fd, const void* data, std::size_t size, std::uint64_t offset);
// Reads `size` bytes at `offset`, fewer only where the file ends first: `got` says how many.
int ReadAllAt(int fd, void* data, std::size_t size, std::uint64_t offset, std::size_t& got);
// Reads from the file position to the end into `out`, at most `limit` bytes: EFBIG when the file
// holds more.
int ReadToEnd(int fd, std::size_t limit, std::string& out);

// Makes `call` (a system call's wrapper) again while it fails with EINTR; its last result.
template <typename Call>
auto Uninterrupted(Call call) {
    for (;;) {
        const auto result = call();
        if (result != -1 || errno != EINTR) return result;
    }
}

// Replaces `target` by a file of `bytes` made under the name `temp` in the same folder: created
// anew with `mode` (before the umask), never through a link, written, flushed, closed, renamed over
// `target`, then the folder flushed so that the rename survives a power loss. 0, or the errno of
// the step that failed, named in `step` ("create", "write", "close", "rename to", "sync the folder of");
// the temporary file is gone then. `like`, when given, is the old file, whose owner (where
// permitted) and permissions the new one takes.
int ReplaceVia(const std::string& target, const std::string& temp, std::string_view bytes, unsigned mode,
               const char*& step, const struct stat* like = nullptr);

// Makes `dir` and the folders above it that are missing, each with `mode` (before the umask).
// 0, or the errno of the first part that cannot be made (ENOTDIR where a file is in the way).
int MakeFolders(const std::string& dir, unsigned mode);

// Whether stdout and the other streams took what was written: flushes stdout and reports the
// first failure, for a program's exit status. nullopt when all went out.
std::optional<std::string> FlushStandardOutput();

}  // namespace kt::fileio
