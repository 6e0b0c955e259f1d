// Between a step's commands and the key lines of the replay format: a script's events of one step
// become commands as they load, and commands are written down (and handed to a game) as the key
// lines that do exactly them. Each line of a command touches its own player only: player 2's
// keys go down with no modifier and come up with Shift, player 1's fire is Ctrl's own key.
#pragma once

#include "core/commands.h"
#include "play/script.h"

#include <vector>

namespace hopshot {

// The commands of events in order, one step's worth (their steps are not read).
StepCommands commandsOf(const std::vector<ScriptEvent>& events);

// Events that do `c`, tagged with `step`: players 1 to 4 in order, then the host's commands.
std::vector<ScriptEvent> commandEvents(const StepCommands& c, long step);

// One player's part of `c` alone as events (the host's commands: player -1).
std::vector<ScriptEvent> commandEvents(const StepCommands& c, long step, int player);

}  // namespace hopshot
