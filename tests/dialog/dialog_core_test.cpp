// The dialog's start-up, pane operations, command routing and window-level
// handlers, against the recording UI port and an emulator with no programmer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

#include "common/control_ids.h"
#include "dialog/KT6200DemoDlg.h"
#include "dialog/dialog_template.h"
#include "tests/support/fake_ui_port.h"
#include "tests/support/temp_dir.h"

namespace kt {
namespace {

class DialogCore : public testing::Test {
protected:
    void SetUp() override {
        profile_ = dir_.Write("none.json", R"({"programmers": []})");
        setenv("KT62_EMULATOR", profile_.c_str(), 1);
    }
    void TearDown() override { unsetenv("KT62_EMULATOR"); }

    test::TempDir dir_;
    std::string profile_;
    test::FakeUiPort ui_;
    CKT6200DemoDlg dlg_{ui_, dir_.Path() + "/bin/kt6200"};
};

TEST_F(DialogCore, InitialisationSetsTitleFieldsAndDmeSelectionThenDiscovers) {
    EXPECT_TRUE(dlg_.OnInitDialog());
    EXPECT_EQ(ui_.Title(), "Varnel Software: 1.0.8");
    EXPECT_EQ(ui_.GetText(IDC_EDIT_IDN), "0");
    EXPECT_EQ(ui_.GetText(IDC_EDIT_INDEX), "0");
    EXPECT_EQ(ui_.GetText(IDC_EDIT_SELECTOR), "0");
    EXPECT_EQ(ui_.GetText(IDC_EDIT_VALUE), "0");
    EXPECT_EQ(ui_.GetText(IDC_EDIT_DME_REG), "0100");
    EXPECT_EQ(ui_.ListSelection(IDC_COMBO_DME_TYPE), 1);
    EXPECT_EQ(dlg_.AppDir(), dir_.Path() + "/bin/");
    EXPECT_EQ(dlg_.DeviceHandle(), KT62_INVALID_HANDLE);
    EXPECT_FALSE(dlg_.TransferRunning());
    EXPECT_EQ(dlg_.Transfer().m_liFrequency, 1'000'000'000);
    EXPECT_EQ(ui_.Pane(), "No device found.");
}

TEST_F(DialogCore, AppendLogStartsEveryLineWithABreakEvenOnAnEmptyPane) {
    dlg_.AppendLog("first");
    EXPECT_EQ(ui_.Pane(), "\r\nfirst");
    dlg_.ShowLog("X");
    dlg_.AppendLog("A");
    dlg_.AppendLog("B");
    EXPECT_EQ(ui_.Pane(), "X\r\nA\r\nB");
    dlg_.AppendLog("");
    EXPECT_EQ(ui_.Pane(), "X\r\nA\r\nB\r\n");
}

TEST_F(DialogCore, SystemCommandsSixteenToThirtyOneOpenTheAboutBox) {
    for (unsigned id : {0x10u, 0x11u, 0x1Fu}) dlg_.Dispatch(DialogMessage::SysCommand, id);
    for (unsigned id : {0x0u, 0x20u, 0xF060u, 0xF020u}) dlg_.Dispatch(DialogMessage::SysCommand, id);
    const auto lines = ui_.AboutLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Varnel Software version: 1.0.8");
}

TEST_F(DialogCore, EveryCommandOfTheTableIsRoutedAndNothingElse) {
    const auto table = DialogCommandTable();
    ASSERT_EQ(table.size(), 29u);
    const std::set<int> expected = {IDOK,
                                    IDCANCEL,
                                    IDC_BTN_INQUIRY,
                                    IDC_BTN_CAPACITY,
                                    IDC_BTN_READ_SECTORS,
                                    IDC_BTN_WRITE_SECTORS,
                                    IDC_BTN_FLAG_READ,
                                    IDC_BTN_FLAG_CLEAR,
                                    IDC_BTN_FLAG_SET,
                                    IDC_BTN_FLAG_TOGGLE,
                                    IDC_BTN_ATTR_READ,
                                    IDC_BTN_ATTR_WRITE,
                                    IDC_BTN_DESC_READ,
                                    IDC_BTN_DESC_WRITE,
                                    IDC_BTN_DME_READ,
                                    IDC_BTN_IC_INFO,
                                    IDC_BTN_LUN_INFO,
                                    IDC_BTN_CFG_1_LUN,
                                    IDC_BTN_WORK_MODE,
                                    IDC_BUTTON_LANGUAGE,
                                    IDC_BUTTON_RESET,
                                    IDC_BUTTON_UPDATE,
                                    IDC_BTN_CFG_1_LUN_DISABLED};
    std::set<int> routed;
    for (const CommandEntry& e : table)
        if (e.message == DialogMessage::Command) routed.insert(e.id);
    EXPECT_EQ(routed, expected);
    // Static controls, edit fields and the lists send no button command.
    for (int id : {IDC_EDIT_LOG, IDC_EDIT_IDN, IDC_COMBO_DEVICE, IDC_STATIC_COMMON, 1005, 9999})
        EXPECT_FALSE(dlg_.Dispatch(DialogMessage::Command, static_cast<std::uintptr_t>(id))) << id;
    EXPECT_FALSE(dlg_.Dispatch(DialogMessage::SelChange, IDC_COMBO_DME_TYPE));
    EXPECT_TRUE(dlg_.Dispatch(DialogMessage::SelChange, IDC_COMBO_DEVICE));
    EXPECT_STREQ(table.front().handlerName, "OnSysCommand");
    EXPECT_STREQ(table[27].handlerName, "OnClose");
    EXPECT_STREQ(table.back().handlerName, "OnBnClickedBtnCfg1LunDisabled");
}

TEST_F(DialogCore, ExitEndsTheDialogAsCancelled) {
    dlg_.OnInitDialog();
    dlg_.Dispatch(DialogMessage::Command, IDCANCEL);
    EXPECT_EQ(ui_.EndResult(), IDCANCEL);
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

TEST_F(DialogCore, DragIconIsTheApplicationIcon) { EXPECT_EQ(dlg_.OnQueryDragIcon(), IDR_MAINFRAME); }

}  // namespace
}  // namespace kt
