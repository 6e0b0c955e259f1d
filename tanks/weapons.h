// Aiming, firing, projectile flight, the charge count and the charging glow: the first half of
// each taking-part player's pass.
#pragma once

#include "core/game.h"

namespace hopshot {

constexpr int kChargeThreshold = 25;   // charging means charge above 25 (26 steps and more)

struct Point { double x, y, z; };

// The muzzle of player p's gun, 50 from the tank's centre along the heading, with its fractions.
Point muzzlePoint(const World& w, int p);

void aimFireAndFly(Game& g, int p);

}  // namespace hopshot
