#include "emu/lu_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <kt62/apiKT6200.h>
#include <system_error>

namespace kt62::emu {
namespace {

std::string SysError(const std::filesystem::path& file, const char* what) {
    return file.string() + ": " + what + ": " + std::generic_category().message(errno);
}

// "lu<N>.g<G>.data" -> N, or -1.
int UnitOfFile(const std::string& name, uint32_t& generation) {
    unsigned lun = 0;
    unsigned gen = 0;
    char tail[8] = {};
    // NOLINTNEXTLINE(cert-err34-c): a number that overflows fails the comparison with FileName below
    if (std::sscanf(name.c_str(), "lu%u.g%u.%5s", &lun, &gen, tail) != 3 || std::strcmp(tail, "data") != 0 ||
        lun >= kUnits)
        return -1;
    if (name != LuStore::FileName(static_cast<int>(lun), gen)) return -1;
    generation = gen;
    return static_cast<int>(lun);
}

}  // namespace

std::string LuStore::FileName(int lun, uint32_t generation) {
    return "lu" + std::to_string(lun) + ".g" + std::to_string(generation) + ".data";
}

void LuStore::CloseAll() {
    for (Open& o : open_) {
        if (o.fd >= 0) ::close(o.fd);
        o = Open{};
    }
}

int32_t LuStore::Ensure(int lun, const UnitTarget& unit, std::string& error) {
    Open& o = open_[lun];
    if (o.fd >= 0 && o.generation == unit.generation) return KT62_OK;
    if (o.fd >= 0) ::close(o.fd);
    o = Open{};
    std::error_code ec;
    std::filesystem::create_directories(dir_, ec);
    const std::filesystem::path file = dir_ / FileName(lun, unit.generation);
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = SysError(file, "cannot open");
        return KT62_E_STATE_IO;
    }
    struct stat st {};
    // A sparse file of the unit's size: never-written blocks read as zeros.
    if (::fstat(fd, &st) != 0 || (static_cast<uint64_t>(st.st_size) != unit.Bytes() &&
                                  ::ftruncate(fd, static_cast<off_t>(unit.Bytes())) != 0)) {
        error = SysError(file, "cannot size");
        ::close(fd);
        return KT62_E_STATE_IO;
    }
    o.fd = fd;
    o.generation = unit.generation;
    return KT62_OK;
}

int32_t LuStore::Read(int lun, const UnitTarget& unit, uint64_t offset, uint8_t* buffer, uint64_t bytes,
                      uint64_t piece, std::string& error) {
    if (const int32_t r = Ensure(lun, unit, error); r != KT62_OK) return r;
    const int fd = open_[lun].fd;
    uint64_t done = 0;
    while (done < bytes) {
        const uint64_t want = std::min(piece, bytes - done);
        const ssize_t n = ::pread(fd, buffer + done, want, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = SysError(dir_ / FileName(lun, unit.generation), "read failed");
            return KT62_E_STATE_IO;
        }
        if (n == 0) {  // shortened behind our back: the rest reads as never written
            std::memset(buffer + done, 0, bytes - done);
            break;
        }
        done += static_cast<uint64_t>(n);
    }
    return KT62_OK;
}

int32_t LuStore::Write(int lun, const UnitTarget& unit, uint64_t offset, const uint8_t* buffer,
                       uint64_t bytes, uint64_t piece, std::string& error) {
    if (const int32_t r = Ensure(lun, unit, error); r != KT62_OK) return r;
    const int fd = open_[lun].fd;
    uint64_t done = 0;
    while (done < bytes) {
        const uint64_t want = std::min(piece, bytes - done);
        const ssize_t n = ::pwrite(fd, buffer + done, want, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = SysError(dir_ / FileName(lun, unit.generation), "write failed");
            return KT62_E_STATE_IO;
        }
        done += static_cast<uint64_t>(n);
    }
    return KT62_OK;
}

void LuStore::RemoveUnused(const std::array<UnitTarget, kUnits>& units) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir_, ec)) {
        uint32_t gen = 0;
        const int lun = UnitOfFile(entry.path().filename().string(), gen);
        if (lun < 0 || (units[lun].enabled && units[lun].generation == gen)) continue;
        if (open_[lun].fd >= 0 && open_[lun].generation == gen) {
            ::close(open_[lun].fd);
            open_[lun] = Open{};
        }
        std::filesystem::remove(entry.path(), ec);
    }
}

void LuStore::RemoveAll() {
    CloseAll();
    std::array<UnitTarget, kUnits> none{};
    RemoveUnused(none);
}

}  // namespace kt62::emu
