// For tests: everything a Game holds that a frame step could change, copied out so that two
// games (or one game at two moments) can be compared: the world, the generator's count and its
// next draws, the joystick module, and every frame of the scene, the ones no rule moves included.
#pragma once

#include "core/game.h"

#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace hopshot::testing {

struct FrameState {
    std::string name;
    bool present = false;
    glm::vec3 position{0};
    glm::mat3 axes{1};
    glm::vec3 background{0};
    bool operator==(const FrameState&) const = default;
};

inline void PrintTo(const FrameState& f, std::ostream* os) {
    *os << f.name << (f.present ? "" : " (none)") << " at " << f.position.x << "," << f.position.y
        << "," << f.position.z << " front " << f.axes[2].x << "," << f.axes[2].y << ","
        << f.axes[2].z << " background red " << f.background.r;
}

inline std::vector<FrameState> framesOf(const SceneHandles& s) {
    std::vector<FrameState> out;
    auto add = [&](std::string name, const scene::Frame& f) {
        FrameState st;
        st.name = std::move(name);
        if (f) st = {st.name, true, f->position, f->axes, {f->background.r, f->background.g, f->background.b}};
        out.push_back(st);
    };
    add("sceneRoot", s.sceneRoot);
    add("camera", s.cameraFrame);
    add("light", s.lightFrame);
    add("ground", s.groundFrame);
    add("bomb", s.bombFrame);
    for (int p = 0; p < kPlayers; ++p) {
        add("tankBody" + std::to_string(p), s.tankBodyFrames[p]);
        add("tankBase" + std::to_string(p), s.tankBaseFrames[p]);
        add("shell" + std::to_string(p), s.shellFrames[p]);
        add("heavyShell" + std::to_string(p), s.heavyShellFrames[p]);
    }
    for (int i = 0; i < kHoppers; ++i) add("hopper" + std::to_string(i), s.hopperFrames[i]);
    for (int k = 0; k < kBlood; ++k) add("blood" + std::to_string(k), s.bloodFrames[k]);
    return out;
}

// The generator is compared by its count and by the next draws of a copy of it.
struct GameState {
    World w;
    uint64_t draws = 0;
    std::vector<double> nextDraws;
    Controller controller;
    std::vector<FrameState> frames;
};

inline GameState stateOf(const Game& g) {
    GameState st{g.w, g.rng.draws(), {}, g.controller, framesOf(g.s)};
    Rng copy = g.rng;
    for (int i = 0; i < 8; ++i) st.nextDraws.push_back(copy.draw());
    return st;
}

// Part by part and frame by frame, so that a failure names what differs.
inline void expectSameState(const GameState& a, const GameState& b) {
    EXPECT_TRUE(a.w == b.w) << "the worlds differ";
    EXPECT_EQ(a.draws, b.draws);
    EXPECT_EQ(a.nextDraws, b.nextDraws);
    EXPECT_TRUE(a.controller == b.controller) << "the joystick modules differ";
    ASSERT_EQ(a.frames.size(), b.frames.size());
    for (size_t i = 0; i < a.frames.size(); ++i) EXPECT_EQ(a.frames[i], b.frames[i]);
}

}  // namespace hopshot::testing
