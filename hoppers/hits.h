// What happens to a hopper that meets a shell, a tank or the bomb; the score; the blood.
#pragma once

#include "core/game.h"

namespace hopshot {

// The shell tests, the tank contact tests and the bomb test for hopper i, right after its
// life-cycle step.
void hopperHitTests(Game& g, int i);

// Moves every blood particle once, after the hopper pass; free ones are parked again.
void bloodPass(Game& g);

// "Score :" and the score in Label2.
void showScore(Game& g);

}  // namespace hopshot
