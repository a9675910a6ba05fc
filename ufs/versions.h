// The UFS versions a device can be of, and the sizes that differ between them: descriptor lengths,
// the configuration descriptor's layout, and the interconnect each version comes with.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "ufs/configuration.h"

namespace kt::ufs {

struct VersionLayout {
    const char* name;   // "2.1"
    std::uint16_t bcd;  // wSpecVersion, 0x0210
    std::uint8_t device_len;
    std::uint8_t config_len;
    std::uint8_t config_header_len;  // bUD0BaseOffset
    std::uint8_t config_unit_len;    // bUDConfigPLength
    std::uint8_t unit_len;
    std::uint8_t geometry_len;
    std::uint8_t health_len;
    std::uint16_t unipro_bcd;
    std::uint16_t mphy_bcd;
    std::uint8_t unipro_ver_info;  // PA_LocalVerInfo / PA_RemoteVerInfo encoding
    std::uint8_t max_hs_gear;

    ConfigLayout Config() const { return {config_header_len, config_unit_len}; }
    // The layouts with the WriteBooster fields: configuration header 0x10-0x15 and unit entry
    // 0x16-0x19, mirrored in the device, unit and geometry descriptors.
    bool WriteBooster() const { return Config().WriteBooster(); }
};

// Every version, oldest first.
std::span<const VersionLayout> Versions();
// The version named "3.1", or nullptr.
const VersionLayout* FindVersion(std::string_view name);

// A BCD version as text: 0x0310 "3.1", 0x0211 "2.1.1", 0x0180 "1.8".
std::string VersionText(std::uint16_t bcd);

}  // namespace kt::ufs
