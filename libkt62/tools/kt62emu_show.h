// kt62emu show: the report on a programmer and its device, as text or JSON.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kt62emu {

int Show(const std::vector<std::string>& words);

// "0x" and the value in 2 * bytes hex digits.
std::string Hex(uint64_t v, size_t bytes);

}  // namespace kt62emu
