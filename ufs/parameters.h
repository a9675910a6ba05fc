// Flags and attributes: their names, sizes, how a host may access them, whether they survive a
// power cycle, how they are addressed, and from which version (or with which feature) a device has
// them. The values they start at and the range a write may give are UFS's where it fixes them.
#pragma once

#include <cstdint>
#include <span>

namespace kt::ufs {

enum class Access : std::uint8_t {
    ReadOnly,
    ReadWrite,
    WriteOnce,     // once set (non-zero) it stays
    SetOnly,       // the host sets, the device clears
    WriteOnly,     // cannot be read
    PowerOnReset,  // the host sets, only a reset or power cycle clears
};
// "read only", "read/write", ...
const char* AccessName(Access access);

enum class Indexing : std::uint8_t { Device, PerUnit, PerUnitContext };

// What a parameter needs besides its version: a device without the feature has none of them.
enum class Feature : std::uint8_t { None, Hpb };

struct FlagInfo {
    std::uint8_t idn;
    const char* name;
    Access access;
    bool persistent;
    std::uint8_t power_on;  // after power-on or reset
    std::uint16_t since;    // first version (BCD) that has it
    Feature feature = Feature::None;
};

struct AttributeInfo {
    std::uint8_t idn;
    const char* name;
    std::uint8_t size;  // bytes
    Access access;
    bool persistent;
    Indexing indexing;
    std::uint16_t since;
    std::uint32_t power_on;  // a new device's value, and a volatile one's after power-on
    std::uint32_t min, max;  // what a write may give
};

// In IDN order.
std::span<const FlagInfo> Flags();
std::span<const AttributeInfo> Attributes();
// nullptr for an IDN UFS leaves unassigned in every version up to 4.0.
const FlagInfo* FindFlag(std::uint8_t idn);
const AttributeInfo* FindAttribute(std::uint8_t idn);
const char* FlagName(std::uint8_t idn);
const char* AttributeName(std::uint8_t idn);

}  // namespace kt::ufs
