#include "ufs/versions.h"

#include <cstdio>

namespace kt::ufs {
namespace {

// 2.x and 3.0 share the 2.x layouts; 3.1 grows the device, configuration, unit, geometry and
// health descriptors, and 4.0 keeps the 3.1 sizes. The interconnect of 2.x (UniPro 1.6, M-PHY 3.0)
// is our reading, not checked against a part; 4.0's PA_*VerInfo 6 (UniPro 2.0) continues the
// 1.8 = 5 numbering.
constexpr VersionLayout kVersions[] = {
    {"2.0", 0x0200, 0x40, 0x90, 0x10, 0x10, 0x23, 0x48, 0x25, 0x0160, 0x0300, 3, 3},
    {"2.1", 0x0210, 0x40, 0x90, 0x10, 0x10, 0x23, 0x48, 0x25, 0x0160, 0x0300, 3, 3},
    {"2.2", 0x0220, 0x40, 0x90, 0x10, 0x10, 0x23, 0x48, 0x25, 0x0160, 0x0300, 3, 3},
    {"3.0", 0x0300, 0x40, 0x90, 0x10, 0x10, 0x23, 0x48, 0x25, 0x0180, 0x0410, 5, 4},
    {"3.1", 0x0310, 0x59, 0xE6, 0x16, 0x1A, 0x2D, 0x57, 0x2D, 0x0180, 0x0410, 5, 4},
    {"4.0", 0x0400, 0x59, 0xE6, 0x16, 0x1A, 0x2D, 0x57, 0x2D, 0x0200, 0x0500, 6, 5},
};

}  // namespace

std::span<const VersionLayout> Versions() { return kVersions; }

const VersionLayout* FindVersion(std::string_view name) {
    for (const VersionLayout& v : kVersions)
        if (name == v.name) return &v;
    return nullptr;
}

std::string VersionText(std::uint16_t bcd) {
    char buf[16];
    const unsigned major = bcd >> 8 & 0xFF;
    const unsigned minor = bcd >> 4 & 0xF;
    const unsigned suffix = bcd & 0xF;
    if (suffix != 0)
        (void)std::snprintf(buf, sizeof buf, "%X.%X.%X", major, minor, suffix);  // 7 characters at most
    else
        (void)std::snprintf(buf, sizeof buf, "%X.%X", major, minor);
    return buf;
}

}  // namespace kt::ufs
