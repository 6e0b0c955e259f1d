#include "game/views.h"

namespace hopshot {

namespace {

constexpr Cell kQuarters[kPlayers]      = {{0, 0, 320, 215}, {320, 0, 320, 215},
                                           {0, 215, 320, 215}, {320, 215, 320, 215}};
constexpr Cell kSmallQuarters[kPlayers] = {{60, 30, 200, 150}, {380, 30, 200, 150},
                                           {60, 245, 200, 150}, {380, 245, 200, 150}};
constexpr Cell kWhole      = {0, 0, scene::kDeviceWidth, scene::kShownHeight};
constexpr Cell kSmallWhole = {120, 65, 400, 300};

// A new viewport on the device through the one camera; it replaces the current one.
void makeViewport(Game& g, Cell c) {
    if (auto v = scene::CreateViewport(g.s.d3drm, g.s.device, g.s.cameraFrame, c.left, c.top,
                                       c.width, c.height))
        g.s.viewport = v;
    scene::SetBack(g.s.viewport, kBackClip);
}

void drawViewport(Game& g) {
    scene::Clear(g.s.viewport, scene::kClearAll);
    scene::Render(g.s.viewport, g.s.sceneRoot);
    scene::Update(g.s.device);
}

}  // namespace

Cell playerCell(int p, bool smallScreen) { return smallScreen ? kSmallQuarters[p] : kQuarters[p]; }
Cell wholeViewCell(bool smallScreen) { return smallScreen ? kSmallWhole : kWhole; }
Cell overviewCell(int p) { return kSmallQuarters[p]; }

// With one player the quarter's viewport is made first and then replaced by the whole view's.
// The device is updated after each player's render, so the views appear one after another.
void playerRender(Game& g, int p) {
    const bool small = g.w.smallScreen == 1;
    makeViewport(g, playerCell(p, small));
    if (takingPart(g.w) == 1) makeViewport(g, wholeViewCell(small));
    drawViewport(g);
}

// The live camera for three players: the field seen from the far end, in the free quarter.
// It follows the bomb while one rolls. It is placed afresh after the last player pass, so it
// never shakes.
void overviewCamera(Game& g) {
    scene::SetPosition(g.s.cameraFrame, nullptr, -50, 150, 450);
    scene::LookAt(g.s.cameraFrame, g.s.groundFrame, nullptr, 0);
    if (g.w.bombX != kIdleX) scene::LookAt(g.s.cameraFrame, g.s.bombFrame, nullptr, 0);
}

void overviewView(Game& g) {
    overviewCamera(g);
    for (int j = 0; j < kPlayers; ++j)
        if (g.w.playerIn[j] == 0) makeViewport(g, overviewCell(j));
    drawViewport(g);
}

}  // namespace hopshot
