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

// Unit descriptor fields.
constexpr std::size_t kUnitIndex = 0x02;
constexpr std::size_t kLuEnable = 0x03;
constexpr std::size_t kBootLunId = 0x04;
constexpr std::size_t kLuWriteProtect = 0x05;
constexpr std::size_t kMemoryType = 0x08;
constexpr std::size_t kLogicalBlockSize = 0x0A;
constexpr std::size_t kLogicalBlockCount = 0x0B;

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
    if (unit[kLuEnable] == 0) return std::nullopt;
    std::string line = Format("LUN%d, ", unit[kUnitIndex]);
    line += UnitCapacityText(BigEndian64(&unit[kLogicalBlockCount]), unit[kLogicalBlockSize]);
    line += unit[kBootLunId] != 0 ? Format("Boot%d, ", unit[kBootLunId]) : std::string("Not boot, ");
    line += MemoryTypeName(unit[kMemoryType]);
    line += unit[kLuWriteProtect] != 0 ? Format("Write Protect %d.", unit[kLuWriteProtect])
                                       : std::string("No Write Protect.");
    return line;
}

void features::LunInfo(CommandContext& ctx) {
    const KT62_HANDLE h = ctx.Device();
    ctx.ShowLog("");
    std::array<std::uint8_t, kDeviceDescriptorReadLength> device{};
    std::int32_t r = kt62UfsReadDescriptor(h, kDeviceDescriptorIdn, 0, 0, device.data(), device.size());
    if (r != 0) {
        ctx.AppendLog(CommandFailText(r));
        return;
    }
    ctx.ShowLog(LunHeaderText(device[kNumberLuOffset], device[kNumberWluOffset]));
    for (int n = 0; n < kReportedUnits; ++n) {
        // Zeroed for each unit: a short answer never shows an earlier unit's bytes.
        std::array<std::uint8_t, kUnitDescriptorReadLength> unit{};
        r = kt62UfsReadDescriptor(h, kUnitDescriptorIdn, static_cast<std::uint8_t>(n), 0, unit.data(),
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
