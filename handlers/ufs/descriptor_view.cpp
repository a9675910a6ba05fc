#include "handlers/ufs/descriptor_view.h"

#include <optional>

#include "common/text_format.h"
#include "handlers/ufs/hex_field.h"
#include "ufs/descriptor_fields.h"
#include "ufs/idn.h"
#include "ufs/parameters.h"

namespace kt {
namespace {

std::string OrReserved(const char* name) { return name ? name : "reserved"; }

std::string ValueText(std::uint8_t idn, const ufs::DecodedField& f) {
    if (!f.text.empty() || (idn == ufs::kStringDescriptor && f.name == "UC")) return "\"" + f.text + "\"";
    if (!f.numeric) return {};
    if (f.name == "wSpecVersion") return "UFS " + f.meaning;
    if (f.name.starts_with("bcd")) return f.meaning;
    if (f.name == "bDescriptorIDN")
        return Format("0x%02X %s", static_cast<unsigned>(f.value),
                      OrReserved(ufs::DescriptorName(static_cast<std::uint8_t>(f.value))).c_str());
    return Format("0x%0*llX (%llu)", static_cast<int>(2 * f.size), static_cast<unsigned long long>(f.value),
                  static_cast<unsigned long long>(f.value));
}

}  // namespace

std::string DescriptorViewTitle(std::uint8_t idn, std::uint8_t index) {
    const char* name = ufs::DescriptorName(idn);
    return Format("%s descriptor (IDN 0x%02X), index 0x%02X", name ? name : "Unknown", idn, index);
}

std::vector<DescriptorViewRow> DescriptorView(std::uint8_t idn, std::uint8_t index,
                                              std::span<const std::uint8_t> bytes,
                                              std::uint16_t spec_version) {
    std::vector<DescriptorViewRow> rows;
    for (const ufs::DecodedField& f : ufs::DecodeDescriptor(idn, index, bytes, spec_version)) {
        DescriptorViewRow row{Format("0x%02zX", f.offset), f.name, {}, ValueText(idn, f), f.meaning};
        // Versions and the IDN read as their meaning in the value already.
        if (row.value.find(f.meaning) != std::string::npos) row.meaning.clear();
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
    const std::string flag = OrReserved(ufs::FlagName(idn));
    const std::string attribute = OrReserved(ufs::AttributeName(idn));
    const char* descriptor = ufs::DescriptorName(idn);
    tips.idn = Format("Flag 0x%02X: %s\nAttribute 0x%02X: %s\nDescriptor 0x%02X: %s", idn, flag.c_str(), idn,
                      attribute.c_str(), idn,
                      descriptor ? (std::string(descriptor) + " descriptor").c_str() : "reserved");
    tips.value = Format("The value of attribute %s", attribute.c_str());
    if (const std::optional<std::uint32_t> index_field = ParseHexField(index_text)) {
        const std::uint8_t index = Low8(*index_field);
        std::string target;
        if (idn == ufs::kUnitDescriptor)
            target =
                index == ufs::kRpmbUnitIndex ? "the RPMB well-known unit" : Format("logical unit %u", index);
        else if (idn == ufs::kStringDescriptor)
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
