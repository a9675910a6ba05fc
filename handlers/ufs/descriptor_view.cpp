#include "handlers/ufs/descriptor_view.h"

#include <optional>

#include "common/text_format.h"
#include "descriptor_fields.h"
#include "handlers/ufs/hex_field.h"

namespace kt {
namespace {

std::string OrReserved(const char* name) { return name ? name : "reserved"; }

std::string VersionText(std::uint64_t v) {
    return Format("UFS %u.%u%s", static_cast<unsigned>(v >> 8 & 0xFF), static_cast<unsigned>(v >> 4 & 0xF),
                  (v & 0xF) != 0 ? Format(".%u", static_cast<unsigned>(v & 0xF)).c_str() : "");
}

std::string ValueText(std::uint8_t idn, const kt62emu::DecodedField& f) {
    if (!f.text.empty() || (idn == 0x05 && f.name == "UC")) return "\"" + f.text + "\"";
    if (!f.numeric) return {};
    if (f.name == "wSpecVersion") return VersionText(f.value);
    // Binary-coded decimal versions: 0x0180 is 1.8.
    if (f.name.starts_with("bcd"))
        return Format("%X.%X", static_cast<unsigned>(f.value >> 8),
                      static_cast<unsigned>(f.value >> 4 & 0xF));
    if (f.name == "bDescriptorIDN")
        return Format("0x%02X %s", static_cast<unsigned>(f.value),
                      OrReserved(kt62emu::DescriptorName(static_cast<std::uint8_t>(f.value))).c_str());
    return Format("0x%0*llX (%llu)", static_cast<int>(2 * f.size), static_cast<unsigned long long>(f.value),
                  static_cast<unsigned long long>(f.value));
}

}  // namespace

std::string DescriptorViewTitle(std::uint8_t idn, std::uint8_t index) {
    const char* name = kt62emu::DescriptorName(idn);
    return Format("%s descriptor (IDN 0x%02X), index 0x%02X", name ? name : "Unknown", idn, index);
}

std::vector<DescriptorViewRow> DescriptorView(std::uint8_t idn, std::uint8_t index,
                                              std::span<const std::uint8_t> bytes,
                                              std::uint16_t spec_version) {
    std::vector<DescriptorViewRow> rows;
    for (const kt62emu::DecodedField& f : kt62emu::DecodeDescriptor(idn, index, bytes, spec_version)) {
        DescriptorViewRow row{Format("0x%02zX", f.offset), f.name, {}, ValueText(idn, f)};
        for (std::size_t i = 0; i < f.bytes.size(); ++i)
            row.raw += Format(i == 0 ? "%02X" : " %02X", static_cast<unsigned>(f.bytes[i]));
        rows.push_back(std::move(row));
    }
    return rows;
}

ParameterTooltips ParameterTooltipsFor(std::string_view idn_text, std::string_view index_text) {
    ParameterTooltips tips;
    const std::optional<std::uint32_t> idn_field = ParseHexField(idn_text);
    if (!idn_field) return tips;
    const std::uint8_t idn = Low8(*idn_field);
    const std::string flag = OrReserved(kt62emu::FlagName(idn));
    const std::string attribute = OrReserved(kt62emu::AttributeName(idn));
    const char* descriptor = kt62emu::DescriptorName(idn);
    tips.idn = Format("Flag 0x%02X: %s\nAttribute 0x%02X: %s\nDescriptor 0x%02X: %s", idn, flag.c_str(), idn,
                      attribute.c_str(), idn,
                      descriptor ? (std::string(descriptor) + " descriptor").c_str() : "reserved");
    tips.value = Format("The value of attribute %s", attribute.c_str());
    if (const std::optional<std::uint32_t> index_field = ParseHexField(index_text)) {
        const std::uint8_t index = Low8(*index_field);
        std::string target;
        if (idn == 0x02)
            target = index == 0xC4 ? "the RPMB well-known unit" : Format("logical unit %u", index);
        else if (idn == 0x05)
            target = Format("the string at index 0x%02X", index);
        else
            target = Format("index %u", index);
        tips.index =
            Format("%s descriptor: %s\nAttribute %s: index %u (the logical unit of a per-unit attribute)",
                   descriptor ? descriptor : "Reserved", target.c_str(), attribute.c_str(), index);
    }
    return tips;
}

}  // namespace kt
