#include "testing/fake_host.h"
#include "game/game_routine.h"
#include "tanks/chase_camera.h"

#include <gtest/gtest.h>

namespace hopshot {
namespace {

TEST(ChaseCamera, StandsBehindTheTankAlongItsHeading) {
    struct Case { int player; int16_t heading; glm::vec3 camera; };
    const Case cases[] = {
        {0, 90, {-300.16f, 65, -600.00f}},   // cos of 90 degrees with 3.14 for pi is 0.0008
        {0, 20, {-487.95f, 65, -468.37f}},
        {0, 160, {-112.16f, 65, -468.67f}},
        {3, 90, {299.84f, 65, -600.00f}},
    };
    for (const Case& c : cases) {
        testing::TestGame t;
        t.host.play({c.player});
        gameSetup(t.g);
        t.g.w.tankHeading[c.player] = c.heading;
        aimPose(t.g, c.player);
        chaseCamera(t.g, c.player);
        const scene::Pose cam = scene::worldPose(*t.g.s.cameraFrame);
        EXPECT_NEAR(cam.origin.x, c.camera.x, 0.01f) << c.heading;
        EXPECT_FLOAT_EQ(cam.origin.y, c.camera.y);
        EXPECT_NEAR(cam.origin.z, c.camera.z, 0.01f) << c.heading;
        // ... and looks at the tank.
        const glm::vec3 tank(tankX(c.player), 20, -400);
        EXPECT_NEAR(glm::dot(cam.axes[2], glm::normalize(tank - cam.origin)), 1.0f, 1e-5f);
    }
}

TEST(AimPose, ElevationTiltsTheTankButLeavesTheCamera) {
    testing::TestGame t;
    gameSetup(t.g);
    t.g.w.gunElevation[0] = 80;
    aimPose(t.g, 0);
    chaseCamera(t.g, 0);
    const glm::vec3 front = scene::worldPose(*t.g.s.tankBodyFrames[0]).axes[2];
    // The front's y is the elevation in radians itself: 80 degrees show as about 54.
    const double tilt = std::atan2(front.y, std::hypot(front.x, front.z)) * 180 / 3.14159265;
    EXPECT_NEAR(tilt, 54.4, 0.2);
    EXPECT_NEAR(scene::worldPose(*t.g.s.cameraFrame).origin.z, -600.0f, 0.01f);
}

}  // namespace
}  // namespace hopshot
