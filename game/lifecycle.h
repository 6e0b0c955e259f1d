// The window's start-up and close steps that do not depend on Qt, shared by the window and the
// headless shell.
#pragma once

#include "core/game.h"
#include "records/records.h"

namespace hopshot {

// The timer's one-second tick: counts the game down and ends it at zero with the record test.
void countdownTick(Game& g);

// The answer to the record prompt: the holder's name of the record the game beat.
void nameRecord(World& w, RecordKind kind, const std::string& name);

// The close handler's first step: the game stops. The window then releases the sound, writes the
// records and ends the program without resuming any game routine.
void closeHandler(Game& g);

// The records as the world holds them, and back.
Records recordsOf(const World& w);
void takeRecords(World& w, const Records& r);

}  // namespace hopshot
