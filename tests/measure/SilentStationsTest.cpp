#include <gtest/gtest.h>

#include "measure/SilentStations.h"

namespace merival {
namespace {

TEST(SilentStations, ADeadStationIsAskedOncePerIntervalUntilItAnswers) {
    SilentStations s;
    s.setLimits(3, 10000);
    qint64 now = 0;
    // Three passes unanswered (each costs its time-out), then only one try per interval.
    for (int pass = 0; pass < 3; ++pass, now += 3000) {
        ASSERT_TRUE(s.ShouldAsk(1, 2, 0, now));
        s.Record(1, 2, 0, false, now);
    }
    const qint64 lastTry = now - 3000;
    EXPECT_FALSE(s.ShouldAsk(1, 2, 0, lastTry + 9700))
        << "the interval less a quarter second of tick jitter";
    EXPECT_TRUE(s.ShouldAsk(0, 1, 0, lastTry + 1000)) << "other channels are asked";
    EXPECT_TRUE(s.ShouldAsk(1, 2, 20, lastTry + 1000)) << "another block starts afresh";
    EXPECT_TRUE(s.ShouldAsk(1, 3, 0, lastTry + 1000)) << "another address starts afresh";
    ASSERT_TRUE(s.ShouldAsk(1, 2, 0, lastTry + 10000));
    s.Record(1, 2, 0, false, lastTry + 10000);
    EXPECT_FALSE(s.ShouldAsk(1, 2, 0, lastTry + 19000));
    ASSERT_TRUE(s.ShouldAsk(1, 2, 0, lastTry + 20000));
    s.Record(1, 2, 0, true, lastTry + 20000);
    EXPECT_TRUE(s.ShouldAsk(1, 2, 0, lastTry + 21000)) << "back in every pass";

    s.setLimits(0, 10000);
    for (int pass = 0; pass < 5; ++pass) {
        s.Record(1, 2, 0, false, pass);
    }
    EXPECT_TRUE(s.ShouldAsk(1, 2, 0, 5)) << "0: always asked";
}

}  // namespace
}  // namespace merival
