// A fingerprint of everything the rules share, taken after every frame step of a network game.
// Machines compare them to find the first step where they no longer agree.
#pragma once

#include "core/world.h"

#include <cstdint>

namespace hopshot {

// FNV-1a over the world's shared state and the generator's draw count. Left out: what each
// machine keeps for itself (the records, the screen options) and its clock (lastTick).
uint64_t worldHash(const World& w, uint64_t draws);

}  // namespace hopshot
