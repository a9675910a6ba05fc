#include "handlers/ufs/hex_field.h"

#include "common/control_ids.h"
#include "common/text_format.h"

namespace kt {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<std::uint32_t> ParseHexField(std::string_view text, bool* wider) {
    if (wider) *wider = false;
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i >= text.size() || HexDigit(text[i]) < 0) return std::nullopt;
    // "0x" without a digit after it still reads as the number 0.
    if (text[i] == '0' && i + 2 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        HexDigit(text[i + 2]) >= 0)
        i += 2;
    std::uint32_t value = 0;
    for (; i < text.size(); ++i) {
        const int d = HexDigit(text[i]);
        if (d < 0) break;
        if (wider && (value >> 28) != 0) *wider = true;
        value = (value << 4) | static_cast<std::uint32_t>(d);
    }
    return negative ? 0u - value : value;
}

std::string HexFieldRefusalText(std::string_view label) {
    const std::string l(label);
    return Format("Invalid %s: enter a hexadecimal number. Nothing was sent.", l.c_str());
}

const HexField kIdnField{IDC_EDIT_IDN, "IDN(hex)"};
const HexField kIndexField{IDC_EDIT_INDEX, "Index(hex)"};
const HexField kSelectorField{IDC_EDIT_SELECTOR, "selector(hex)"};
const HexField kValueField{IDC_EDIT_VALUE, "Value(hex)"};
const HexField kDmeRegField{IDC_EDIT_DME_REG, "REG(hex)"};

std::optional<std::uint32_t> ReadHexField(CommandContext& ctx, const HexField& field) {
    bool wider = false;
    const auto value = ParseHexField(ctx.Ui().GetText(field.id), &wider);
    if (!value) ctx.ShowLog(HexFieldRefusalText(field.label));
    if (!value || !wider) return value;
    ctx.ShowLog(Format("Invalid %s: more than 32 bits. Nothing was sent.", field.label));
    return std::nullopt;
}

std::optional<QueryAddress> ReadQueryAddress(CommandContext& ctx) {
    const auto idn = ReadHexField(ctx, kIdnField);
    if (!idn) return std::nullopt;
    const auto index = ReadHexField(ctx, kIndexField);
    if (!index) return std::nullopt;
    const auto selector = ReadHexField(ctx, kSelectorField);
    if (!selector) return std::nullopt;
    return QueryAddress{*idn, *index, *selector};
}

}  // namespace kt
