#include "fuzz/fuzz_support.h"
#include "handlers/transfer/transfer_rules.h"

KT_FUZZ_TARGET(data, size) {
    std::string_view digits(reinterpret_cast<const char*>(data), size);
    const std::optional<std::uint32_t> value = kt::ParseDecimalField(digits);
    if (!value) return;
    // A field that reads holds the number's digits, blanks around them and leading zeros only.
    while (!digits.empty() && (digits.front() == ' ' || digits.front() == '\t')) digits.remove_prefix(1);
    while (!digits.empty() && (digits.back() == ' ' || digits.back() == '\t')) digits.remove_suffix(1);
    while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
    KT_FUZZ_CHECK(digits == std::to_string(*value));
}
