// The DME attribute read: access kind from the list and the success text.
#pragma once

#include <cstdint>
#include <string>

namespace kt {

inline constexpr std::uint8_t kDmeGet = 1;      // the programmer's side of the link
inline constexpr std::uint8_t kDmePeerGet = 3;  // the UFS device's side

// List position 0 reads the local side; anything else, including no
// selection (-1), reads the peer.
constexpr std::uint8_t DmeKindForSelection(int selection) { return selection == 0 ? kDmeGet : kDmePeerGet; }

// "Get DME (0100h) = 0x00000012" / "Get DME PEER (...)".
std::string DmeSuccessText(std::uint8_t kind, std::uint32_t attr_id, std::uint32_t value);

}  // namespace kt
