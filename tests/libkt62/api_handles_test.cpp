// Discovery, opening, handles and their locks, and calls from several threads.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "emulator_fixture.h"
#include "handle_calls.h"

namespace kt62test {
namespace {

using HandlesTest = EmulatorTest;

TEST_F(HandlesTest, SearchCountsTheProgrammersAndLocksSitInTheStateFolder) {
    const std::string xdg = dir_.Path() + "/xdg/kt6200/emulator";
    ASSERT_EQ(kt62Search(), 1) << "without a profile, the one built-in programmer";
    EXPECT_FALSE(std::filesystem::exists(xdg)) << "nothing to store before an open";
    ASSERT_NE(OpenAfterSearch(0), KT62_INVALID_HANDLE);
    EXPECT_TRUE(std::filesystem::exists(xdg + "/programmer0.lock"));
    const struct {
        const char* profile;
        int32_t count;
        const char* lock;  // of the last programmer, once opened
    } cases[] = {
        {R"({"programmers":[]})", 0, nullptr},
        {R"({"programmers":[{}]})", 1, "/profile.json.state/programmer0.lock"},
        {R"({"state_dir":"sub/st","programmers":[{},{"product_name":"B"}]})", 2, "/sub/st/programmer1.lock"},
        {R"({"state_dir":"/abs"})", 1, nullptr},  // no list: the one built-in programmer
    };
    for (const auto& c : cases) {
        UseProfile(c.profile);
        EXPECT_EQ(kt62Search(), c.count) << c.profile;
        if (c.lock) {
            EXPECT_NE(OpenAfterSearch(c.count - 1), KT62_INVALID_HANDLE);
        }
        if (c.lock) {
            EXPECT_TRUE(std::filesystem::exists(dir_.Path() + c.lock)) << c.lock;
        }
    }
}

TEST_F(HandlesTest, HandlesAreSmallIdsNeverReusedAndPositionsOutsideTheListAreRefused) {
    UseProfile(R"({"programmers":[{},{}]})");
    KT62_HANDLE a = OpenAfterSearch(0), b = OpenAfterSearch(1);
    EXPECT_GT(Id(a), 0);
    EXPECT_EQ(Id(b), Id(a) + 1);
    EXPECT_EQ(kt62Close(a), KT62_OK);
    EXPECT_EQ(Id(OpenAfterSearch(0)), Id(b) + 1);
    for (int32_t position : {-1, 2, 3, INT32_MAX, INT32_MIN})
        EXPECT_EQ(kt62Open(position), KT62_INVALID_HANDLE);
}

// Every function tells a closed handle from one never issued, and a handle error comes before
// any fault rule.
TEST_F(HandlesTest, ClosedAndBogusHandlesAreRecognisedByEveryFunction) {
    const KT62_HANDLE bogus[] = {KT62_INVALID_HANDLE, nullptr,
                                 reinterpret_cast<KT62_HANDLE>(intptr_t{123456}),
                                 reinterpret_cast<KT62_HANDLE>(intptr_t{-2})};
    for (const HandleCall& c : AllHandleCalls()) {
        UseFaults(c.name == "kt62Close" ? "[]" : R"([{"call":")" + c.name + R"(","result":-5}])");
        KT62_HANDLE h = OpenAfterSearch(0);
        ASSERT_EQ(kt62Close(h), KT62_OK) << c.name;
        EXPECT_EQ(c.call(h), KT62_E_NOT_OPEN) << c.name;
        for (KT62_HANDLE b : bogus) EXPECT_EQ(c.call(b), KT62_E_INVALID_HANDLE) << c.name << " " << Id(b);
    }
}

TEST_F(HandlesTest, NullBuffersAreRefusedWithoutUsingARule) {
    UseFaults(R"([{"call":"kt62GetVersion","times":1,"result":9}])");
    KT62_HANDLE h = OpenAfterSearch(0);
    uint8_t b[16];
    EXPECT_EQ(kt62GetVersion(h, nullptr), KT62_E_BAD_ARGUMENT);
    EXPECT_EQ(kt62GetProduct(h, b, nullptr, b), KT62_E_BAD_ARGUMENT);
    EXPECT_EQ(kt62UfsReadFlag(h, 1, nullptr), KT62_E_BAD_ARGUMENT);
    EXPECT_EQ(kt62Update(h, nullptr), KT62_E_BAD_ARGUMENT);
    EXPECT_EQ(kt62ScsiRead10(h, 0, 4096, nullptr, 1), KT62_E_BAD_ARGUMENT);
    EXPECT_EQ(kt62GetVersion(h, b), 9) << "the rule is still there";
}

// A programmer is open once until it is closed (the kt62emu tests show another process refused).
TEST_F(HandlesTest, ASecondOpenIsRefusedUntilTheFirstIsGone) {
    UseProfile(R"({"programmers":[{}]})");
    KT62_HANDLE h = OpenAfterSearch(0);
    EXPECT_NE(Stderr([] { EXPECT_EQ(kt62Open(0), KT62_INVALID_HANDLE); }).find("programmer 0 is in use"),
              std::string::npos);
    EXPECT_EQ(kt62Close(h), KT62_OK);
    EXPECT_EQ(kt62Close(h), KT62_E_NOT_OPEN);
    EXPECT_NE(OpenAfterSearch(0), KT62_INVALID_HANDLE);
}

TEST_F(HandlesTest, CallsOnOneHandleAreSerialisedAndProgrammersRunInParallel) {
    UseProfile(R"({"programmers":[
        {"faults":[{"call":"kt62UfsReadFlag","match":{"idn":1},"delay_ms":800,"result":0}]}, {}]})");
    KT62_HANDLE slow = OpenAfterSearch(0), other = OpenAfterSearch(1);
    std::atomic<bool> slow_done{false}, started{false};
    std::thread t([&] {
        uint8_t v;
        started = true;
        kt62UfsReadFlag(slow, 1, &v);
        slow_done = true;
    });
    while (!started) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the thread gets into its call
    uint8_t version[4];
    EXPECT_EQ(kt62GetVersion(other, version), KT62_OK);
    EXPECT_FALSE(slow_done) << "another programmer waited for the slow call";
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(kt62GetVersion(slow, version), KT62_OK);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(300))
        << "a call on the same handle overtook the slow one";
    t.join();
}

TEST_F(HandlesTest, CloseRacingWithCallsNeverCrashes) {
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
            bad += !(kt62GetVersion(h, v) == KT62_OK || kt62GetVersion(h, v) == KT62_E_NOT_OPEN);
        });
        EXPECT_EQ(kt62Close(h), KT62_OK);
        t.join();
        EXPECT_EQ(bad, 0);
    }
}

}  // namespace
}  // namespace kt62test
