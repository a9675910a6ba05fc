// Fault rules at run time: which rule, if any, answers a call.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "functions.h"

namespace kt62 {

struct FaultOutputs {
    std::optional<int64_t> value;
    std::optional<std::vector<uint8_t>> bytes;
    std::optional<std::vector<uint8_t>> name_bytes;
    std::optional<std::vector<uint8_t>> version_bytes;
    std::optional<uint32_t> sectors;
    std::optional<uint32_t> sector_size;

    bool Any() const { return value || bytes || name_bytes || version_bytes || sectors || sector_size; }
};

struct FaultRule {
    Fn call = Fn::Search;
    std::array<std::optional<int64_t>, kMatchKeyCount> match{};
    uint64_t after = 0;
    std::optional<uint64_t> times;  // empty: unlimited
    std::optional<int32_t> result;  // empty: the device answers unless outputs are given
    FaultOutputs outputs;
    uint32_t delay_ms = 0;
};

// What a call offers for matching: its function and the arguments it has.
struct CallArgs {
    explicit CallArgs(Fn f) : fn(f) {}
    CallArgs& Set(MatchKey key, int64_t v) {
        args[static_cast<size_t>(key)] = v;
        return *this;
    }
    // Sectors lba .. lba + count - 1; a call of zero sectors counts as addressing lba alone.
    CallArgs& Sectors(uint32_t lba, uint32_t count) {
        first_lba = lba;
        last_lba = static_cast<uint64_t>(lba) + (count == 0 ? 0 : count - 1);
        return *this;
    }

    Fn fn;
    std::array<std::optional<int64_t>, kMatchKeyCount> args{};
    std::optional<uint64_t> first_lba;
    uint64_t last_lba = 0;
};

// The part of a rule the caller acts on, copied out so that it can act without locks.
struct FaultAction {
    std::optional<int32_t> result;
    FaultOutputs outputs;
    uint32_t delay_ms = 0;
};

bool Matches(const FaultRule& rule, const CallArgs& call);

// One profile list of rules with its counters; counters start at zero with each load.
class FaultSet {
public:
    FaultSet() = default;
    explicit FaultSet(std::vector<FaultRule> rules);

    // The rule that applies to this call, counting the call against every rule it reaches.
    // Rules are tried in order: one still inside its `after` count lets the call pass on to the
    // next rules, a spent one is skipped, and the first other matching rule applies.
    std::optional<FaultAction> Apply(const CallArgs& call);

private:
    struct Counted {
        FaultRule rule;
        uint64_t passed = 0;
        uint64_t applied = 0;
    };
    std::mutex mutex_;
    std::vector<Counted> rules_;
};

}  // namespace kt62
