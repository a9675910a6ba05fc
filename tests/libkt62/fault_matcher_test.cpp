// Which rule answers a call: matching, order, after and times.
#include <gtest/gtest.h>

#include "faults.h"
#include "profile.h"

namespace kt62 {
namespace {

std::vector<FaultRule> Rules(const std::string& faults_json) {
    const ParsedProfile p = ParseProfile(R"({"programmers":[{"faults":)" + faults_json + "}]}");
    EXPECT_FALSE(p.error) << (p.error ? p.error->key + ": " + p.error->reason : "");
    return p.error ? std::vector<FaultRule>{} : p.profile.programmers.at(0).faults;
}

TEST(FaultMatcher, ArgumentsMustAllBeEqual) {
    const FaultRule rule =
        Rules(R"([{"call":"kt62UfsReadAttribute","match":{"idn":11,"selector":0}}])").at(0);
    struct Case {
        Fn fn;
        int idn, index, selector;
        bool matches;
    };
    const Case cases[] = {
        {Fn::UfsReadAttribute, 11, 0, 0, true},   {Fn::UfsReadAttribute, 11, 7, 0, true},
        {Fn::UfsReadAttribute, 11, 0, 1, false},  {Fn::UfsReadAttribute, 10, 0, 0, false},
        {Fn::UfsWriteAttribute, 11, 0, 0, false},
    };
    for (const Case& c : cases) {
        const CallArgs call = CallArgs(c.fn)
                                  .Set(MatchKey::Idn, c.idn)
                                  .Set(MatchKey::Index, c.index)
                                  .Set(MatchKey::Selector, c.selector);
        EXPECT_EQ(Matches(rule, call), c.matches) << c.idn << "/" << c.index << "/" << c.selector;
    }
}

TEST(FaultMatcher, SectorRangesOverlap) {
    const auto rules = Rules(R"([{"call":"kt62ScsiRead10","match":{"lba_from":10,"lba_to":20}},
                                 {"call":"kt62ScsiRead10","match":{"lba_to":0}}])");
    struct Case {
        uint32_t lba, count;
        bool first, second;
    };
    const Case cases[] = {
        {0, 10, false, true},
        {9, 2, true, false},
        {20, 100, true, false},
        {21, 1, false, false},
        {0, 0, false, true},
        {10, 0, true, false},
        {0xFFFFFFFFu, 0xFFFFFFFFu, false, false},
    };
    for (const Case& c : cases) {
        const CallArgs call = CallArgs(Fn::ScsiRead10).Sectors(c.lba, c.count);
        EXPECT_EQ(Matches(rules[0], call), c.first) << c.lba << "+" << c.count;
        EXPECT_EQ(Matches(rules[1], call), c.second) << c.lba << "+" << c.count;
    }
}

// The result each successive call gets, with 0 standing for "no rule applied".
std::vector<int32_t> Results(FaultSet& set, const CallArgs& call, int calls) {
    std::vector<int32_t> out;
    for (int i = 0; i < calls; ++i) {
        const auto action = set.Apply(call);
        out.push_back(action ? action->result.value_or(-999) : 0);
    }
    return out;
}

TEST(FaultSet, AfterTimesAndOrder) {
    struct Case {
        const char* rules;
        std::vector<int32_t> results;
    };
    const Case cases[] = {
        {R"([{"call":"kt62UfsSetFlag","result":1}])", {1, 1, 1, 1}},
        {R"([{"call":"kt62UfsSetFlag","times":2,"result":1}])", {1, 1, 0, 0}},
        {R"([{"call":"kt62UfsSetFlag","after":2,"result":1}])", {0, 0, 1, 1}},
        {R"([{"call":"kt62UfsSetFlag","after":1,"times":1,"result":1}])", {0, 1, 0, 0}},
        {R"([{"call":"kt62UfsSetFlag","times":0,"result":1}])", {0, 0, 0, 0}},
        // A spent rule and one still waiting both let the call through to the next rule.
        {R"([{"call":"kt62UfsSetFlag","times":1,"result":1},{"call":"kt62UfsSetFlag","result":2}])",
         {1, 2, 2, 2}},
        {R"([{"call":"kt62UfsSetFlag","after":2,"result":1},{"call":"kt62UfsSetFlag","times":1,"result":2}])",
         {2, 0, 1, 1}},
        // Another function's or another argument's rule is never counted.
        {R"([{"call":"kt62UfsClearFlag","result":1},{"call":"kt62UfsSetFlag","match":{"idn":2},"result":2}])",
         {0, 0, 0, 0}},
        {R"([{"call":"kt62UfsSetFlag","delay_ms":5}])", {-999, -999, -999, -999}},
    };
    for (const Case& c : cases) {
        FaultSet set(Rules(c.rules));
        EXPECT_EQ(Results(set, CallArgs(Fn::UfsSetFlag).Set(MatchKey::Idn, 1), 4), c.results) << c.rules;
    }
}

TEST(FaultSet, ActionCarriesOutputsAndDelay) {
    FaultSet set(Rules(R"([{"call":"kt62UfsReadDescriptor","result":-7,"bytes":"01 02","delay_ms":3}])"));
    const auto action = set.Apply(CallArgs(Fn::UfsReadDescriptor).Set(MatchKey::Idn, 0));
    ASSERT_TRUE(action);
    EXPECT_EQ(action->result, -7);
    EXPECT_EQ(action->outputs.bytes, (std::vector<uint8_t>{1, 2}));
    EXPECT_TRUE(action->outputs.Any());
    EXPECT_EQ(action->delay_ms, 3u);
}

}  // namespace
}  // namespace kt62
