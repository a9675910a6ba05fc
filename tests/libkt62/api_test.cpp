#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>
#include <vector>

#include "device_fixture.h"

namespace kt62test {
namespace {

using Api = EmulatorTest;

TEST_F(Api, HandlesAreSmallIdsNeverReusedAndAProgrammerIsOpenOnce) {
    UseProfile(R"({"programmers":[{},{}]})");
    KT62_HANDLE a = OpenAfterSearch(0), b = OpenAfterSearch(1);
    EXPECT_GT(Id(a), 0);
    EXPECT_EQ(Id(b), Id(a) + 1);
    EXPECT_NE(Stderr([] { EXPECT_EQ(kt62Open(0), KT62_INVALID_HANDLE); }).find("programmer 0 is in use"),
              std::string::npos);
    EXPECT_EQ(kt62Close(a), KT62_OK);
    EXPECT_EQ(kt62Close(a), KT62_E_NOT_OPEN);
    EXPECT_EQ(Id(OpenAfterSearch(0)), Id(b) + 1);
    for (int32_t position : {-1, 2, INT32_MAX, INT32_MIN}) EXPECT_EQ(kt62Open(position), KT62_INVALID_HANDLE);
}

TEST_F(Api, TheDefaultStateFolderIsMadePrivateWithTheFoldersAboveIt) {
    setenv("KT62_BACKEND", "emulator", 1);
    const mode_t umask_before = umask(002);
    const KT62_HANDLE h = OpenAfterSearch(0);
    EXPECT_NE(h, KT62_INVALID_HANDLE);
    umask(umask_before);
    for (const char* folder : {"/xdg", "/xdg/kt6200", "/xdg/kt6200/emulator"}) {
        struct stat st {};
        ASSERT_EQ(stat((dir_.Path() + folder).c_str(), &st), 0) << folder;
        EXPECT_EQ(st.st_mode & 07777, 0700u) << folder;
    }
    kt62Close(h);
    // A link to nowhere in the way: nothing can be made under it.
    ASSERT_EQ(symlink("no/such", (dir_.Path() + "/nowhere").c_str()), 0);
    setenv("XDG_DATA_HOME", (dir_.Path() + "/nowhere").c_str(), 1);
    const std::string err =
        Stderr([] { EXPECT_EQ(kt62Search() == 1 ? kt62Open(0) : nullptr, KT62_INVALID_HANDLE); });
    EXPECT_NE(err.find("nowhere/kt6200/emulator: cannot create: No such file"), std::string::npos) << err;
    unsetenv("KT62_BACKEND");
}

// Every function tells a closed handle from one never issued, before any fault rule.
TEST_F(Api, ClosedAndBogusHandlesAreRecognisedByEveryFunction) {
    static uint8_t buf[4096], b4[4], b16[16], b8[8];
    static uint32_t u1, u2;
    static const kt62_char16 path[] = {'f', 'w', 0};
    const std::pair<const char*, int32_t (*)(KT62_HANDLE)> calls[] = {
        {"kt62Close", [](KT62_HANDLE h) { return kt62Close(h); }},
        {"kt62GetVersion", [](KT62_HANDLE h) { return kt62GetVersion(h, b4); }},
        {"kt62GetProduct", [](KT62_HANDLE h) { return kt62GetProduct(h, b4, b16, b8); }},
        {"kt62ScsiInquiry", [](KT62_HANDLE h) { return kt62ScsiInquiry(h, buf); }},
        {"kt62ScsiReadCapacity", [](KT62_HANDLE h) { return kt62ScsiReadCapacity(h, &u1, &u2); }},
        {"kt62ScsiRead10", [](KT62_HANDLE h) { return kt62ScsiRead10(h, 0, 512, buf, 1); }},
        {"kt62ScsiWrite10", [](KT62_HANDLE h) { return kt62ScsiWrite10(h, 0, 512, buf, 1); }},
        {"kt62UfsReadFlag", [](KT62_HANDLE h) { return kt62UfsReadFlag(h, 1, b4); }},
        {"kt62UfsSetFlag", [](KT62_HANDLE h) { return kt62UfsSetFlag(h, 1); }},
        {"kt62UfsClearFlag", [](KT62_HANDLE h) { return kt62UfsClearFlag(h, 1); }},
        {"kt62UfsToggleFlag", [](KT62_HANDLE h) { return kt62UfsToggleFlag(h, 1); }},
        {"kt62UfsReadAttribute", [](KT62_HANDLE h) { return kt62UfsReadAttribute(h, 1, 0, 0, &u1); }},
        {"kt62UfsWriteAttribute", [](KT62_HANDLE h) { return kt62UfsWriteAttribute(h, 1, 0, 0, 1); }},
        {"kt62UfsReadDescriptor", [](KT62_HANDLE h) { return kt62UfsReadDescriptor(h, 0, 0, 0, buf, 255); }},
        {"kt62UfsWriteDescriptor",
         [](KT62_HANDLE h) { return kt62UfsWriteDescriptor(h, 1, 0, 0, buf, 144); }},
        {"kt62UfsGetDME", [](KT62_HANDLE h) { return kt62UfsGetDME(h, 0x1560, 0, 1, &u1); }},
        {"kt62UfsReset", [](KT62_HANDLE h) { return kt62UfsReset(h, 1); }},
        {"kt62Update", [](KT62_HANDLE h) { return kt62Update(h, path); }},
    };
    const KT62_HANDLE bogus[] = {KT62_INVALID_HANDLE, nullptr,
                                 reinterpret_cast<KT62_HANDLE>(intptr_t{123456})};
    for (const auto& [name, call] : calls) {
        UseFaults(name == std::string("kt62Close")
                      ? "[]"
                      : R"([{"call":")" + std::string(name) + R"(","result":-5}])");
        KT62_HANDLE h = OpenAfterSearch(0);
        ASSERT_EQ(kt62Close(h), KT62_OK) << name;
        EXPECT_EQ(call(h), KT62_E_NOT_OPEN) << name;
        for (KT62_HANDLE b : bogus) EXPECT_EQ(call(b), KT62_E_INVALID_HANDLE) << name << " " << Id(b);
    }
    UseFaults(R"([{"call":"kt62GetVersion","times":1,"result":9}])");
    KT62_HANDLE h = OpenAfterSearch(0);
    EXPECT_EQ(kt62GetVersion(h, nullptr), KT62_E_BAD_ARGUMENT);
    EXPECT_EQ(kt62ScsiRead10(h, 0, 4096, nullptr, 1), KT62_E_BAD_ARGUMENT);
    EXPECT_EQ(kt62GetVersion(h, b4), 9) << "a null buffer is refused without using the rule";
}

// Four calls of kt62UfsSetFlag(h, 1), then one after a reopen: the counters live as long as the load.
TEST_F(Api, AfterTimesMatchAndOrderPickTheRule) {
    const std::pair<const char*, std::vector<int32_t>> cases[] = {
        {R"([{"call":"kt62UfsSetFlag","times":2,"result":1}])", {1, 1, 0, 0, 0}},
        {R"([{"call":"kt62UfsSetFlag","after":1,"times":1,"result":1}])", {0, 1, 0, 0, 0}},
        {R"([{"call":"kt62UfsSetFlag","times":0,"result":1}])", {0, 0, 0, 0, 0}},
        // A spent rule and one still waiting both let the call through to the next rule.
        {R"([{"call":"kt62UfsSetFlag","after":2,"result":1},{"call":"kt62UfsSetFlag","times":1,"result":2}])",
         {2, 0, 1, 1, 1}},
        // Another function's or another argument's rule is never counted.
        {R"([{"call":"kt62UfsClearFlag","result":1},{"call":"kt62UfsSetFlag","match":{"idn":2},"result":2},
             {"call":"kt62UfsSetFlag","match":{"idn":1},"after":1,"result":3}])",
         {0, 3, 3, 3, 3}},
    };
    for (const auto& [rules, results] : cases) {
        UseFaults(std::string(rules) + " ");  // a rewrite is a new load
        KT62_HANDLE h = OpenAfterSearch(0);
        std::vector<int32_t> got;
        for (int i = 0; i < 4; ++i) got.push_back(kt62UfsSetFlag(h, 1));
        kt62Close(h);
        got.push_back(kt62UfsSetFlag(OpenAfterSearch(0), 1));
        kt62Close(opened_.back());
        EXPECT_EQ(got, results) << rules;
    }
}

TEST_F(Api, EveryMatchedArgumentMustBeEqualAndSectorRangesOverlap) {
    UseFaults(R"([{"call":"kt62UfsReadAttribute","match":{"idn":11,"selector":0},"value":77},
                  {"call":"kt62ScsiRead10","match":{"lba_from":10,"lba_to":20},"result":-3},
                  {"call":"kt62ScsiRead10","match":{"lba_to":0},"result":-4},
                  {"call":"kt62ScsiWrite10","match":{"lba_from":100},"result":-4},
                  {"call":"kt62ScsiRead10Unit","match":{"lun":2,"lba_from":99},"result":-5}])");
    KT62_HANDLE h = OpenAfterSearch(0);
    const struct {
        uint8_t idn, index, selector;
        bool matches;
    } attributes[] = {{11, 0, 0, true}, {11, 7, 0, true}, {11, 0, 1, false}, {10, 0, 0, false}};
    for (const auto& a : attributes) {
        uint32_t v = 0;
        kt62UfsReadAttribute(h, a.idn, a.index, a.selector, &v);
        EXPECT_EQ(v == 77, a.matches) << int(a.idn) << "/" << int(a.index) << "/" << int(a.selector);
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
    const int32_t nu = KT62_SCSI_FAILURE(0x05, 0x25);  // units 1-7 are disabled
    for (const auto& [lun, lba, result] : {std::tuple{2, 99, -5}, {2, 98, nu}, {1, 99, nu}, {0, 99, ns}})
        EXPECT_EQ(kt62ScsiRead10Unit(h, lun, lba, 1, buf.data(), 1), result)
            << "unit " << lun << " at " << lba;
}

// A rule for a call without a handle may match on the position, and holds the caller for its delay.
TEST_F(Api, RulesForCallsWithoutAHandle) {
    UseProfile(R"({"programmers":[{},{}],"faults":[{"call":"kt62SetPacketSize","result":7,"delay_ms":100},
                   {"call":"kt62Search","times":1,"delay_ms":100},
                   {"call":"kt62Open","match":{"position":1},"times":1,"result":5,"delay_ms":100}]})");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(kt62SetPacketSize(4096), 7);
    EXPECT_NE(OpenAfterSearch(0), KT62_INVALID_HANDLE);
    EXPECT_EQ(kt62Open(1), KT62_INVALID_HANDLE);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300)) << "three delays";
    EXPECT_NE(OpenAfterSearch(1), KT62_INVALID_HANDLE) << "the rule was spent";
}

// Only a search reads a changed profile; a handle outlives the reload; a bad file is reported once.
TEST_F(Api, ChangedFileIsReadAgainAtTheNextSearch) {
    UseProfile(R"({"programmers":[{"firmware_version":[1,2,3]}]})");
    KT62_HANDLE old = OpenAfterSearch(0);
    UseProfile(R"({"programmers":[{"firmware_version":[4,5,6]},{}]})");  // same size: the bytes tell
    uint8_t v[4];
    EXPECT_EQ(kt62Open(1), KT62_INVALID_HANDLE);
    EXPECT_EQ(kt62Search(), 2);
    ASSERT_EQ(kt62GetVersion(old, v), KT62_OK);
    EXPECT_EQ(v[0], 1);
    EXPECT_EQ(kt62Open(0), KT62_INVALID_HANDLE) << "position 0 is still held by the old handle";
    kt62Close(old);
    ASSERT_EQ(kt62GetVersion(OpenAfterSearch(0), v), KT62_OK);
    EXPECT_EQ(v[0], 4);
    const std::string path = UseProfile("");
    EXPECT_EQ(Stderr([] { EXPECT_EQ(kt62Search(), 0); }), "kt62: " + path + ": the file is empty\n");
    EXPECT_EQ(Stderr([] { kt62Search(); }), "") << "an unchanged file is not reported again";
    const std::string one = R"({"programmers":[{}]})";
    UseProfile(one + std::string((1u << 20) - one.size(), ' '));  // the largest profile taken
    EXPECT_EQ(kt62Search(), 1);
}

// A rule's bytes may be empty, and a read of 0 bytes may come without a buffer: nothing is copied.
TEST_F(Api, EmptyBytesAndReadsOfNothingCopyNothing) {
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

// A rule's delay holds the handle: two such calls on one handle from two threads take both delays.
TEST_F(Api, CallsOnOneHandleAreSerialised) {
    UseFaults(R"([{"call":"kt62GetVersion","delay_ms":100}])");
    KT62_HANDLE h = OpenAfterSearch(0);
    const auto start = std::chrono::steady_clock::now();
    std::thread other([h] {
        uint8_t v[4];
        EXPECT_EQ(kt62GetVersion(h, v), KT62_OK);
    });
    uint8_t v[4];
    EXPECT_EQ(kt62GetVersion(h, v), KT62_OK);
    other.join();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
}

TEST(ResultNames, EachFamilyIsNamed) {
    const std::tuple<int32_t, const char*, const char*> cases[] = {
        {KT62_E_BUSY, "KT62_E_BUSY", "programmer busy"},
        {KT62_QUERY_GENERAL_FAILURE, "KT62_QUERY_GENERAL_FAILURE", "query: general failure"},
        {KT62_QUERY_NOT_READABLE, "KT62_QUERY_NOT_READABLE", "query: parameter not readable"},
        {KT62_SCSI_FAILURE(0x05, 0x21), "KT62_SCSI_FAILURE",
         "SCSI command failed (sense key in the low byte)"},
        {KT62_DME_FAILURE(1), "KT62_DME_FAILURE", "DME get failed (UIC result code in the low byte)"},
        {-11, "KT62_DEVICE_FAILURE", "device failure"},
        {9999, "KT62_E_UNKNOWN", "unknown library error"},
    };
    for (const auto& [result, name, text] : cases) {
        EXPECT_STREQ(kt62ResultName(result), name);
        EXPECT_STREQ(kt62ResultText(result), text);
    }
}

// A handle closed while another thread calls through it: each call runs or finds it closed.
TEST_F(Api, CloseRacingWithCallsNeverCrashes) {
    UseProfile(R"({"programmers":[{}]})");
    for (int round = 0; round < 20; ++round) {
        KT62_HANDLE h = OpenAfterSearch(0);
        std::atomic<int> bad{0};
        std::thread t([&] {
            uint8_t v[4];
            for (int i = 0; i < 200; ++i) {
                const int32_t r = kt62GetVersion(h, v);
                bad += r != KT62_OK && r != KT62_E_NOT_OPEN;
            }
        });
        EXPECT_EQ(kt62Close(h), KT62_OK);
        t.join();
        EXPECT_EQ(bad, 0);
    }
}

}  // namespace
}  // namespace kt62test
