// SCSI on unit 0: ranges, protection, packet size, and calls from several
// threads.
#include <thread>

#include "device_fixture.h"

namespace kt62test {
namespace {

using Scsi = DeviceTest;

TEST_F(Scsi, RangeChecksUseTheWholeTransfer) {
    ASSERT_NE(OpenDevice(R"({"raw_capacity_bytes":16777216})"), KT62_INVALID_HANDLE);  // 4096 blocks
    std::vector<uint8_t> buf(2 * kBlock);
    const int32_t out = KT62_SCSI_FAILURE(0x05, 0x21);
    const struct {
        uint32_t lba, count;
        int32_t expect;
    } cases[] = {{4095, 1, KT62_OK}, {4094, 2, KT62_OK}, {4095, 2, out},      {4096, 1, out},
                 {4096, 0, KT62_OK}, {4097, 0, out},     {0xFFFFFFFF, 2, out}};
    for (const auto& c : cases) {
        EXPECT_EQ(kt62ScsiRead10(h_, c.lba, kBlock, buf.data(), c.count), c.expect)
            << c.lba << "+" << c.count;
        EXPECT_EQ(kt62ScsiWrite10(h_, c.lba, kBlock, buf.data(), c.count), c.expect)
            << c.lba << "+" << c.count;
    }
    EXPECT_EQ(kt62ScsiRead10(h_, 0, 512, buf.data(), 1), KT62_E_BAD_ARGUMENT) << "not the unit's block size";
}

TEST_F(Scsi, WriteProtectionFollowsTheUnitSettingAndItsFlag) {
    ASSERT_NE(OpenDevice(R"({"logical_units":[{"write_protect":1}]})"), KT62_INVALID_HANDLE);
    const std::vector<uint8_t> data = Pattern(1, 9);
    std::vector<uint8_t> back(kBlock);
    EXPECT_EQ(kt62ScsiWrite10(h_, 0, kBlock, data.data(), 1), KT62_OK) << "fPowerOnWPEn not set yet";
    ASSERT_EQ(kt62UfsSetFlag(h_, 0x03), KT62_OK);
    EXPECT_EQ(kt62ScsiWrite10(h_, 0, kBlock, back.data(), 1), KT62_SCSI_FAILURE(0x07, 0x27));
    EXPECT_EQ(kt62ScsiRead10(h_, 0, kBlock, back.data(), 1), KT62_OK);
    EXPECT_EQ(back, data) << "the refused write changed nothing";
    ASSERT_EQ(kt62UfsReset(h_, 1), KT62_OK);
    EXPECT_EQ(kt62ScsiWrite10(h_, 0, kBlock, data.data(), 1), KT62_OK)
        << "a reset clears power-on protection";

    std::vector<uint8_t> config = Descriptor(1);
    config[0x12] = 2;  // permanent protection, effective once fPermanentWPEn is set
    ASSERT_EQ(WriteConfig(config), KT62_OK);
    ASSERT_EQ(kt62UfsSetFlag(h_, 0x02), KT62_OK);
    ASSERT_EQ(kt62UfsReset(h_, 1), KT62_OK);
    EXPECT_EQ(kt62ScsiWrite10(h_, 0, kBlock, data.data(), 1), KT62_SCSI_FAILURE(0x07, 0x27));
    Reopen();
    EXPECT_EQ(kt62ScsiWrite10(h_, 0, kBlock, data.data(), 1), KT62_SCSI_FAILURE(0x07, 0x27));
}

// The packet size changes how a call is cut up inside the library, never what it does.
TEST_F(Scsi, PacketSizeNeverChangesTheResult) {
    ASSERT_NE(OpenDevice(), KT62_INVALID_HANDLE);
    const uint32_t blocks = 37;
    const uint32_t packets[] = {0, 1, 4096, 12345, 65536, 1u << 20, 0xFFFFFFFF};
    for (size_t w = 0; w < std::size(packets); ++w) {
        const std::vector<uint8_t> data = Pattern(blocks, static_cast<uint8_t>(w));
        kt62SetPacketSize(packets[w]);
        ASSERT_EQ(kt62ScsiWrite10(h_, 100, kBlock, data.data(), blocks), KT62_OK) << packets[w];
        for (uint32_t p : packets) {
            kt62SetPacketSize(p);
            std::vector<uint8_t> back(data.size());
            ASSERT_EQ(kt62ScsiRead10(h_, 100, kBlock, back.data(), blocks), KT62_OK);
            EXPECT_EQ(back, data) << "written with " << packets[w] << ", read with " << p;
        }
    }
    kt62SetPacketSize(0);
    Reopen();
    std::vector<uint8_t> back(size_t{blocks} * kBlock);
    ASSERT_EQ(kt62ScsiRead10(h_, 100, kBlock, back.data(), blocks), KT62_OK);
    EXPECT_EQ(back, Pattern(blocks, std::size(packets) - 1)) << "the data outlives the handle";
}

// Calls on one handle from two threads, and on a second programmer at the same time: each call
// sees a whole state (run under the ThreadSanitizer build).
TEST_F(DeviceTest, ConcurrentCallsOnOneHandleAndOnTwoProgrammers) {
    UseProfile(R"({"programmers":[{},{}]})");
    kt62Search();
    KT62_HANDLE a = kt62Open(0), b = kt62Open(1);
    opened_.push_back(a);
    opened_.push_back(b);
    ASSERT_NE(a, KT62_INVALID_HANDLE);
    ASSERT_NE(b, KT62_INVALID_HANDLE);
    auto transfer = [this](KT62_HANDLE h, uint8_t seed) {
        const std::vector<uint8_t> data = Pattern(64, seed);
        std::vector<uint8_t> back(data.size());
        for (int i = 0; i < 40; ++i) {
            uint32_t sectors = 0, size = 0;
            EXPECT_EQ(kt62ScsiReadCapacity(h, &sectors, &size), KT62_OK);
            EXPECT_EQ(kt62ScsiWrite10(h, 64 * i, size, data.data(), 64), KT62_OK);
            EXPECT_EQ(kt62ScsiRead10(h, 64 * i, size, back.data(), 64), KT62_OK);
            EXPECT_EQ(back, data);
        }
    };
    auto queries = [](KT62_HANDLE h) {
        for (int i = 0; i < 2000; ++i) {
            uint32_t v = 0;
            uint8_t desc[64];
            EXPECT_EQ(kt62UfsReadAttribute(h, 0x0A, 0, 0, &v), KT62_OK);
            EXPECT_EQ(kt62UfsWriteAttribute(h, 0x03, 0, 0, i % 16), KT62_OK);
            EXPECT_EQ(kt62UfsReadDescriptor(h, 0, 0, 0, desc, 64), KT62_OK);
            EXPECT_EQ(desc[0], 0x40);
            EXPECT_EQ(kt62UfsGetDME(h, 0x1560, 0, 1, &v), KT62_OK);
            if (i % 500 == 0) {
                EXPECT_EQ(kt62UfsReset(h, 1), KT62_OK);
            }
        }
    };
    std::thread t1(transfer, a, 1), t2(queries, a), t3(transfer, b, 2), t4(queries, b);
    t1.join();
    t2.join();
    t3.join();
    t4.join();
}

}  // namespace
}  // namespace kt62test
