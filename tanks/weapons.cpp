#include "tanks/weapons.h"

#include "core/setup.h"
#include "core/store16.h"
#include "tanks/angles.h"

#include <cmath>

namespace hopshot {

namespace {

constexpr int16_t kHeadingMin = 20, kHeadingMax = 160, kHeadingStep = 2;    // degrees
constexpr int16_t kElevationMin = 0, kElevationMax = 80, kElevationStep = 5;
constexpr int kShellFactor = 30;       // launch speed of a shell
constexpr int kChargedFactor = 50;     // launch speed of a charged shot
constexpr int16_t kLaunchY = 25;
constexpr int16_t kFastestFall = -30;  // gravity stops at this vertical speed
constexpr int16_t kFarEdge = 450;      // a projectile beyond this z has left the field
constexpr int16_t kFloor = -10;        // ... and one below this y
constexpr int kMuzzleDistance = 50;


// The projectile leaves from the tank's centre, 25 up, with the speed of the aim after this
// step's turn and elevation. The vertical speed is the elevation in radians times the factor.
void launch(World& w, int p, int factor) {
    const double a = radians(w.tankHeading[p]);
    const double b = radians(w.gunElevation[p]);
    w.shellX[p] = int16_t(tankX(p));
    w.shellY[p] = kLaunchY;
    w.shellZ[p] = kTankZ;
    store16(w.shellVX[p], factor * std::cos(a));
    store16(w.shellVY[p], factor * b);
    store16(w.shellVZ[p], factor * std::sin(a));
}

}  // namespace

Point muzzlePoint(const World& w, int p) {
    const double a = radians(w.tankHeading[p]);
    const double b = radians(w.gunElevation[p]);
    return {tankX(p) + kMuzzleDistance * std::cos(a), kLaunchY + 30 * b,
            kTankZ + kMuzzleDistance * std::sin(a)};
}

// Steps run in this order, each whether or not an earlier one acted. The flight moves an idle
// slot too: a slot whose shell was used up by a kill keeps its speed and drifts on out of sight.
void aimFireAndFly(Game& g, int p) {
    World& w = g.w;
    const SceneHandles& s = g.s;

    // Turn and elevate, each guarded on the side it moves towards.
    if (w.steerX[p] == 1 && w.tankHeading[p] > kHeadingMin) w.tankHeading[p] -= kHeadingStep;
    if (w.steerX[p] == -1 && w.tankHeading[p] < kHeadingMax) w.tankHeading[p] += kHeadingStep;
    if (w.steerY[p] == -1 && w.gunElevation[p] > kElevationMin) w.gunElevation[p] -= kElevationStep;
    if (w.steerY[p] == 1 && w.gunElevation[p] < kElevationMax) w.gunElevation[p] += kElevationStep;

    // A press fires a shell once the slot is free; a release after a long hold fires the
    // charged shot (the charge counted up to the previous step).
    if (w.fireState[p] == 1 && w.shellX[p] == kIdleX) {
        playBank(g, kGunBank);
        w.fireState[p] = 2;
        launch(w, p, kShellFactor);
        w.shellKind[p] = 0;
    }
    if (w.fireState[p] == 0 && w.charge[p] > kChargeThreshold && w.shellX[p] == kIdleX) {
        playBank(g, kChargedBank);
        launch(w, p, kChargedFactor);
        w.shellKind[p] = 1;
    }

    // Fly; only shells fall.
    store16(w.shellX[p], w.shellX[p] + w.shellVX[p]);
    store16(w.shellY[p], w.shellY[p] + w.shellVY[p]);
    store16(w.shellZ[p], w.shellZ[p] + w.shellVZ[p]);
    if (w.shellKind[p] == 0 && w.shellVY[p] > kFastestFall) w.shellVY[p] -= 1;

    // Past the far edge or below the floor the flight ends, silently. No bound on x.
    if (w.shellZ[p] > kFarEdge || w.shellY[p] < kFloor) {
        w.shellX[p] = kIdleX;
        w.shellY[p] = w.shellZ[p] = 0;
        w.shellVX[p] = w.shellVY[p] = w.shellVZ[p] = 0;
    }

    // The shell frame always marks the projectile; the glow rides with a charged shot.
    scene::SetPosition(s.shellFrames[p], nullptr, w.shellX[p], w.shellY[p], w.shellZ[p]);
    if (w.shellKind[p] == 1) scene::SetPosition(s.heavyShellFrames[p], s.shellFrames[p], 0, 0, 0);
    else park(s.heavyShellFrames[p]);

    if (w.fireState[p] == 0) w.charge[p] = 0;
    else store16(w.charge[p], w.charge[p] + 1);

    // Charging: both meshes shake together at the muzzle, a new jitter of -5..4 every step.
    if (w.charge[p] > kChargeThreshold && w.shellX[p] == kIdleX) {
        const Point m = muzzlePoint(w, p);
        scene::SetPosition(s.heavyShellFrames[p], nullptr, float(m.x), float(m.y), float(m.z));
        const double r1 = g.rng.draw(), r2 = g.rng.draw(), r3 = g.rng.draw();
        scene::SetPosition(s.heavyShellFrames[p], s.heavyShellFrames[p], float(Int(r1 * 10 - 5)),
                           float(Int(r2 * 10 - 5)), float(Int(r3 * 10 - 5)));
        scene::SetPosition(s.shellFrames[p], s.heavyShellFrames[p], 0, 0, 0);
    }
}

}  // namespace hopshot
