#include "testing/fake_host.h"
#include "game/game_routine.h"
#include "hoppers/life_cycle.h"

#include <gtest/gtest.h>

namespace hopshot {
namespace {

constexpr double kFail = 0.99;   // a draw that fails every chance test
constexpr double kHit = 0.0;     // a draw that passes every chance test

struct HopperGame : testing::TestGame {
    HopperGame() { gameSetup(g); }
    World& w = g.w;
};

TEST(HopperLife, HopFromTheGroundLandsInItsTwentyFourthStep) {
    HopperGame t;
    t.w.hopperX[0] = 0;
    t.w.hopperZ[0] = 300;
    t.w.hopperVY[0] = 12;   // as a successful take-off leaves it, before gravity
    t.w.hopperY[0] = 0;
    std::vector<int> heights;
    // The first step's take-off test passes (setting 12 again); then no take-off while airborne,
    // and the landing step's test fails.
    t.g.rng.force({kHit});
    for (int s = 0; s < 24; ++s) {
        if (t.w.hopperY[0] == 0 && s > 0) t.g.rng.force({kFail});
        hopperLifeStep(t.g, 0);
        heights.push_back(t.w.hopperY[0]);
    }
    EXPECT_EQ(heights, (std::vector<int>{11, 21, 30, 38, 45, 51, 56, 60, 63, 65, 66, 66, 65, 63, 60,
                                          56, 51, 45, 38, 30, 21, 11, 1, 0}));
    EXPECT_EQ(t.w.hopperVY[0], 0);
    EXPECT_EQ(t.g.rng.forcedLeft(), 0u);
}

TEST(HopperLife, SpawnsAtTheFarEndAndLeavesAtTheNearEnd) {
    HopperGame t;
    t.g.rng.force({kHit, 0.5, kFail});   // spawn, x = Int(0.5 * 800 - 400) = 0, no take-off
    hopperLifeStep(t.g, 3);
    EXPECT_EQ(t.w.hopperX[3], 0);
    EXPECT_EQ(t.w.hopperZ[3], 445);
    std::vector<int> zs{t.w.hopperZ[3]};
    for (int s = 1; s < 180; ++s) {
        t.g.rng.force({kFail});   // the take-off test, every step on the ground
        hopperLifeStep(t.g, 3);
        zs.push_back(t.w.hopperZ[3]);
        if (s < 179) {
            EXPECT_EQ(t.w.hopperX[3], 0) << s;
        }
    }
    EXPECT_EQ(zs[1], 440);
    EXPECT_EQ(zs[178], -445);
    EXPECT_EQ(zs[179], -450);               // the 180th step counted from the spawn
    EXPECT_EQ(t.w.hopperX[3], -5000);       // idle from then on
    t.g.rng.force({kFail, kFail});
    hopperLifeStep(t.g, 3);
    EXPECT_EQ(t.w.hopperZ[3], -450);        // not moved further
}

TEST(HopperLife, SpawnPlaceRunsFrom400LeftTo399Right) {
    struct Case { double r; int16_t x; };
    for (Case c : {Case{0.0, -400}, Case{0.99999999, 399}, Case{0.5, 0}, Case{0.2501, -200}}) {
        HopperGame t;
        t.g.rng.force({kHit, c.r, kFail});
        hopperLifeStep(t.g, 0);
        EXPECT_EQ(t.w.hopperX[0], c.x) << c.r;
    }
}

TEST(HopperLife, SpawnTestIsOneIn150AndAFailedOneTakesNoPlaceDraw) {
    struct Case { double r; bool spawns; int draws; };
    // 1/150 = 0.00667: r * 150 < 1 spawns.
    for (Case c : {Case{0.0066, true, 3}, Case{0.0067, false, 2}}) {
        HopperGame t;
        t.w.hopperY[0] = 0;
        const auto before = t.g.rng.draws();
        t.g.rng.force({c.r, 0.5, kFail});
        hopperLifeStep(t.g, 0);
        EXPECT_EQ(t.w.hopperX[0] != -5000, c.spawns);
        EXPECT_EQ(t.g.rng.draws() - before, uint64_t(c.draws));
        EXPECT_EQ(t.g.s.hopperFrames[0]->position, glm::vec3(-5000, 0, 0));   // placed before the move
    }
}

TEST(HopperLife, IdleHoppersGoOnMovingOutOfSight) {
    HopperGame t;
    t.w.hopperZ[5] = 0;
    t.w.hopperVY[5] = 5;
    t.w.hopperY[5] = 10;
    t.g.rng.force({kFail});   // spawn test only: not on the ground, no take-off draw
    hopperLifeStep(t.g, 5);
    EXPECT_EQ(t.w.hopperX[5], -5000);
    EXPECT_EQ(t.w.hopperY[5], 14);
    EXPECT_EQ(t.w.hopperVY[5], 4);
    EXPECT_EQ(t.w.hopperZ[5], -5);
}

TEST(HopperLife, TheFlashLiftsHoppersInPlayWithTakeOffGiving12First) {
    HopperGame t;
    t.w.flashTimer = 10;
    t.w.hopperX[0] = 100;
    t.w.hopperZ[0] = 200;
    t.g.rng.force({kHit});   // take-off succeeds this step: 12, then gravity, then the lift
    hopperLifeStep(t.g, 0);
    EXPECT_EQ(t.w.hopperY[0], 11);
    EXPECT_EQ(t.w.hopperVY[0], 15);
    hopperLifeStep(t.g, 0);   // airborne: no draw
    EXPECT_EQ(t.w.hopperY[0], 25);   // 14 a step from now on
    EXPECT_EQ(t.g.rng.forcedLeft(), 0u);
}

TEST(HopperLife, GravityStopsAtMinusTen) {
    HopperGame t;
    t.w.hopperX[0] = 0;
    t.w.hopperZ[0] = 400;
    t.w.hopperY[0] = 1000;
    t.w.hopperVY[0] = -10;
    hopperLifeStep(t.g, 0);
    EXPECT_EQ(t.w.hopperVY[0], -10);
    EXPECT_EQ(t.w.hopperY[0], 990);
}

}  // namespace
}  // namespace hopshot
