// What machines say to each other in a network game, as text: a first line of words naming the
// message, then, for a start and a step, lines in the replay script's own words.
#pragma once

#include "net/lockstep.h"
#include "replay/recorder.h"
#include "replay/script.h"

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
    std::vector<int> machines;   // host first, then guests in join order
    std::vector<Players> machinePlayers;   // the players each of them brings, in that order
    long stepLimit = 0;          // a game still running after this many steps stops; 0: none
    Players players{};           // taking part: every machine's players together
    uint64_t draws = 0;          // the generator's draws so far on the host
    CarriedValues carried;       // what the setup leaves alone
    struct Joy { int32_t x = 32767, y = 32767; uint32_t buttons = 0; };
    std::array<Joy, 2> joys{};   // the joysticks' readings as the last game left them
};

// The start's body is a replay script of its own: the start lines, `game`, and the joysticks'
// readings as events before step 1.
std::string encodeStart(const StartMessage& m);
bool decodeStart(std::string_view text, StartMessage& m);

// The start as the recorder takes it, and its joysticks' readings as events before step 1.
GameStart gameStartOf(const StartMessage& m);
std::vector<ScriptEvent> startJoyEvents(const StartMessage& m);

// One machine's events for one step, with its world's fingerprint after an earlier step. Its
// events are `at` lines of that step.
struct StepMessage {
    int game = 0;
    int machine = 0;
    long step = 0;
    long hashStep = 0;       // 0: no fingerprint yet (before the first step)
    uint64_t hash = 0;
    std::vector<ScriptEvent> events;
};

std::string encodeStep(const StepMessage& m);
bool decodeStep(std::string_view text, StepMessage& m);

// The first word of a message and the rest of its first line.
std::string_view messageKind(std::string_view text);

}  // namespace hopshot
