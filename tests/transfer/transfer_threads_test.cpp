// The transfer's threads behind the script runner's UI port, where every
// worker request waits for the user-interface thread as on the desktop: a
// cancel that comes before the worker has locked anything, and a window
// close during a transfer.
#include "frontends/script/script_ui_port.h"
#include "tests/transfer/transfer_fixture.h"

namespace kt::test {
namespace {

class TransferThreads : public TransferFixture<script::ScriptUiPort> {
protected:
    void SetUp() override {
        TransferFixture::SetUp();
        ui_.SetTimerHandler(
            [this](int id) { dlg_.Dispatch(DialogMessage::Timer, static_cast<std::uintptr_t>(id)); });
    }
    void Serve() override { ui_.Process(std::chrono::milliseconds(2)); }
    std::string Image(const std::string& name) { return dir_.Path() + "/" + name; }
};

TEST_F(TransferThreads, ExitBeforeTheWorkerLockedTheControlsCancelsAll) {
    Open();
    Fields(0, 3 * kChunk);
    ui_.QueueFile(Image("out.bin"));
    // Nothing is served between the two commands: the worker still waits
    // for its first request when Exit comes.
    dlg_.Dispatch(DialogMessage::Command, IDC_BTN_READ_SECTORS);
    dlg_.Dispatch(DialogMessage::Command, IDCANCEL);
    ASSERT_TRUE(WaitUntil([&] { return !dlg_.TransferRunning() && !ui_.TimerActive(); }));
    EXPECT_EQ(SplitLines(ui_.GetText(IDC_EDIT_LOG)).back(), "Cancelled.");
    EXPECT_TRUE(Trace("kt62ScsiRead10").empty());
    EXPECT_TRUE(ui_.IsControlEnabled(IDCANCEL));
    EXPECT_FALSE(ui_.EndResult().has_value());
}

TEST_F(TransferThreads, AWindowCloseClosesTheDeviceOnceAfterTheWorkersLastCall) {
    Open();
    Fields(0, 4 * kChunk);
    ui_.QueueFile(Image("out.bin"));
    call_gate::Hold("kt62ScsiRead10", kChunk);
    dlg_.Dispatch(DialogMessage::Command, IDC_BTN_READ_SECTORS);
    ASSERT_TRUE(WaitUntil(call_gate::Entered));
    dlg_.Dispatch(DialogMessage::Close);
    // No close under the call in progress: the worker closes as it ends.
    EXPECT_TRUE(Trace("kt62Close").empty());
    EXPECT_FALSE(ui_.EndResult().has_value());
    EXPECT_FALSE(ui_.IsControlEnabled(IDCANCEL));
    call_gate::Release();
    ASSERT_TRUE(WaitUntil([&] { return !dlg_.TransferRunning() && !ui_.TimerActive(); }));
    EXPECT_EQ(SplitLines(ui_.GetText(IDC_EDIT_LOG)).back(), "Cancelled.");
    EXPECT_EQ(dlg_.DeviceHandle(), KT62_INVALID_HANDLE);
    const std::string trace = TempDir::Read(trace_);
    EXPECT_GT(trace.find("kt62Close"), trace.rfind("kt62ScsiRead10")) << trace;
    EXPECT_EQ(Trace("kt62Close").size(), 1u);
    EXPECT_EQ(kt62Close(handle_), KT62_E_NOT_OPEN);  // closed already, by the worker
    handle_ = KT62_INVALID_HANDLE;

    // Exit is back; a second close ends the dialog and closes nothing.
    dlg_.Dispatch(DialogMessage::Close);
    EXPECT_EQ(ui_.EndResult(), IDCANCEL);
    EXPECT_EQ(Trace("kt62Close").size(), 2u);  // the test's own close above
}

}  // namespace
}  // namespace kt::test
