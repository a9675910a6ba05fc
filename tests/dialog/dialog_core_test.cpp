// The dialog against the recording UI port and an emulator with no programmer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "common/control_ids.h"
#include "dialog/KT6200DemoDlg.h"
#include "handlers/features/reset_update.h"
#include "tests/support/fake_ui_port.h"
#include "tests/support/temp_dir.h"

namespace kt {
namespace {

class DialogCore : public testing::Test {
protected:
    void SetUp() override {
        setenv("KT62_EMULATOR", dir_.Write("none.json", R"({"programmers": []})").c_str(), 1);
    }
    void TearDown() override { unsetenv("KT62_EMULATOR"); }

    test::TempDir dir_;
    test::FakeUiPort ui_;
    CKT6200DemoDlg dlg_{ui_, dir_.Path() + "/bin/kt6200"};
};

// A reset that did not happen is said in the status line only, and the device still gets its pause.
TEST_F(DialogCore, AFailedResetIsSaidInTheStatusLineAfterThePause) {
    ui_.SetText(IDC_EDIT_LOG, "earlier text");
    const auto start = std::chrono::steady_clock::now();
    dlg_.Dispatch(DialogMessage::Command, IDC_BUTTON_RESET);
    EXPECT_GE(std::chrono::steady_clock::now() - start, kResetPause);
    EXPECT_EQ(ui_.Pane(), "earlier text");
    EXPECT_TRUE(ui_.GetText(IDC_STATIC_STATUS).starts_with("Reset failed: "))
        << ui_.GetText(IDC_STATIC_STATUS);
}

TEST_F(DialogCore, SystemCommandsSixteenToThirtyOneOpenTheAboutBox) {
    for (unsigned id : {0x10u, 0x11u, 0x1Fu, 0x0u, 0x20u, 0xF060u})
        dlg_.Dispatch(DialogMessage::SysCommand, id);
    EXPECT_EQ(ui_.AboutLines(), std::vector<std::string>(3, "Varnel Software version: 1.0.8"));
}

TEST_F(DialogCore, CloseWithExitDisabledOnlyBeeps) {
    dlg_.OnInitDialog();
    ui_.EnableControl(IDCANCEL, false);
    dlg_.Dispatch(DialogMessage::Close);
    EXPECT_FALSE(ui_.EndResult().has_value());
    EXPECT_EQ(ui_.Beeps(), 1);
    ui_.EnableControl(IDCANCEL, true);
    dlg_.Dispatch(DialogMessage::Close);
    EXPECT_EQ(ui_.EndResult(), IDCANCEL);
}

}  // namespace
}  // namespace kt
