#include "production/job_names.h"

#include <array>
#include <utility>

namespace kt::production {
namespace {

template <typename T, std::size_t N>
std::optional<T> Find(const std::array<std::pair<T, std::string_view>, N>& table, std::string_view name) {
    for (const auto& [value, text] : table) {
        if (text == name) return value;
    }
    return std::nullopt;
}

template <typename T, std::size_t N>
std::string_view Name(const std::array<std::pair<T, std::string_view>, N>& table, T value) {
    for (const auto& [v, text] : table) {
        if (v == value) return text;
    }
    return {};
}

constexpr std::array<std::pair<MemoryType, std::string_view>, 7> kMemory{{
    {MemoryType::Normal, "normal"},
    {MemoryType::SystemCode, "system-code"},
    {MemoryType::NonPersistent, "non-persistent"},
    {MemoryType::Enhanced1, "enhanced1"},
    {MemoryType::Enhanced2, "enhanced2"},
    {MemoryType::Enhanced3, "enhanced3"},
    {MemoryType::Enhanced4, "enhanced4"},
}};
constexpr std::array<std::pair<BootRole, std::string_view>, 3> kBoot{{
    {BootRole::None, "none"},
    {BootRole::A, "A"},
    {BootRole::B, "B"},
}};
constexpr std::array<std::pair<WriteProtect, std::string_view>, 3> kWriteProtect{{
    {WriteProtect::None, "none"},
    {WriteProtect::PowerOn, "power-on"},
    {WriteProtect::Permanent, "permanent"},
}};
constexpr std::array<std::pair<std::uint8_t, std::string_view>, 3> kProvisioning{{
    {0, "full"},
    {2, "thin"},
    {3, "thin-tprz"},
}};
constexpr std::array<std::pair<Verify, std::string_view>, 3> kVerify{{
    {Verify::ReadBack, "read-back"},
    {Verify::Hash, "hash"},
    {Verify::None, "none"},
}};

}  // namespace

std::string_view MemoryName(MemoryType type) { return Name(kMemory, type); }
std::optional<MemoryType> MemoryFromName(std::string_view name) { return Find(kMemory, name); }
std::string_view BootName(BootRole role) { return Name(kBoot, role); }
std::optional<BootRole> BootFromName(std::string_view name) { return Find(kBoot, name); }
std::string_view WriteProtectName(WriteProtect wp) { return Name(kWriteProtect, wp); }
std::optional<WriteProtect> WriteProtectFromName(std::string_view name) { return Find(kWriteProtect, name); }
std::string_view ProvisioningName(std::uint8_t type) { return Name(kProvisioning, type); }
std::optional<std::uint8_t> ProvisioningFromName(std::string_view name) { return Find(kProvisioning, name); }
std::optional<Verify> VerifyFromName(std::string_view name) { return Find(kVerify, name); }

}  // namespace kt::production
