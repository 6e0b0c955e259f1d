// Two charged shots meeting set off the bomb; the bomb rolls; the light flickers, the damaged
// player's view shakes and the sky flashes red. All advance once in every player pass.
#pragma once

#include "core/game.h"

namespace hopshot {

void bombTriggerTest(Game& g, int p);
void lightFlicker(Game& g);
void damageShake(Game& g, int p);
void redFlash(Game& g);
void bombStep(Game& g);

}  // namespace hopshot
