// The transfer's decimal fields (start sector, sector count, packet size):
// any text the operator can type.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "handlers/transfer/transfer_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<std::uint32_t> value = kt::ParseDecimalField(text);
    if (!value) return 0;

    // A field that reads as a number holds that number's digits and nothing
    // else but blanks around them and leading zeros.
    std::string_view digits = text;
    while (!digits.empty() && (digits.front() == ' ' || digits.front() == '\t')) digits.remove_prefix(1);
    while (!digits.empty() && (digits.back() == ' ' || digits.back() == '\t')) digits.remove_suffix(1);
    while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
    KT_FUZZ_CHECK(digits == std::to_string(*value));
    return 0;
}
