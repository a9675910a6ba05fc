// Fault rules as a program sees them through the C functions.
#include <chrono>
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
        ASSERT_NE(h, KT62_INVALID_HANDLE) << c.name;
        EXPECT_EQ(c.call(h), -5) << c.name;
        kt62Close(h);
    }
}

TEST_F(FaultsTest, AfterTimesAndMatchPickTheCalls) {
    // Flag 0Ah does not exist: the device refuses it without writing the value.
    UseFaults(R"([{"call":"kt62UfsReadFlag","match":{"idn":10},"after":1,"times":2,"result":-2},
                  {"call":"kt62UfsReadFlag","match":{"idn":6},"value":1}])");
    KT62_HANDLE h = OpenAfterSearch(0);
    uint8_t v = 0xEE;
    const int32_t expected_idn10[] = {KT62_QUERY_INVALID_IDN, -2, -2, KT62_QUERY_INVALID_IDN};
    for (int32_t want : expected_idn10) EXPECT_EQ(kt62UfsReadFlag(h, 10, &v), want);
    EXPECT_EQ(v, 0xEE) << "a bare result writes nothing";
    EXPECT_EQ(kt62UfsReadFlag(h, 4, &v), KT62_OK);
    EXPECT_EQ(v, 1) << "fBackgroundOpsEn from the device";
    EXPECT_EQ(kt62UfsReadFlag(h, 6, &v), KT62_OK);
    EXPECT_EQ(v, 1);
}

TEST_F(FaultsTest, FirstMatchingRuleApplies) {
    UseFaults(R"([{"call":"kt62UfsReadAttribute","match":{"idn":11,"index":0},"times":1,"value":1},
                  {"call":"kt62UfsReadAttribute","match":{"idn":11},"value":2},
                  {"call":"kt62UfsReadAttribute","value":3}])");
    KT62_HANDLE h = OpenAfterSearch(0);
    uint32_t v = 0;
    struct Step {
        uint8_t idn, index;
        uint32_t value;
    };
    const Step steps[] = {{11, 0, 1}, {11, 0, 2}, {11, 1, 2}, {12, 0, 3}};
    for (const Step& s : steps) {
        ASSERT_EQ(kt62UfsReadAttribute(h, s.idn, s.index, 0, &v), KT62_OK);
        EXPECT_EQ(v, s.value) << int(s.idn) << "/" << int(s.index);
    }
}

TEST_F(FaultsTest, OutputsAreWrittenAlsoAlongsideAFailure) {
    UseFaults(R"([{"call":"kt62UfsReadAttribute","result":-8,"value":7},
                  {"call":"kt62ScsiReadCapacity","sectors":1000,"sector_size":4096},
                  {"call":"kt62UfsGetDME","match":{"attr_id":5472,"kind":3},"value":4294967295},
                  {"call":"kt62GetVersion","bytes":"01 02"},
                  {"call":"kt62GetProduct","name_bytes":"41 42","version_bytes":"31 2E 30 35"}])");
    KT62_HANDLE h = OpenAfterSearch(0);
    uint32_t v = 0, bs = 0;
    EXPECT_EQ(kt62UfsReadAttribute(h, 1, 0, 0, &v), -8);
    EXPECT_EQ(v, 7u);
    EXPECT_EQ(kt62ScsiReadCapacity(h, &v, &bs), KT62_OK);
    EXPECT_EQ(v, 1000u);
    EXPECT_EQ(bs, 4096u);
    EXPECT_EQ(kt62UfsGetDME(h, 0x1560, 0, 3, &v), KT62_OK);
    EXPECT_EQ(v, 0xFFFFFFFFu);
    EXPECT_EQ(kt62UfsGetDME(h, 0x1560, 0, 1, &v), KT62_OK);
    EXPECT_EQ(v, 2u) << "the device's own active lanes";
    uint8_t version[4] = {9, 9, 9, 9}, name[16], extra[8];
    EXPECT_EQ(kt62GetVersion(h, version), KT62_OK);
    EXPECT_EQ(std::vector<uint8_t>(version, version + 4), (std::vector<uint8_t>{1, 2, 0, 0}));
    std::memset(name, 0xEE, sizeof name);
    EXPECT_EQ(kt62GetProduct(h, version, name, extra), KT62_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(name), 16), std::string("AB") + std::string(14, '\0'));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(version), 4), "1.05");
}

TEST_F(FaultsTest, ProductFailureLeavesTheBuffersAlone) {
    UseProfile(R"({"programmers":[{"get_version_supported":false,
                   "faults":[{"call":"kt62GetProduct","result":7}]}]})");
    KT62_HANDLE h = OpenAfterSearch(0);
    uint8_t version[4] = {0xEE, 0xEE, 0xEE, 0xEE}, name[16] = {0xEE}, extra[8];
    EXPECT_EQ(kt62GetVersion(h, version), KT62_E_NOT_SUPPORTED);
    EXPECT_EQ(kt62GetProduct(h, version, name, extra), 7);
    EXPECT_EQ(version[0], 0xEE);
    EXPECT_EQ(name[0], 0xEE);
}

TEST_F(FaultsTest, DescriptorReadCopiesAsManyBytesAsAskedAtMostTheRules) {
    UseFaults(R"([{"call":"kt62UfsReadDescriptor","match":{"idn":1},"bytes":"90 01 00 41"},
                  {"call":"kt62ScsiInquiry","bytes":"00 80 06 02"}])");
    KT62_HANDLE h = OpenAfterSearch(0);
    struct Case {
        uint32_t length;
        std::vector<uint8_t> expected;
    };
    const Case cases[] = {
        {0, {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}},
        {2, {0x90, 0x01, 0xEE, 0xEE, 0xEE, 0xEE}},
        {6, {0x90, 0x01, 0x00, 0x41, 0xEE, 0xEE}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> buf(6, 0xEE);
        EXPECT_EQ(kt62UfsReadDescriptor(h, 1, 0, 0, buf.data(), c.length), KT62_OK);
        EXPECT_EQ(buf, c.expected) << c.length;
    }
    std::vector<uint8_t> inquiry(192, 0xEE);
    EXPECT_EQ(kt62ScsiInquiry(h, inquiry.data()), KT62_OK);
    EXPECT_EQ(std::vector<uint8_t>(inquiry.begin(), inquiry.begin() + 5),
              (std::vector<uint8_t>{0x00, 0x80, 0x06, 0x02, 0xEE}));
}

// A rule's bytes may be empty, and a read of 0 bytes may come without a buffer: nothing is copied.
TEST_F(FaultsTest, EmptyBytesAndReadsOfNothingCopyNothing) {
    UseFaults(R"([{"call":"kt62UfsReadDescriptor","match":{"idn":2},"bytes":""},
                  {"call":"kt62UfsReadDescriptor","match":{"idn":1},"bytes":"90 01"},
                  {"call":"kt62ScsiInquiry","bytes":""},
                  {"call":"kt62GetVersion","bytes":""}])");
    KT62_HANDLE h = OpenAfterSearch(0);
    std::vector<uint8_t> buf(192, 0xEE);
    EXPECT_EQ(kt62UfsReadDescriptor(h, 2, 0, 0, buf.data(), 6), KT62_OK);
    EXPECT_EQ(kt62UfsReadDescriptor(h, 1, 0, 0, nullptr, 0), KT62_OK);
    EXPECT_EQ(kt62ScsiInquiry(h, buf.data()), KT62_OK);
    EXPECT_EQ(buf, std::vector<uint8_t>(192, 0xEE));
    uint8_t version[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(kt62GetVersion(h, version), KT62_OK);
    EXPECT_EQ(std::vector<uint8_t>(version, version + 4), std::vector<uint8_t>(4, 0)) << "zero-padded";
}

TEST_F(FaultsTest, SectorRulesMatchCallsWhoseRangeOverlaps) {
    UseFaults(R"([{"call":"kt62ScsiRead10","match":{"lba_from":10,"lba_to":20},"result":-3},
                  {"call":"kt62ScsiWrite10","match":{"lba_from":100},"result":-4}])");
    KT62_HANDLE h = OpenAfterSearch(0);
    std::vector<uint8_t> buf(4096 * 16);
    struct Case {
        uint32_t lba, count;
        int32_t read, write;
    };
    // Without a rule the device refuses the sector size of 1 byte.
    const int32_t ns = KT62_E_BAD_ARGUMENT;
    const Case cases[] = {
        {0, 10, ns, ns}, {0, 11, -3, ns}, {20, 1, -3, ns}, {21, 5, ns, ns},
        {15, 0, -3, ns}, {99, 1, ns, ns}, {99, 2, ns, -4}, {0xFFFFFFF0u, 16, ns, -4},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(kt62ScsiRead10(h, c.lba, 1, buf.data(), c.count), c.read) << c.lba << "+" << c.count;
        EXPECT_EQ(kt62ScsiWrite10(h, c.lba, 1, buf.data(), c.count), c.write) << c.lba << "+" << c.count;
    }
}

TEST_F(FaultsTest, HandleErrorsComeBeforeRules) {
    UseFaults(R"([{"call":"kt62UfsSetFlag","times":1,"result":-1}])");
    KT62_HANDLE h = OpenAfterSearch(0);
    EXPECT_EQ(kt62UfsSetFlag(KT62_INVALID_HANDLE, 1), KT62_E_INVALID_HANDLE);
    EXPECT_EQ(kt62UfsSetFlag(h, 1), -1);
    EXPECT_EQ(kt62UfsSetFlag(h, 1), KT62_OK);
}

TEST_F(FaultsTest, SearchAndOpenRulesStandAtTheTopLevel) {
    UseProfile(R"({"programmers":[{},{}],
                   "faults":[{"call":"kt62Search","after":1,"times":1,"value":0},
                             {"call":"kt62Search","after":1,"times":1,"value":-1},
                             {"call":"kt62Open","match":{"position":1},"times":1,"result":5}]})");
    EXPECT_EQ(kt62Search(), 2);
    EXPECT_EQ(kt62Search(), 0);
    EXPECT_EQ(kt62Search(), -1);
    EXPECT_EQ(kt62Search(), 2);
    EXPECT_EQ(kt62Open(1), KT62_INVALID_HANDLE);
    KT62_HANDLE h1 = kt62Open(1);
    opened_.push_back(h1);
    EXPECT_NE(h1, KT62_INVALID_HANDLE) << "the rule was spent";
}

TEST_F(FaultsTest, CloseRuleKeepsTheHandleOpen) {
    UseFaults(R"([{"call":"kt62Close","times":1,"result":4},{"call":"kt62Close","result":0}])");
    KT62_HANDLE h = OpenAfterSearch(0);
    EXPECT_EQ(kt62Close(h), KT62_E_TRANSPORT);
    uint8_t v[4];
    EXPECT_EQ(kt62GetVersion(h, v), KT62_OK);
    EXPECT_EQ(kt62Close(h), KT62_OK);
    EXPECT_EQ(kt62GetVersion(h, v), KT62_E_NOT_OPEN) << "a rule answering 0 lets the close happen";
}

TEST_F(FaultsTest, DelayMakesTheCallTakeLonger) {
    UseFaults(R"([{"call":"kt62UfsReadFlag","delay_ms":60,"value":1}])");
    KT62_HANDLE h = OpenAfterSearch(0);
    uint8_t v = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(kt62UfsReadFlag(h, 1, &v), KT62_OK);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    EXPECT_EQ(v, 1);
}

TEST_F(FaultsTest, CountersStartAgainWithEachLoadButSurviveReopening) {
    const std::string rules = R"([{"call":"kt62UfsSetFlag","times":1,"result":-9}])";
    UseFaults(rules);
    KT62_HANDLE h = OpenAfterSearch(0);
    EXPECT_EQ(kt62UfsSetFlag(h, 1), -9);
    kt62Close(h);
    h = OpenAfterSearch(0);
    EXPECT_EQ(kt62UfsSetFlag(h, 1), KT62_OK) << "same load: the rule stays spent";
    kt62Close(h);
    UseFaults(rules + " ");  // a rewrite is a new load
    h = OpenAfterSearch(0);
    EXPECT_EQ(kt62UfsSetFlag(h, 1), -9);
}

}  // namespace
}  // namespace kt62test
