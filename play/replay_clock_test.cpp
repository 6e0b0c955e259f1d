// The replay's clock as the frame loop reads it: the pace at each speed, pause and single steps,
// and no burst of steps owed after a slow stretch.
#include "play/replay_clock.h"

#include <gtest/gtest.h>

namespace hopshot {
namespace {

// Runs the frame loop's own rule against the clock for `realMs` of real time, reading it every
// millisecond: a step whenever the tick count passes the last step's tick, which is then read
// afresh. Returns the steps run.
int stepsOver(ReplayClock& clock, int64_t& now, int32_t& lastTick, int64_t realMs) {
    int steps = 0;
    for (const int64_t end = now + realMs; now < end; ++now) {
        if (clock.ticksAt(now, lastTick) >= lastTick + 1) {
            ++steps;
            lastTick = clock.ticksAt(now, lastTick);
        }
    }
    return steps;
}

TEST(ReplayClock, EachSpeedRunsItsShareOfFiftyStepsASecond) {
    struct Case {
        int faster, slower;   // key presses from the normal speed
        int exponent;
        int stepsPerSecond;
    };
    const Case cases[] = {
        {0, 0, 0, 50}, {1, 0, 1, 100}, {3, 0, 3, 400}, {9, 0, 3, 400},   // 8 times at most
        {0, 1, -1, 25}, {0, 2, -2, 12}, {0, 7, -2, 12},                  // a quarter at least
        {2, 1, 1, 100},
    };
    for (const Case& c : cases) {
        ReplayClock clock;
        int64_t now = 1000;
        int32_t lastTick = clock.ticksAt(now, 0);
        for (int i = 0; i < c.faster; ++i) clock.faster(now);
        for (int i = 0; i < c.slower; ++i) clock.slower(now);
        EXPECT_EQ(clock.speedExponent(), c.exponent);
        const int steps = stepsOver(clock, now, lastTick, 10000) / 10;
        EXPECT_NEAR(steps, c.stepsPerSecond, 1) << "exponent " << c.exponent;
    }
}

TEST(ReplayClock, PausedNothingRunsAndEachStepRunsExactlyOne) {
    ReplayClock clock;
    int64_t now = 0;
    int32_t lastTick = clock.ticksAt(now, 0);
    EXPECT_NEAR(stepsOver(clock, now, lastTick, 1000), 50, 1);
    clock.togglePause(now);
    EXPECT_TRUE(clock.paused());
    EXPECT_EQ(clock.msToNextTick(now), -1);   // nothing to wake for
    EXPECT_LE(stepsOver(clock, now, lastTick, 1), 1);   // a step already due before the pause
    EXPECT_EQ(stepsOver(clock, now, lastTick, 5000), 0);
    for (int n = 1; n <= 3; ++n) {
        clock.stepOnce(lastTick);
        EXPECT_EQ(stepsOver(clock, now, lastTick, 700), 1) << "step " << n;
    }
    // Resuming goes on from where it stood: the pause is not owed as a burst of steps.
    clock.togglePause(now);
    EXPECT_NEAR(stepsOver(clock, now, lastTick, 1000), 50, 1);
    clock.stepOnce(lastTick);   // not paused: no extra step
    EXPECT_NEAR(stepsOver(clock, now, lastTick, 100), 5, 1);
}

TEST(ReplayClock, ASlowStretchIsNotMadeUpAfterwards) {
    ReplayClock clock;
    int64_t now = 0;
    int32_t lastTick = clock.ticksAt(now, 0);
    // Nothing read for two seconds (a long step, a modal box): then one step, not a hundred.
    now += 2000;
    EXPECT_EQ(stepsOver(clock, now, lastTick, 1), 1);
    EXPECT_NEAR(stepsOver(clock, now, lastTick, 1000), 50, 1);
}

TEST(ReplayClock, WaitsUntilTheNextTickAtItsSpeed) {
    ReplayClock clock;
    clock.ticksAt(0, 0);
    EXPECT_EQ(clock.msToNextTick(0), 20);
    EXPECT_EQ(clock.msToNextTick(15), 5);
    clock.faster(0);
    clock.faster(0);   // four times: a tick every 5 ms
    EXPECT_EQ(clock.msToNextTick(0), 5);
    clock.slower(0);
    clock.slower(0);
    clock.slower(0);
    clock.slower(0);   // a quarter: every 80 ms
    EXPECT_EQ(clock.msToNextTick(0), 80);
}

}  // namespace
}  // namespace hopshot
