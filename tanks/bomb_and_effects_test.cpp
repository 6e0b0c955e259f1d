#include "testing/fake_host.h"
#include "game/game_routine.h"
#include "tanks/bomb_and_effects.h"

#include <gtest/gtest.h>

namespace hopshot {
namespace {

struct EffectsGame : testing::TestGame {
    EffectsGame() {
        host.play({0, 1});
        gameSetup(g);
    }
    World& w = g.w;
};

TEST(BombTrigger, TwoChargedShotsCloserThan20OnEveryAxis) {
    struct Case { int kind0, kind1, dx, dy, dz; bool bomb; };
    const Case cases[] = {
        {1, 1, 19, 19, 19, true},  {1, 1, -19, 0, 0, true}, {1, 1, 20, 0, 0, false},
        {1, 1, 0, 0, -20, false},  {0, 1, 0, 0, 0, false},  {0, 0, 0, 0, 0, false},
    };
    for (const Case& c : cases) {
        EffectsGame t;
        t.w.shellX[0] = 100; t.w.shellY[0] = 25; t.w.shellZ[0] = 200; t.w.shellKind[0] = int16_t(c.kind0);
        t.w.shellX[1] = int16_t(100 + c.dx); t.w.shellY[1] = int16_t(25 + c.dy);
        t.w.shellZ[1] = int16_t(200 + c.dz); t.w.shellKind[1] = int16_t(c.kind1);
        bombTriggerTest(t.g, 1);
        EXPECT_EQ(t.w.bombX != -5000, c.bomb) << c.dx << c.dy << c.dz;
        if (c.bomb) {
            EXPECT_EQ(t.w.bombX, t.w.shellX[1]);   // at the current player's shot
            EXPECT_EQ(t.w.bombZ, t.w.shellZ[1]);
            EXPECT_EQ(t.sound.played, std::vector<int>{5});
            EXPECT_EQ(t.w.shellX[0], 100);         // both shots fly on
        }
    }
}

TEST(BombTrigger, NoSecondBombWhileOneRolls) {
    EffectsGame t;
    t.w.bombX = 0;
    t.w.bombZ = 300;
    for (int p : {0, 1}) {
        t.w.shellX[p] = 50; t.w.shellY[p] = 25; t.w.shellZ[p] = 100; t.w.shellKind[p] = 1;
    }
    bombTriggerTest(t.g, 0);
    EXPECT_EQ(t.w.bombZ, 300);
    EXPECT_TRUE(t.sound.played.empty());
}

TEST(BombStep, RollsSpinsAndEndsPastTheFarEndTakingTheBlood) {
    EffectsGame t;
    t.w.bombX = 10;
    t.w.bombZ = 440;
    t.w.bombSpin = 330;
    t.w.bloodX[7] = 5;
    bombStep(t.g);   // z 450: drawn once more
    EXPECT_EQ(t.w.bombZ, 450);
    EXPECT_EQ(t.w.bombSpin, 360);
    EXPECT_EQ(t.w.bloodX[7], 5);
    EXPECT_EQ(t.g.s.lightFrame->position, glm::vec3(10, 50, 350));
    bombStep(t.g);   // z 460: gone
    EXPECT_EQ(t.w.bombX, -5000);
    EXPECT_EQ(t.w.bombZ, 0);
    EXPECT_EQ(t.w.bombSpin, 0);          // past 360 it wraps to 0, and is kept for the next bomb
    EXPECT_EQ(t.w.bloodX[7], -5000);
    EXPECT_EQ(t.g.s.lightFrame->position, glm::vec3(-300, 300, -300));
}

TEST(BombStep, DrawsThreeForTheWobbleAlwaysAndThreeMoreWhileRolling) {
    for (bool rolling : {false, true}) {
        EffectsGame t;
        if (rolling) t.w.bombX = 0;
        const auto before = t.g.rng.draws();
        bombStep(t.g);
        EXPECT_EQ(t.g.rng.draws() - before, rolling ? 6u : 3u);
    }
}

TEST(RedFlash, TheSkyRunsFromRedBackToItsColour) {
    EffectsGame t;
    t.w.flashTimer = 100;
    std::vector<float> reds;
    for (int s = 0; s < 100; ++s) {
        redFlash(t.g);
        reds.push_back(t.g.s.sceneRoot->background.r);
    }
    EXPECT_FLOAT_EQ(reds[0], 0.99f);
    EXPECT_FLOAT_EQ(reds[98], 0.01f);
    EXPECT_FLOAT_EQ(reds[99], 0.5f);
    EXPECT_FLOAT_EQ(t.g.s.sceneRoot->background.b, 0.8f);
}

TEST(LightFlicker, FlipsAtRandomAndReturnsToRestAtTheEnd) {
    EffectsGame t;
    t.w.flickerTimer = 2;
    t.g.rng.force({0.2, 0.7});
    lightFlicker(t.g);
    EXPECT_NEAR(t.g.s.lightFrame->axes[2].y, -1.0f, 1e-6f);   // straight down
    lightFlicker(t.g);
    EXPECT_EQ(t.w.flickerTimer, 0);
    EXPECT_EQ(t.g.s.lightFrame->position, glm::vec3(-300, 300, -300));
    const glm::vec3 front = t.g.s.lightFrame->axes[2];
    EXPECT_NEAR(glm::dot(front, glm::normalize(glm::vec3(300, -300, 300))), 1.0f, 1e-5f);
    lightFlicker(t.g);   // idle: no draw
    EXPECT_EQ(t.g.rng.forcedLeft(), 0u);
}

TEST(DamageShake, JoltsOnlyThatPlayersCameraFor30Passes) {
    EffectsGame t;
    t.w.damageTimer[1] = 30;
    int jolts = 0;
    for (int s = 0; s < 40; ++s) {
        const auto before = t.g.rng.draws();
        damageShake(t.g, 0);
        damageShake(t.g, 1);
        jolts += int(t.g.rng.draws() - before) / 3;
    }
    EXPECT_EQ(jolts, 30);
    EXPECT_EQ(t.w.damageTimer[1], 0);
}

}  // namespace
}  // namespace hopshot
