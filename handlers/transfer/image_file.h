// The sector image file of a transfer: raw sectors, read and written at
// explicit offsets, so that a background read or write never depends on a
// shared file position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "fileio/file_access.h"

namespace kt {

class ImageFile {
public:
    // Creates the file, or empties an existing one, for writing; a
    // character device (/dev/null) is written as it is. false, with the
    // reason in why, for anything else or when it cannot be opened.
    bool Create(const std::string& path, std::string& why);
    // Opens an existing regular file for reading.
    bool OpenForReading(const std::string& path, std::string& why);
    bool IsOpen() const { return file_.IsOpen(); }

    // Length in bytes (0 when unknown).
    std::uint64_t Size() const;
    // Writes all bytes at offset: 0, or the errno of the failure, after
    // which the file is cut back to offset so that it ends with the last
    // whole write.
    int WriteAt(const std::uint8_t* data, std::size_t bytes, std::uint64_t offset);
    // Reads exactly bytes from offset: 0, an errno value, or kShortFile
    // (transfer_rules.h) when the file ends first.
    int ReadAt(std::uint8_t* data, std::size_t bytes, std::uint64_t offset) const;
    // 0, or the errno of a failed close (a write the system could not
    // complete).
    int Close();

private:
    fileio::File file_;
    bool claim_blocks_ = false;  // fallocate each write's range first
};

}  // namespace kt
