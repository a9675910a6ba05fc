// Power loss: a child process runs a long script of provisioning (configuration writes and
// resets), attribute and flag writes and WRITE(10)s through the C functions, and is killed at a
// random moment, round after round. Each time, the device the child left loads again and is
// consistent: the stored values are a state the script passed through, the descriptors agree
// with the configuration and with each other, READ CAPACITY matches unit descriptor 0, and every
// block holds zeros or one whole block the script wrote.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <thread>
#include <tuple>

#include "emu/device_state.h"
#include "profile.h"
#include "tests/libkt62/device_fixture.h"

namespace kt62test {
namespace {

// 64 allocation units of 1 MiB: small enough that every configuration below fits.
constexpr const char* kUfs = R"({"raw_capacity_bytes":67108864,"segment_size_bytes":1048576})";
constexpr uint32_t kDataBlocks = 64;  // the script writes blocks 0 .. 63 of unit 0
constexpr uint32_t kBlocksPerWrite = 4;
constexpr char kMagic[8] = {'K', 'T', '-', 'P', 'W', 'R', '0', '1'};

// What the script's steps store, besides the data: which configuration was last written,
// bRefClkFreq, fPhyResourceRemoval, bMaxDataInSize.
using Stored = std::tuple<int, uint32_t, uint8_t, uint32_t>;
constexpr int kFactory = -1;

class PowerLoss : public DeviceTest {
protected:
    static constexpr int kConfigs = 4;

    // Unit 0 changes size each time, so each configuration also discards unit 0's data.
    static std::vector<uint8_t> Configuration(int k) {
        std::vector<uint8_t> c = SingleUnitConfig(std::array<uint32_t, kConfigs>{8, 16, 4, 32}[k]);
        if (k == 1) SetUnit(c, 1, 1, 0, 0, 4);
        if (k == 2) SetUnit(c, 2, 1, 0, 0, 8, 13);
        if (k == 3) SetUnit(c, 3, 1, 0, 0, 2);
        return c;
    }

    // Step `step` of iteration `i` of the script; false when the call failed.
    static bool Step(KT62_HANDLE h, uint32_t i, int step) {
        const int k = static_cast<int>(i % kConfigs);
        switch (step) {
            case 0: {
                const std::vector<uint8_t> c = Configuration(k);
                return kt62UfsWriteDescriptor(h, 1, 0, 0, c.data(), static_cast<uint32_t>(c.size())) ==
                       KT62_OK;
            }
            case 1:
                return kt62UfsReset(h, 1) == KT62_OK;
            case 2:
                return kt62UfsWriteAttribute(h, 0x0A, 0, 0, static_cast<uint32_t>(k)) == KT62_OK;
            case 3:
                return (k % 2 ? kt62UfsSetFlag(h, 0x08) : kt62UfsClearFlag(h, 0x08)) == KT62_OK;
            case 4:
                return kt62UfsWriteAttribute(h, 0x07, 0, 0, 1 + static_cast<uint32_t>(k)) == KT62_OK;
            default: {
                const uint32_t lba = i * kBlocksPerWrite % kDataBlocks;
                std::vector<uint8_t> data(size_t{kBlocksPerWrite} * kBlock);
                for (uint32_t b = 0; b < kBlocksPerWrite; ++b)
                    FillBlock(&data[size_t{b} * kBlock], i, lba + b);
                return kt62ScsiWrite10(h, lba, kBlock, data.data(), kBlocksPerWrite) == KT62_OK;
            }
        }
    }
    static constexpr int kSteps = 6;

    // A block that says who wrote it: the magic, the iteration and its LBA, then bytes made of both.
    static void FillBlock(uint8_t* p, uint32_t i, uint32_t lba) {
        std::memcpy(p, kMagic, 8);
        std::memcpy(p + 8, &i, 4);
        std::memcpy(p + 12, &lba, 4);
        for (uint32_t n = 16; n < kBlock; ++n) p[n] = static_cast<uint8_t>(i * 31 + lba * 7 + n);
    }
    static bool WholeBlock(const uint8_t* p, uint32_t lba) {
        if (std::all_of(p, p + kBlock, [](uint8_t b) { return b == 0; })) return true;
        if (std::memcmp(p, kMagic, 8) != 0) return false;
        uint32_t i = 0, at = 0;
        std::memcpy(&i, p + 8, 4);
        std::memcpy(&at, p + 12, 4);
        std::vector<uint8_t> want(kBlock);
        FillBlock(want.data(), i, at);
        return at == lba && std::memcmp(p, want.data(), kBlock) == 0;
    }

    // Every state the script passes through when it starts from `s`. The script repeats itself
    // every kConfigs iterations; two rounds of it reach every state there is.
    static std::set<Stored> Reachable(Stored s) {
        std::set<Stored> all{s};
        for (uint32_t i = 0; i < 2 * kConfigs; ++i) {
            const int k = static_cast<int>(i % kConfigs);
            std::get<0>(s) = k;
            all.insert(s);
            std::get<1>(s) = static_cast<uint32_t>(k);
            all.insert(s);
            std::get<2>(s) = static_cast<uint8_t>(k % 2);
            all.insert(s);
            std::get<3>(s) = 1 + static_cast<uint32_t>(k);
            all.insert(s);
        }
        return all;
    }

    // The child: opens, says so through the pipe, and runs the script until it is killed.
    [[noreturn]] static void RunScript(int ready_fd) {
        kt62Search();
        KT62_HANDLE h = kt62Open(0);
        if (h == KT62_INVALID_HANDLE) _exit(3);
        (void)!write(ready_fd, "r", 1);
        for (uint32_t i = 0;; ++i)
            for (int step = 0; step < kSteps; ++step)
                if (!Step(h, i, step)) _exit(10 + step);
    }

    // Opens the device again (it powers up from what the child left) and checks it.
    void CheckDevice(int round, const std::vector<uint8_t>& factory, Stored& previous) {
        SCOPED_TRACE("round " + std::to_string(round));
        kt62Search();
        h_ = kt62Open(0);
        ASSERT_NE(h_, KT62_INVALID_HANDLE);
        uint32_t refclk = 0;
        ASSERT_EQ(kt62UfsReadAttribute(h_, 0x0A, 0, 0, &refclk), KT62_OK) << "the state loads";

        const std::vector<uint8_t> config = Descriptor(1);
        int k = config == factory ? kFactory : -2;
        for (int c = 0; c < kConfigs; ++c)
            if (config == Configuration(c)) k = c;
        ASSERT_NE(k, -2) << "a configuration the script never wrote";
        const Stored stored{k, refclk, Flag(0x08), Attribute(0x07)};
        EXPECT_TRUE(Reachable(previous).count(stored))
            << "configuration " << k << ", bRefClkFreq " << refclk << ", flag " << int(std::get<2>(stored))
            << ", bMaxDataInSize " << std::get<3>(stored) << "; the round before left configuration "
            << std::get<0>(previous) << ", " << std::get<1>(previous) << ", " << int(std::get<2>(previous))
            << ", " << std::get<3>(previous);
        previous = stored;

        // The configuration took effect at power-up: units and device descriptor follow it.
        int enabled = 0;
        for (uint8_t lun = 0; lun < 8; ++lun) {
            const uint8_t* u = config.data() + 0x10 + 16 * lun;
            const std::vector<uint8_t> unit = Descriptor(2, lun);
            ASSERT_EQ(unit.size(), 0x23u);
            EXPECT_EQ(unit[0x03], u[0]) << "bLUEnable of unit " << int(lun);
            if (!u[0]) continue;
            ++enabled;
            const uint64_t au = uint64_t{u[4]} << 24 | u[5] << 16 | u[6] << 8 | u[7];
            EXPECT_EQ(unit[0x0A], u[9]) << "block size of unit " << int(lun);
            EXPECT_EQ(UnitBlocks(lun), (au << 20) >> u[9]) << "blocks of unit " << int(lun);
        }
        EXPECT_EQ(Descriptor(0)[0x06], enabled) << "bNumberLU";

        uint32_t sectors = 0, size = 0;
        ASSERT_EQ(kt62ScsiReadCapacity(h_, &sectors, &size), KT62_OK);
        EXPECT_EQ(sectors, UnitBlocks(0));
        EXPECT_EQ(size, 1u << Descriptor(2, 0)[0x0A]);

        std::vector<uint8_t> data(size_t{kDataBlocks} * kBlock);
        ASSERT_EQ(kt62ScsiRead10(h_, 0, kBlock, data.data(), kDataBlocks), KT62_OK);
        for (uint32_t lba = 0; lba < kDataBlocks; ++lba)
            EXPECT_TRUE(WholeBlock(&data[size_t{lba} * kBlock], lba)) << "block " << lba;
        EXPECT_EQ(kt62Close(h_), KT62_OK);
    }
};

TEST_F(PowerLoss, KilledAtRandomMomentsTheDeviceAlwaysLoadsConsistent) {
    const char* env = std::getenv("KT_POWER_LOSS_ROUNDS");
    const int rounds = env ? std::atoi(env) : 1000;
    UseProfile(std::string(R"({"programmers":[{"ufs":)") + kUfs + "}]}");

    // The factory configuration, as the device made from this profile ships it, without storing it.
    kt62::UfsProfile profile;
    profile.raw_capacity_bytes = uint64_t{64} << 20;
    profile.segment_size_bytes = uint64_t{1} << 20;
    kt62::emu::DeviceView fresh;
    std::string error;
    ASSERT_EQ(kt62::emu::ReadDeviceView({dir_.Path() + "/profile.json.state", 0}, profile, fresh, error),
              KT62_OK)
        << error;
    ASSERT_TRUE(fresh.factory_fresh);
    const std::vector<uint8_t> factory = fresh.descriptors[1].bytes;
    Stored previous{kFactory, 1, 0, 8};  // bRefClkFreq 1, fPhyResourceRemoval 0, bMaxDataInSize 8 when new

    std::mt19937 random(20240607);
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < rounds; ++round) {
        int pipe_fds[2];
        ASSERT_EQ(pipe(pipe_fds), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(pipe_fds[0]);
            RunScript(pipe_fds[1]);
        }
        close(pipe_fds[1]);
        // Most kills fall inside the script; one round in ten kills the child while it opens the
        // device and powers it up.
        if (random() % 10 != 0) {
            pollfd ready{pipe_fds[0], POLLIN, 0};
            ASSERT_EQ(poll(&ready, 1, 10000), 1) << "the child never opened the programmer";
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        close(pipe_fds[0]);
        ASSERT_TRUE(WIFSIGNALED(status))
            << "round " << round << ": the child stopped on its own with " << WEXITSTATUS(status);
        CheckDevice(round, factory, previous);
        if (HasFailure()) return;
    }
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d kills in %.1f s\n", rounds, seconds);
}

}  // namespace
}  // namespace kt62test
