// UFS descriptors taken apart field by field, for kt62emu's show command and
// any other view of descriptor bytes: pure tables and arithmetic, no library,
// no I/O (the kt62_descriptor_fields target depends only on the library's
// pure UTF-16 decoder, kt62_utf16).
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
// Layouts follow the descriptor's own length; where one length carries two meanings (the RPMB
// unit descriptor before and from 3.0) the device's wSpecVersion decides (0: not known, 2.x).
std::vector<DecodedField> DecodeDescriptor(uint8_t idn, uint8_t index, std::span<const uint8_t> bytes,
                                           uint16_t spec_version = 0);

// What an IDN addresses, by the name UFS gives it: "Device", "Configuration", ... for descriptors,
// "fDeviceInit", ... for flags, "bBootLunEn", ... for attributes. nullptr for an IDN UFS leaves
// unassigned (or reserved) in every version up to 4.0.
const char* DescriptorName(uint8_t idn);
const char* FlagName(uint8_t idn);
const char* AttributeName(uint8_t idn);

// wSpecVersion (device descriptor bytes 0x10-0x11), or 0 when the bytes do not reach it.
uint16_t SpecVersionOf(std::span<const uint8_t> device_descriptor);

}  // namespace kt62emu
