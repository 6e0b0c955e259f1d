// A match is the same game however a front end spaces its steps: stepped one after another (as
// fast as it goes), or on the window's clock, with ticks skipped or slow steps between.
#include "game/match.h"

#include "controls/keyboard.h"
#include "testing/clock_passes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace hopshot {
namespace {

using testing::Passes;
using testing::TestGame;

constexpr int kSteps = 120;
// Keys the player presses between steps: before step `step`, `code` goes down.
struct Press {
    long step;
    int code;
};
const Press kPresses[] = {{1, 37}, {30, 17}, {31, 38}, {90, 32}};

void pressBefore(World& w, long step) {
    for (const Press& p : kPresses)
        if (p.step == step) keyDown(w, int16_t(p.code), 0);
}

TEST(Match, TheGameIsTheSameHoweverTheFrontEndsClockSpacesItsSteps) {
    // The window's clock after each pass of its loop: how many ticks pass, by pass number.
    struct Case {
        const char* what;
        std::function<int32_t(int pass)> ticksPassing;
    };
    const Case cases[] = {
        {"a tick a pass", [](int) { return 1; }},
        {"two passes a tick", [](int pass) { return pass % 2; }},
        {"slow steps, ticks skipped", [](int pass) { return pass % 3 == 0 ? 4 : 0; }},
    };

    TestGame alone;   // stepped one after another
    Match m(alone.g);
    ASSERT_TRUE(m.begin());
    EXPECT_FALSE(m.begin());   // a game runs: a second begin sets nothing up
    const World setUp = alone.g.w;
    for (long s = 1; s <= kSteps && m.running(); ++s) {
        pressBefore(alone.g.w, s);
        m.step();
    }
    EXPECT_EQ(m.steps(), kSteps);
    const World stepped = alone.g.w;
    EXPECT_FALSE(stepped == setUp);
    m.end();
    EXPECT_EQ(alone.g.w.running, 0);

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestGame t;
        int32_t now = 0;
        int pass = 0;
        long pressed = 0;   // the step whose keys went down: once, however many passes before it
        t.host.clock = [&] { return now; };
        Passes passes;
        passes.between = [&] {
            const long done = std::count(t.host.log.begin(), t.host.log.end(), "step");
            if (done == kSteps) {
                World w = t.g.w;
                w.lastTick = stepped.lastTick;   // the clock's reading, the front end's own
                EXPECT_TRUE(w == stepped);
                EXPECT_EQ(t.g.rng.draws(), alone.g.rng.draws());
                t.g.w.running = 0;
            }
            if (pressed != done + 1) pressBefore(t.g.w, pressed = done + 1);
            now += c.ticksPassing(++pass);
        };
        testing::playPasses(t, passes);
        EXPECT_EQ(std::count(t.host.log.begin(), t.host.log.end(), "step"), kSteps);
    }
}

}  // namespace
}  // namespace hopshot
