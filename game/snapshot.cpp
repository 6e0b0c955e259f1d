#include "game/snapshot.h"

namespace hopshot {

namespace {

// Each frame the rules move, with its place in the snapshot (`Snap`: the snapshot, const or not).
template <class Snap, class Each>
void eachFrame(const SceneHandles& s, Snap& snap, Each each) {
    each(s.cameraFrame, snap.camera);
    each(s.lightFrame, snap.light);
    each(s.bombFrame, snap.bomb);
    auto all = [&](const auto& frames, auto& placements) {
        for (size_t i = 0; i < frames.size(); ++i) each(frames[i], placements[i]);
    };
    all(s.tankBodyFrames, snap.tankBodies);
    all(s.shellFrames, snap.shells);
    all(s.heavyShellFrames, snap.heavyShells);
    all(s.hopperFrames, snap.hoppers);
    all(s.bloodFrames, snap.blood);
}

}  // namespace

// The world's two names reuse their strings' buffers when they fit, as the same names do.
void save(const Game& g, GameSnapshot& out) {
    const SceneHandles& s = g.s;
    out.w = g.w;
    g.rng.save(out.rng);
    out.controller = g.controller;
    eachFrame(s, out, [](const scene::Frame& f, scene::Placement& p) { scene::SavePlacement(f, p); });
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
    eachFrame(s, in, [](const scene::Frame& f, const scene::Placement& p) { scene::RestorePlacement(f, p); });
    if (s.sceneRoot) s.sceneRoot->background = in.sky;
}

}  // namespace hopshot
