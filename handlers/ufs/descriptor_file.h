// The descriptor file: a descriptor's raw bytes, byte 0 its length and the
// file's length, byte 1 its IDN. Saved by the descriptor read, written back
// to the device by the descriptor write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kt {

inline constexpr const char* kConfigurationFileName = "configuration.descr";
inline constexpr const char* kDescriptorFileFilter = "decriptor File(*.descr)|*.descr|All files(*.*)|*.*||";

// Each command's buffer: larger than any descriptor (byte 0 is at most 255).
inline constexpr std::size_t kDescriptorBufferSize = 512;
// At most this many bytes of a descriptor are read and shown: the most a
// descriptor's byte 0 can claim, so that every descriptor, the 0xE6-byte
// configuration descriptor of 3.1 and later parts included, is shown and
// saved whole.
inline constexpr std::uint32_t kDescriptorReadLimit = 255;

// How much of a descriptor the read shows and whether it saves it, from the
// length read's byte 0 and the full read's byte 0. Only bytes the full read
// asked for are ever shown or saved, and a saved file always holds as many
// bytes as its byte 0 says, so the write command accepts it.
struct DescriptorOutputPlan {
    std::uint32_t bytes_read = 0;  // asked of the full read
    std::size_t dump_bytes = 0;
    bool save = false;
    std::vector<std::string> notes;  // appended after the dump, in order
};
DescriptorOutputPlan PlanDescriptorOutput(std::uint8_t length_read_byte0, std::uint8_t full_read_byte0,
                                          bool configuration);

// The write command's check of a file: at least 2 bytes, byte 1 equal to
// the IDN field's whole value, and the file's length equal to byte 0.
// head: the file's first bytes (all of it when it fits the buffer).
bool DescriptorFileAccepted(std::span<const std::uint8_t> head, std::uint64_t file_length, std::uint32_t idn);

// A descriptor file as the write command reads it: the first
// kDescriptorBufferSize bytes at most, and the file's whole length.
struct DescriptorFileContent {
    enum class Status { Ok, OpenFailed, ReadFailed };
    Status status = Status::Ok;
    int error = 0;       // errno of the failure
    std::string reason;  // the failure in words
    std::vector<std::uint8_t> head;
    std::uint64_t length = 0;
};
DescriptorFileContent ReadDescriptorFile(const std::string& path);

// Replaces the file at path by bytes. Written to a temporary file beside it
// and renamed over it only once written, flushed and closed, so a failed
// save never leaves a partial file under the real name; an existing file
// that we may not write, or that is no regular file, is left alone, and a
// symbolic link stays one (the file it names is replaced); in a folder that
// refuses new files an existing file is rewritten in place. Returns "" or
// the reason of the failure.
std::string SaveDescriptorFile(const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace kt
