// "CFG 1 LUN" and its disabled variant, "Get Work mode", "Reset" and
// "Update" against fault-rule answers.
#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/emulated_dialog.h"

namespace kt {
namespace {

using test::Hex;

// ---- provisioning ----

std::string GeometryRule(std::uint64_t capacity, std::uint32_t segment, std::uint8_t length = 0x48) {
    std::vector<std::uint8_t> g(28, 0);
    g[0] = length;
    g[1] = 0x07;
    for (int i = 0; i < 8; ++i) g[4 + i] = static_cast<std::uint8_t>(capacity >> (56 - 8 * i));
    for (int i = 0; i < 4; ++i) g[0x0D + i] = static_cast<std::uint8_t>(segment >> (24 - 8 * i));
    g[0x11] = 1;
    return R"({"call": "kt62UfsReadDescriptor", "match": {"idn": 7}, "result": 0, "bytes": ")" + Hex(g) +
           "\"}";
}

std::string LockRule(const std::string& answer) {
    return R"({"call": "kt62UfsReadAttribute", "match": {"idn": 11}, )" + answer + "}";
}

const std::string kLockRead = "kt62UfsReadAttribute idn=11 index=0 selector=0 -> ";
const std::string kGeometryRead = "kt62UfsReadDescriptor idn=7 index=0 selector=0 length=28 -> ";
const std::string kConfigWrite = "kt62UfsWriteDescriptor idn=1 index=0 selector=0 length=144 -> ";
const std::string kDeviceRead = "kt62UfsReadDescriptor idn=0 index=0 selector=0 length=64 -> ";
// A device descriptor whose bytes 0x1A and 0x1B (after 24 zero bytes) give the layout.
std::string DeviceRule(const char* layout) {
    return R"({"call": "kt62UfsReadDescriptor", "match": {"idn": 0}, "result": 0, "bytes": "59 00 )" +
           std::string(48, '0') + layout + "\"}";
}
const std::string kWriteOk = R"({"call": "kt62UfsWriteDescriptor", "match": {"idn": 1}, "result": 0})";
const std::string kDone = "write descriptor done.\r\nPlease reset VARNEL.";

struct ProvisionCase {
    const char* name;
    int command;
    std::vector<std::string> rules;
    std::string pane;
    std::vector<std::string> calls;
};

class Provisioning : public test::EmulatedDialogTest, public testing::WithParamInterface<ProvisionCase> {};

TEST_P(Provisioning, LockGeometryWrite) {
    const ProvisionCase& c = GetParam();
    std::string rules;
    for (const std::string& r : c.rules) rules += (rules.empty() ? "" : ", ") + r;
    OpenWithFaults("[" + rules + "]");
    ui_.SetText(IDC_EDIT_LOG, "earlier text");
    EXPECT_EQ(Click(c.command), c.calls);
    EXPECT_EQ(ui_.Pane(), c.pane);
}

const std::string kGeometry8GiB = GeometryRule(1ull << 24, 1u << 13);

// clang-format off
const ProvisionCase kProvisionCases[] = {
    {"Unlocked", IDC_BTN_CFG_1_LUN, {LockRule(R"("result": 0, "value": 0)"), kGeometry8GiB, kWriteOk},
     kDone, {kLockRead + "0", kGeometryRead + "0", kConfigWrite + "0"}},
    {"UnitDisabledVariant", IDC_BTN_CFG_1_LUN_DISABLED,
     {LockRule(R"("result": 0, "value": 0)"), kGeometry8GiB, kWriteOk},
     kDone, {kLockRead + "0", kGeometryRead + "0", kConfigWrite + "0"}},
    {"LockedStopsBeforeGeometry", IDC_BTN_CFG_1_LUN,
     {LockRule(R"("result": 0, "value": 1)"), kGeometry8GiB, kWriteOk},
     "Configuration descriptor is locked.", {kLockRead + "0"}},
    {"LockValue2IsNoLock", IDC_BTN_CFG_1_LUN, {LockRule(R"("result": 0, "value": 2)"), kGeometry8GiB, kWriteOk},
     kDone, {kLockRead + "0", kGeometryRead + "0", kConfigWrite + "0"}},
    {"FailedLockReadGoesAhead", IDC_BTN_CFG_1_LUN,
     {LockRule(R"("result": -10, "value": 1)"), kGeometry8GiB, kWriteOk},
     kDone, {kLockRead + "-10", kGeometryRead + "0", kConfigWrite + "0"}},
    {"GeometryFailureAppended", IDC_BTN_CFG_1_LUN,
     {LockRule(R"("result": 0, "value": 0)"), R"({"call": "kt62UfsReadDescriptor", "match": {"idn": 7}, "result": -4})", kWriteOk},
     "earlier text\r\nCommand fail scsi err 252.", {kLockRead + "0", kGeometryRead + "-4"}},
    {"SegmentSizeZeroRefused", IDC_BTN_CFG_1_LUN,
     {LockRule(R"("result": 0, "value": 0)"), GeometryRule(1ull << 24, 0), kWriteOk},
     "Invalid geometry: the segment size is 0. Nothing was written.", {kLockRead + "0", kGeometryRead + "0"}},
    {"TooManySegmentsRefused", IDC_BTN_CFG_1_LUN,
     {LockRule(R"("result": 0, "value": 0)"), GeometryRule(1ull << 33, 1), kWriteOk},
     "Invalid geometry: 8589934592 segments do not fit in one unit. Nothing was written.",
     {kLockRead + "0", kGeometryRead + "0"}},
    {"LessThanOneSegmentStillWritten", IDC_BTN_CFG_1_LUN,
     {LockRule(R"("result": 0, "value": 0)"), GeometryRule(100, 1u << 13), kWriteOk},
     kDone, {kLockRead + "0", kGeometryRead + "0", kConfigWrite + "0"}},
    // A geometry longer than 2.x's: the device descriptor names the layout.
    {"UnknownLayoutRefused", IDC_BTN_CFG_1_LUN,
     {LockRule(R"("result": 0, "value": 0)"), GeometryRule(1ull << 24, 1u << 13, 0x57), DeviceRule("12 1A"), kWriteOk},
     "Unknown configuration layout: bUD0BaseOffset 12h, bUDConfigPLength 1Ah. Nothing was written.",
     {kLockRead + "0", kGeometryRead + "0", kDeviceRead + "0"}},
    {"UnreadableDeviceDescriptorRefused", IDC_BTN_CFG_1_LUN,
     {LockRule(R"("result": 0, "value": 0)"), GeometryRule(1ull << 24, 1u << 13, 0x57),
      R"({"call": "kt62UfsReadDescriptor", "match": {"idn": 0}, "result": -4})", kWriteOk},
     "Cannot read the device descriptor: Command fail scsi err 252. Nothing was written.",
     {kLockRead + "0", kGeometryRead + "0", kDeviceRead + "-4"}},
    {"WriteRefusedByDevice", IDC_BTN_CFG_1_LUN,
     {LockRule(R"("result": 0, "value": 0)"), kGeometry8GiB, R"({"call": "kt62UfsWriteDescriptor", "result": -9})"},
     "Fail to UFS Write Descriptor scsi err 247.", {kLockRead + "0", kGeometryRead + "0", kConfigWrite + "-9"}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Table, Provisioning, testing::ValuesIn(kProvisionCases),
                         [](const auto& i) { return std::string(i.param.name); });

// ---- work mode ----

std::string Dme(int attr, std::uint32_t value) {
    return R"({"call": "kt62UfsGetDME", "match": {"attr_id": )" + std::to_string(attr) +
           R"(, "kind": 1}, "result": 0, "value": )" + std::to_string(value) + "}";
}
std::string DmeCall(int attr, int selector, int result = 0) {
    return "kt62UfsGetDME attr_id=" + std::to_string(attr) + " selector=" + std::to_string(selector) +
           " kind=1 -> " + std::to_string(result);
}

struct WorkModeCase {
    const char* name;
    std::vector<std::string> rules;
    std::string pane;
    std::vector<std::string> calls;
};

class WorkMode : public test::EmulatedDialogTest, public testing::WithParamInterface<WorkModeCase> {};

TEST_P(WorkMode, SixLocalReads) {
    const WorkModeCase& c = GetParam();
    std::string rules;
    for (const std::string& r : c.rules) rules += (rules.empty() ? "" : ", ") + r;
    OpenWithFaults("[" + rules + "]");
    ui_.SetText(IDC_EDIT_LOG, "earlier text");
    EXPECT_EQ(Click(IDC_BTN_WORK_MODE), c.calls);
    EXPECT_EQ(ui_.Pane(), c.pane);
}

// Gear attributes answer differently, so a wrong choice shows in the text.
const std::vector<std::string> kGears = {Dme(0x23, 3), Dme(0x24, 1), Dme(0xA3, 4), Dme(0xA4, 2)};
std::vector<std::string> With(std::vector<std::string> rules) {
    rules.insert(rules.end(), kGears.begin(), kGears.end());
    return rules;
}

// clang-format off
const WorkModeCase kWorkModeCases[] = {
    {"BothHs", With({Dme(0x21, 2), Dme(0x22, 2), Dme(0xA1, 2), Dme(0xA2, 2)}),
     "Power Mode:\r\n    Tx: HS-G3B\r\n    Rx: HS-G4B",
     {DmeCall(0x21, 0), DmeCall(0x22, 0), DmeCall(0x23, 0), DmeCall(0xA1, 4), DmeCall(0xA2, 4), DmeCall(0xA3, 4)}},
    {"TxPwm", With({Dme(0x21, 1), Dme(0x22, 1), Dme(0xA1, 2), Dme(0xA2, 0)}),
     "Power Mode:\r\n    Tx: PWM-G1A\r\n    Rx: HS-G4B",
     {DmeCall(0x21, 0), DmeCall(0x22, 0), DmeCall(0x24, 0), DmeCall(0xA1, 4), DmeCall(0xA2, 4), DmeCall(0xA3, 4)}},
    {"RxPwmModeZeroTx", With({Dme(0x21, 0), Dme(0x22, 1), Dme(0xA1, 1), Dme(0xA2, 1)}),
     "Power Mode:\r\n    Tx: HS-G3A\r\n    Rx: PWM-G2A",
     {DmeCall(0x21, 0), DmeCall(0x22, 0), DmeCall(0x23, 0), DmeCall(0xA1, 4), DmeCall(0xA2, 4), DmeCall(0xA4, 4)}},
    {"TxGearFails", {Dme(0x21, 2), Dme(0x22, 2), R"({"call": "kt62UfsGetDME", "match": {"attr_id": 35}, "result": 5})"},
     "earlier text\r\nCommand fail err 5.", {DmeCall(0x21, 0), DmeCall(0x22, 0), DmeCall(0x23, 0, 5)}},
    {"FirstReadFails", {R"({"call": "kt62UfsGetDME", "result": -1})"},
     "earlier text\r\nCommand fail scsi err 255.", {DmeCall(0x21, 0, -1)}},
    {"RxRateFails", With({Dme(0x21, 2), Dme(0x22, 2), Dme(0xA1, 2), R"({"call": "kt62UfsGetDME", "match": {"attr_id": 162}, "result": -259})"}),
     "earlier text\r\nCommand fail scsi err 253.",
     {DmeCall(0x21, 0), DmeCall(0x22, 0), DmeCall(0x23, 0), DmeCall(0xA1, 4), DmeCall(0xA2, 4, -259)}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Table, WorkMode, testing::ValuesIn(kWorkModeCases),
                         [](const auto& i) { return std::string(i.param.name); });

// ---- reset and update ----

using ResetUpdate = test::EmulatedDialogTest;

TEST_F(ResetUpdate, ResetCallsKindOneShowsNothingInThePaneAndPauses) {
    for (const int result : {0, 4}) {
        OpenWithFaults(R"([{"call": "kt62UfsReset", "result": )" + std::to_string(result) + "}]");
        ui_.SetText(IDC_EDIT_LOG, "earlier text");
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Click(IDC_BUTTON_RESET),
                  std::vector<std::string>{"kt62UfsReset kind=1 -> " + std::to_string(result)});
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
        EXPECT_EQ(ui_.Pane(), "earlier text");
        EXPECT_EQ(ui_.GetText(IDC_STATIC_STATUS), result == 0 ? "" : "Reset failed: transport failure (4)");
    }
}

struct UpdateCase {
    const char* name;
    std::optional<std::string> path;  // none: the chooser is cancelled
    int result;
    std::string pane;
};

class Update : public test::EmulatedDialogTest, public testing::WithParamInterface<UpdateCase> {};

TEST_P(Update, ChooserCallTextAndSelection) {
    const UpdateCase& c = GetParam();
    OpenWithFaults(R"([{"call": "kt62Update", "result": )" + std::to_string(c.result) + "}]");
    ui_.ListAppend(IDC_COMBO_DEVICE, "Dev0");
    ui_.ListSelect(IDC_COMBO_DEVICE, 0);
    ui_.SetText(IDC_EDIT_LOG, "earlier text");
    ui_.QueueFile(c.path);
    const auto calls = Click(IDC_BUTTON_UPDATE);
    EXPECT_EQ(ui_.Pane(), c.pane);
    const auto log = ui_.Log();
    EXPECT_NE(std::find(log.begin(), log.end(),
                        "ChooseFile open Binary file(*.bin)|*.bin| All files(*.*) | *.* || -> " +
                            c.path.value_or("cancel")),
              log.end());
    if (!c.path) {
        EXPECT_TRUE(calls.empty());
        EXPECT_EQ(ui_.ListSelection(IDC_COMBO_DEVICE), 0);
        return;
    }
    EXPECT_EQ(calls,
              std::vector<std::string>{"kt62Update path=\"" + *c.path + "\" -> " + std::to_string(c.result)});
    EXPECT_EQ(ui_.ListSelection(IDC_COMBO_DEVICE), -1);
    // The waiting text was shown before the result replaced it.
    EXPECT_NE(std::find(log.begin(), log.end(), "SetText 1001 Updating... Please wait."), log.end());
}

// clang-format off
const UpdateCase kUpdateCases[] = {
    {"Cancelled", std::nullopt, 0, "earlier text"},
    {"Done", "/opt/fw/kt6200.bin", 0, "Command done.\r\nPlease wait device restart."},
    {"NegativeShownWhole", "/opt/fw/kt6200.bin", -5, "Command fail err -5."},
    {"ChecksumMismatch", "/opt/fw/kt6200.bin", 14, "Command fail err 14."},
    {"PathBeyondAscii", "/opt/固件/ünïcode fw.bin", 0, "Command done.\r\nPlease wait device restart."},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Table, Update, testing::ValuesIn(kUpdateCases),
                         [](const auto& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace kt
