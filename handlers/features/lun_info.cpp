// "Get LUN INfo": the device descriptor's unit counts, then unit
// descriptors 0 to 7 whatever the counts say.
#include "handlers/features/lun_info.h"

#include <array>
#include <cmath>

#include "common/failure_text.h"
#include "common/text_format.h"
#include "encoding/big_endian.h"
#include "handlers/features/descriptors.h"
#include "handlers/features/features.h"

namespace kt {
namespace {

constexpr const char* kMemoryTypeNames[] = {
    "Normal Memory, ",          "System code Memory, ",     "Non-Persistent Memory, ",
    "Enhanced type 1 Memory, ", "Enhanced type 2 Memory, ", "Enhanced type 3 Memory, ",
    "Enhanced type 4 Memory, ",
};

}  // namespace

std::string LunHeaderText(std::uint8_t number_lu, std::uint8_t number_wlu) {
    return Format("NumberLU: %d, NumberWLU: %d\r\n", number_lu, number_wlu);
}

const char* MemoryTypeName(std::uint8_t memory_type) {
    return memory_type < std::size(kMemoryTypeNames) ? kMemoryTypeNames[memory_type] : "Unknown Memory, ";
}

std::string UnitCapacityText(std::uint64_t block_count, std::uint8_t block_size_exponent) {
    // Scaling by a power of two in double precision: no integer block size
    // to overflow, however large the exponent.
    const double bytes = std::ldexp(static_cast<double>(block_count), block_size_exponent);
    if (bytes >= std::ldexp(1.0, 30)) return Format("%7.3fGB, ", std::ldexp(bytes, -30));
    return Format("%7.3fMB, ", std::ldexp(bytes, -20));
}

std::optional<std::string> LunLine(std::span<const std::uint8_t, kUnitDescriptorReadLength> unit) {
    if (unit[ufs::kUnitLuEnable] == 0) return std::nullopt;
    std::string line = Format("LUN%d, ", unit[ufs::kUnitIndex]);
    line +=
        UnitCapacityText(BigEndian64(&unit[ufs::kUnitLogicalBlockCount]), unit[ufs::kUnitLogicalBlockSize]);
    line += unit[ufs::kUnitBootLunId] != 0 ? Format("Boot%d, ", unit[ufs::kUnitBootLunId])
                                           : std::string("Not boot, ");
    line += MemoryTypeName(unit[ufs::kUnitMemoryType]);
    line += unit[ufs::kUnitLuWriteProtect] != 0 ? Format("Write Protect %d.", unit[ufs::kUnitLuWriteProtect])
                                                : std::string("No Write Protect.");
    return line;
}

void features::LunInfo(CommandContext& ctx) {
    const KT62_HANDLE h = ctx.Device();
    ctx.ShowLog("");
    std::array<std::uint8_t, kDeviceDescriptorReadLength> device{};
    std::int32_t r = kt62UfsReadDescriptor(h, ufs::kDeviceDescriptor, 0, 0, device.data(), device.size());
    if (r != 0) {
        ctx.AppendLog(CommandFailText(r));
        return;
    }
    ctx.ShowLog(LunHeaderText(device[ufs::kDeviceNumberLu], device[ufs::kDeviceNumberWlu]));
    for (int n = 0; n < kReportedUnits; ++n) {
        // Zeroed for each unit: a short answer never shows an earlier unit's bytes.
        std::array<std::uint8_t, kUnitDescriptorReadLength> unit{};
        r = kt62UfsReadDescriptor(h, ufs::kUnitDescriptor, static_cast<std::uint8_t>(n), 0, unit.data(),
                                  unit.size());
        if (r != 0) {
            ctx.AppendLog(CommandFailText(r));
            return;
        }
        if (const auto line = LunLine(unit)) ctx.AppendLog(*line);
    }
    ctx.AppendLog("\r\n    DONE");
}

}  // namespace kt
