// SCSI on unit 0: ranges, protection and packet size.
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
    const std::vector<uint8_t> data = Pattern(1, 9), other = Pattern(1, 3);
    const int32_t protect = KT62_SCSI_FAILURE(0x07, 0x27);
    EXPECT_EQ(kt62ScsiWrite10(h_, 0, kBlock, data.data(), 1), KT62_OK) << "fPowerOnWPEn not set yet";
    ASSERT_EQ(kt62UfsSetFlag(h_, 0x03), KT62_OK);
    EXPECT_EQ(kt62ScsiWrite10(h_, 0, kBlock, other.data(), 1), protect);
    EXPECT_EQ(Read(0, 1), data) << "the refused write changed nothing";
    ASSERT_EQ(kt62UfsReset(h_, 1), KT62_OK);
    EXPECT_EQ(kt62ScsiWrite10(h_, 0, kBlock, data.data(), 1), KT62_OK)
        << "a reset clears power-on protection";
    std::vector<uint8_t> config = Descriptor(1);
    config[0x12] = 2;  // permanent protection, effective once fPermanentWPEn is set
    ASSERT_EQ(WriteConfig(config), KT62_OK);
    ASSERT_EQ(kt62UfsSetFlag(h_, 0x02), KT62_OK);
    ASSERT_EQ(kt62UfsReset(h_, 1), KT62_OK);
    EXPECT_EQ(kt62ScsiWrite10(h_, 0, kBlock, data.data(), 1), protect);
    Reopen();
    EXPECT_EQ(kt62ScsiWrite10(h_, 0, kBlock, data.data(), 1), protect);
}

// The packet size changes how a call is cut up inside the library, never what it does.
TEST_F(Scsi, PacketSizeNeverChangesTheResult) {
    ASSERT_NE(OpenDevice(), KT62_INVALID_HANDLE);
    const uint32_t packets[] = {0, 1, 12345, 65536, 0xFFFFFFFF};
    for (uint8_t w = 0; w < std::size(packets); ++w) {
        const std::vector<uint8_t> data = Pattern(37, w);
        kt62SetPacketSize(packets[w]);
        ASSERT_EQ(kt62ScsiWrite10(h_, 100, kBlock, data.data(), 37), KT62_OK) << packets[w];
        for (uint32_t p : packets) {
            kt62SetPacketSize(p);
            EXPECT_EQ(Read(100, 37), data) << "written with " << packets[w] << ", read with " << p;
        }
    }
    kt62SetPacketSize(0);
    Reopen();
    EXPECT_EQ(Read(100, 37), Pattern(37, std::size(packets) - 1)) << "the data outlives the handle";
}

}  // namespace
}  // namespace kt62test
