#include "testing/fake_host.h"
#include "game/game_routine.h"
#include "hoppers/hits.h"

#include <gtest/gtest.h>

namespace hopshot {
namespace {

struct HitGame : testing::TestGame {
    HitGame() {
        host.play({0, 1});
        gameSetup(g);
    }
    World& w = g.w;
    void hopperAt(int i, int x, int y, int z) {
        w.hopperX[i] = int16_t(x);
        w.hopperY[i] = int16_t(y);
        w.hopperZ[i] = int16_t(z);
    }
    void shellAt(int p, int x, int y, int z, int kind = 0) {
        w.shellX[p] = int16_t(x);
        w.shellY[p] = int16_t(y);
        w.shellZ[p] = int16_t(z);
        w.shellKind[p] = int16_t(kind);
    }
};

TEST(ShellTest, TheBoxAroundAHopperIsStrict) {
    struct Case { int dx, dy, dz; bool hit; };
    const Case cases[] = {
        {0, 0, 0, true},   {29, 0, 0, true},  {30, 0, 0, false}, {-30, 0, 0, false},
        {0, 45, 0, true},  {0, 49, 0, true},  {0, 50, 0, false}, {0, -29, 0, true},
        {0, -30, 0, false}, {0, -45, 0, false}, {0, 0, 29, true}, {0, 0, -30, false},
    };
    for (const Case& c : cases) {
        HitGame t;
        t.hopperAt(3, 100, 60, 200);
        t.shellAt(0, 100 + c.dx, 60 + c.dy, 200 + c.dz);
        hopperHitTests(t.g, 3);
        EXPECT_EQ(t.w.hopperX[3] == -5000, c.hit) << c.dx << " " << c.dy << " " << c.dz;
    }
}

TEST(Kill, ScoreSoundsBloodAndEffectsByKindOfHopper) {
    struct Case {
        int hopper, z;
        int32_t score;
        std::vector<int> sounds;
        int16_t flash, flicker;
    };
    const Case cases[] = {
        {0, 445, 895, {1}, 0, 0},        // right after the spawn
        {18, -445, 5, {1}, 0, 0},        // in its last step in play
        {19, 445, 4475, {1}, 100, 0},    // the small hopper: five times, red sky
        {20, -445, 25, {2}, 0, 100},     // the gold hopper: only "gold.wav", flicker
    };
    for (const Case& c : cases) {
        HitGame t;
        t.hopperAt(c.hopper, 0, 0, c.z);
        t.shellAt(0, 0, 10, c.z);
        t.g.rng.force({0.2});   // the hit-sound draw: bank 1 (hoppers 0..19 only)
        hopperHitTests(t.g, c.hopper);
        SCOPED_TRACE(c.hopper);
        EXPECT_EQ(t.w.score, c.score);
        EXPECT_EQ(t.sound.played, c.sounds);
        EXPECT_EQ(t.w.flashTimer, c.flash);
        EXPECT_EQ(t.w.flickerTimer, c.flicker);
        EXPECT_EQ(t.host.captions[Label::Score], captionNumber("Score :", c.score));
        EXPECT_EQ(t.w.shellX[0], -5000);   // a shell is used up by its kill
        EXPECT_EQ(t.w.shellY[0], 10);      // ... only its x is parked
        // Twenty particles fly from the hopper's place, 10 up.
        EXPECT_EQ(t.w.bloodX[19], 0);
        EXPECT_EQ(t.w.bloodY[19], 10);
        EXPECT_EQ(t.w.bloodZ[0], c.z);
        EXPECT_EQ(t.w.bloodX[20], -5000);
        EXPECT_EQ(t.w.bloodBudget, 0);
        if (c.hopper == 20) {
            EXPECT_EQ(t.g.s.lightFrame->position, glm::vec3(0));
        }
    }
}

TEST(Kill, HitSoundIsBank1OrBank6AtEvenChanceAndBloodTakesThreeDrawsAParticle) {
    HitGame t;
    for (int k = 0; k < kBlood; ++k) t.w.bloodX[k] = 0;   // all flying...
    for (int k : {4, 50, 77}) t.w.bloodX[k] = -5000;      // ... but three
    t.hopperAt(2, 0, 0, 100);
    t.shellAt(0, 0, 0, 100);
    t.g.rng.force({0.5, 0.0, 0.0, 0.99, 0.5, 0.5, 0.5, 0.99, 0.99, 0.0});
    hopperHitTests(t.g, 2);
    EXPECT_EQ(t.sound.played, std::vector<int>{6});
    EXPECT_EQ(t.g.rng.forcedLeft(), 0u);
    EXPECT_EQ(t.w.bloodVX[4], -10);
    EXPECT_EQ(t.w.bloodVY[4], 0);
    EXPECT_EQ(t.w.bloodVZ[4], 9);
    EXPECT_EQ(t.w.bloodVY[50], 10);
    EXPECT_EQ(t.w.bloodVX[77], 9);
    EXPECT_EQ(t.w.bloodVZ[77], -10);
    EXPECT_EQ(t.w.bloodBudget, 17);
}

TEST(ShellTest, TheLowerPlayerKillsAndTheOtherShellFliesOn) {
    HitGame t;
    t.hopperAt(0, 0, 0, 0);
    t.shellAt(0, 5, 5, 5);
    t.shellAt(1, -5, 5, 5);
    hopperHitTests(t.g, 0);
    EXPECT_EQ(t.w.shellX[0], -5000);
    EXPECT_EQ(t.w.shellX[1], -5);
}

TEST(ShellTest, AChargedShotKillsALineOfHoppersAndFliesOn) {
    HitGame t;
    t.shellAt(0, 0, 20, 100, 1);
    for (int i = 0; i < 3; ++i) {
        t.hopperAt(i, 10 * i, 0, 100);
        hopperHitTests(t.g, i);
    }
    EXPECT_EQ(t.w.score, 3 * 550);
    EXPECT_EQ(t.w.shellX[0], 0);
}

TEST(ShellTest, WhileChargingTheMuzzleKillsAndTheSlotIsWithdrawn) {
    HitGame t;
    t.w.charge[0] = 26;
    t.shellAt(0, 200, 100, 0);       // a shell in flight, far from the hopper
    t.hopperAt(0, -300, 0, -350);    // right in front of player 1's muzzle (-300, 25, -350)
    hopperHitTests(t.g, 0);
    EXPECT_EQ(t.w.hopperX[0], -5000);
    EXPECT_EQ(t.w.shellX[0], -5000);
    EXPECT_EQ(t.w.shellY[0], 0);
    EXPECT_EQ(t.w.shellZ[0], 0);
}

TEST(TankContact, ReachingATankCostsPoints) {
    struct Case { int hopper, x, y, z; bool contact; int32_t score; };
    const Case cases[] = {
        {0, -300, 0, -385, true, -1000},  {19, -280, 39, -385, true, -1000},
        {20, -320, 0, -385, true, -5000}, {0, -300, 0, -380, false, 0},
        {0, -300, 40, -385, false, 0},    {0, -270, 0, -385, false, 0},
    };
    for (const Case& c : cases) {
        HitGame t;
        t.hopperAt(c.hopper, c.x, c.y, c.z);
        hopperHitTests(t.g, c.hopper);
        SCOPED_TRACE(c.hopper);
        EXPECT_EQ(t.w.hopperX[c.hopper] == -5000, c.contact);
        EXPECT_EQ(t.w.score, c.score);
        EXPECT_EQ(t.w.damageTimer[0], c.contact ? 30 : 0);
        EXPECT_EQ(t.sound.played, c.contact ? std::vector<int>{3} : std::vector<int>{});
        if (c.contact) {
            EXPECT_EQ(t.host.captions[Label::Score], "Score :" + std::to_string(c.score));
        }
    }
}

TEST(BombTest, KillsWithin80InXAndZAtAnyHeight) {
    struct Case { int dx, dz, y; bool kill; };
    for (Case c : {Case{79, 79, 500, true}, Case{80, 0, 0, false}, Case{0, -80, 0, false},
                   Case{-79, 0, 0, true}}) {
        HitGame t;
        t.w.bombX = 50;
        t.w.bombZ = 100;
        t.hopperAt(5, 50 + c.dx, c.y, 100 + c.dz);
        hopperHitTests(t.g, 5);
        EXPECT_EQ(t.w.hopperX[5] == -5000, c.kill) << c.dx << " " << c.dz;
    }
}

TEST(BloodPass, ParticlesFlyFallAndAreFreedBelowMinus50) {
    HitGame t;
    t.w.bloodX[0] = 10; t.w.bloodY[0] = -45; t.w.bloodZ[0] = 0;
    t.w.bloodVX[0] = 2; t.w.bloodVY[0] = -4; t.w.bloodVZ[0] = 3;
    bloodPass(t.g);
    EXPECT_EQ(t.w.bloodX[0], 12);
    EXPECT_EQ(t.w.bloodY[0], -49);
    EXPECT_EQ(t.w.bloodVY[0], -5);
    EXPECT_EQ(t.g.s.bloodFrames[0]->position, glm::vec3(12, -49, 3));
    bloodPass(t.g);
    EXPECT_EQ(t.w.bloodX[0], -5000);   // y = -54
    EXPECT_EQ(t.w.bloodVY[0], 0);
    EXPECT_EQ(t.w.bloodVZ[0], 0);
    EXPECT_EQ(t.w.bloodVX[0], 2);      // kept
    bloodPass(t.g);                    // a free particle stays free where it is
    EXPECT_EQ(t.w.bloodX[0], -5000);
    EXPECT_EQ(t.w.bloodY[0], -54);
}

}  // namespace
}  // namespace hopshot
