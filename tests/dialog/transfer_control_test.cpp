// The throughput line of a finished transfer.
#include <gtest/gtest.h>

#include "handlers/transfer/throughput.h"

namespace kt {
namespace {

TEST(Throughput, ShowsSecondsMillisecondsAndTheAverageRate) {
    EXPECT_EQ(ThroughputText(2345, 64), "Takes 2.345s to trans 64MB(27.292MB/Sec)");
    EXPECT_EQ(ThroughputText(7, 0), "Takes 0.007s to trans 0MB(0.000MB/Sec)");
    EXPECT_EQ(ThroughputText(0, 32), "Takes 0.000s to trans 32MB(0.000MB/Sec)");
    EXPECT_EQ(ThroughputText(4294967295u, 1), "Takes 4294967.295s to trans 1MB(0.000MB/Sec)");
}

TEST(ElapsedMs, TruncatesAndSurvivesABadFrequency) {
    EXPECT_EQ(ElapsedMs(0, 2'345'999'999, 1'000'000'000), 2345u);
    EXPECT_EQ(ElapsedMs(100, 100, 1'000'000'000), 0u);
    EXPECT_EQ(ElapsedMs(0, 5, 0), 0u);
}

}  // namespace
}  // namespace kt
