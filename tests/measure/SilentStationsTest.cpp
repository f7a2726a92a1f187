#include <gtest/gtest.h>

#include "measure/SilentStations.h"

namespace merival {
namespace {

// Channel 0 at station 1 answers when `live`; channel 1 at station 2 never does. Returns
// whether channel 1 was asked.
bool Pass(SilentStations& s, qint64 now, bool live = true) {
    s.StartPass();
    EXPECT_TRUE(s.ShouldAsk(0, 1, 0, now));
    s.Record(0, 1, 0, live, now);
    const bool asked = s.ShouldAsk(1, 2, 0, now);
    if (asked) {
        s.Record(1, 2, 0, false, now);
    }
    return asked;
}

TEST(SilentStations, ADeadStationIsAskedOncePerIntervalWhileOthersAnswer) {
    SilentStations s;
    s.setLimits(3, 10000);
    for (qint64 now = 0; now < 9000; now += 3000) {
        ASSERT_TRUE(Pass(s, now)) << "three passes unanswered";
    }
    const qint64 lastTry = 6000;
    EXPECT_FALSE(Pass(s, lastTry + 1000));
    EXPECT_FALSE(Pass(s, lastTry + 9700)) << "the interval less a quarter second of jitter";
    EXPECT_TRUE(s.ShouldAsk(1, 2, 20, lastTry + 9700)) << "another block starts afresh";
    EXPECT_TRUE(s.ShouldAsk(1, 3, 0, lastTry + 9700)) << "another address starts afresh";
    EXPECT_TRUE(Pass(s, lastTry + 10000));
    EXPECT_FALSE(Pass(s, lastTry + 19000));
    EXPECT_TRUE(Pass(s, lastTry + 20000));
    s.Record(1, 2, 0, true, lastTry + 20000);
    EXPECT_TRUE(Pass(s, lastTry + 21000)) << "back in every pass after an answer";

    // The line down: nobody answered in the last pass, so every station is asked again.
    SilentStations line;
    line.setLimits(3, 10000);
    for (qint64 now = 0; now < 6000; now += 1000) {
        ASSERT_TRUE(Pass(line, now, false));
    }
    s.setLimits(0, 10000);
    EXPECT_TRUE(s.ShouldAsk(1, 2, 0, lastTry + 22000)) << "0: always asked";
}

}  // namespace
}  // namespace merival
