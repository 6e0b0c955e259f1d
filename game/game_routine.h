// The game routine that the Start command runs: setup, frame loop, teardown.
#pragma once

#include "core/game.h"
#include "core/setup.h"

namespace hopshot {

// The Start command: nothing while a game runs (running is non-zero), else one whole game.
// Returns when that game has ended, or at once when the program ended inside a yield.
void startCommand(Game& g);

// Setup, then one frame step per tick of the host's clock, yielding to it between them, until
// running drops; then the teardown. Nothing while a game runs.
void runGame(Game& g);
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
