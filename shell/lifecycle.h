// The window's start-up and close steps that do not depend on Qt, shared by the window and the
// headless shell.
#pragma once

#include "core/game.h"

namespace hopshot {

// The timer's one-second tick: counts the game down and ends it at zero with the record test.
void countdownTick(Game& g);

// The close handler: stops the game; the program then ends without resuming any game routine.
void closeHandler(Game& g);

}  // namespace hopshot
