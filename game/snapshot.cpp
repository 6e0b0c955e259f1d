#include "game/snapshot.h"

namespace hopshot {

namespace {

template <size_t N>
void savePlacements(const std::array<scene::Frame, N>& frames, std::array<scene::Placement, N>& out) {
    for (size_t i = 0; i < N; ++i) scene::SavePlacement(frames[i], out[i]);
}

template <size_t N>
void restorePlacements(const std::array<scene::Frame, N>& frames,
                       const std::array<scene::Placement, N>& in) {
    for (size_t i = 0; i < N; ++i) scene::RestorePlacement(frames[i], in[i]);
}

}  // namespace

// The world's two names reuse their strings' buffers when they fit, as the same names do.
void save(const Game& g, GameSnapshot& out) {
    const SceneHandles& s = g.s;
    out.w = g.w;
    g.rng.save(out.rng);
    out.controller = g.controller;
    scene::SavePlacement(s.cameraFrame, out.camera);
    scene::SavePlacement(s.lightFrame, out.light);
    scene::SavePlacement(s.bombFrame, out.bomb);
    savePlacements(s.tankBodyFrames, out.tankBodies);
    savePlacements(s.shellFrames, out.shells);
    savePlacements(s.heavyShellFrames, out.heavyShells);
    savePlacements(s.hopperFrames, out.hoppers);
    savePlacements(s.bloodFrames, out.blood);
    if (s.sceneRoot) out.sky = s.sceneRoot->background;
}

// The frame loop's clock reading stays as it is: the game goes back, time does not, so the
// next step still waits for the next tick.
void restore(Game& g, const GameSnapshot& in) {
    const SceneHandles& s = g.s;
    const int32_t lastTick = g.w.lastTick;
    g.w = in.w;
    g.w.lastTick = lastTick;
    g.rng.restore(in.rng);
    g.controller = in.controller;
    scene::RestorePlacement(s.cameraFrame, in.camera);
    scene::RestorePlacement(s.lightFrame, in.light);
    scene::RestorePlacement(s.bombFrame, in.bomb);
    restorePlacements(s.tankBodyFrames, in.tankBodies);
    restorePlacements(s.shellFrames, in.shells);
    restorePlacements(s.heavyShellFrames, in.heavyShells);
    restorePlacements(s.hopperFrames, in.hoppers);
    restorePlacements(s.bloodFrames, in.blood);
    if (s.sceneRoot) s.sceneRoot->background = in.sky;
}

}  // namespace hopshot
