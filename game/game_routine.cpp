// The game routine: the teardown and the release routine.
#include "game/game_routine.h"

namespace hopshot {

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
