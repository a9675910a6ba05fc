#include "handlers/ufs/descriptor_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "common/text_format.h"
#include "fileio/file_access.h"

namespace kt {

DescriptorOutputPlan PlanDescriptorOutput(std::uint8_t length_read_byte0, std::uint8_t full_read_byte0,
                                          bool configuration) {
    DescriptorOutputPlan plan;
    plan.bytes_read = std::min<std::uint32_t>(length_read_byte0, kDescriptorReadLimit);
    plan.dump_bytes = std::min<std::uint32_t>(full_read_byte0, plan.bytes_read);
    if (full_read_byte0 != length_read_byte0)
        plan.notes.push_back(Format("Descriptor length changed between reads: %u, then %u bytes.",
                                    length_read_byte0, full_read_byte0));
    if (configuration) {
        plan.save = full_read_byte0 <= plan.bytes_read;
        if (!plan.save)
            plan.notes.push_back(
                Format("Not saved: the descriptor is %u bytes long, only %u bytes were read.",
                       full_read_byte0, plan.bytes_read));
    }
    return plan;
}

bool DescriptorFileAccepted(std::span<const std::uint8_t> head, std::uint64_t file_length,
                            std::uint32_t idn) {
    if (file_length < 2 || head.size() < 2) return false;
    return head[1] == idn && file_length == head[0];
}

DescriptorFileContent ReadDescriptorFile(const std::string& path) {
    DescriptorFileContent out;
    auto fail = [&out](DescriptorFileContent::Status status, int error, std::string reason) {
        out.status = status;
        out.error = error;
        out.reason = std::move(reason);
        out.head.clear();
        return out;
    };
    // Regular files only: a FIFO chosen here would block the user-interface thread for good.
    std::string why;
    const fileio::File fd = fileio::OpenForReading(path, why);
    if (!fd.IsOpen()) return fail(DescriptorFileContent::Status::OpenFailed, errno, why);
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0)
        return fail(DescriptorFileContent::Status::ReadFailed, errno, std::generic_category().message(errno));
    const std::size_t want = static_cast<std::size_t>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(st.st_size), kDescriptorBufferSize));
    out.head.resize(want);
    std::size_t got = 0;
    if (const int error = fileio::ReadAllAt(fd.Get(), out.head.data(), want, 0, got); error != 0)
        return fail(DescriptorFileContent::Status::ReadFailed, error, std::generic_category().message(error));
    // A file that ends early shrank under us: what we hold is not the file
    // its length describes.
    if (got < want)
        return fail(DescriptorFileContent::Status::ReadFailed, EIO, std::generic_category().message(EIO));
    out.length = static_cast<std::uint64_t>(st.st_size);
    return out;
}

std::string SaveDescriptorFile(const std::string& path, std::span<const std::uint8_t> bytes) {
    // A file the operator made read-only stays as it is, as creating it for
    // writing would refuse; renaming over it would not.
    if (::access(path.c_str(), F_OK) == 0 && ::access(path.c_str(), W_OK) != 0)
        return std::generic_category().message(errno);
    std::string why;
    if (!fileio::ReplaceWhole(
            path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), why))
        return why;
    return {};
}

}  // namespace kt
