// The plan as an operator reads it before anything is written.
#include "production/plan.h"

#include <array>
#include <cstdio>
#include <iterator>

#include "ufs/descriptor_fields.h"
#include "ufs/versions.h"

namespace kt::production {
namespace {

// "4 MiB", "3 GiB", "1536 KiB": the largest binary unit that divides the size; else the largest
// below it, to a tenth ("682.7 MiB").
std::string SizeText(std::uint64_t bytes) {
    static constexpr const char* kUnits[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
    std::size_t unit = 0;
    std::uint64_t whole = bytes;
    while (unit + 1 < std::size(kUnits) && whole != 0 && whole % 1024 == 0) {
        whole /= 1024;
        ++unit;
    }
    if (whole < 1024 || unit + 1 == std::size(kUnits)) return std::to_string(whole) + " " + kUnits[unit];
    auto value = static_cast<double>(bytes);
    for (unit = 0; unit + 1 < std::size(kUnits) && value >= 1024; ++unit) value /= 1024;
    char text[32];
    (void)std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

std::string Row(const std::string& unit, const std::string& memory, const std::string& boot,
                const std::string& asked, const std::string& alloc, const std::string& granted,
                const std::string& blocks) {
    char line[256];
    (void)std::snprintf(line, sizeof line, "%-5s %-15s %-5s %-12s %12s  %-12s %s", unit.c_str(),
                        memory.c_str(), boot.c_str(), asked.c_str(), alloc.c_str(), granted.c_str(),
                        blocks.c_str());
    std::string row = line;
    row.erase(row.find_last_not_of(' ') + 1);
    return row + "\n";
}

std::string UnitRow(const UnitPlan& p) {
    const std::array<std::string, kPlanColumns> c = PlanCells(p);
    return Row(c[0], c[1], c[2], c[3], c[4], c[5], c[6]);
}

std::string HexDump(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    char cell[24];
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        if (at % 16 == 0) {
            (void)std::snprintf(cell, sizeof cell, "%s%04zX ", at == 0 ? "" : "\n", at);
            out += cell;
        }
        (void)std::snprintf(cell, sizeof cell, " %02X", bytes[at]);
        out += cell;
    }
    return out + "\n";
}

}  // namespace

std::array<std::string, kPlanColumns> PlanCells(const UnitPlan& unit) {
    const UnitRequest& u = unit.request;
    const char* boot = u.boot == BootRole::A ? "A" : u.boot == BootRole::B ? "B" : "-";
    return {std::to_string(u.lun),
            ufs::FieldMeaning("bMemoryType", static_cast<std::uint8_t>(u.memory_type), 0),
            boot,
            u.rest ? "rest" : SizeText(u.size_bytes),
            std::to_string(unit.alloc_units),
            SizeText(unit.granted_bytes),
            std::to_string(unit.blocks) + " x " + SizeText(std::uint64_t{1} << u.block_exponent)};
}

std::string RenderPlan(const Plan& plan) {
    const DeviceFacts& f = plan.facts;
    std::string out = "UFS " + ufs::VersionText(f.spec_version) + " part: allocation unit " +
                      SizeText(f.AllocUnitBytes()) + ", " + std::to_string(f.total_alloc_units) +
                      " allocation units\n";
    out += Row("unit", "memory", "boot", "asked", "alloc units", "granted", "blocks");
    std::uint64_t granted = 0;
    std::uint32_t units_alloc = 0;
    for (const UnitPlan& p : plan.units) {
        out += UnitRow(p);
        granted += p.granted_bytes;
        units_alloc += p.alloc_units;
    }
    out += Row("total", "", "", "", std::to_string(units_alloc), SizeText(granted), "");
    if (plan.wb_alloc_units != 0) {
        const bool shared =
            ufs::DecodeWriteBoosterHeader(f.config_layout, plan.configuration.data()).type == ufs::kWbShared;
        out += "WriteBooster buffer: " + std::to_string(plan.wb_alloc_units) + " allocation units (" +
               SizeText(std::uint64_t{plan.wb_alloc_units} * f.AllocUnitBytes()) + "), " +
               (shared ? "shared" : "dedicated") + ", " +
               (plan.used_alloc_units == units_alloc
                    ? std::string("user space preserved")
                    : "taking " + std::to_string(plan.used_alloc_units - units_alloc) +
                          " allocation units of user space") +
               "\n";
    }
    out += "Allocation units used: " + std::to_string(plan.used_alloc_units) + " of " +
           std::to_string(f.total_alloc_units) + "\n";
    out += "Configuration descriptor, " + std::to_string(plan.configuration.size()) + " bytes:\n";
    return out + HexDump(plan.configuration);
}

}  // namespace kt::production
