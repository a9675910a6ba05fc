// The words a job file and the imports' reports use for the layout's enumerations, both ways.
#pragma once

#include <optional>
#include <string_view>

#include "production/job.h"

namespace kt::production {

// "normal", "system-code", "non-persistent", "enhanced1" .. "enhanced4".
std::string_view MemoryName(MemoryType type);
std::optional<MemoryType> MemoryFromName(std::string_view name);
// "none", "A", "B".
std::string_view BootName(BootRole role);
std::optional<BootRole> BootFromName(std::string_view name);
// "none", "power-on", "permanent".
std::string_view WriteProtectName(WriteProtect wp);
std::optional<WriteProtect> WriteProtectFromName(std::string_view name);
// bProvisioningType: "full" 0, "thin" 2 (unmapped reads undefined), "thin-tprz" 3 (read as zeros).
std::string_view ProvisioningName(std::uint8_t type);  // "" for a value without a name
std::optional<std::uint8_t> ProvisioningFromName(std::string_view name);
// "read-back", "hash", "none".
std::optional<Verify> VerifyFromName(std::string_view name);

}  // namespace kt::production
