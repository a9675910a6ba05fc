#include "common/text_format.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

namespace kt {
namespace {

TEST(Widening, SignedBytesBecomeHighCodeUnitsAndStopAtZero) {
    const std::array<std::uint8_t, 6> name{'A', 'B', 0xC3, 0x7F, 0, 'Z'};
    EXPECT_EQ(WidenSignedBytes(name), "AB\xEF\xBF\x83\x7F");  // 0xC3 as a signed char: U+FFC3
    EXPECT_EQ(WidenUnsignedBytes(name), "AB\xC3\x83\x7F");
}

TEST(AppDir, IsTheExecutablesFolderWithOneTrailingSeparator) {
    EXPECT_EQ(AppDirFromExePath("/opt/Prog/app"), "/opt/Prog/");
    EXPECT_EQ(AppDirFromExePath("app"), "./");
}

}  // namespace
}  // namespace kt
