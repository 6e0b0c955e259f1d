// The hoppers' life cycle: idle out of sight, a random spawn at the far end, hops, the advance
// towards the tanks, and leaving play at the near end.
#pragma once

#include "core/game.h"

namespace hopshot {

constexpr int16_t kHopperSpawnZ = 450;   // far end, where hoppers enter
constexpr int16_t kHopperLeaveZ = -450;  // near end, where they leave play

// Hopper i's life for one frame step, before that hopper's hit tests.
void hopperLifeStep(Game& g, int i);

}  // namespace hopshot
