// The data of the logical units: one sparse file per unit in the device's
// folder, read and written in place with pread/pwrite. A unit whose layout
// changes gets a file of a new generation, so old data never shows through.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
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
    // Makes the missing data file of every enabled unit, sparse and of the unit's size: from then
    // on a missing or resized file is lost data, never taken for a unit nobody wrote. KT62_OK, or
    // KT62_E_STATE_IO when the file system cannot hold a unit that large.
    int32_t Prepare(const std::array<UnitTarget, kUnits>& units, std::string& error);
    // Whether the folder's file system can hold these units' files, without touching the folder's
    // own files. KT62_OK or KT62_E_STATE_IO with the reason.
    static int32_t Probe(const std::filesystem::path& dir, const std::array<UnitTarget, kUnits>& units,
                         std::string& error);
    // nullopt when the data file of every enabled unit is there with the unit's size, else what
    // is wrong ("<file>: <reason>").
    std::optional<std::string> Check(const std::array<UnitTarget, kUnits>& units) const;
    // Whether a unit data file of the folder holds any written block.
    bool HoldsData() const;
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
    static void Drop(Open& o);

    std::filesystem::path dir_;
    std::array<Open, kUnits> open_{};
};

}  // namespace kt62::emu
