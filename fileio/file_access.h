// Every file a user or a setting names is opened here. A name can point at anything: a FIFO
// that blocks an open for good, a device that never ends, a directory, a socket. Reading opens
// without blocking and takes regular files only; whole-file reads stop at a limit; writing
// never replaces or truncates anything but a regular file and never creates missing folders.
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
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kt::fileio {

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

    bool IsOpen() const { return fd_ >= 0; }
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
std::optional<std::string> ReadWhole(const std::string& path, std::size_t limit, std::string& why);

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

// Whether stdout and the other streams took what was written: flushes stdout and reports the
// first failure, for a program's exit status. nullopt when all went out.
std::optional<std::string> FlushStandardOutput();

}  // namespace kt::fileio
