// What the host's start of a network game tells every machine (net/wire.h puts it on the wire).
#pragma once

#include "net/lockstep.h"
#include "play/recorder.h"
#include "play/script.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hopshot {

// The host's start of a game: what every machine must share before its first step.
struct StartMessage {
    int game = 0;
    int delay = 1;
    bool predicts = false;       // each machine runs its own events at once and predicts the
                                 // others', going back when theirs differ; delay is then 1
    std::vector<int> machines;   // host first, then guests in join order
    std::vector<Players> machinePlayers;   // the players each of them brings, in that order
    long stepLimit = 0;          // a game still running after this many steps stops; 0: none
    Players players{};           // taking part: every machine's players together
    uint64_t draws = 0;          // the generator's draws so far on the host
    CarriedValues carried;       // what the setup leaves alone
    struct Joy { int32_t x = 32767, y = 32767; uint32_t buttons = 0; };
    std::array<Joy, 2> joys{};   // the joysticks' readings as the last game left them
};

// The start as the recorder takes it, and its joysticks' readings as events before step 1.
GameStart gameStartOf(const StartMessage& m);
std::vector<ScriptEvent> startJoyEvents(const StartMessage& m);

}  // namespace hopshot
