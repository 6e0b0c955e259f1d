#include "hoppers/life_cycle.h"

#include "core/store16.h"

namespace hopshot {

namespace {

constexpr int kSpawnChance = 150;    // an idle hopper spawns with chance 1/150 a step
constexpr int kTakeOffChance = 30;   // a grounded hopper takes off with chance 1/30 a step
constexpr int16_t kTakeOffSpeed = 12;
constexpr int16_t kLiftSpeed = 15;   // while the sky flashes red every hopper in play leaps
constexpr int16_t kAdvance = 5;      // units a step towards the tanks

}  // namespace

// Runs for idle hoppers too: their height and z keep changing out of sight, and hopperVY
// carries into the spawn. Draws: spawn test (idle only), spawn place (on a spawn), take-off test
// (on the ground only).
void hopperLifeStep(Game& g, int i) {
    World& w = g.w;
    // The picture shows the hopper where the previous step left it.
    scene::SetPosition(g.s.hopperFrames[i], nullptr, w.hopperX[i], w.hopperY[i], w.hopperZ[i]);

    if (w.hopperX[i] == kIdleX && Int(g.rng.draw() * kSpawnChance) == 0) {
        store16(w.hopperX[i], Int(g.rng.draw() * 800 - 400));   // -400..399
        w.hopperY[i] = 0;
        w.hopperZ[i] = kHopperSpawnZ;
    }
    if (w.hopperY[i] == 0 && Int(g.rng.draw() * kTakeOffChance) == 0) w.hopperVY[i] = kTakeOffSpeed;
    if (w.hopperVY[i] >= kFallLimit) w.hopperVY[i] -= 1;
    store16(w.hopperY[i], w.hopperY[i] + w.hopperVY[i]);
    if (w.hopperY[i] < 0) {   // landed
        w.hopperY[i] = 0;
        w.hopperVY[i] = 0;
    }
    if (w.hopperZ[i] > kHopperLeaveZ) w.hopperZ[i] -= kAdvance;
    if (w.hopperZ[i] > kHopperLeaveZ && w.flashTimer > 0) w.hopperVY[i] = kLiftSpeed;
    if (w.hopperZ[i] == kHopperLeaveZ) w.hopperX[i] = kIdleX;
}

}  // namespace hopshot
