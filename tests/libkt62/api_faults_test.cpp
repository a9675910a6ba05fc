// Fault rules as a program sees them through the C functions: which rule answers a call (match,
// order, after and times), what it writes, and the rules of the search, open and close.
#include <cstring>

#include "emulator_fixture.h"
#include "handle_calls.h"

namespace kt62test {
namespace {

using FaultsTest = EmulatorTest;

// A bare result rule answers for every function instead of the programmer or its device.
TEST_F(FaultsTest, EveryFunctionTakesARuleResultInsteadOfTheDevice) {
    for (const HandleCall& c : AllHandleCalls()) {
        UseFaults(R"([{"call":")" + c.name + R"(","times":1,"result":-5}])");
        KT62_HANDLE h = OpenAfterSearch(0);
        EXPECT_EQ(c.call(h), -5) << c.name;
        kt62Close(h);
    }
}

// The results of four calls of kt62UfsSetFlag(h, 1); 0 where the device answered.
TEST_F(FaultsTest, AfterTimesMatchAndOrderPickTheRule) {
    const struct {
        const char* rules;
        std::vector<int32_t> results;
    } cases[] = {
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
        {R"([{"call":"kt62UfsClearFlag","result":1},{"call":"kt62UfsSetFlag","match":{"idn":2},"result":2},
             {"call":"kt62UfsSetFlag","match":{"idn":1},"after":1,"result":3}])",
         {0, 3, 3, 3}},
    };
    for (const auto& c : cases) {
        UseFaults(c.rules);
        KT62_HANDLE h = OpenAfterSearch(0);
        std::vector<int32_t> got;
        for (int i = 0; i < 4; ++i) got.push_back(kt62UfsSetFlag(h, 1));
        EXPECT_EQ(got, c.results) << c.rules;
        kt62Close(h);
    }
}

TEST_F(FaultsTest, EveryMatchedArgumentMustBeEqualAndSectorRangesOverlap) {
    UseFaults(R"([{"call":"kt62UfsReadAttribute","match":{"idn":11,"selector":0},"value":77},
                  {"call":"kt62ScsiRead10","match":{"lba_from":10,"lba_to":20},"result":-3},
                  {"call":"kt62ScsiRead10","match":{"lba_to":0},"result":-4},
                  {"call":"kt62ScsiWrite10","match":{"lba_from":100},"result":-4}])");
    KT62_HANDLE h = OpenAfterSearch(0);
    const struct {
        uint8_t idn, index, selector;
        bool matched;
    } attributes[] = {{11, 0, 0, true}, {11, 7, 0, true}, {11, 0, 1, false}, {10, 0, 0, false}};
    for (const auto& a : attributes) {
        uint32_t v = 0;
        ASSERT_EQ(kt62UfsReadAttribute(h, a.idn, a.index, a.selector, &v), KT62_OK);
        EXPECT_EQ(v == 77, a.matched) << int(a.idn) << "/" << int(a.index) << "/" << int(a.selector);
    }
    std::vector<uint8_t> buf(4096 * 16);
    const int32_t ns = KT62_E_BAD_ARGUMENT;  // without a rule the device refuses a sector size of 1
    const struct {
        uint32_t lba, count;
        int32_t read, write;
    } sectors[] = {{0, 10, -4, ns}, {0, 11, -3, ns}, {20, 1, -3, ns},
                   {21, 5, ns, ns}, {15, 0, -3, ns}, {0, 0, -4, ns},
                   {99, 1, ns, ns}, {99, 2, ns, -4}, {0xFFFFFFF0u, 16, ns, -4}};
    for (const auto& c : sectors) {
        EXPECT_EQ(kt62ScsiRead10(h, c.lba, 1, buf.data(), c.count), c.read) << c.lba << "+" << c.count;
        EXPECT_EQ(kt62ScsiWrite10(h, c.lba, 1, buf.data(), c.count), c.write) << c.lba << "+" << c.count;
    }
}

// Outputs are written also alongside a failure; a descriptor read copies as many bytes as asked
// for, at most the rule's; a bare result writes nothing.
TEST_F(FaultsTest, RulesWriteTheirOutputs) {
    UseFaults(R"([{"call":"kt62UfsReadAttribute","result":-8,"value":7},
                  {"call":"kt62ScsiReadCapacity","sectors":1000,"sector_size":4096},
                  {"call":"kt62UfsGetDME","match":{"attr_id":5472,"kind":3},"value":4294967295},
                  {"call":"kt62GetVersion","bytes":"01 02"},
                  {"call":"kt62GetProduct","name_bytes":"41 42","version_bytes":"31 2E 30 35"},
                  {"call":"kt62UfsReadDescriptor","match":{"idn":1},"bytes":"90 01 00 41"},
                  {"call":"kt62UfsReadDescriptor","match":{"idn":2},"bytes":""},
                  {"call":"kt62UfsReadFlag","result":-2}])");
    KT62_HANDLE h = OpenAfterSearch(0);
    uint32_t v = 0, bs = 0;
    uint8_t flag = 0xEE, version[4] = {9, 9, 9, 9}, name[16], extra[8];
    EXPECT_EQ(kt62UfsReadAttribute(h, 1, 0, 0, &v), -8);
    EXPECT_EQ(v, 7u);
    EXPECT_EQ(kt62ScsiReadCapacity(h, &v, &bs), KT62_OK);
    EXPECT_EQ(uint64_t{v} << 32 | bs, uint64_t{1000} << 32 | 4096);
    EXPECT_EQ(kt62UfsGetDME(h, 0x1560, 0, 3, &v), KT62_OK);
    EXPECT_EQ(v, 0xFFFFFFFFu);
    EXPECT_EQ(kt62UfsGetDME(h, 0x1560, 0, 1, &v), KT62_OK);
    EXPECT_EQ(v, 2u) << "the device's own active lanes";
    EXPECT_EQ(kt62GetVersion(h, version), KT62_OK);
    EXPECT_EQ(std::vector<uint8_t>(version, version + 4), (std::vector<uint8_t>{1, 2, 0, 0}))
        << "zero-padded";
    std::memset(name, 0xEE, sizeof name);
    EXPECT_EQ(kt62GetProduct(h, version, name, extra), KT62_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(name), 16), std::string("AB") + std::string(14, '\0'));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(version), 4), "1.05");
    EXPECT_EQ(kt62UfsReadFlag(h, 4, &flag), -2);
    EXPECT_EQ(flag, 0xEE) << "a bare result writes nothing";
    for (uint32_t length : {0u, 2u, 6u}) {
        std::vector<uint8_t> buf(6, 0xEE), want = {0x90, 0x01, 0x00, 0x41, 0xEE, 0xEE};
        std::fill(want.begin() + std::min(length, 4u), want.end(), 0xEE);
        EXPECT_EQ(kt62UfsReadDescriptor(h, 1, 0, 0, buf.data(), length), KT62_OK);
        EXPECT_EQ(buf, want) << length;
        std::vector<uint8_t> none(6, 0xEE);
        EXPECT_EQ(kt62UfsReadDescriptor(h, 2, 0, 0, none.data(), length), KT62_OK);
        EXPECT_EQ(none, std::vector<uint8_t>(6, 0xEE)) << "empty bytes copy nothing";
    }
    EXPECT_EQ(kt62UfsReadDescriptor(h, 1, 0, 0, nullptr, 0), KT62_OK) << "a read of nothing needs no buffer";
}

TEST_F(FaultsTest, SearchOpenAndCloseRules) {
    UseProfile(
        R"({"programmers":[{"faults":[{"call":"kt62Close","times":1,"result":4},{"call":"kt62Close","result":0}]},{}],
                   "faults":[{"call":"kt62Search","after":1,"times":1,"value":0},
                             {"call":"kt62Search","after":1,"times":1,"value":-1},
                             {"call":"kt62Open","match":{"position":1},"times":1,"result":5}]})");
    EXPECT_EQ(kt62Search(), 2);
    EXPECT_EQ(kt62Search(), 0);
    EXPECT_EQ(kt62Search(), -1);
    EXPECT_EQ(kt62Search(), 2);
    EXPECT_EQ(kt62Open(1), KT62_INVALID_HANDLE);
    EXPECT_NE(OpenAfterSearch(1), KT62_INVALID_HANDLE) << "the rule was spent";
    KT62_HANDLE h = OpenAfterSearch(0);
    uint8_t v[4];
    EXPECT_EQ(kt62Close(h), KT62_E_TRANSPORT);
    EXPECT_EQ(kt62GetVersion(h, v), KT62_OK) << "a failed close keeps the handle open";
    EXPECT_EQ(kt62Close(h), KT62_OK);
    EXPECT_EQ(kt62GetVersion(h, v), KT62_E_NOT_OPEN) << "a rule answering 0 lets the close happen";
}

TEST_F(FaultsTest, CountersStartAgainWithEachLoadButSurviveReopening) {
    const std::string rules = R"([{"call":"kt62UfsSetFlag","times":1,"result":-9}])";
    UseFaults(rules);
    EXPECT_EQ(kt62UfsSetFlag(OpenAfterSearch(0), 1), -9);
    kt62Close(opened_.back());
    EXPECT_EQ(kt62UfsSetFlag(OpenAfterSearch(0), 1), KT62_OK) << "same load: the rule stays spent";
    kt62Close(opened_.back());
    UseFaults(rules + " ");  // a rewrite is a new load
    EXPECT_EQ(kt62UfsSetFlag(OpenAfterSearch(0), 1), -9);
}

}  // namespace
}  // namespace kt62test
