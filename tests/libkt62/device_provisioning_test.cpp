// Provisioning (configuration writes take effect at a reset); SCSI on unit 0: ranges, protection, packets.
#include <tuple>

#include "device_fixture.h"

namespace kt62test {
namespace {

using Provisioning = DeviceTest;
using Scsi = DeviceTest;

// The layout after the reset is features_single_lun_chain's (end to end); here, what comes before.
TEST_F(Provisioning, ConfigurationTakesEffectAtResetAndReadsBackAsWritten) {
    // 8 GiB in 2048 allocation units of 4 MiB, two units.
    ASSERT_NE(OpenDevice(R"({"raw_capacity_bytes":8589934592,"logical_units":[
                            {"boot_lun_id":1,"alloc_units":512},{"alloc_units":1024}]})"),
              KT62_INVALID_HANDLE);
    const std::vector<uint8_t> config = SingleUnitConfig(2048);
    ASSERT_EQ(WriteConfig(config), KT62_OK);
    EXPECT_EQ(Descriptor(1), config) << "reads back as written before the reset";
    EXPECT_EQ(UnitBlocks(1), 1024u * 1024) << "the layout waits for the reset";
    ASSERT_EQ(kt62UfsReset(h_, 1), KT62_OK);
    EXPECT_EQ(Descriptor(1), config);
    EXPECT_EQ(UnitBlocks(0), 2097152u);
}

// A unit's data survives a reset where its layout stays, and not in a profile of another device.
TEST_F(Provisioning, DataStaysOnlyWithItsLayoutAndItsDevice) {
    const std::string units = R"("logical_units":[{"alloc_units":512},{"alloc_units":1024}]})";
    ASSERT_NE(OpenDevice(R"({"raw_capacity_bytes":8589934592,)" + units), KT62_INVALID_HANDLE);
    const std::vector<uint8_t> data = Pattern(2, 5), zeros(2 * kBlock, 0);
    ASSERT_EQ(kt62ScsiWrite10(h_, 10, kBlock, data.data(), 2), KT62_OK);
    std::vector<uint8_t> c = Descriptor(1);
    for (const auto& [lun, alloc_units, kept] : {std::tuple{1, 1000, true}, {0, 600, false}}) {
        SetUnit(c, lun, 1, 0, 0, alloc_units);
        ASSERT_EQ(WriteConfig(c), KT62_OK);
        ASSERT_EQ(kt62UfsReset(h_, 1), KT62_OK);
        EXPECT_EQ(Read(10, 2), kept ? data : zeros) << "unit " << lun << " resized";
    }
    ASSERT_EQ(kt62ScsiWrite10(h_, 10, kBlock, data.data(), 2), KT62_OK);
    kt62Close(h_);
    Stderr([&] { OpenDevice(R"({"raw_capacity_bytes":8589934592,"serial_number":"OTHER",)" + units); });
    EXPECT_EQ(Read(10, 2), zeros);
}

// WriteBooster on a 3.1 part of 8 GiB (2048 AUs, a buffer of at most 128), reported after the reset.
struct WbCase {
    const char* name;
    uint8_t preserve, type;
    uint32_t shared, unit0_au, unit0_wb, unit1_wb;  // unit 1 stays disabled
    int32_t result;
};
class WriteBooster : public DeviceTest, public ::testing::WithParamInterface<WbCase> {};

TEST_P(WriteBooster, ConfiguredThroughTheConfigurationAndReportedBack) {
    const WbCase& w = GetParam();
    ASSERT_NE(OpenDevice(R"({"spec_version":"3.1","raw_capacity_bytes":8589934592})"), KT62_INVALID_HANDLE);
    std::vector<uint8_t> c = Descriptor(1);
    c[0x10] = w.preserve, c[0x11] = w.type;
    for (const auto& [at, v] :
         {std::pair{0x12, w.shared}, {0x1A, w.unit0_au}, {0x2C, w.unit0_wb}, {0x46, w.unit1_wb}})
        kt::PutBigEndian32(c.data() + at, v);
    ASSERT_EQ(WriteConfig(c), w.result);
    if (w.result != KT62_OK) return;
    ASSERT_EQ(kt62UfsReset(h_, 1), KT62_OK);
    const std::vector<uint8_t> device = Descriptor(0);
    EXPECT_EQ(
        std::vector<uint8_t>(device.begin() + 0x51, device.end()),
        (std::vector<uint8_t>{1, 1, w.preserve, w.type, 0, 0, uint8_t(w.shared >> 8), uint8_t(w.shared)}));
    EXPECT_EQ(Descriptor(2, 0)[0x2C], w.unit0_wb);
    EXPECT_EQ(Attribute(0x1F, 0), w.type ? w.shared : w.unit0_wb) << "dCurrentWriteBoosterBufferSize";
    EXPECT_EQ(Attribute(0x1F, 3), w.type ? w.shared : 0);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, WriteBooster, ::testing::ValuesIn(std::vector<WbCase>{
    {"DedicatedReducingUserSpace", 0, 0, 0, 2048 - 3 * 50, 50, 0, KT62_OK},
    {"DedicatedTooLargeForTheUserSpace", 0, 0, 0, 2048 - 3 * 50 + 1, 50, 0, KT62_QUERY_INVALID_VALUE},
    {"DedicatedBeyondTheMaximum", 1, 0, 0, 2048, 129, 0, KT62_QUERY_INVALID_VALUE},
    {"DedicatedOnADisabledUnit", 1, 0, 0, 2048, 0, 10, KT62_QUERY_INVALID_VALUE},
    {"SharedSeenFromEveryUnit", 1, 1, 100, 2048, 0, 0, KT62_OK},
    {"SharedWithAUnitBuffer", 1, 1, 100, 2048, 10, 0, KT62_QUERY_INVALID_VALUE}}),
    [](const auto& param_info) { return std::string(param_info.param.name); });
// clang-format on

TEST_F(Provisioning, EnhancedBootUnitsUseTheCapacityAdjustmentFactor) {
    ASSERT_NE(OpenDevice(), KT62_INVALID_HANDLE);  // 32 GiB: 8192 units of 4 MiB
    std::vector<uint8_t> c = SingleUnitConfig(8186);
    c[0x03] = 1;  // bBootEnable
    SetUnit(c, 1, 1, 1, 3, 3);
    SetUnit(c, 2, 1, 2, 3, 3);
    ASSERT_EQ(WriteConfig(c), KT62_OK);
    ASSERT_EQ(kt62UfsReset(h_, 1), KT62_OK);
    EXPECT_EQ(UnitBlocks(0), 8382464u);
    EXPECT_EQ(UnitBlocks(1), 1024u) << "3 units of 4 MiB in enhanced memory (factor 3) hold 4 MiB";
    EXPECT_EQ(Descriptor(2, 2)[4] << 8 | Descriptor(2, 2)[8], 0x0203) << "boot unit B, enhanced type 3";
    EXPECT_EQ(Descriptor(0)[0x06], 3);
}

// Blank parts of each version take boot units A and B, enhanced (factor 3), system code and normal
// units; each is reached on its own, a disabled or absent one answers 05/25, no write shows in another.
TEST_F(Provisioning, EveryUnitOfALayoutIsReachedOnBlankPartsOfEachVersion) {
    UseProfile(R"({"programmers":[{"ufs":{"logical_units":[]}},{"ufs":{"spec_version":"3.1",
        "logical_units":[]}},{"ufs":{"spec_version":"4.0","logical_units":[]}}]})");
    // Boot unit, memory type, allocation units (4 MiB), blocks (4 KiB).
    const uint32_t units[][4] = {
        {0, 0, 8100, 8100 * 1024}, {1, 3, 3, 1024}, {2, 3, 3, 1024}, {0, 1, 8, 8192}, {0, 3, 30, 10240}};
    for (int32_t position = 0; position < 3; ++position) {
        ASSERT_NE(h_ = OpenAfterSearch(position), KT62_INVALID_HANDLE);
        std::vector<uint8_t> c = Descriptor(1);
        c[0x03] = 1;  // bBootEnable
        for (int lun = 0; lun < 5; ++lun) SetUnit(c, lun, 1, units[lun][0], units[lun][1], units[lun][2]);
        ASSERT_EQ(WriteConfig(c), KT62_OK) << position;
        ASSERT_EQ(kt62UfsReset(h_, 1), KT62_OK);
        for (uint8_t lun = 0; lun < std::size(units); ++lun)
            EXPECT_EQ(kt62ScsiWrite10Unit(h_, lun, units[lun][3] - 1, kBlock, Pattern(1, lun).data(), 1), 0);
        for (uint8_t lun = 0; lun < 9; ++lun) {  // 5-7 disabled, 8 absent
            const uint32_t blocks = lun < std::size(units) ? units[lun][3] : 0;
            const int32_t expect = blocks ? KT62_OK : KT62_SCSI_FAILURE(0x05, 0x25);
            uint32_t n = 0, size = 0;
            std::vector<uint8_t> back(kBlock);
            EXPECT_EQ(kt62ScsiReadCapacityUnit(h_, lun, &n, &size), expect) << int(lun);
            EXPECT_EQ(kt62ScsiRead10Unit(h_, lun, blocks - 1, kBlock, back.data(), 1), expect) << int(lun);
            EXPECT_EQ(kt62ScsiWrite10Unit(h_, lun, blocks ? blocks : 1, kBlock, back.data(), 0), expect);
            if (!blocks) continue;
            EXPECT_EQ(UnitBlocks(lun), n) << int(lun);
            EXPECT_EQ(back, Pattern(1, lun)) << "unit " << int(lun) << " holds another unit's write";
        }
        EXPECT_EQ(Read(units[0][3] - 1, 1), Pattern(1, 0)) << "the calls of unit 0";
    }
}

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
