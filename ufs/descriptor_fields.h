// Descriptors taken apart field by field, with what each value means where UFS defines it: pure
// tables and arithmetic, for every view of descriptor bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kt::ufs {

struct DecodedField {
    std::size_t offset = 0;
    std::size_t size = 0;
    std::string name;
    // Fields of up to 8 bytes: their big-endian value. Longer ones: bytes only.
    bool numeric = false;
    std::uint64_t value = 0;
    std::vector<std::uint8_t> bytes;
    std::string text;     // string descriptors: the characters
    std::string meaning;  // "enhanced 1", "3.1", "4096 bytes"; "" where UFS gives none
};

// The fields of a descriptor read with this IDN and index, in offset order, covering every byte
// of it: bytes no field names show up as "reserved". Nothing past the bytes given is invented.
// Layouts follow the descriptor's own length; where one length carries two meanings (the RPMB
// unit descriptor before and from 3.0) the device's wSpecVersion decides (0: not known, 2.x).
std::vector<DecodedField> DecodeDescriptor(std::uint8_t idn, std::uint8_t index,
                                           std::span<const std::uint8_t> bytes,
                                           std::uint16_t version_bcd = 0);

// "Device", "Configuration", ...; nullptr for an IDN UFS leaves unassigned up to 4.0.
const char* DescriptorName(std::uint8_t idn);

// wSpecVersion of a device descriptor, or 0 when the bytes do not reach it.
std::uint16_t VersionOf(std::span<const std::uint8_t> device_descriptor);

// What a field's value means: "" where UFS defines no meaning or the value has none.
// block_exponent: the descriptor's bLogicalBlockSize, for its block counts.
std::string FieldMeaning(const std::string& name, std::uint64_t value, std::uint8_t block_exponent);

}  // namespace kt::ufs
