// Discovery, opening, handles and the programmer's own answers (version, product).
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "emulator_fixture.h"
#include "handle_calls.h"

namespace kt62test {
namespace {

using HandlesTest = EmulatorTest;

TEST_F(HandlesTest, SearchCountsTheProfilesProgrammers) {
    struct Case {
        const char* profile;
        int32_t count;
    };
    const Case cases[] = {
        {R"({"programmers":[]})", 0},
        {R"({"programmers":[{}]})", 1},
        {R"({"programmers":[{},{"product_name":"B"}]})", 2},
        {R"({"state_dir":"elsewhere"})", 1},  // no list: the one built-in programmer
    };
    for (const Case& c : cases) {
        UseProfile(c.profile);
        EXPECT_EQ(kt62Search(), c.count) << c.profile;
    }
}

TEST_F(HandlesTest, WithoutProfileOneProgrammerKeepsItsLockUnderXdgDataHome) {
    const std::filesystem::path state = dir_.Path() + "/xdg/kt6200/emulator";
    ASSERT_EQ(kt62Search(), 1);
    EXPECT_FALSE(std::filesystem::exists(state)) << "nothing to store before an open";
    KT62_HANDLE h = OpenAfterSearch(0);
    ASSERT_NE(h, KT62_INVALID_HANDLE);
    EXPECT_TRUE(std::filesystem::exists(state / "programmer0.lock"));
    uint8_t v[4] = {9, 9, 9, 9};
    EXPECT_EQ(kt62GetVersion(h, v), KT62_OK);
    EXPECT_EQ(std::vector<uint8_t>(v, v + 4), (std::vector<uint8_t>{1, 0, 0, 0}));
}

TEST_F(HandlesTest, StateFolderSitsBesideTheProfileOrWhereStateDirSays) {
    UseProfile(R"({"programmers":[{}]})", "dev.json");
    ASSERT_NE(OpenAfterSearch(0), KT62_INVALID_HANDLE);
    EXPECT_TRUE(std::filesystem::exists(dir_.Path() + "/dev.json.state/programmer0.lock"));

    UseProfile(R"({"state_dir":"sub/st","programmers":[{},{}]})", "other.json");
    ASSERT_NE(OpenAfterSearch(1), KT62_INVALID_HANDLE);
    EXPECT_TRUE(std::filesystem::exists(dir_.Path() + "/sub/st/programmer1.lock"));
}

TEST_F(HandlesTest, OpenRefusesPositionsOutsideTheList) {
    UseProfile(R"({"programmers":[{},{}]})");
    kt62Search();
    for (int32_t position : {-1, 2, 3, INT32_MAX, INT32_MIN})
        EXPECT_EQ(kt62Open(position), KT62_INVALID_HANDLE) << position;
}

TEST_F(HandlesTest, HandlesAreSmallIdsNeverReused) {
    UseProfile(R"({"programmers":[{},{}]})");
    KT62_HANDLE a = OpenAfterSearch(0);
    KT62_HANDLE b = OpenAfterSearch(1);
    ASSERT_NE(a, KT62_INVALID_HANDLE);
    ASSERT_NE(b, KT62_INVALID_HANDLE);
    EXPECT_GT(Id(a), 0);
    EXPECT_EQ(Id(b), Id(a) + 1);
    EXPECT_EQ(kt62Close(a), KT62_OK);
    KT62_HANDLE c = kt62Open(0);
    opened_.push_back(c);
    EXPECT_EQ(Id(c), Id(b) + 1);
    EXPECT_EQ(kt62GetVersion(a, std::array<uint8_t, 4>().data()), KT62_E_NOT_OPEN);
}

// Every function tells a closed handle from one never issued, and touches neither.
TEST_F(HandlesTest, ClosedAndBogusHandlesAreRecognisedByEveryFunction) {
    UseProfile(R"({"programmers":[{}]})");
    const KT62_HANDLE bogus[] = {KT62_INVALID_HANDLE, nullptr,
                                 reinterpret_cast<KT62_HANDLE>(intptr_t{123456}),
                                 reinterpret_cast<KT62_HANDLE>(intptr_t{-2})};
    for (const HandleCall& c : AllHandleCalls()) {
        KT62_HANDLE h = OpenAfterSearch(0);
        ASSERT_NE(h, KT62_INVALID_HANDLE) << c.name;
        ASSERT_EQ(kt62Close(h), KT62_OK);
        EXPECT_EQ(c.call(h), KT62_E_NOT_OPEN) << c.name;
        for (KT62_HANDLE b : bogus) EXPECT_EQ(c.call(b), KT62_E_INVALID_HANDLE) << c.name << " " << Id(b);
    }
}

TEST_F(HandlesTest, SecondOpenOfOneProgrammerIsRefusedUntilClosed) {
    UseProfile(R"({"programmers":[{}]})");
    KT62_HANDLE h = OpenAfterSearch(0);
    ASSERT_NE(h, KT62_INVALID_HANDLE);
    testing::internal::CaptureStderr();
    EXPECT_EQ(kt62Open(0), KT62_INVALID_HANDLE);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("programmer 0 is in use"), std::string::npos) << err;
    EXPECT_EQ(kt62Close(h), KT62_OK);
    EXPECT_EQ(kt62Close(h), KT62_E_NOT_OPEN);
    KT62_HANDLE again = kt62Open(0);
    opened_.push_back(again);
    EXPECT_NE(again, KT62_INVALID_HANDLE);
}

TEST_F(HandlesTest, ProgrammerOpenInAnotherProcessIsRefusedUntilItExits) {
    UseProfile(R"({"programmers":[{}]})");
    ASSERT_EQ(kt62Search(), 1);
    int opened[2], release[2];
    ASSERT_EQ(pipe(opened), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const char ok = kt62Open(0) != KT62_INVALID_HANDLE ? 'y' : 'n';
        [[maybe_unused]] ssize_t n = write(opened[1], &ok, 1);
        char go;
        n = read(release[0], &go, 1);
        _exit(0);  // the lock goes with the process, no close needed
    }
    char ok = 0;
    ASSERT_EQ(read(opened[0], &ok, 1), 1);
    ASSERT_EQ(ok, 'y');

    testing::internal::CaptureStderr();
    EXPECT_EQ(kt62Open(0), KT62_INVALID_HANDLE);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("in use by process " + std::to_string(child)), std::string::npos) << err;

    ASSERT_EQ(write(release[1], "x", 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    KT62_HANDLE h = kt62Open(0);
    opened_.push_back(h);
    EXPECT_NE(h, KT62_INVALID_HANDLE);
    for (int fd : {opened[0], opened[1], release[0], release[1]}) close(fd);
}

TEST_F(HandlesTest, VersionBytesComeFromTheProfile) {
    const std::vector<std::vector<uint8_t>> versions = {{1, 2, 3}, {200, 0, 255}, {0, 0, 0}};
    for (const auto& v : versions) {
        UseProfile(R"({"programmers":[{"firmware_version":[)" + std::to_string(v[0]) + "," +
                   std::to_string(v[1]) + "," + std::to_string(v[2]) + "]}]}");
        KT62_HANDLE h = OpenAfterSearch(0);
        uint8_t got[4] = {0xEE, 0xEE, 0xEE, 0xEE};
        ASSERT_EQ(kt62GetVersion(h, got), KT62_OK);
        EXPECT_EQ(std::vector<uint8_t>(got, got + 4), (std::vector<uint8_t>{v[0], v[1], v[2], 0}));
        kt62Close(h);
    }
}

TEST_F(HandlesTest, ProductAnswersWithNameVersionAndSerialWhenVersionIsNotSupported) {
    UseProfile(
        R"({"programmers":[{"get_version_supported":false,"product_name":"ABC","product_version":"1.05"},
                           {"product_name":"ABCDEFGHIJKLMNOP","product_version":"9"}]})");
    KT62_HANDLE h = OpenAfterSearch(0);
    uint8_t version[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(kt62GetVersion(h, version), KT62_E_NOT_SUPPORTED);
    EXPECT_EQ(version[0], 0xEE) << "a refused version leaves the buffer alone";

    uint8_t name[17];
    uint8_t extra[8];
    std::memset(name, 0xEE, sizeof name);
    ASSERT_EQ(kt62GetProduct(h, version, name, extra), KT62_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(name), 16), std::string("ABC") + std::string(13, '\0'));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(version), 4), "1.05");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(extra), 8), "KT000001");

    // A full 16-byte name is not terminated, and nothing past the 16 bytes is written.
    KT62_HANDLE h1 = OpenAfterSearch(1);
    ASSERT_EQ(kt62GetProduct(h1, version, name, extra), KT62_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(name), 16), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(name[16], 0xEE);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(version), 4), std::string("9\0\0\0", 4));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(extra), 8), "KT000002");
    EXPECT_EQ(kt62GetVersion(h1, version), KT62_OK) << "product works whatever the version support";
}

TEST_F(HandlesTest, NullBuffersAreRefusedWithoutUsingARule) {
    UseFaults(R"([{"call":"kt62GetVersion","times":1,"result":9}])");
    KT62_HANDLE h = OpenAfterSearch(0);
    EXPECT_EQ(kt62GetVersion(h, nullptr), KT62_E_BAD_ARGUMENT);
    uint8_t b[16];
    EXPECT_EQ(kt62GetProduct(h, b, nullptr, b), KT62_E_BAD_ARGUMENT);
    EXPECT_EQ(kt62UfsReadFlag(h, 1, nullptr), KT62_E_BAD_ARGUMENT);
    EXPECT_EQ(kt62Update(h, nullptr), KT62_E_BAD_ARGUMENT);
    EXPECT_EQ(kt62ScsiRead10(h, 0, 4096, nullptr, 1), KT62_E_BAD_ARGUMENT);
    EXPECT_EQ(kt62GetVersion(h, b), 9) << "the rule is still there";
}

TEST_F(HandlesTest, CallsOnOneHandleAreSerialisedAndProgrammersRunInParallel) {
    UseProfile(R"({"programmers":[
        {"faults":[{"call":"kt62UfsReadFlag","match":{"idn":1},"delay_ms":800,"result":0}]},
        {}]})");
    KT62_HANDLE slow = OpenAfterSearch(0);
    KT62_HANDLE other = OpenAfterSearch(1);
    std::atomic<bool> slow_done{false};
    std::atomic<bool> started{false};
    std::thread t([&] {
        uint8_t v;
        started = true;
        kt62UfsReadFlag(slow, 1, &v);
        slow_done = true;
    });
    while (!started) std::this_thread::yield();
    // Time for the thread to get into its call; the slow call outlasts it by far.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    uint8_t version[4];
    EXPECT_EQ(kt62GetVersion(other, version), KT62_OK);
    EXPECT_FALSE(slow_done) << "another programmer waited for the slow call";
    // The slow call has about 600 ms left: a call on its handle has to wait for it.
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
        ASSERT_NE(h, KT62_INVALID_HANDLE);
        std::atomic<int> bad{0};
        std::thread t([&] {
            uint8_t v[4];
            for (int i = 0; i < 200; ++i) {
                const int32_t r = kt62GetVersion(h, v);
                if (r != KT62_OK && r != KT62_E_NOT_OPEN) ++bad;
            }
        });
        EXPECT_EQ(kt62Close(h), KT62_OK);
        t.join();
        EXPECT_EQ(bad, 0);
    }
}

}  // namespace
}  // namespace kt62test
