#include "testing/clock_passes.h"
#include "controls/keyboard.h"

#include <gtest/gtest.h>

namespace hopshot {
namespace {

using testing::Passes;
using testing::TestGame;
using testing::playPasses;

// A clock that reads from a list, one value per reading, repeating the last one.
std::function<int32_t()> readings(std::vector<int32_t> values) {
    auto next = std::make_shared<size_t>(0);
    return [values, next] {
        const size_t i = std::min((*next)++, values.size() - 1);
        return values[i];
    };
}

// The loop's calls without the setup's "show3D".
std::vector<std::string> loopLog(const testing::FakeHost& h) {
    return {h.log.begin() + 1, h.log.end()};
}

TEST(FrameLoop, StepsOnlyWhenTheTickHasAdvancedAndRunsTheHandlersOnEveryPass) {
    TestGame t;
    Passes p;
    // Readings: setup 100; pass 1: 100 (no step); pass 2: 101 -> step, fresh reading 101;
    // pass 3: 101 (no step); pass 4: 103 -> step, fresh 104; pass 5: 104 (no step).
    t.host.clock = readings({100, 100, 101, 101, 101, 103, 104, 104});
    int yields = 0;
    p.between = [&] {
        if (++yields == 5) t.g.w.running = 0;
    };
    playPasses(t, p);
    EXPECT_EQ(loopLog(t.host),
              (std::vector<std::string>{"pass", "step", "pass", "pass", "step", "pass", "pass",
                                        "title", "clear"}));
    EXPECT_EQ(t.g.w.lastTick, 104);   // the fresh reading after the last step, not 103
}

TEST(FrameLoop, ASlowStepIsNotMadeUpFor) {
    TestGame t;
    Passes p;
    // Each step ends 5 ticks later than it began; the next step still needs one more tick.
    int32_t now = 0;
    t.host.clock = [&] { return now; };
    int steps = 0;
    p.between = [&] {
        if (t.host.log[t.host.log.size() - 2] == "step") { ++steps; now += 5; }
        else now += 1;
        if (steps == 3) t.g.w.running = 0;
    };
    playPasses(t, p);
    EXPECT_EQ(steps, 3);
    // One step per tick boundary after the previous step's end: 3 steps, no burst of catch-up.
    EXPECT_EQ(std::count(t.host.log.begin(), t.host.log.end(), "step"), 3);
}

TEST(FrameLoop, EscBetweenPassesEndsTheGameBeforeTheNextStep) {
    TestGame t;
    Passes p;
    int32_t now = 0;
    t.host.clock = [&] { return now; };
    int yields = 0;
    p.between = [&] {
        ++now;
        if (++yields == 3) keyDown(t.g.w, 27, 0);
    };
    playPasses(t, p);
    EXPECT_EQ(std::count(t.host.log.begin(), t.host.log.end(), "step"), 2);
    EXPECT_EQ(t.g.w.running, 0);
    EXPECT_EQ(t.host.log.back(), "clear");   // the teardown ran: title back, window cleared
}

TEST(FrameLoop, EscBeforeTheFirstStepRunsNoStep) {
    TestGame t;
    Passes p;
    t.host.clock = readings({0, 0});
    p.between = [&] { keyDown(t.g.w, 27, 0); };
    playPasses(t, p);
    EXPECT_EQ(loopLog(t.host), (std::vector<std::string>{"pass", "title", "clear"}));
}

TEST(FrameLoop, TheProgramEndingInTheHandlersSkipsTheTeardown) {
    TestGame t;
    Passes p;
    t.host.hasWindow = true;
    int32_t now = 0;
    t.host.clock = [&] { return now++; };
    p.between = [&] {
        t.g.w.running = 0;          // the close handler
        p.programEnded = true;
    };
    playPasses(t, p);
    EXPECT_EQ(std::count(t.host.log.begin(), t.host.log.end(), "title"), 0);
    EXPECT_TRUE(t.g.s.sceneRoot);   // nothing was released
}

TEST(StartCommand, DoesNothingWhileAGameRuns) {
    TestGame t;
    Passes p;
    int32_t now = 0;
    t.host.clock = [&] { return now++; };
    int starts = 0;
    p.between = [&] {
        if (++starts == 1) EXPECT_FALSE(playPasses(t, p));   // Ctrl+S during the game
        else t.g.w.running = 0;
    };
    playPasses(t, p);
    EXPECT_EQ(std::count(t.host.log.begin(), t.host.log.end(), "show3D"), 1);
    EXPECT_EQ(std::count(t.host.log.begin(), t.host.log.end(), "title"), 1);
}

TEST(StartCommand, AGameWithNoPlayersStepsWithoutDrawing) {
    TestGame t;
    Passes p;
    t.host.hasWindow = true;
    t.host.play({});
    int32_t now = 0;
    t.host.clock = [&] { return now++; };
    int yields = 0;
    p.between = [&] { if (++yields == 10) t.g.w.running = 0; };
    playPasses(t, p);
    EXPECT_GT(std::count(t.host.log.begin(), t.host.log.end(), "step"), 3);
    EXPECT_TRUE(t.host.window.log->calls.empty());
}

}  // namespace
}  // namespace hopshot
