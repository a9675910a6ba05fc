// The data of the logical units: one sparse file per unit in the device's
// folder, read and written in place with pread/pwrite. A unit whose layout
// changes gets a file of a new generation, so old data never shows through.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

#include "emu/ufs_model.h"

namespace kt62::emu {

class LuStore {
public:
    explicit LuStore(std::filesystem::path dir) : dir_(std::move(dir)) {}
    ~LuStore() { CloseAll(); }
    LuStore(const LuStore&) = delete;
    LuStore& operator=(const LuStore&) = delete;

    // "lu0.g3.data"
    static std::string FileName(int lun, uint32_t generation);

    // bytes from byte offset of unit lun, in pieces of at most `piece` bytes. KT62_OK or
    // KT62_E_STATE_IO ("<file>: <reason>" in error). The caller checked the range.
    int32_t Read(int lun, const UnitTarget& unit, uint64_t offset, uint8_t* buffer, uint64_t bytes,
                 uint64_t piece, std::string& error);
    int32_t Write(int lun, const UnitTarget& unit, uint64_t offset, const uint8_t* buffer, uint64_t bytes,
                  uint64_t piece, std::string& error);

    void CloseAll();
    // Removes data files no enabled unit of this generation uses.
    void RemoveUnused(const std::array<UnitTarget, kUnits>& units);
    // Removes every data file (a new device).
    void RemoveAll();

private:
    struct Open {
        int fd = -1;
        uint32_t generation = 0;
    };
    int32_t Ensure(int lun, const UnitTarget& unit, std::string& error);

    std::filesystem::path dir_;
    std::array<Open, kUnits> open_{};
};

}  // namespace kt62::emu
