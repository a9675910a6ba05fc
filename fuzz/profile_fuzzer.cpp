#include "emu/device_model.h"
#include "emu/profile.h"
#include "functions.h"
#include "fuzz/fuzz_support.h"

// What the library relies on when it acts on a rule: outputs the function has, bytes that fit.
void CheckRule(const kt62::FaultRule& rule, bool top_level) {
    const kt62::FnInfo& info = kt62::Info(rule.call);
    KT_FUZZ_CHECK(info.top_level == top_level);
    const kt62::FaultOutputs& o = rule.outputs;
    using kt62::Output;
    KT_FUZZ_CHECK(!o.value || (info.outputs & kt62::Bit(Output::Value)));
    KT_FUZZ_CHECK(!o.value || (*o.value >= info.value_min && *o.value <= info.value_max));
    KT_FUZZ_CHECK(!o.bytes ||
                  ((info.outputs & kt62::Bit(Output::Bytes)) && o.bytes->size() <= info.bytes_max));
    KT_FUZZ_CHECK(!o.name_bytes ||
                  ((info.outputs & kt62::Bit(Output::NameBytes)) && o.name_bytes->size() <= 16));
    KT_FUZZ_CHECK(!o.version_bytes ||
                  ((info.outputs & kt62::Bit(Output::VersionBytes)) && o.version_bytes->size() <= 4));
    KT_FUZZ_CHECK(!o.sectors || (info.outputs & kt62::Bit(Output::Sectors)));
    KT_FUZZ_CHECK(!o.sector_size || (info.outputs & kt62::Bit(Output::SectorSize)));
    KT_FUZZ_CHECK(rule.delay_ms <= kt62::kMaxDelayMs);
    for (int k = 0; k < kt62::kMatchKeyCount; ++k)
        KT_FUZZ_CHECK(!rule.match[k] || (info.match_keys & (1u << k)));
}

KT_FUZZ_TARGET(data, size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)kt62::ParseHexBytes(text);

    const kt62::ParsedProfile parsed = kt62::ParseProfile(text);
    if (parsed.error) {
        KT_FUZZ_CHECK(parsed.profile.programmers.empty());
        KT_FUZZ_CHECK(parsed.profile.faults.empty());
        return;
    }
    KT_FUZZ_CHECK(parsed.profile.programmers.size() <= kt62::kMaxProgrammers);
    for (const kt62::FaultRule& rule : parsed.profile.faults) CheckRule(rule, true);
    for (const kt62::ProgrammerProfile& p : parsed.profile.programmers) {
        for (const kt62::FaultRule& rule : p.faults) CheckRule(rule, false);
        KT_FUZZ_CHECK(kt62::emu::MakeDeviceModel(p.ufs).model != nullptr);
    }
}
