// A child writes configurations, attributes and sectors with resets between and is killed at random,
// round after round; its device loads with whole blocks and the last step it completed or was in.
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

class PowerLoss : public DeviceTest {
protected:
    // Unit 0 (of 1 MiB allocation units) changes size each step, and so loses its data.
    static std::vector<uint8_t> Configuration(uint32_t k) {
        return SingleUnitConfig(std::array<uint32_t, 4>{8, 16, 4, 32}[k]);
    }
    // Blocks that say who wrote them: the step and each one's LBA, then bytes of both.
    static std::vector<uint8_t> Blocks(uint32_t i, uint32_t lba, uint32_t count) {
        std::vector<uint8_t> p(size_t{count} * kBlock);
        for (size_t n = 0; n < p.size(); ++n)
            p[n] = static_cast<uint8_t>(i * 31 + (lba + n / kBlock) * 7 + n);
        for (uint32_t b = 0; b < count; ++b)
            std::memcpy(&p[size_t{b} * kBlock], std::array{i, lba + b}.data(), 8);
        return p;
    }
    // The child: opens, says so through the pipe, then says each step it completed.
    [[noreturn]] static void RunScript(int said_fd) {
        kt62Search();
        KT62_HANDLE h = kt62Open(0);
        if (h == KT62_INVALID_HANDLE) _exit(3);
        (void)!write(said_fd, "r", 1);
        for (uint32_t i = 0;; ++i) {
            const std::vector<uint8_t> c = Configuration(i % 4);
            const uint32_t lba = i * kBlocksPerWrite % kDataBlocks;
            const std::vector<uint8_t> data = Blocks(i, lba, kBlocksPerWrite);
            if (kt62UfsWriteDescriptor(h, 1, 0, 0, c.data(), static_cast<uint32_t>(c.size())) != KT62_OK ||
                kt62UfsReset(h, 1) != KT62_OK || kt62UfsWriteAttribute(h, 0x0A, 0, 0, i % 4) != KT62_OK ||
                kt62ScsiWrite10(h, lba, kBlock, data.data(), kBlocksPerWrite) != KT62_OK)
                _exit(4);
            (void)!write(said_fd, "s", 1);
        }
    }
};

TEST_F(PowerLoss, KilledAtRandomMomentsTheDeviceAlwaysLoadsConsistent) {
    const int rounds =
        std::getenv("KT_POWER_LOSS_ROUNDS") ? std::atoi(std::getenv("KT_POWER_LOSS_ROUNDS")) : 1000;
    ASSERT_NE(OpenDevice(R"({"raw_capacity_bytes":67108864,"segment_size_bytes":1048576})"),
              KT62_INVALID_HANDLE);
    const std::vector<uint8_t> factory = Descriptor(1);
    kt62Close(h_);
    std::mt19937 random(20240607);
    bool ever = false;
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
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child stopped on its own with " << WEXITSTATUS(status);
        std::string said(1 << 16, '\0');  // all it said: it is gone
        const auto steps =
            static_cast<uint32_t>(std::max<ssize_t>(read(pipe_fds[0], said.data(), said.size()) - 1, 0));
        close(pipe_fds[0]);
        ever |= steps > 0;
        kt62Search();  // and the device as the child left it
        h_ = kt62Open(0);
        ASSERT_NE(h_, KT62_INVALID_HANDLE) << "the state loads";
        const std::vector<uint8_t> config = Descriptor(1);
        EXPECT_TRUE(!ever || config != factory) << "a completed step was lost";
        int k = 0;
        while (k < 4 && config != Configuration(k)) ++k;
        ASSERT_TRUE(k < 4 || config == factory) << "a configuration the script never wrote";
        const std::vector<uint8_t> data = Read(0, kDataBlocks);
        // The next step's configuration is another: while it is not in, the last step's blocks are.
        const uint32_t last = steps - 1, last_lba = last * kBlocksPerWrite % kDataBlocks;
        for (uint32_t lba = 0; lba < kDataBlocks; ++lba) {
            const auto* p = &data[size_t{lba} * kBlock];
            uint32_t step = 0;
            std::memcpy(&step, p, 4);
            const bool zeros = std::all_of(p, p + kBlock, [](uint8_t b) { return b == 0; });
            EXPECT_TRUE(zeros || std::equal(p, p + kBlock, Blocks(step, lba, 1).begin())) << "block " << lba;
            if (steps > 0 && k == static_cast<int>(last % 4) && lba - last_lba < kBlocksPerWrite) {
                EXPECT_FALSE(zeros) << "block " << lba << " of the last step";
                EXPECT_EQ(step, last) << "block " << lba;
            }
        }
        EXPECT_EQ(kt62Close(h_), KT62_OK);
    }
}

}  // namespace
}  // namespace kt62test
