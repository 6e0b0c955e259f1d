// What Form1 keeps while it writes its games down or shows a recorded one.
#pragma once

#include "play/feed.h"
#include "play/recorder.h"
#include "play/replay_clock.h"
#include "play/script.h"

#include <fstream>
#include <memory>
#include <string>

namespace hopshot {

struct RecordingState {
    Recorder recorder;
    std::unique_ptr<JoystickTap> tap;   // between the game and the joysticks it reads
    std::ofstream recordFile;           // --record: open for the whole run
    std::string recordPath;
    std::string keptGames;              // otherwise the folder of the last games; empty: none
};

struct ReplayState {
    Script script;
    ScriptInput input;
    ScriptJoysticks joysticks;          // what the game reads instead of the real joysticks
    ReplayClock clock;
    std::string name;                   // typed into the record prompts the script reaches
    std::string prompted;               // the last name a prompt took, shown in the title
    int games = 0;                      // `game` lines in the script
    int playing = 0;                    // the game being shown, counted from 1; 0: none
    bool over = false;                  // every game has been shown
    std::unique_ptr<ScriptFront> front;     // the window, as the script's games see it
    std::unique_ptr<ScriptCursor> cursor;   // where the script is: its next game is started
};

}  // namespace hopshot
