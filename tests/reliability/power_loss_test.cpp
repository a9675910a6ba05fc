// Power loss: a child runs a long script of configuration writes, resets, attribute writes and
// WRITE(10)s and is killed at a random moment, round after round. The device it left always loads
// with a configuration the script wrote that the descriptors agree with, and whole blocks.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <thread>

#include "tests/libkt62/device_fixture.h"

namespace kt62test {
namespace {

constexpr uint32_t kDataBlocks = 64, kBlocksPerWrite = 4;  // the script writes blocks 0 .. 63 of unit 0
constexpr char kMagic[8] = {'K', 'T', '-', 'P', 'W', 'R', '0', '1'};

class PowerLoss : public DeviceTest {
protected:
    // Unit 0 (of 1 MiB allocation units) changes size each time, and so loses its data.
    static std::vector<uint8_t> Configuration(uint32_t k) {
        std::vector<uint8_t> c = SingleUnitConfig(std::array<uint32_t, 4>{8, 16, 4, 32}[k]);
        if (k > 0) SetUnit(c, static_cast<int>(k), 1, 0, 0, 8 >> (k - 1), k == 2 ? 13 : 12);
        return c;
    }
    // A block that says who wrote it: the magic, the iteration and its LBA, then bytes of both.
    static void FillBlock(uint8_t* p, uint32_t i, uint32_t lba) {
        std::memcpy(p, kMagic, 8);
        std::memcpy(p + 8, &i, 4);
        std::memcpy(p + 12, &lba, 4);
        for (uint32_t n = 16; n < kBlock; ++n) p[n] = static_cast<uint8_t>(i * 31 + lba * 7 + n);
    }
    static bool WholeBlock(const uint8_t* p, uint32_t lba) {
        if (std::all_of(p, p + kBlock, [](uint8_t b) { return b == 0; })) return true;
        std::vector<uint8_t> want(kBlock);
        FillBlock(want.data(), *reinterpret_cast<const uint32_t*>(p + 8), lba);
        return std::memcmp(p, want.data(), kBlock) == 0;
    }
    // The child: opens, says so through the pipe, and runs the script until it is killed.
    [[noreturn]] static void RunScript(int ready_fd) {
        kt62Search();
        KT62_HANDLE h = kt62Open(0);
        if (h == KT62_INVALID_HANDLE) _exit(3);
        (void)!write(ready_fd, "r", 1);
        std::vector<uint8_t> data(size_t{kBlocksPerWrite} * kBlock);
        for (uint32_t i = 0;; ++i) {
            const std::vector<uint8_t> c = Configuration(i % 4);
            const uint32_t lba = i * kBlocksPerWrite % kDataBlocks;
            for (uint32_t b = 0; b < kBlocksPerWrite; ++b) FillBlock(&data[size_t{b} * kBlock], i, lba + b);
            if (kt62UfsWriteDescriptor(h, 1, 0, 0, c.data(), static_cast<uint32_t>(c.size())) != KT62_OK ||
                kt62UfsReset(h, 1) != KT62_OK || kt62UfsWriteAttribute(h, 0x0A, 0, 0, i % 4) != KT62_OK ||
                kt62ScsiWrite10(h, lba, kBlock, data.data(), kBlocksPerWrite) != KT62_OK)
                _exit(4);
        }
    }

    // Opens the device again (it powers up from what the child left) and checks it.
    void CheckDevice(const std::vector<uint8_t>& factory) {
        kt62Search();
        h_ = kt62Open(0);
        ASSERT_NE(h_, KT62_INVALID_HANDLE);
        ASSERT_LT(Attribute(0x0A), 4u) << "the state loads";
        const std::vector<uint8_t> config = Descriptor(1);
        bool known = config == factory;
        for (uint32_t k = 0; k < 4; ++k) known |= config == Configuration(k);
        ASSERT_TRUE(known) << "a configuration the script never wrote";
        int enabled = 0;
        for (uint8_t lun = 0; lun < 8; ++lun) {
            const uint8_t* u = config.data() + 0x10 + 16 * lun;
            const std::vector<uint8_t> unit = Descriptor(2, lun);
            EXPECT_EQ(unit[0x03], u[0]) << "bLUEnable of unit " << int(lun);
            if (!u[0]) continue;
            ++enabled;
            const uint64_t au = uint64_t{u[4]} << 24 | u[5] << 16 | u[6] << 8 | u[7];
            EXPECT_EQ(unit[0x0A], u[9]) << "block size of unit " << int(lun);
            EXPECT_EQ(UnitBlocks(lun), (au << 20) >> u[9]) << "blocks of unit " << int(lun);
        }
        EXPECT_EQ(Descriptor(0)[0x06], enabled) << "bNumberLU";
        uint32_t sectors = 0, size = 0;
        EXPECT_EQ(kt62ScsiReadCapacity(h_, &sectors, &size) == KT62_OK ? sectors : 0, UnitBlocks(0));
        std::vector<uint8_t> data(size_t{kDataBlocks} * kBlock);
        ASSERT_EQ(kt62ScsiRead10(h_, 0, kBlock, data.data(), kDataBlocks), KT62_OK);
        for (uint32_t lba = 0; lba < kDataBlocks; ++lba)
            EXPECT_TRUE(WholeBlock(&data[size_t{lba} * kBlock], lba)) << "block " << lba;
        EXPECT_EQ(kt62Close(h_), KT62_OK);
    }
};

// 1000 rounds unless KT_POWER_LOSS_ROUNDS says otherwise.
TEST_F(PowerLoss, KilledAtRandomMomentsTheDeviceAlwaysLoadsConsistent) {
    const char* env = std::getenv("KT_POWER_LOSS_ROUNDS");
    const int rounds = env ? std::atoi(env) : 1000;
    ASSERT_NE(OpenDevice(R"({"raw_capacity_bytes":67108864,"segment_size_bytes":1048576})"),
              KT62_INVALID_HANDLE);
    const std::vector<uint8_t> factory = Descriptor(1);
    kt62Close(h_);
    std::mt19937 random(20240607);
    for (int round = 0; round < rounds && !HasFailure(); ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        int pipe_fds[2];
        ASSERT_EQ(pipe(pipe_fds), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(pipe_fds[0]);
            RunScript(pipe_fds[1]);
        }
        close(pipe_fds[1]);
        // One round in ten kills the child while it opens the device and powers it up.
        pollfd ready{pipe_fds[0], POLLIN, 0};
        ASSERT_TRUE(random() % 10 == 0 || poll(&ready, 1, 10000) == 1)
            << "the child never opened the programmer";
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        close(pipe_fds[0]);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child stopped on its own with " << WEXITSTATUS(status);
        CheckDevice(factory);
    }
}

}  // namespace
}  // namespace kt62test
