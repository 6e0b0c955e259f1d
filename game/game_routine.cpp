// The game routine: setup, the frame loop with its pacing, the teardown, and the release routine.
#include "game/game_routine.h"

#include "game/match.h"

namespace hopshot {

// The Start handler runs the game inside itself; a second Start during a game does nothing.
void startCommand(Game& g) { runGame(g); }

namespace {

// One frame step per tick of 20 ms at most. The next step waits for the first tick boundary
// after the end of the previous one, so a slow step slows the game rather than skipping. Every
// pass through the loop yields to the window, whether or not a step ran; the window's handlers
// (keys, the countdown, menus) run only there.
void playOnHostClock(Game& g, Match& m) {
    World& w = g.w;
    while (m.running()) {
        int64_t t = g.host.tickCount();
        if (t >= int64_t{w.lastTick} + 1) {
            m.step();
            w.lastTick = g.host.tickCount();   // a fresh reading, not t
            g.host.stepDone();
        }
        g.host.yield();
        if (g.host.ended()) return;   // the program ended inside the yield: no teardown
    }
    m.end();
}

}  // namespace

void runGame(Game& g) {
    Match m(g);
    if (m.begin()) playOnHostClock(g, m);
}

void teardown(Game& g) {
    g.w.running = 0;
    releaseScene(g);
    g.host.showTitle();
    g.host.clearWindowSurface();
}

void releaseScene(Game& g) {
    SceneHandles& s = g.s;
    s.sceneRoot.reset();
    s.cameraFrame.reset();
    s.bombFrame.reset();
    for (int p = 0; p < kPlayers; ++p) {
        s.tankBodyFrames[p].reset();
        s.shellFrames[p].reset();
        s.heavyShellFrames[p].reset();
    }
    for (auto& f : s.bloodFrames) f.reset();
    for (auto& f : s.hopperFrames) f.reset();
    s.lightFrame.reset();
    s.groundFrame.reset();
    s.sunLight.reset();
    s.device.reset();
    s.viewport.reset();
    s.clipper.reset();
    s.d3drm.reset();
    s.directDraw.reset();
}

}  // namespace hopshot
