// Provisioning on the emulated device model itself: the written layout
// takes effect at the reset, and the LUN report and READ CAPACITY then show
// the single unit over the whole capacity. The 3.1 and 4.0 layouts go the
// same way in the end-to-end cases features_modern_part_*.
#include <array>
#include <string>
#include <vector>

#include "handlers/features/provisioning.h"
#include "tests/support/emulated_dialog.h"

namespace kt {
namespace {

// 8 GiB raw in 4 MiB segments (2048 allocation units), first laid out as
// two units.
const std::string kDevice = R"("ufs": {"raw_capacity_bytes": 8589934592, "segment_size_bytes": 4194304,
    "allocation_unit_segments": 1, "config_descr_lock": %LOCK%, "logical_units": [
      {"enable": 1, "boot_lun_id": 1, "write_protect": 0, "memory_type": 0, "block_size_exponent": 12, "alloc_units": 512},
      {"enable": 1, "boot_lun_id": 0, "write_protect": 0, "memory_type": 0, "block_size_exponent": 12, "alloc_units": 1024}]})";

class SingleLunChain : public test::EmulatedDialogTest {
protected:
    // False (and the test skipped) while the device model cannot answer.
    bool OpenModel(int lock) {
        std::string device = kDevice;
        device.replace(device.find("%LOCK%"), 6, std::to_string(lock));
        Open(device);
        std::array<std::uint8_t, kGeometryReadLength> probe{};
        return kt62UfsReadDescriptor(handle_, kGeometryDescriptorIdn, 0, 0, probe.data(), probe.size()) !=
               KT62_E_NOT_SUPPORTED;
    }

    std::vector<std::uint8_t> ReadConfiguration() {
        std::vector<std::uint8_t> config(0x90);
        EXPECT_EQ(kt62UfsReadDescriptor(handle_, kConfigDescriptorIdn, 0, 0, config.data(), config.size()),
                  0);
        return config;
    }

    std::string PaneAfter(int command) {
        Click(command);
        return ui_.Pane();
    }
};

TEST_F(SingleLunChain, WholeCapacityAsOneUnitAfterReset) {
    if (!OpenModel(0)) GTEST_SKIP() << "the emulated device model does not answer descriptor reads yet";
    EXPECT_EQ(PaneAfter(IDC_BTN_CFG_1_LUN), "write descriptor done.\r\nPlease reset VARNEL.");
    EXPECT_EQ(ReadConfiguration(), SingleLunConfiguration(kConfigLayout2x, 2048, true));

    Click(IDC_BUTTON_RESET);
    const std::string report = PaneAfter(IDC_BTN_LUN_INFO);
    EXPECT_TRUE(report.starts_with("NumberLU: 1, ")) << report;
    EXPECT_TRUE(report.ends_with(
        "\r\n\r\nLUN0,   8.000GB, Not boot, Normal Memory, No Write Protect.\r\n\r\n    DONE"))
        << report;
    EXPECT_EQ(PaneAfter(IDC_BTN_CAPACITY), "2097152 sectors. 4096 bytes per sector.\r\n 8192.00MB.");
}

TEST_F(SingleLunChain, DisabledVariantLeavesNoUnit) {
    if (!OpenModel(0)) GTEST_SKIP() << "the emulated device model does not answer descriptor reads yet";
    EXPECT_EQ(PaneAfter(IDC_BTN_CFG_1_LUN_DISABLED), "write descriptor done.\r\nPlease reset VARNEL.");
    EXPECT_EQ(ReadConfiguration(), SingleLunConfiguration(kConfigLayout2x, 2048, false));

    Click(IDC_BUTTON_RESET);
    const std::string report = PaneAfter(IDC_BTN_LUN_INFO);
    EXPECT_TRUE(report.starts_with("NumberLU: 0, ")) << report;
    EXPECT_EQ(report.find("LUN0"), std::string::npos) << report;
    EXPECT_TRUE(report.ends_with("\r\n\r\n\r\n    DONE")) << report;
}

TEST_F(SingleLunChain, LockedDeviceKeepsItsLayout) {
    if (!OpenModel(1)) GTEST_SKIP() << "the emulated device model does not answer descriptor reads yet";
    const auto before = ReadConfiguration();
    EXPECT_EQ(PaneAfter(IDC_BTN_CFG_1_LUN), "Configuration descriptor is locked.");
    Click(IDC_BUTTON_RESET);
    EXPECT_EQ(ReadConfiguration(), before);
    EXPECT_NE(PaneAfter(IDC_BTN_LUN_INFO).find("\r\nLUN1, "), std::string::npos) << ui_.Pane();
}

}  // namespace
}  // namespace kt
