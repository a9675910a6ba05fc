// The lock that keeps one emulated programmer open by one handle at a time,
// across processes: an flock'ed file in the programmer's state folder.
#pragma once

#include <filesystem>
#include <string>

namespace kt62::emu {

class LockFile {
public:
    LockFile() = default;
    ~LockFile();
    LockFile(LockFile&& other) noexcept;
    LockFile& operator=(LockFile&& other) noexcept;
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

    enum class Outcome { Locked, InUse, Failed };
    // Creates the state folder (see PrepareStateFolder) and the file when missing, never through a
    // link, then tries the lock without waiting. On InUse `why` is " by process <pid>" when the
    // holder is known; on Failed it says what failed.
    static Outcome Acquire(const std::filesystem::path& file, LockFile& out, std::string& why);

    bool Held() const { return fd_ >= 0; }
    void Release();

private:
    int fd_ = -1;
};

}  // namespace kt62::emu
