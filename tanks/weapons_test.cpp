#include "testing/fake_host.h"
#include "game/game_routine.h"
#include "tanks/weapons.h"

#include <gtest/gtest.h>

namespace hopshot {
namespace {

struct TankGame : testing::TestGame {
    TankGame() { gameSetup(g); }
    World& w = g.w;
    std::vector<int> zs, ys;
    void step(int p = 0) {
        aimFireAndFly(g, p);
        zs.push_back(w.shellZ[p]);
        ys.push_back(w.shellY[p]);
    }
};

TEST(Aiming, TurnsAndElevatesWithinTheirLimits) {
    struct Case { int16_t steerX, steerY; int steps; int16_t heading, elevation; };
    const Case cases[] = {
        {1, 0, 35, 20, 0},     // right from 90 reaches 20 in 35 steps
        {1, 0, 50, 20, 0},     // ... and stays there
        {-1, 0, 40, 160, 0},
        {0, 1, 16, 90, 80},    // down arrow raises the gun to 80 in 16 steps
        {0, 1, 30, 90, 80},
        {0, -1, 3, 90, 0},     // up arrow lowers it, not below 0
    };
    for (const Case& c : cases) {
        TankGame t;
        t.w.steerX[0] = c.steerX;
        t.w.steerY[0] = c.steerY;
        for (int s = 0; s < c.steps; ++s) t.step();
        EXPECT_EQ(t.w.tankHeading[0], c.heading);
        EXPECT_EQ(t.w.gunElevation[0], c.elevation);
    }
}

TEST(Firing, LaunchVelocitiesFromHeadingAndElevation) {
    struct Case { int16_t heading, elevation; bool charged; int16_t vx, vy, vz; };
    const Case cases[] = {
        {20, 0, false, 28, 0, 10},  {60, 0, false, 15, 0, 26},   {90, 0, false, 0, 0, 30},
        {120, 0, false, -15, 0, 26}, {160, 0, false, -28, 0, 10}, {20, 0, true, 47, 0, 17},
        {60, 0, true, 25, 0, 43},   {90, 0, true, 0, 0, 50},     {160, 0, true, -47, 0, 17},
        {90, 20, false, 0, 10, 30}, {90, 45, false, 0, 24, 30},  {90, 80, false, 0, 42, 30},
        {90, 20, true, 0, 17, 50},  {90, 45, true, 0, 39, 50},   {90, 80, true, 0, 70, 50},
    };
    for (const Case& c : cases) {
        TankGame t;
        t.w.tankHeading[0] = c.heading;
        t.w.gunElevation[0] = c.elevation;
        if (c.charged) {
            t.w.charge[0] = 26;
            t.w.fireState[0] = 0;
        } else {
            t.w.fireState[0] = 1;
        }
        t.step();
        SCOPED_TRACE(::testing::Message() << c.heading << " " << c.elevation << " " << c.charged);
        EXPECT_EQ(t.w.shellKind[0], c.charged ? 1 : 0);
        EXPECT_EQ(t.w.shellVX[0], c.vx);
        // The launch step's flight already took one unit of gravity off a shell.
        EXPECT_EQ(t.w.shellVY[0], c.charged ? c.vy : c.vy - 1);
        EXPECT_EQ(t.w.shellVZ[0], c.vz);
        EXPECT_EQ(t.sound.played, std::vector<int>{c.charged ? 4 : 0});
    }
}

TEST(Firing, AFlatShellFallsBelowTheFloorInItsNinthStep) {
    TankGame t;
    t.w.fireState[0] = 1;
    for (int s = 0; s < 9; ++s) t.step();
    EXPECT_EQ(t.ys, (std::vector<int>{25, 24, 22, 19, 15, 10, 4, -3, 0}));
    EXPECT_EQ(std::vector<int>(t.zs.begin(), t.zs.begin() + 8),
              (std::vector<int>{-370, -340, -310, -280, -250, -220, -190, -160}));
    EXPECT_EQ(t.w.shellX[0], -5000);
    EXPECT_EQ(t.w.fireState[0], 2);
    EXPECT_EQ(t.g.s.shellFrames[0]->position, glm::vec3(-5000, 0, 0));
}

TEST(Firing, AChargedShotFliesLevelAndLeavesOverTheFarEdgeInItsEighteenthStep) {
    TankGame t;
    t.w.charge[0] = 26;
    for (int s = 0; s < 18; ++s) t.step();
    EXPECT_EQ(t.zs[0], -350);
    EXPECT_EQ(t.zs[16], 450);
    EXPECT_EQ(t.ys[16], 25);
    EXPECT_EQ(t.w.shellX[0], -5000);   // z = 500 was past the edge
    EXPECT_EQ(t.w.shellKind[0], 1);    // kept after the flight
    EXPECT_EQ(t.w.charge[0], 0);
}

TEST(Firing, APressWaitsForTheSlotAndFiresOnlyOnce) {
    TankGame t;
    t.w.fireState[0] = 1;
    t.step();                       // first shell
    t.w.fireState[0] = 1;           // pressed again while it flies
    for (int s = 1; s < 9; ++s) t.step();
    EXPECT_EQ(t.sound.played.size(), 1u);
    EXPECT_EQ(t.w.shellX[0], -5000);   // the first one is gone after its 9th step
    t.step();
    EXPECT_EQ(t.sound.played.size(), 2u);
    EXPECT_EQ(t.w.shellZ[0], -370);
}

TEST(Charging, TwentySixHeldStepsMakeAChargedShotTwentyFiveDoNot) {
    for (int held : {25, 26}) {
        TankGame t;
        t.w.fireState[0] = 2;
        t.w.shellX[0] = -5000;
        for (int s = 0; s < held; ++s) t.step();
        EXPECT_EQ(t.w.charge[0], held);
        t.w.fireState[0] = 0;   // released
        t.step();
        EXPECT_EQ(t.w.shellX[0] != -5000, held == 26) << held;
        EXPECT_EQ(t.w.charge[0], 0);
    }
}

TEST(Charging, TheGlowShakesAtTheMuzzleWithThreeDraws) {
    TankGame t;
    t.w.fireState[0] = 2;
    t.w.charge[0] = 25;
    t.w.gunElevation[0] = 20;
    t.g.rng.force({0.0, 0.55, 0.99});   // jitter -5, 0, 4
    t.step();
    const glm::vec3 glow = t.g.s.heavyShellFrames[0]->position;
    const Point m = muzzlePoint(t.w, 0);
    EXPECT_NEAR(glow.x, m.x - 5, 1e-3);
    EXPECT_NEAR(glow.y, 35.47, 0.01);
    EXPECT_NEAR(glow.z, m.z + 4, 1e-3);
    EXPECT_EQ(t.g.s.shellFrames[0]->position, glow);
    EXPECT_EQ(t.g.rng.forcedLeft(), 0u);
}

TEST(Flight, AnEmptySlotKeepsItsSpeedAndDriftsOn) {
    TankGame t;
    t.w.shellX[0] = -5000;   // as a kill parks a shell: only x
    t.w.shellY[0] = 100;
    t.w.shellZ[0] = 0;
    t.w.shellVX[0] = 28;
    t.w.shellVY[0] = 5;
    t.w.shellVZ[0] = 10;
    t.w.shellKind[0] = 0;
    t.step();
    EXPECT_EQ(t.w.shellX[0], -4972);
    EXPECT_EQ(t.w.shellY[0], 105);
    EXPECT_EQ(t.w.shellVY[0], 4);
}

}  // namespace
}  // namespace hopshot
