#include "tests/transfer/transfer_fixture.h"

namespace kt::test {
namespace {

TEST_F(Transfer, ReadShowsEachChunkAndPutsTheDeviceSectorsIntoTheFile) {
    Open();
    const std::string data = Pattern(3, kChunk + 256);  // 32 MiB, then 1 MiB
    PutSectors(100, data);
    Fields(100, kChunk + 256);
    ui_.QueueFile(File("read.bin"));
    dlg_.Dispatch(DialogMessage::Command, IDC_BTN_READ_SECTORS);
    ASSERT_TRUE(WaitUntil([&] { return !dlg_.TransferRunning(); }));
    EXPECT_TRUE(TempDir::Read(File("read.bin")) == data);
    std::string mb;  // of every throughput line
    for (const std::string& text : ui_.Appended())
        if (text.starts_with("\r\nTakes ")) mb += text.substr(text.find("trans ") + 6, 3);
    EXPECT_EQ(mb, "32M33M");
    EXPECT_EQ(ui_.Progress(IDC_PROGRESS_TRANSFER), 1000);
}

TEST_F(Transfer, AWindowClosedDuringATransferClosesTheDeviceOnceAfterTheLastCall) {
    Open();
    Fields(0, kChunk + 16);
    ui_.QueueFile(std::nullopt);
    ui_.QueueAnswer(true);
    call_gate::Hold("kt62ScsiRead10", 0);
    dlg_.Dispatch(DialogMessage::Command, IDC_BTN_READ_SECTORS);
    ASSERT_TRUE(WaitUntil(call_gate::Entered));
    dlg_.Dispatch(DialogMessage::Close);
    EXPECT_EQ(dlg_.DeviceHandle(), handle_);
    EXPECT_EQ(Calls("kt62Close"), 0u);  // not while the worker's call runs
    call_gate::Release();
    ASSERT_TRUE(WaitUntil([&] { return !dlg_.TransferRunning(); }));
    EXPECT_EQ(dlg_.DeviceHandle(), KT62_INVALID_HANDLE);
    EXPECT_EQ(Calls("kt62Close"), 1u);
    EXPECT_EQ(Calls("kt62ScsiRead10"), 1u);  // the cancel stopped it after the held chunk
    EXPECT_TRUE(ui_.Pane().ends_with("\r\nCancelled.")) << ui_.Pane();
    handle_ = KT62_INVALID_HANDLE;
}

TEST_F(Transfer, AThreadThatCannotBeHadStartsNothing) {
    Open();
    dlg_.SetThreadStarter([](std::function<void()>) { return std::unique_ptr<WorkerThread>(); });
    Fields(0, 1);
    dlg_.Dispatch(DialogMessage::Command, IDC_BTN_WRITE_SECTORS);
    EXPECT_FALSE(dlg_.TransferRunning());
    EXPECT_EQ(ui_.Pane(), "can't create the transfer thread.");
    dlg_.Dispatch(DialogMessage::Command, IDCANCEL);
    EXPECT_EQ(ui_.EndResult(), IDCANCEL);
}

}  // namespace
}  // namespace kt::test
