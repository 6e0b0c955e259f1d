#include "tanks/bomb_and_effects.h"

#include "core/setup.h"
#include "core/store16.h"
#include "tanks/angles.h"

#include <cmath>

namespace hopshot {

namespace {

constexpr int kMeetDistance = 20;     // charged shots closer than this on every axis meet
constexpr int16_t kBombRoll = 10;     // units along +z a pass
constexpr int16_t kBombTurn = 30;     // degrees a pass
constexpr int16_t kBombEndZ = 450;
constexpr float kBombY = 25;

// A jolt of -10..9 along the camera's own axes; the chase camera puts it back next pass.
void cameraJolt(Game& g) {
    const double r1 = g.rng.draw(), r2 = g.rng.draw(), r3 = g.rng.draw();
    scene::SetPosition(g.s.cameraFrame, g.s.cameraFrame, float(Int(r1 * 20 - 10)),
                       float(Int(r2 * 20 - 10)), float(Int(r3 * 20 - 10)));
}

bool near(int16_t a, int16_t b) { return b - kMeetDistance < a && a < b + kMeetDistance; }

}  // namespace

// Only charged shots of two different players, and only while no bomb rolls. The shots fly on.
void bombTriggerTest(Game& g, int p) {
    World& w = g.w;
    for (int x = 0; x < kPlayers; ++x) {
        if (w.shellX[p] == kIdleX || x == p || w.bombX != kIdleX) continue;
        if (w.shellKind[p] == 1 && w.shellKind[x] == 1 && near(w.shellX[p], w.shellX[x]) &&
            near(w.shellY[p], w.shellY[x]) && near(w.shellZ[p], w.shellZ[x])) {
            w.bombX = w.shellX[p];
            w.bombZ = w.shellZ[p];
            playBank(g, kBombBank);
        }
    }
}

// The light flips at random between straight down and straight up where the gold hopper's kill
// left it; when the flicker ends it goes back to rest.
void lightFlicker(Game& g) {
    World& w = g.w;
    if (w.flickerTimer <= 0) return;
    w.flickerTimer -= 1;
    if (Int(g.rng.draw() * 2) == 0) scene::SetOrientation(g.s.lightFrame, nullptr, 0, -1, 0, 0, 0, 1);
    else scene::SetOrientation(g.s.lightFrame, nullptr, 0, 1, 0, 0, 0, -1);
    if (w.flickerTimer == 0) lightAtRest(g);
}

void damageShake(Game& g, int p) {
    if (g.w.damageTimer[p] <= 0) return;
    g.w.damageTimer[p] -= 1;
    cameraJolt(g);
}

// The sky shows red from 0.99 down to 0.01, then its own colour again.
void redFlash(Game& g) {
    World& w = g.w;
    if (w.flashTimer <= 0) return;
    w.flashTimer -= 1;
    const int16_t n = w.flashTimer;
    scene::SetSceneBackgroundRGB(g.s.sceneRoot, float(n / 100.0), 0, 0);
    if (n == 0) scene::SetSceneBackgroundRGB(g.s.sceneRoot, kSky.r, kSky.g, kSky.b);
}

// The bomb rolls, spins and wobbles; past the far end it vanishes with all the blood. While it
// rolls it shakes every view and draws the light along behind it, shining the way it rolls.
void bombStep(Game& g) {
    World& w = g.w;
    const SceneHandles& s = g.s;
    if (w.bombX != kIdleX) {
        w.bombZ += kBombRoll;
        w.bombSpin += kBombTurn;
        if (w.bombSpin > 360) w.bombSpin = 0;
    }
    if (w.bombZ > kBombEndZ) {
        for (int k = 0; k < kBlood; ++k) w.bloodX[k] = kIdleX;
        w.bombX = kIdleX;
        w.bombZ = 0;
        lightAtRest(g);
    }

    scene::SetPosition(s.bombFrame, nullptr, w.bombX, kBombY, w.bombZ);
    const double r1 = g.rng.draw(), r2 = g.rng.draw(), r3 = g.rng.draw();
    scene::SetPosition(s.bombFrame, s.bombFrame, float(Int(r1 * 20 - 10)), float(Int(r2 * 20 - 10)),
                       float(Int(r3 * 20 - 10)));
    // The front's y is the spin angle in radians itself; the vector is normalised by the scene,
    // so the bomb tilts further up as the angle grows.
    const double spin = radians(w.bombSpin);
    scene::SetOrientation(s.bombFrame, nullptr, float(std::cos(spin)), float(spin),
                          float(std::sin(spin)), 0, 1, 0);

    if (w.bombX != kIdleX) {
        cameraJolt(g);
        scene::SetPosition(s.lightFrame, nullptr, w.bombX, 50, float(w.bombZ - 100));
        scene::SetOrientation(s.lightFrame, nullptr, 0, 0, 1, 0, 1, 0);
    }
}

}  // namespace hopshot
