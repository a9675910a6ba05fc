#include "fuzz/fuzz_support.h"
#include "handlers/ufs/hex_field.h"

KT_FUZZ_TARGET(data, size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::optional<std::uint32_t> value = kt::ParseHexField(text);
    KT_FUZZ_CHECK(kt::ParseHexField(text + "G") == value);  // reading stops at the first non-digit
    if (!value) return;
    // The value written back the ways an operator writes it reads as itself; negated, as its negation.
    const std::uint32_t v = *value;
    for (const std::string& written :
         {kt::Format("%X", v), kt::Format("%x", v), kt::Format("0x%X", v), kt::Format("0X%08x", v),
          kt::Format(" \t+%X", v), kt::Format("%X z", v)})
        KT_FUZZ_CHECK(kt::ParseHexField(written) == v);
    KT_FUZZ_CHECK(kt::ParseHexField(kt::Format("-%X", v)) == 0u - v);
}
