#include "common/text_format.h"

#include "common/failure_text.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

namespace kt {
namespace {

TEST(ReportStatus, NegativeCodesShowTheLowByteAndPositiveCodesTheWholeNumber) {
    EXPECT_EQ(ReportStatusText("UFS Read Flag", -2), "Fail to UFS Read Flag scsi err 254.");
    EXPECT_EQ(ReportStatusText("UFS Read Flag", -256), "Fail to UFS Read Flag scsi err 0.");
    EXPECT_EQ(ReportStatusText("X", static_cast<std::int32_t>(0xFFFE2405u)), "Fail to X scsi err 5.");
    EXPECT_EQ(ReportStatusText("X", 3), "Fail to X 3.");
    EXPECT_EQ(ReportStatusText("X", 2147483647), "Fail to X 2147483647.");
}

TEST(Widening, SignedBytesBecomeHighCodeUnitsAndStopAtZero) {
    const std::array<std::uint8_t, 6> name{'A', 'B', 0xC3, 0x7F, 0, 'Z'};
    // 0xC3 widened as a signed char is the code unit 0xFFC3.
    EXPECT_EQ(WidenSignedBytes(name), "AB\xEF\xBF\x83\x7F");
    EXPECT_EQ(WidenUnsignedBytes(name), "AB\xC3\x83\x7F");
    const std::array<std::uint8_t, 4> version{'1', '.', '0', '5'};
    EXPECT_EQ(WidenUnsignedBytes(version), "1.05");
}

TEST(AppDir, IsTheExecutablesFolderWithOneTrailingSeparator) {
    EXPECT_EQ(AppDirFromExePath("/opt/Tools/Prog/app"), "/opt/Tools/Prog/");
    EXPECT_EQ(AppDirFromExePath("/app"), "/");
    EXPECT_EQ(AppDirFromExePath("app"), "./");
}

}  // namespace
}  // namespace kt
