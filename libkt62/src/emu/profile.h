// The emulator profile: what KT62_EMULATOR names, parsed and checked.
//
// Parsing never throws and never trusts the file: every value is checked for
// type and range, unknown keys are refused, and the first problem is reported
// with the key path that holds it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "faults.h"

namespace kt62 {

// Keys of the UFS device behind a programmer. Absent keys stay empty: the
// device model picks its own defaults for them.
struct LogicalUnitProfile {
    std::optional<uint8_t> enable;
    std::optional<uint8_t> boot_lun_id;
    std::optional<uint8_t> write_protect;
    std::optional<uint8_t> memory_type;
    std::optional<uint8_t> block_size_exponent;
    std::optional<uint32_t> alloc_units;
};

struct LinkProfile {
    std::optional<uint8_t> tx_mode;
    std::optional<uint8_t> tx_gear;
    std::optional<uint8_t> tx_rate_series;
    std::optional<uint8_t> rx_mode;
    std::optional<uint8_t> rx_gear;
    std::optional<uint8_t> rx_rate_series;
    std::optional<uint8_t> lanes;
};

struct UfsProfile {
    std::optional<std::string> spec_version;
    std::optional<uint64_t> raw_capacity_bytes;
    std::optional<uint64_t> segment_size_bytes;
    std::optional<uint8_t> allocation_unit_segments;
    std::optional<std::string> manufacturer_name;
    std::optional<std::string> product_name;
    std::optional<std::string> serial_number;
    std::optional<uint8_t> config_descr_lock;
    std::optional<std::vector<LogicalUnitProfile>> logical_units;
    std::optional<LinkProfile> link;
};

struct ProgrammerProfile {
    std::array<uint8_t, 3> firmware_version{1, 0, 0};
    bool get_version_supported = true;
    std::string product_name = "KT6200";
    std::string product_version = "1.05";
    UfsProfile ufs;
    std::vector<FaultRule> faults;
};

struct Profile {
    std::optional<std::string> state_dir;
    std::vector<ProgrammerProfile> programmers;
    std::vector<FaultRule> faults;  // kt62Search, kt62Open, kt62SetPacketSize
};

struct ProfileError {
    std::string key;  // e.g. "programmers[0].faults[2].after"; empty for the file as a whole
    std::string reason;
};

struct ParsedProfile {
    Profile profile;
    std::optional<ProfileError> error;
};

// Limits that keep a hostile or mistaken file from costing more than it should.
inline constexpr size_t kMaxProfileBytes = 1 << 20;
inline constexpr int kMaxNesting = 32;
inline constexpr size_t kMaxProgrammers = 64;
inline constexpr uint32_t kMaxDelayMs = 60000;

// The profile used without KT62_EMULATOR: one programmer with defaults.
Profile DefaultProfile();

ParsedProfile ParseProfile(std::string_view text);

// Hex strings: pairs of hexadecimal digits, optionally separated by blanks.
std::optional<std::vector<uint8_t>> ParseHexBytes(std::string_view text);

}  // namespace kt62
