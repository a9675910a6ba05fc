// Inquiry and GetCapacity: the dump of the 192-byte buffer and the capacity
// lines, with values past 32 bits.
#include "tests/transfer/transfer_fixture.h"

namespace kt::test {
namespace {

class ScsiIdent : public TransferFixture<FakeUiPort> {};

TEST_F(ScsiIdent, InquiryDumpsAllOfTheBufferAfterTheDevicesBytes) {
    std::string bytes;
    for (int i = 0; i < 36; ++i) bytes += Format("%02X ", 0xA0 + i);
    Open(R"("faults": [{"call": "kt62ScsiInquiry", "result": 0, "bytes": ")" + bytes + R"("}])");
    dlg_.Dispatch(DialogMessage::Command, IDC_BTN_INQUIRY);
    const auto lines = SplitLines(ui_.Pane());
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[0], "scsi inquiry done.");
    EXPECT_EQ(lines[1], "A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC AD AE AF ");
    EXPECT_EQ(lines[3], "C0 C1 C2 C3 00 00 00 00 00 00 00 00 00 00 00 00 ");
    for (std::size_t i = 4; i < lines.size(); ++i)
        EXPECT_EQ(lines[i], "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ");
}

TEST_F(ScsiIdent, TheEmulatedDevicesInquiryIsTwelveLinesOfFortyEight) {
    Open();
    dlg_.Dispatch(DialogMessage::Command, IDC_BTN_INQUIRY);
    const auto lines = SplitLines(ui_.Pane());
    ASSERT_EQ(lines.size(), 13u) << ui_.Pane();
    for (std::size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(lines[i].size(), 48u) << lines[i];
}

struct CapacityCase {
    const char* rule;  // members of the kt62ScsiReadCapacity rule
    const char* pane;
};

class Capacity : public ScsiIdent, public testing::WithParamInterface<CapacityCase> {};

TEST_P(Capacity, ShowsSectorsSizeAndMiBWithoutOverflow) {
    Open(Format(R"("faults": [{"call": "kt62ScsiReadCapacity", %s}])", GetParam().rule));
    dlg_.Dispatch(DialogMessage::Command, IDC_BTN_CAPACITY);
    EXPECT_EQ(ui_.Pane(), GetParam().pane);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Capacity,
    testing::Values(CapacityCase{R"("result": 0, "sectors": 1000000, "sector_size": 512)",
                                 "1000000 sectors. 512 bytes per sector.\r\n  488.28MB."},
                    CapacityCase{R"("result": 0, "sectors": 33554432, "sector_size": 4096)",
                                 "33554432 sectors. 4096 bytes per sector.\r\n131072.00MB."},
                    CapacityCase{R"("result": 0, "sectors": 2147483648, "sector_size": 512)",
                                 "-2147483648 sectors. 512 bytes per sector.\r\n1048576.00MB."},
                    CapacityCase{R"("result": 0, "sectors": 4294967295, "sector_size": 4294967295)",
                                 "-1 sectors. -1 bytes per sector.\r\n17592186036224.00MB."},
                    CapacityCase{R"("result": -1507323)", "Fail to scsi read capacity -1507323."}));

TEST_F(ScsiIdent, WithNoDeviceBothReportTheLibrarysAnswer) {
    dlg_.Dispatch(DialogMessage::Command, IDC_BTN_INQUIRY);
    EXPECT_EQ(ui_.Pane(), Format("Fail to scsi inquiry %d.", KT62_E_INVALID_HANDLE));
    dlg_.Dispatch(DialogMessage::Command, IDC_BTN_CAPACITY);
    EXPECT_EQ(ui_.Pane(), Format("Fail to scsi read capacity %d.", KT62_E_INVALID_HANDLE));
}

}  // namespace
}  // namespace kt::test
