#include "handlers/transfer/image_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "fileio/file_access.h"
#include "handlers/transfer/transfer_rules.h"

namespace kt {

ImageFile::~ImageFile() { Close(); }

ImageFile::ImageFile(ImageFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

ImageFile& ImageFile::operator=(ImageFile&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

bool ImageFile::Create(const std::string& path, std::string& why) {
    Close();
    fd_ = fileio::OpenForWriting(path, fileio::WriteMode::Truncate, why, true).Release();
    return fd_ >= 0;
}

bool ImageFile::OpenForReading(const std::string& path, std::string& why) {
    Close();
    fd_ = fileio::OpenForReading(path, why).Release();
    return fd_ >= 0;
}

std::uint64_t ImageFile::Size() const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0 || st.st_size < 0) return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

// NOLINTNEXTLINE(readability-make-member-function-const): it changes the file, if not the object
int ImageFile::WriteAt(const std::uint8_t* data, std::size_t bytes, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < bytes) {
        const ssize_t n = ::pwrite(fd_, data + done, bytes - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            // A part of a chunk is no chunk: the file keeps whole chunks only.
            // (Devices such as /dev/full cannot be cut; nothing is in them.)
            if (::ftruncate(fd_, static_cast<off_t>(offset)) != 0) {
            }
            return error;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

int ImageFile::ReadAt(std::uint8_t* data, std::size_t bytes, std::uint64_t offset) const {
    std::size_t done = 0;
    while (done < bytes) {
        const ssize_t n = ::pread(fd_, data + done, bytes - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return kShortFile;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

int ImageFile::Close() {
    if (fd_ < 0) return 0;
    const int rc = ::close(std::exchange(fd_, -1));
    return rc == 0 ? 0 : errno;
}

}  // namespace kt
