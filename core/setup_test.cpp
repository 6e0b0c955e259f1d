#include "testing/fake_host.h"
#include "game/game_routine.h"

#include <gtest/gtest.h>

namespace hopshot {
namespace {

using testing::TestGame;

glm::vec3 placeOf(const scene::Frame& f) { return scene::worldPose(*f).origin; }

// Fills every table with a value no rule would leave, to see what the setup touches.
void scribble(World& w) {
    auto fill = [](auto& table, int16_t v) { table.fill(v); };
    fill(w.tankHeading, 7); fill(w.gunElevation, 7); fill(w.shellX, 7); fill(w.shellY, 7);
    fill(w.shellZ, 7); fill(w.shellVX, 7); fill(w.shellVY, 7); fill(w.shellVZ, 7);
    fill(w.shellKind, 1); fill(w.steerX, -1); fill(w.steerY, 1); fill(w.fireState, 2);
    fill(w.charge, 40); fill(w.damageTimer, 12); fill(w.hopperX, 33); fill(w.hopperY, 44);
    fill(w.hopperZ, 55); fill(w.hopperVY, 9); fill(w.bloodX, 1); fill(w.bloodY, 2);
    fill(w.bloodZ, 3); fill(w.bloodVX, 4); fill(w.bloodVY, 5); fill(w.bloodVZ, 6);
    w.bloodBudget = 13; w.timeLeft = 3; w.flashTimer = 50; w.flickerTimer = 60;
    w.bombX = 100; w.bombZ = 200; w.bombSpin = 90; w.score = 777;
    w.hiScoreSolo = 1234; w.hiScoreCoop = 567; w.hiNameSolo = "TARO"; w.hiNameCoop = "HANAKO";
}

TEST(GameSetup, StartValuesOfEveryResetTable) {
    TestGame t;
    scribble(t.g.w);
    t.host.clock = [] { return 4711; };
    gameSetup(t.g);
    const World& w = t.g.w;

    EXPECT_EQ(w.running, -1);
    EXPECT_EQ(w.lastTick, 4711);
    EXPECT_EQ(w.score, 0);
    EXPECT_EQ(w.timeLeft, 60);
    EXPECT_EQ(w.flashTimer, 0);
    EXPECT_EQ(w.flickerTimer, 0);
    EXPECT_EQ(w.bombX, -5000);
    EXPECT_EQ(w.bombZ, 0);
    EXPECT_EQ(w.bombSpin, 0);
    for (int p = 0; p < kPlayers; ++p) {
        EXPECT_EQ(w.tankHeading[p], 90);
        EXPECT_EQ(w.gunElevation[p], 0);
        EXPECT_EQ(w.fireState[p], 0);
        EXPECT_EQ(w.charge[p], 0);
        EXPECT_EQ(w.damageTimer[p], 0);
        EXPECT_EQ(w.shellX[p], -5000);
        EXPECT_EQ(w.shellY[p] | w.shellZ[p] | w.shellVX[p] | w.shellVY[p] | w.shellVZ[p], 0);
    }
    for (int i = 0; i < kHoppers; ++i) {
        EXPECT_EQ(w.hopperX[i], -5000);
        EXPECT_EQ(w.hopperY[i], 0);
        EXPECT_EQ(w.hopperZ[i], 0);
    }
    for (int k = 0; k < kBlood; ++k) {
        EXPECT_EQ(w.bloodX[k], -5000);
        EXPECT_EQ(w.bloodY[k] | w.bloodZ[k] | w.bloodVX[k] | w.bloodVY[k] | w.bloodVZ[k], 0);
    }
    EXPECT_EQ(t.host.captions[Label::Time], "Time : 60");
    EXPECT_EQ(t.host.captions[Label::Score], "Score : 0");
    EXPECT_EQ(t.host.log, std::vector<std::string>{"show3D"});
}

TEST(GameSetup, LeavesWhatCarriesOverFromGameToGame) {
    TestGame t;
    scribble(t.g.w);
    gameSetup(t.g);
    const World& w = t.g.w;
    for (int p = 0; p < kPlayers; ++p) {
        EXPECT_EQ(w.shellKind[p], 1);
        EXPECT_EQ(w.steerX[p], -1);
        EXPECT_EQ(w.steerY[p], 1);
    }
    for (int i = 0; i < kHoppers; ++i) EXPECT_EQ(w.hopperVY[i], 9);
    EXPECT_EQ(w.bloodBudget, 13);
    EXPECT_EQ(w.hiScoreSolo, 1234);
    EXPECT_EQ(w.hiScoreCoop, 567);
    EXPECT_EQ(w.hiNameSolo, "TARO");
    EXPECT_EQ(w.hiNameCoop, "HANAKO");
}

TEST(GameSetup, ReadsThePlayerItemsAndScreenOptions) {
    struct Case { std::initializer_list<int> players; bool live, small; std::array<int16_t, 4> in; };
    const Case cases[] = {
        {{0}, true, false, {1, 0, 0, 0}},
        {{0, 3}, false, true, {1, 0, 0, 1}},
        {{1, 2, 3}, true, true, {0, 1, 1, 1}},
        {{}, false, false, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        TestGame t;
        t.host.play(c.players);
        t.host.marks[MenuItem::LiveCamera] = c.live;
        t.host.marks[MenuItem::SmallScreen] = c.small;
        gameSetup(t.g);
        EXPECT_EQ(t.g.w.playerIn, c.in);
        EXPECT_EQ(t.g.w.liveCamera, c.live ? 1 : 0);
        EXPECT_EQ(t.g.w.smallScreen, c.small ? 1 : 0);
    }
}

TEST(GameSetup, TanksOfPlayersTakingPartStandInTheRowTheOthersAreParked) {
    TestGame t;
    t.host.play({0, 2});
    gameSetup(t.g);
    const SceneHandles& s = t.g.s;
    const float xs[] = {-300, -100, 100, 300};
    for (int p = 0; p < kPlayers; ++p) {
        const bool in = p == 0 || p == 2;
        const glm::vec3 expected = in ? glm::vec3(xs[p], 20, -400) : glm::vec3(-5000, 0, 0);
        EXPECT_EQ(placeOf(s.tankBodyFrames[p]), expected) << "player " << p;
        EXPECT_EQ(placeOf(s.tankBaseFrames[p]), expected) << "player " << p;
        // A taking-part player's shell frame waits where it was made; the others are parked.
        EXPECT_EQ(placeOf(s.shellFrames[p]), in ? glm::vec3(0) : glm::vec3(-5000, 0, 0));
        EXPECT_EQ(placeOf(s.heavyShellFrames[p]), glm::vec3(-5000, 0, 0));
    }
    for (const auto& f : s.hopperFrames) EXPECT_EQ(placeOf(f), glm::vec3(-5000, 0, 0));
    EXPECT_EQ(placeOf(s.bombFrame), glm::vec3(-5000, 0, 0));
    EXPECT_EQ(placeOf(s.lightFrame), glm::vec3(-300, 300, -300));
    // The light looks at the ground's origin.
    const glm::vec3 front = scene::worldPose(*s.lightFrame).axes[2];
    EXPECT_NEAR(glm::dot(front, glm::normalize(glm::vec3(300, -300, 300))), 1.0f, 1e-5f);
    // The camera looks down the field with +y up.
    const scene::Pose cam = scene::worldPose(*s.cameraFrame);
    EXPECT_NEAR(cam.axes[2].z, 1.0f, 1e-6f);
    EXPECT_NEAR(cam.axes[1].y, 1.0f, 1e-6f);
}

TEST(GameSetup, BuildsTheSceneUnderOneRoot) {
    TestGame t;
    gameSetup(t.g);
    const SceneHandles& s = t.g.s;
    ASSERT_TRUE(s.sceneRoot);
    // camera, light, 21 hoppers, ground, bomb, 4 shells, 4 glows, 101 particles, 8 tank frames
    EXPECT_EQ(s.sceneRoot->children.size(), 2u + 21 + 1 + 1 + 4 + 4 + 101 + 8);
    EXPECT_FLOAT_EQ(s.sceneRoot->background.b, 0.8f);
    // Ordinary hoppers share one mesh builder; the small and the gold hopper have their own.
    ASSERT_EQ(s.hopperFrames[0]->visuals.size(), 1u);
    EXPECT_EQ(s.hopperFrames[18]->visuals[0], s.hopperFrames[0]->visuals[0]);
    EXPECT_NE(s.hopperFrames[19]->visuals[0], s.hopperFrames[0]->visuals[0]);
    EXPECT_NE(s.hopperFrames[20]->visuals[0], s.hopperFrames[19]->visuals[0]);
    EXPECT_EQ(s.bloodFrames[100]->visuals[0], s.bloodFrames[0]->visuals[0]);
    EXPECT_NE(s.tankBodyFrames[1]->visuals[0], s.tankBodyFrames[0]->visuals[0]);
    EXPECT_EQ(s.lightFrame->lights.size(), 1u);
    // The scratch handle ends holding the last tank's base mesh.
    EXPECT_EQ(s.meshBuilder, s.tankBaseFrames[3]->visuals[0]);
}

TEST(GameSetup, WithoutAWindowThereIsNoDeviceAndTheGameStillSetsUp) {
    TestGame t;
    gameSetup(t.g);
    EXPECT_FALSE(t.g.s.device);
    EXPECT_FALSE(t.g.s.viewport);
    EXPECT_TRUE(t.g.s.sceneRoot);
    EXPECT_EQ(t.g.w.running, -1);
}

TEST(GameSetup, QualityFromTheDisplayOptionsWireframeLast) {
    struct Case { bool simple, wire; unsigned quality; };
    for (Case c : {Case{false, false, 137}, Case{true, false, 136}, Case{false, true, 64},
                   Case{true, true, 64}}) {
        TestGame t;
        t.host.hasWindow = true;
        t.host.marks[MenuItem::SimpleDisplay] = c.simple;
        t.host.marks[MenuItem::Wireframe] = c.wire;
        gameSetup(t.g);
        ASSERT_TRUE(t.g.s.device);
        EXPECT_EQ(t.g.s.device->quality, c.quality);
        EXPECT_EQ(t.g.s.device->shades, 32u);
        EXPECT_FALSE(t.g.s.device->dither);
        ASSERT_TRUE(t.g.s.viewport);
        EXPECT_EQ(t.g.s.viewport->width, 640);
        EXPECT_EQ(t.g.s.viewport->height, 430);
    }
}

TEST(GameSetup, MissingMeshFilesLeaveEmptyMeshesAndTheGamePlaysOn) {
    testing::FakeHost host;
    testing::FakeSound sound;
    Game g(host, sound, "/nonexistent-mesh-dir");
    gameSetup(g);
    ASSERT_TRUE(g.s.hopperFrames[0]);
    ASSERT_EQ(g.s.hopperFrames[0]->visuals.size(), 1u);
    EXPECT_TRUE(g.s.hopperFrames[0]->visuals[0]->triangles.empty());
    EXPECT_EQ(g.w.running, -1);
}

TEST(GameSetup, ASecondGameBuildsANewSceneAfterTheTeardown) {
    TestGame t;
    t.host.hasWindow = true;
    gameSetup(t.g);
    const scene::Frame firstRoot = t.g.s.sceneRoot;
    teardown(t.g);
    EXPECT_EQ(t.host.window.log->renderersAlive, 0);   // the first device is gone
    gameSetup(t.g);
    EXPECT_NE(t.g.s.sceneRoot, firstRoot);
    EXPECT_EQ(t.host.window.log->renderersMade, 2);
    EXPECT_EQ(t.host.window.log->renderersAlive, 1);
}

TEST(ReleaseRoutine, LetsGoOfTheSceneButKeepsTankBasesAndScratchMesh) {
    TestGame t;
    t.host.hasWindow = true;
    gameSetup(t.g);
    releaseScene(t.g);
    const SceneHandles& s = t.g.s;
    EXPECT_FALSE(s.sceneRoot || s.cameraFrame || s.bombFrame || s.lightFrame || s.groundFrame);
    EXPECT_FALSE(s.sunLight || s.device || s.viewport || s.clipper || s.d3drm || s.directDraw);
    for (int p = 0; p < kPlayers; ++p) {
        EXPECT_FALSE(s.tankBodyFrames[p] || s.shellFrames[p] || s.heavyShellFrames[p]);
        EXPECT_TRUE(s.tankBaseFrames[p]);
    }
    for (const auto& f : s.hopperFrames) EXPECT_FALSE(f);
    for (const auto& f : s.bloodFrames) EXPECT_FALSE(f);
    EXPECT_TRUE(s.meshBuilder);
    EXPECT_TRUE(s.dxRoot);
    releaseScene(t.g);   // again, on empty handles
    EXPECT_FALSE(s.sceneRoot);
}

TEST(Captions, NumbersCarryALeadingSpaceUnlessNegative) {
    EXPECT_EQ(captionNumber("Score :", 0), "Score : 0");
    EXPECT_EQ(captionNumber("Score :", 12345), "Score : 12345");
    EXPECT_EQ(captionNumber("Score :", -500), "Score :-500");
    EXPECT_EQ(captionNumber("Time :", 59), "Time : 59");
}

}  // namespace
}  // namespace hopshot
