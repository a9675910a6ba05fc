// The engineering panel's hexadecimal fields: their text, read the way the
// "%X" conversion reads it, and the refusal shown when a field holds no
// number at all.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "handlers/base/command_context.h"

namespace kt {

// Reads text as "%X" does: leading white space skipped, an optional sign,
// an optional 0x/0X prefix, hexadecimal digits of either case up to the
// first other character (the rest is ignored). The value keeps the low 32
// bits, as a 32-bit conversion target does; a minus sign negates it modulo
// 2^32. nullopt when no digit follows the white space (and sign), e.g. for
// "" or "G1": "%X" then assigns nothing.
// wider: set when the digits hold more than 32 bits (what "%X" would cut).
std::optional<std::uint32_t> ParseHexField(std::string_view text, bool* wider = nullptr);

// The pane text that refuses a command whose field holds no number. Names
// the field by its label, so the operator sees which one to fix.
std::string HexFieldRefusalText(std::string_view label);

// A panel field: its control and the label beside it.
struct HexField {
    int id;
    const char* label;
};

extern const HexField kIdnField;
extern const HexField kIndexField;
extern const HexField kSelectorField;
extern const HexField kValueField;
extern const HexField kDmeRegField;

// Reads a field from the window. When it holds no number, or one wider than
// the 32 bits the library's calls take, the refusal replaces the pane and
// nullopt comes back: the caller then stops before
// anything reaches the device, since guessing 0 for an IDN on a write is
// how a part gets bricked.
std::optional<std::uint32_t> ReadHexField(CommandContext& ctx, const HexField& field);

// The low 8 bits, for the library's 8-bit IDN, index and selector.
inline std::uint8_t Low8(std::uint32_t value) { return static_cast<std::uint8_t>(value & 0xFFu); }

// The IDN, Index and Selector fields, read in that order; nullopt (after the
// refusal) at the first that holds no number.
struct QueryAddress {
    std::uint32_t idn, index, selector;
};
std::optional<QueryAddress> ReadQueryAddress(CommandContext& ctx);

}  // namespace kt
