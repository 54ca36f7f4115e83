#include <gtest/gtest.h>

#include <chrono>

#include "net/tcp/IdDeadline.h"

namespace {

TEST(TIdDeadline, ConvertsTheMillisecondConventions)
{
    const struct {
        int32_t timeoutMs;
        bool limited;
        bool passed;
        int waitMs;
    } rows[] = {
        {-2, false, false, -1},          // no limit: poll waits for ever
        {0, true, true, 0},              // now
        {-1, true, true, 0},             // any other value below 1 is now as well
        {-7, true, true, 0},             // likewise
        {7200000, true, false, 7200000}, // two hours, no overflow
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.timeoutMs);
        const TIdDeadline deadline = DeadlineAfter(row.timeoutMs);
        EXPECT_EQ(deadline.Limited(), row.limited);
        EXPECT_EQ(deadline.Passed(), row.passed);
        // A wait computed a moment after the conversion may have lost a millisecond, never more.
        EXPECT_GE(deadline.WaitMs(), row.waitMs - (row.waitMs > 0 ? 1 : 0));
        EXPECT_LE(deadline.WaitMs(), row.waitMs);
    }
}

TEST(TIdDeadline, WaitsRoundUpAndTheEarlierDeadlineWins)
{
    // Half a millisecond left is a wait of 1 ms: rounding down would poll 0 ms and read as a time-out.
    EXPECT_EQ(TIdDeadline::At(TIdDeadline::TClock::now() + std::chrono::microseconds(500)).WaitMs(), 1);
    const TIdDeadline none;
    const TIdDeadline soon = DeadlineAfter(100);
    const TIdDeadline later = DeadlineAfter(100000);
    EXPECT_FALSE(none.Earlier(none).Limited());
    EXPECT_LE(none.Earlier(soon).WaitMs(), 100);
    EXPECT_LE(soon.Earlier(none).WaitMs(), 100);
    EXPECT_LE(later.Earlier(soon).WaitMs(), 100);
    EXPECT_LE(soon.Earlier(later).WaitMs(), 100);
}

} // namespace
