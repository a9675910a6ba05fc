// A production job: what part is expected, the unit layout to give it, the images to write into
// its units and how to check them. Read from a job file (or a board's provisioning file imported as
// a layout); planned against a device's geometry; run on one or more programmers.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kt::production {

// bMemoryType.
enum class MemoryType : std::uint8_t {
    Normal = 0,
    SystemCode = 1,
    NonPersistent = 2,
    Enhanced1 = 3,
    Enhanced2 = 4,
    Enhanced3 = 5,
    Enhanced4 = 6,
};
// bBootLunID.
enum class BootRole : std::uint8_t { None = 0, A = 1, B = 2 };
// bLUWriteProtect.
enum class WriteProtect : std::uint8_t { None = 0, PowerOn = 1, Permanent = 2 };

// One logical unit of the layout. Units the layout does not name are disabled.
struct UnitRequest {
    int lun = 0;
    bool rest = false;             // takes what the others leave (one unit at most)
    std::uint64_t size_bytes = 0;  // asked for, when not `rest`
    MemoryType memory_type = MemoryType::Normal;
    BootRole boot = BootRole::None;
    WriteProtect write_protect = WriteProtect::None;
    std::uint8_t data_reliability = 0;
    std::uint8_t block_exponent = 12;  // bLogicalBlockSize: 2^12 = 4096-byte blocks
    std::uint8_t provisioning_type = 0;
    std::uint16_t context_capabilities = 0;
};

// The configuration header's device-wide settings.
struct DeviceSettings {
    std::uint8_t boot_enable = 1;            // bBootEnable
    std::uint8_t descr_access_en = 0;        // bDescrAccessEn
    std::uint8_t init_power_mode = 1;        // bInitPowerMode: active
    std::uint8_t high_priority_lun = 0x7F;   // bHighPriorityLUN: all the same
    std::uint8_t secure_removal_type = 0;    // bSecureRemovalType
    std::uint8_t init_active_icc_level = 0;  // bInitActiveICCLevel
    std::uint16_t periodic_rtc_update = 0;   // wPeriodicRTCUpdate
};

struct WriteBoosterRequest {
    bool enabled = false;
    bool shared = false;           // one buffer for all units; else dedicated to `lun`
    int lun = 0;                   // the unit a dedicated buffer belongs to
    std::uint64_t size_bytes = 0;  // asked for
    bool preserve_user_space = false;
    // The size in allocation units instead, as a board's provisioning file gives it (size_bytes is 0
    // then): the geometry turns it into bytes.
    std::uint32_t alloc_units = 0;
};

struct Layout {
    DeviceSettings device;
    std::vector<UnitRequest> units;  // ascending lun, each at most once
    WriteBoosterRequest write_booster;
    std::optional<std::uint8_t> boot_lun_en;  // bBootLunEn to set after the images: 0, 1 (A) or 2 (B)
};

// What the part must be before anything is written. Absent members are not checked.
struct Expected {
    std::optional<std::uint16_t> manufacturer_id;  // wManufacturerID
    std::string product_pattern;                   // glob (* and ?) over the product name; "" any
    std::optional<std::uint16_t> min_version;      // wSpecVersion, BCD, inclusive
    std::optional<std::uint16_t> max_version;
    std::uint64_t min_raw_capacity_bytes = 0;  // qTotalRawDeviceCapacity × 512
};

struct ImageEntry {
    std::string path;  // as written in the job, relative paths from the job file's folder
    int lun = 0;
    std::uint32_t start_sector = 0;                      // in the unit's logical blocks
    std::optional<std::array<std::uint8_t, 32>> sha256;  // of the file, when the job gives it
};

// A device flag the run sets (or clears) after the images, with bBootLunEn.
struct FlagSetting {
    std::uint8_t idn = 0;  // the flag's IDN
    bool value = true;
};

enum class Verify : std::uint8_t {
    None,
    ReadBack,  // read the range back and compare it with the file
    Hash,      // read the range back and compare its SHA-256 with the file's
};

struct Job {
    std::string folder;  // the job file's folder, for relative image paths
    Expected expect;
    std::optional<Layout> layout;  // absent: the part's configuration is left as it is
    bool lock = false;             // bConfigDescrLock after the run; also needs the command line's consent
    std::vector<ImageEntry> images;
    std::vector<FlagSetting> flags;  // set in the order of their names
    Verify verify = Verify::ReadBack;
    std::string layout_from;            // the provisioning file the layout came from, "" if none
    std::vector<std::string> imported;  // what each of its values became, to show before a plan
};

}  // namespace kt::production
