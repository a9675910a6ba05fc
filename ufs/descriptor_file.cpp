#include "ufs/descriptor_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

#include "app/text_format.h"
#include "app/user_files.h"

namespace kt {

DescriptorOutputPlan PlanDescriptorOutput(std::uint8_t lengthReadByte0, std::uint8_t fullReadByte0,
                                          bool configuration) {
    DescriptorOutputPlan plan;
    plan.bytesRead = std::min<std::uint32_t>(lengthReadByte0, kDescriptorReadLimit);
    plan.dumpBytes = std::min<std::uint32_t>(fullReadByte0, plan.bytesRead);
    if (fullReadByte0 != lengthReadByte0)
        plan.notes.push_back(Format("Descriptor length changed between reads: %u, then %u bytes.",
                                    lengthReadByte0, fullReadByte0));
    if (configuration) {
        plan.save = fullReadByte0 <= plan.bytesRead;
        if (!plan.save)
            plan.notes.push_back(
                Format("Not saved: the descriptor is %u bytes long, only %u bytes were read.", fullReadByte0,
                       plan.bytesRead));
    }
    return plan;
}

bool DescriptorFileAccepted(std::span<const std::uint8_t> head, std::uint64_t fileLength, std::uint32_t idn) {
    if (fileLength < 2 || head.size() < 2) return false;
    return head[1] == idn && fileLength == head[0];
}

namespace {

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // Closes now and reports the close's own failure (a delayed write error
    // surfaces here on some file systems).
    int Close() {
        const int r = ::close(fd_);
        fd_ = -1;
        return r == 0 ? 0 : errno;
    }

private:
    int fd_;
};

int WriteAll(int fd, std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

}  // namespace

DescriptorFileContent ReadDescriptorFile(const std::string& path) {
    DescriptorFileContent out;
    auto fail = [&out](DescriptorFileContent::Status status, int error) {
        out.status = status;
        out.error = error;
        out.head.clear();
        return out;
    };
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return fail(DescriptorFileContent::Status::OpenFailed, errno);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return fail(DescriptorFileContent::Status::ReadFailed, errno);
    if (S_ISDIR(st.st_mode)) return fail(DescriptorFileContent::Status::ReadFailed, EISDIR);
    // A regular file has a length to compare with its byte 0; anything else
    // (a device, a pipe) is taken as long as what it gives, at most one
    // buffer, which no valid descriptor fills.
    const bool regular = S_ISREG(st.st_mode);
    const std::size_t want = regular ? static_cast<std::size_t>(std::min<std::uint64_t>(
                                           static_cast<std::uint64_t>(st.st_size), kDescriptorBufferSize))
                                     : kDescriptorBufferSize;
    out.head.resize(want);
    std::size_t got = 0;
    while (got < want) {
        const ssize_t n = ::read(fd.get(), out.head.data() + got, want - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(DescriptorFileContent::Status::ReadFailed, errno);
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    // A regular file that ends early shrank under us: what we hold is not
    // the file its length describes.
    if (regular && got < want) return fail(DescriptorFileContent::Status::ReadFailed, EIO);
    out.head.resize(got);
    out.length = regular ? static_cast<std::uint64_t>(st.st_size) : got;
    return out;
}

int SaveDescriptorFile(const std::string& path, std::span<const std::uint8_t> bytes) {
    // A file the operator made read-only stays as it is, as creating it for
    // writing would refuse; renaming over it would not.
    if (::access(path.c_str(), F_OK) == 0 && ::access(path.c_str(), W_OK) != 0) return errno;

    static std::atomic<unsigned> counter{0};
    std::string temp;
    int fdNum = -1;
    for (int attempt = 0; attempt < 100 && fdNum < 0; ++attempt) {
        temp = Format("%s.tmp-%ld-%u", path.c_str(), static_cast<long>(::getpid()), counter++);
        fdNum = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        // A folder that refuses new files around a file we may write.
        if (fdNum < 0 && errno == EACCES && ::access(path.c_str(), F_OK) == 0)
            return OverwriteInPlace(
                path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        if (fdNum < 0 && errno != EEXIST) return errno;
    }
    if (fdNum < 0) return EEXIST;
    Fd fd(fdNum);
    int err = WriteAll(fd.get(), bytes);
    if (err == 0 && ::fsync(fd.get()) != 0) err = errno;
    const int closeErr = fd.Close();
    if (err == 0) err = closeErr;
    if (err == 0 && ::rename(temp.c_str(), path.c_str()) != 0) err = errno;
    if (err != 0) ::unlink(temp.c_str());
    return err;
}

}  // namespace kt
