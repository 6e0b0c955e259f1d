// The game routine's parts: the setup, one frame step, the teardown (a front end runs them through
// a Match, game/match.h, on its own clock).
#pragma once

#include "core/game.h"
#include "core/setup.h"

namespace hopshot {

void frameStep(Game& g);    // one step: hopper pass, blood pass, player passes, overview view
// The same step unseen and unheard, for steps run again from a saved state: no view is drawn,
// and the banks the rules play go to `instead` (a MutedSound counts them) instead of the game's
// sound. It leaves the game as frameStep would: only the picture, the sound and the viewport
// (which the drawing alone uses, and makes afresh) differ.
void silentFrameStep(Game& g, SoundOut& instead);
void silentFrameStep(Game& g);   // its sounds dropped
void teardown(Game& g);     // running = 0, release, title picture back

// Lets go of the 3D scene in the window's fixed order. Safe on empty handles.
void releaseScene(Game& g);

}  // namespace hopshot
