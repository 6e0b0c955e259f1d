#include "testing/fake_host.h"
#include "game/game_routine.h"
#include "game/views.h"

#include <gtest/gtest.h>

namespace hopshot {
namespace {

using testing::DrawLog;
using testing::TestGame;

struct Rect { int l, t, w, h; bool operator==(const Rect&) const = default; };

// The rectangles cleared in one frame step, in order, checking each is then rendered and shown.
std::vector<Rect> drawnCells(TestGame& t) {
    t.host.window.log->calls.clear();
    frameStep(t.g);
    std::vector<Rect> cells;
    const auto& calls = t.host.window.log->calls;
    for (size_t i = 0; i < calls.size(); i += 3) {
        EXPECT_EQ(calls[i].what, "clear");
        EXPECT_EQ(calls[i + 1].what, "render");
        EXPECT_EQ(calls[i + 2].what, "present");
        EXPECT_FLOAT_EQ(calls[i].back, 1200.0f);
        cells.push_back({calls[i].left, calls[i].top, calls[i].width, calls[i].height});
        EXPECT_EQ((Rect{calls[i + 1].left, calls[i + 1].top, calls[i + 1].width, calls[i + 1].height}),
                  cells.back());
    }
    return cells;
}

TEST(Views, LayoutByPlayersAndScreenOptions) {
    struct Case {
        const char* name;
        std::initializer_list<int> players;
        bool small, live;
        std::vector<Rect> cells;
    };
    const Case cases[] = {
        {"one player", {0}, false, true, {{0, 0, 640, 430}}},
        {"one player small", {0}, true, true, {{120, 65, 400, 300}}},
        {"player 4 alone has the whole view", {3}, false, true, {{0, 0, 640, 430}}},
        {"1P and 2P: the top quarters", {0, 1}, false, true, {{0, 0, 320, 215}, {320, 0, 320, 215}}},
        {"1P and 4P", {0, 3}, false, true, {{0, 0, 320, 215}, {320, 215, 320, 215}}},
        {"1P and 4P small", {0, 3}, true, true, {{60, 30, 200, 150}, {380, 245, 200, 150}}},
        {"three players with the overview in the free quarter", {0, 1, 3}, false, true,
         {{0, 0, 320, 215}, {320, 0, 320, 215}, {320, 215, 320, 215}, {60, 245, 200, 150}}},
        {"three players without the live camera", {0, 2, 3}, false, false,
         {{0, 0, 320, 215}, {0, 215, 320, 215}, {320, 215, 320, 215}}},
        {"three players small", {1, 2, 3}, true, true,
         {{380, 30, 200, 150}, {60, 245, 200, 150}, {380, 245, 200, 150}, {60, 30, 200, 150}}},
        {"four players", {0, 1, 2, 3}, false, true,
         {{0, 0, 320, 215}, {320, 0, 320, 215}, {0, 215, 320, 215}, {320, 215, 320, 215}}},
        {"nobody", {}, false, true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestGame t;
        t.host.hasWindow = true;
        t.host.play(c.players);
        t.host.marks[MenuItem::SmallScreen] = c.small;
        t.host.marks[MenuItem::LiveCamera] = c.live;
        gameSetup(t.g);
        EXPECT_EQ(drawnCells(t), c.cells);
    }
}

TEST(Views, EachPlayersViewIsDrawnFromBehindItsOwnTank) {
    TestGame t;
    t.host.hasWindow = true;
    t.host.play({0, 1, 2, 3});
    gameSetup(t.g);
    t.g.w.tankHeading = {90, 90, 20, 160};
    frameStep(t.g);
    std::vector<glm::vec3> cameras;
    for (const auto& c : t.host.window.log->calls)
        if (c.what == "render") cameras.push_back(c.camera);
    ASSERT_EQ(cameras.size(), 4u);
    // Each camera stands 200 behind its own tank along that tank's heading.
    EXPECT_NEAR(cameras[0].x, -300.16f, 0.01f);
    EXPECT_NEAR(cameras[1].x, -100.16f, 0.01f);
    EXPECT_NEAR(cameras[2].x, 100 - 187.95f, 0.01f);
    EXPECT_NEAR(cameras[2].z, -468.37f, 0.01f);
    EXPECT_NEAR(cameras[3].x, 300 + 187.84f, 0.01f);
    EXPECT_NEAR(cameras[3].z, -468.67f, 0.01f);
    for (const auto& c : cameras) EXPECT_FLOAT_EQ(c.y, 65.0f);
}

TEST(Views, TheOverviewLooksFromTheFarEnd) {
    TestGame t;
    t.host.hasWindow = true;
    t.host.play({0, 1, 2});
    gameSetup(t.g);
    frameStep(t.g);
    const auto& calls = t.host.window.log->calls;
    ASSERT_EQ(calls.size(), 12u);
    EXPECT_EQ(calls[10].camera, glm::vec3(-50, 150, 450));
    const glm::vec3 front = scene::worldPose(*t.g.s.cameraFrame).axes[2];
    EXPECT_NEAR(glm::dot(front, glm::normalize(glm::vec3(50, -150, -450))), 1.0f, 1e-5f);
}

TEST(Views, TheOverviewFollowsARollingBomb) {
    TestGame t;
    t.host.play({0, 1, 2});
    gameSetup(t.g);
    t.g.w.bombX = 100;
    scene::SetPosition(t.g.s.bombFrame, nullptr, 100, 25, 200);
    overviewView(t.g);
    const glm::vec3 front = scene::worldPose(*t.g.s.cameraFrame).axes[2];
    EXPECT_NEAR(glm::dot(front, glm::normalize(glm::vec3(150, -125, -250))), 1.0f, 1e-5f);
}

}  // namespace
}  // namespace hopshot
