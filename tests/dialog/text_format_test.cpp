#include "common/text_format.h"

#include "common/failure_text.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace kt {
namespace {

TEST(HexDump, SixteenBytesALineEachWithATrailingBlank) {
    std::vector<std::uint8_t> bytes(36);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 0xA0);
    const auto lines = HexDumpLines(bytes);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "A0 A7 AE B5 BC C3 CA D1 D8 DF E6 ED F4 FB 02 09 ");
    EXPECT_EQ(lines[0].size(), 48u);
    EXPECT_EQ(lines[2], "80 87 8E 95 ");
    EXPECT_TRUE(HexDumpLines({}).empty());
}

struct StatusCase {
    std::int32_t r;
    const char* text;
};

class ReportStatus : public testing::TestWithParam<StatusCase> {};

TEST_P(ReportStatus, NegativeCodesShowTheLowByteAndPositiveCodesTheWholeNumber) {
    EXPECT_EQ(ReportStatusText("UFS Read Flag", GetParam().r), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Codes, ReportStatus,
                         testing::Values(StatusCase{-2, "Fail to UFS Read Flag scsi err 254."},
                                         StatusCase{-1, "Fail to UFS Read Flag scsi err 255."},
                                         StatusCase{-256, "Fail to UFS Read Flag scsi err 0."},
                                         StatusCase{static_cast<std::int32_t>(0xFFFE2405u),
                                                    "Fail to UFS Read Flag scsi err 5."},
                                         StatusCase{3, "Fail to UFS Read Flag 3."},
                                         StatusCase{2147483647, "Fail to UFS Read Flag 2147483647."}));

TEST(Widening, SignedBytesBecomeHighCodeUnitsAndStopAtZero) {
    const std::array<std::uint8_t, 6> name{'A', 'B', 0xC3, 0x7F, 0, 'Z'};
    // 0xC3 widened as a signed char is the code unit 0xFFC3.
    EXPECT_EQ(WidenSignedBytes(name), "AB\xEF\xBF\x83\x7F");
    EXPECT_EQ(WidenUnsignedBytes(name), "AB\xC3\x83\x7F");
    const std::array<std::uint8_t, 4> version{'1', '.', '0', '5'};
    EXPECT_EQ(WidenUnsignedBytes(version), "1.05");
}

TEST(Widening, AFullBufferWithoutTerminatorIsTakenWhole) {
    std::array<std::uint8_t, 16> name{};
    name.fill('N');
    EXPECT_EQ(WidenSignedBytes(name), std::string(16, 'N'));
}

TEST(AppDir, IsTheExecutablesFolderWithOneTrailingSeparator) {
    EXPECT_EQ(AppDirFromExePath("/opt/Tools/Prog/app"), "/opt/Tools/Prog/");
    EXPECT_EQ(AppDirFromExePath("/app"), "/");
    EXPECT_EQ(AppDirFromExePath("app"), "./");
    // Longer than the 260 characters a Windows path buffer holds: nothing is cut.
    const std::string deep = "/" + std::string(300, 'd') + "/kt6200";
    EXPECT_EQ(AppDirFromExePath(deep), "/" + std::string(300, 'd') + "/");
}

TEST(Format, FormatsLikePrintfWithoutLength) {
    EXPECT_EQ(Format("%d device found.", -1), "-1 device found.");
    EXPECT_EQ(Format("%8.2lfMB.", 488.28125), "  488.28MB.");
    EXPECT_EQ(Format("%s", std::string(5000, 'x').c_str()).size(), 5000u);
}

}  // namespace
}  // namespace kt
