// A one-step command run on a fake context, for what the end-to-end cases do
// not show: the status line.
#include <gtest/gtest.h>

#include <chrono>

#include "handlers/features/features.h"
#include "handlers/features/reset_update.h"
#include "tests/support/fake_context.h"

namespace kt {
namespace {

TEST(ResetCommand, AFailedResetIsSaidInTheStatusLineAndTheDeviceStillGetsItsPause) {
    test::FakeContext ctx;  // no programmer open: the library refuses the reset
    ctx.ShowLog("earlier text");
    const auto start = std::chrono::steady_clock::now();
    features::Reset(ctx);
    EXPECT_GE(std::chrono::steady_clock::now() - start, kResetPause);
    EXPECT_EQ(ctx.Port().Pane(), "earlier text");
    EXPECT_TRUE(ctx.Port().GetText(IDC_STATIC_STATUS).starts_with("Reset failed: "))
        << ctx.Port().GetText(IDC_STATIC_STATUS);
}

}  // namespace
}  // namespace kt
