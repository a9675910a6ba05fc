// Provisioning on the emulated device model itself: the written layout
// takes effect at the reset, and the LUN report and READ CAPACITY then show
// the single unit over the whole capacity, on each UFS version's layout.
#include <string>
#include <vector>

#include "features/provisioning.h"
#include "tests/support/emulated_dialog.h"

namespace kt {
namespace {

struct Part {
    const char* name;
    const char* version;
    std::uint64_t rawBytes;
    int auSegments;  // of 4 MiB
    ConfigLayout layout;
    std::uint32_t allocUnits;  // raw / (4 MiB x auSegments), worked out by hand
    std::string unitLine;
    std::string capacity;
};

// Two small units at first, which fit every part below.
std::string Device(const Part& p, int lock) {
    return std::string(R"("ufs": {"spec_version": ")") + p.version + R"(", "raw_capacity_bytes": )" +
           std::to_string(p.rawBytes) + R"(, "segment_size_bytes": 4194304, "allocation_unit_segments": )" +
           std::to_string(p.auSegments) + R"(, "config_descr_lock": )" + std::to_string(lock) +
           R"(, "logical_units": [
      {"enable": 1, "boot_lun_id": 1, "alloc_units": 16}, {"enable": 1, "alloc_units": 32}]})";
}

class SingleLunChain : public test::EmulatedDialogTest, public testing::WithParamInterface<Part> {
protected:
    std::vector<std::uint8_t> ReadConfiguration() {
        std::vector<std::uint8_t> config(255);
        EXPECT_EQ(kt62UfsReadDescriptor(handle_, kConfigDescriptorIdn, 0, 0, config.data(), 255), 0);
        config.resize(config[0]);
        return config;
    }

    std::string PaneAfter(int command) {
        Click(command);
        return ui_.Pane();
    }
};

TEST_P(SingleLunChain, WholeCapacityAsOneUnitAfterReset) {
    const Part& p = GetParam();
    Open(Device(p, 0));
    EXPECT_EQ(PaneAfter(IDC_BTN_CFG_1_LUN), "write descriptor done.\r\nPlease reset VARNEL.");
    EXPECT_EQ(ReadConfiguration(), SingleLunConfiguration(p.layout, p.allocUnits, true));

    Click(IDC_BUTTON_RESET);
    EXPECT_EQ(PaneAfter(IDC_BTN_LUN_INFO),
              "NumberLU: 1, NumberWLU: 4\r\n\r\n" + p.unitLine + "\r\n\r\n    DONE");
    EXPECT_EQ(PaneAfter(IDC_BTN_CAPACITY), p.capacity);
}

TEST_P(SingleLunChain, DisabledVariantLeavesNoUnit) {
    const Part& p = GetParam();
    Open(Device(p, 0));
    EXPECT_EQ(PaneAfter(IDC_BTN_CFG_1_LUN_DISABLED), "write descriptor done.\r\nPlease reset VARNEL.");
    EXPECT_EQ(ReadConfiguration(), SingleLunConfiguration(p.layout, p.allocUnits, false));

    Click(IDC_BUTTON_RESET);
    EXPECT_EQ(PaneAfter(IDC_BTN_LUN_INFO), "NumberLU: 0, NumberWLU: 4\r\n\r\n\r\n    DONE");
}

TEST_P(SingleLunChain, LockedDeviceKeepsItsLayout) {
    Open(Device(GetParam(), 1));
    const auto before = ReadConfiguration();
    EXPECT_EQ(PaneAfter(IDC_BTN_CFG_1_LUN), "Configuration descriptor is locked.");
    Click(IDC_BUTTON_RESET);
    EXPECT_EQ(ReadConfiguration(), before);
    EXPECT_NE(PaneAfter(IDC_BTN_LUN_INFO).find("\r\nLUN1, "), std::string::npos) << ui_.Pane();
}

// clang-format off
const Part kParts[] = {
    {"v2_1", "2.1", 8ull << 30, 1, kConfigLayout2x, 2048,
     "LUN0,   8.000GB, Not boot, Normal Memory, No Write Protect.",
     "2097152 sectors. 4096 bytes per sector.\r\n 8192.00MB."},
    {"v3_1", "3.1", 64ull << 30, 1, kConfigLayout31, 16384,
     "LUN0,  64.000GB, Not boot, Normal Memory, No Write Protect.",
     "16777216 sectors. 4096 bytes per sector.\r\n65536.00MB."},
    // 32 MiB allocation units: one segment an AU would ask for eight times
    // the capacity there is.
    {"v4_0_EightSegmentUnits", "4.0", 512ull << 30, 8, kConfigLayout31, 16384,
     "LUN0, 512.000GB, Not boot, Normal Memory, No Write Protect.",
     "134217728 sectors. 4096 bytes per sector.\r\n524288.00MB."},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Versions, SingleLunChain, testing::ValuesIn(kParts),
                         [](const auto& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace kt
