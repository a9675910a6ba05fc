// Exit during a transfer, the cancel timer, the control lock and the
// throughput line.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/control_ids.h"
#include "dialog/KT6200DemoDlg.h"
#include "handlers/transfer/throughput.h"
#include "tests/support/fake_ui_port.h"

namespace kt {
namespace {

class TransferControl : public testing::Test {
protected:
    test::FakeUiPort ui_;
    CKT6200DemoDlg dlg_{ui_, "/opt/kt6200/kt6200"};
};

TEST_F(TransferControl, ExitDuringATransferRequestsCancelAndTheTimerGivesExitBack) {
    dlg_.m_hThread = 1;  // a worker runs
    dlg_.m_bRunning = 1;
    dlg_.OnExit();
    EXPECT_FALSE(ui_.EndResult().has_value());
    EXPECT_EQ(dlg_.m_bRunning.load(), 0);
    EXPECT_EQ(ui_.Timers(), (std::map<int, unsigned>{{0, 100u}}));
    EXPECT_FALSE(ui_.IsControlEnabled(IDCANCEL));

    dlg_.OnTimer(7);  // not our timer
    EXPECT_EQ(ui_.Timers().size(), 1u);
    EXPECT_FALSE(ui_.IsControlEnabled(IDCANCEL));

    dlg_.m_hThread = -1;  // the worker's last act
    dlg_.OnTimer(0);
    EXPECT_TRUE(ui_.Timers().empty());
    EXPECT_TRUE(ui_.IsControlEnabled(IDCANCEL));
    dlg_.OnExit();
    EXPECT_EQ(ui_.EndResult(), IDCANCEL);
}

TEST_F(TransferControl, EnableControlsSwitchesTheFourteenControlsInOrderAndTheFlag) {
    dlg_.EnableControls(false);
    EXPECT_EQ(dlg_.m_bRunning.load(), 1);
    std::vector<std::string> enables;
    for (const std::string& entry : ui_.Log())
        if (entry.rfind("Enable ", 0) == 0) enables.push_back(entry);
    const std::vector<std::string> expected = {
        "Enable 1006 0", "Enable 1007 0", "Enable 1009 0", "Enable 1010 0", "Enable 1011 0",
        "Enable 1012 0", "Enable 1008 0", "Enable 1004 0", "Enable 1014 0", "Enable 1015 0",
        "Enable 1002 0", "Enable 1003 0", "Enable 1 0",    "Enable 1000 0"};
    EXPECT_EQ(enables, expected);
    for (int untouched : {IDCANCEL, IDC_BTN_DME_READ, IDC_BTN_IC_INFO, IDC_BUTTON_LANGUAGE, IDC_BUTTON_RESET,
                          IDC_BUTTON_UPDATE, IDC_EDIT_IDN})
        EXPECT_TRUE(ui_.IsControlEnabled(untouched)) << untouched;
    dlg_.EnableControls(true);
    EXPECT_EQ(dlg_.m_bRunning.load(), 0);
    EXPECT_TRUE(ui_.IsControlEnabled(IDOK));
}

struct ThroughputCase {
    std::uint32_t ms, mb;
    const char* text;
};

class Throughput : public testing::TestWithParam<ThroughputCase> {};

TEST_P(Throughput, ShowsSecondsMillisecondsAndTheAverageRate) {
    EXPECT_EQ(ThroughputText(GetParam().ms, GetParam().mb), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Table, Throughput,
                         testing::Values(ThroughputCase{2345, 64, "Takes 2.345s to trans 64MB(27.292MB/Sec)"},
                                         ThroughputCase{7, 0, "Takes 0.007s to trans 0MB(0.000MB/Sec)"},
                                         ThroughputCase{0, 32, "Takes 0.000s to trans 32MB(0.000MB/Sec)"},
                                         ThroughputCase{4294967295u, 1,
                                                        "Takes 4294967.295s to trans 1MB(0.000MB/Sec)"}));

TEST(ElapsedMs, TruncatesAndSurvivesABadFrequency) {
    EXPECT_EQ(ElapsedMs(0, 2'345'999'999, 1'000'000'000), 2345u);
    EXPECT_EQ(ElapsedMs(100, 100, 1'000'000'000), 0u);
    EXPECT_EQ(ElapsedMs(0, 5, 0), 0u);
}

}  // namespace
}  // namespace kt
