#include "handlers/transfer/image_file.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "fileio/file_access.h"
#include "handlers/transfer/transfer_rules.h"

namespace kt {

bool ImageFile::Create(const std::string& path, std::string& why) {
    Close();
    file_ = fileio::OpenForWriting(path, fileio::WriteMode::Truncate, why, true);
    struct statfs fs {};
    claim_blocks_ = IsOpen() && ::fstatfs(file_.Get(), &fs) == 0 && fs.f_type == EXT4_SUPER_MAGIC;
    return IsOpen();
}

bool ImageFile::OpenForReading(const std::string& path, std::string& why) {
    Close();
    claim_blocks_ = false;
    file_ = fileio::OpenForReading(path, why);
    return IsOpen();
}

std::uint64_t ImageFile::Size() const {
    struct stat st {};
    if (!IsOpen() || ::fstat(file_.Get(), &st) != 0) return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

// NOLINTNEXTLINE(readability-make-member-function-const): it changes the file, if not the object
int ImageFile::WriteAt(const std::uint8_t* data, std::size_t bytes, std::uint64_t offset) {
    // On ext4 the chunk's blocks are claimed before its bytes are written,
    // the size kept: the page cache then takes them about a third faster
    // than by delayed allocation, page by page (elsewhere, tmpfs for one, it
    // is slower). Only a hint: where it fails (a full disk), the write says
    // why, and a failed write gives the claimed blocks back with the cut.
    if (claim_blocks_)
        (void)::fallocate(file_.Get(), FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset),
                          static_cast<off_t>(bytes));
    const int error = fileio::WriteAllAt(file_.Get(), data, bytes, offset);
    // A part of a chunk is no chunk: the file keeps whole chunks only. A device such as
    // /dev/full cannot be cut (EINVAL), and holds nothing; a cut that fails elsewhere leaves a
    // partial chunk the caller is told of by the write's own failure.
    if (error != 0) (void)::ftruncate(file_.Get(), static_cast<off_t>(offset));
    return error;
}

int ImageFile::ReadAt(std::uint8_t* data, std::size_t bytes, std::uint64_t offset) const {
    std::size_t got = 0;
    if (const int error = fileio::ReadAllAt(file_.Get(), data, bytes, offset, got); error != 0) return error;
    return got < bytes ? kShortFile : 0;
}

int ImageFile::Close() { return file_.Close(); }

}  // namespace kt
