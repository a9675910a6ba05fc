// UFS descriptors taken apart field by field, for kt62emu's show command.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kt62emu {

struct DecodedField {
    size_t offset = 0;
    size_t size = 0;
    std::string name;
    // Fields of up to 8 bytes: their big-endian value. Longer ones: bytes only.
    bool numeric = false;
    uint64_t value = 0;
    std::vector<uint8_t> bytes;
    std::string text;  // string descriptors: the characters
};

// The fields of a descriptor read with this IDN and index, in offset order, covering every byte
// of it: bytes no field names show up as "reserved". Nothing past the bytes given is invented.
std::vector<DecodedField> DecodeDescriptor(uint8_t idn, uint8_t index, std::span<const uint8_t> bytes);

}  // namespace kt62emu
