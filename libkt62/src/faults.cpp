#include "faults.h"

namespace kt62 {

bool Matches(const FaultRule& rule, const CallArgs& call) {
    if (rule.call != call.fn) return false;
    for (int k = 0; k < kMatchKeyCount; ++k) {
        const auto key = static_cast<MatchKey>(k);
        if (key == MatchKey::LbaFrom || key == MatchKey::LbaTo) continue;
        const auto& want = rule.match[static_cast<size_t>(k)];
        if (want && call.args[static_cast<size_t>(k)] != want) return false;
    }
    const auto& from = rule.match[static_cast<size_t>(MatchKey::LbaFrom)];
    const auto& to = rule.match[static_cast<size_t>(MatchKey::LbaTo)];
    if (from || to) {
        if (!call.first_lba) return false;
        const uint64_t lo = from ? static_cast<uint64_t>(*from) : 0;
        const uint64_t hi = to ? static_cast<uint64_t>(*to) : UINT64_MAX;
        if (call.last_lba < lo || *call.first_lba > hi) return false;
    }
    return true;
}

FaultSet::FaultSet(std::vector<FaultRule> rules) {
    for (FaultRule& r : rules) rules_.push_back(Counted{std::move(r)});
}

std::optional<FaultAction> FaultSet::Apply(const CallArgs& call) {
    std::lock_guard lock(mutex_);
    for (Counted& c : rules_) {
        if (!Matches(c.rule, call)) continue;
        if (c.rule.times && c.applied >= *c.rule.times) continue;
        if (c.passed < c.rule.after) {
            ++c.passed;
            continue;
        }
        ++c.applied;
        return FaultAction{c.rule.result, c.rule.outputs, c.rule.delay_ms};
    }
    return std::nullopt;
}

}  // namespace kt62
