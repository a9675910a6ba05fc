// A descriptor taken apart for the Decode window, and what the panel's IDN,
// Index and Value fields address: text only, from bytes and numbers, so the
// window stays a table that shows it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kt {

struct DescriptorViewRow {
    std::string offset;   // "0x10"
    std::string name;     // "wSpecVersion", "reserved"
    std::string raw;      // the field's bytes: "03 10"
    std::string value;    // "0x0310 (784)", "UFS 3.1", "\"text\""; "" for long fields
    std::string meaning;  // what UFS says the value means: "enhanced 1", "4096 bytes"; often ""
};

// The window's title, e.g. "Unit descriptor, index 0x01".
std::string DescriptorViewTitle(std::uint8_t idn, std::uint8_t index);

// Every byte of the descriptor in a row of its field, in the layout of its
// length and of the device's UFS version (spec_version: its wSpecVersion, 0: not known).
std::vector<DescriptorViewRow> DescriptorView(std::uint8_t idn, std::uint8_t index,
                                              std::span<const std::uint8_t> bytes,
                                              std::uint16_t spec_version);

// Tooltips of the IDN, Index and Value fields: the flag, attribute and
// descriptor their numbers address ("" when a field holds no number).
struct ParameterTooltips {
    std::string idn;
    std::string index;
    std::string value;
};
ParameterTooltips ParameterTooltipsFor(std::string_view idn_text, std::string_view index_text);

}  // namespace kt
