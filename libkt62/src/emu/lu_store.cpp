#include "emu/lu_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <kt62/apiKT6200.h>
#include <system_error>

#include "emu/state_folder.h"
#include "fileio/file_access.h"

namespace kt62::emu {
namespace {

std::string SysError(const std::filesystem::path& file, const char* what, int error = errno) {
    return file.string() + ": " + what + ": " + std::generic_category().message(error);
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

// A unit's data is not flushed at close: what a process killed at any moment leaves is what it
// wrote, and a close that fails on a local file system loses nothing more.
void LuStore::Drop(Open& o) {
    if (kt::fileio::IsOpenDescriptor(o.fd)) (void)::close(o.fd);
    o = Open{};
}

void LuStore::CloseAll() {
    for (Open& o : open_) Drop(o);
}

int32_t LuStore::Ensure(int lun, const UnitTarget& unit, std::string& error) {
    Open& o = open_[lun];
    if (kt::fileio::IsOpenDescriptor(o.fd) && o.generation == unit.generation) return KT62_OK;
    Drop(o);
    const std::filesystem::path file = dir_ / FileName(lun, unit.generation);
    // Never created here: the file exists since the unit does (Prepare), so a missing one is
    // data that was lost, which must not read as zeros.
    const int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (!kt::fileio::IsOpenDescriptor(fd)) {
        error = SysError(file, "cannot open the unit's data");
        return KT62_E_STATE_IO;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) != unit.Bytes()) {
        error = file.string() + ": " + std::to_string(st.st_size) + " bytes where the unit holds " +
                std::to_string(unit.Bytes()) + ": not this unit's data";
        (void)::close(fd);
        return KT62_E_STATE_IO;
    }
    o.fd = fd;
    o.generation = unit.generation;
    return KT62_OK;
}

int32_t LuStore::Prepare(const std::array<UnitTarget, kUnits>& units, std::string& error) {
    if (!PrepareDeviceFolder(dir_, error)) return KT62_E_STATE_IO;
    for (int lun = 0; lun < kUnits; ++lun) {
        if (!units[lun].enabled) continue;
        const std::filesystem::path file = dir_ / FileName(lun, units[lun].generation);
        struct stat st {};
        if (::lstat(file.c_str(), &st) == 0) continue;
        // Made whole under another name, then renamed: a crash never leaves a file of the wrong
        // size under the unit's name.
        const std::filesystem::path made = file.string() + ".new";
        const int fd = CreateFresh(made, O_RDWR);
        if (!kt::fileio::IsOpenDescriptor(fd)) {
            error = SysError(made, "cannot create");
            return KT62_E_STATE_IO;
        }
        // Sparse: never-written blocks read as zeros and take no room.
        kt::fileio::File made_file(fd);
        if (::ftruncate(fd, static_cast<off_t>(units[lun].Bytes())) != 0) {
            error = file.string() + ": the state folder's file system cannot hold a unit of " +
                    std::to_string(units[lun].Bytes()) + " bytes: " + std::generic_category().message(errno);
            (void)::unlink(made.c_str());  // RemoveUnused takes one left behind
            return KT62_E_STATE_IO;
        }
        int failed = made_file.Close();
        if (failed == 0 && ::rename(made.c_str(), file.c_str()) != 0) failed = errno;
        if (failed != 0) {
            error = SysError(file, "cannot create", failed);
            (void)::unlink(made.c_str());
            return KT62_E_STATE_IO;
        }
    }
    return KT62_OK;
}

int32_t LuStore::Probe(const std::filesystem::path& dir, const std::array<UnitTarget, kUnits>& units,
                       std::string& error) {
    if (!PrepareDeviceFolder(dir, error)) return KT62_E_STATE_IO;
    LuStore probe(dir / ".probe");
    const int32_t r = probe.Prepare(units, error);
    std::error_code ec;
    std::filesystem::remove_all(dir / ".probe", ec);  // what stays is the next probe's to remove
    if (r != KT62_OK) error = dir.string() + error.substr(error.find(": "));  // the folder, not the probe
    return r;
}

std::optional<std::string> LuStore::Check(const std::array<UnitTarget, kUnits>& units) const {
    for (int lun = 0; lun < kUnits; ++lun) {
        if (!units[lun].enabled) continue;
        const std::filesystem::path file = dir_ / FileName(lun, units[lun].generation);
        struct stat st {};
        if (::lstat(file.c_str(), &st) != 0) return SysError(file, "cannot be opened");
        if (!S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) != units[lun].Bytes())
            return file.string() + ": " + std::to_string(st.st_size) + " bytes where unit " +
                   std::to_string(lun) + " holds " + std::to_string(units[lun].Bytes()) +
                   ": not this unit's data";
    }
    return std::nullopt;
}

bool LuStore::HoldsData() const {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir_, ec)) {
        uint32_t gen = 0;
        struct stat st {};
        // Files made for a new device whose state was never stored hold no block yet.
        if (UnitOfFile(entry.path().filename().string(), gen) >= 0 &&
            ::lstat(entry.path().c_str(), &st) == 0 && st.st_blocks > 0)
            return true;
    }
    return false;
}

// Both move a packet at a time, as the device does: a process killed meanwhile leaves whole
// packets.
int32_t LuStore::Read(int lun, const UnitTarget& unit, uint64_t offset, uint8_t* buffer, uint64_t bytes,
                      uint64_t piece, std::string& error) {
    if (const int32_t r = Ensure(lun, unit, error); r != KT62_OK) return r;
    for (uint64_t done = 0; done < bytes;) {
        const auto want = static_cast<std::size_t>(std::min(piece, bytes - done));
        std::size_t got = 0;
        if (const int e = kt::fileio::ReadAllAt(open_[lun].fd, buffer + done, want, offset + done, got);
            e != 0) {
            error = SysError(dir_ / FileName(lun, unit.generation), "read failed", e);
            return KT62_E_STATE_IO;
        }
        if (got < want) {  // shortened behind our back: the rest is lost, not zeros
            error = dir_.string() + "/" + FileName(lun, unit.generation) +
                    ": ends before the unit does: the unit's data was cut";
            return KT62_E_STATE_IO;
        }
        done += want;
    }
    return KT62_OK;
}

int32_t LuStore::Write(int lun, const UnitTarget& unit, uint64_t offset, const uint8_t* buffer,
                       uint64_t bytes, uint64_t piece, std::string& error) {
    if (const int32_t r = Ensure(lun, unit, error); r != KT62_OK) return r;
    for (uint64_t done = 0; done < bytes;) {
        const auto want = static_cast<std::size_t>(std::min(piece, bytes - done));
        if (const int e = kt::fileio::WriteAllAt(open_[lun].fd, buffer + done, want, offset + done); e != 0) {
            error = SysError(dir_ / FileName(lun, unit.generation), "write failed", e);
            return KT62_E_STATE_IO;
        }
        done += want;
    }
    return KT62_OK;
}

// A file that cannot be removed only takes room: no unit opens a name of another generation.
void LuStore::RemoveUnused(const std::array<UnitTarget, kUnits>& units) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir_, ec)) {
        uint32_t gen = 0;
        const std::string name = entry.path().filename().string();
        const int lun = UnitOfFile(name, gen);
        if (lun < 0 && name.ends_with(".data.new") && UnitOfFile(name.substr(0, name.size() - 4), gen) >= 0)
            std::filesystem::remove(entry.path(), ec);  // left by a crash while Prepare made it
        if (lun < 0 || (units[lun].enabled && units[lun].generation == gen)) continue;
        if (open_[lun].generation == gen) Drop(open_[lun]);
        std::filesystem::remove(entry.path(), ec);
    }
}

void LuStore::RemoveAll() {
    CloseAll();
    std::array<UnitTarget, kUnits> none{};
    RemoveUnused(none);
}

}  // namespace kt62::emu
