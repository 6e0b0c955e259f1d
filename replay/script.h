// Replay scripts: the events one run of the program received, each tagged with the frame step
// before which it arrived, and the settings that stood when each game started. One command a
// line, UTF-8; the parser checks every line and names the first bad one.
#pragma once

#include "core/host.h"
#include "core/world.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hopshot {

constexpr int kDefaultTimerPhase = 50;   // steps to a game's first countdown tick; then every 50
constexpr int kStepsPerSecond = 50;      // frame steps between two countdown ticks

// One window event of a game, delivered in the yield just before frame step `step`.
struct ScriptEvent {
    enum class Kind { KeyDown, KeyUp, Joy, Menu, Tick };
    Kind kind = Kind::KeyDown;
    long step = 1;
    int line = 0;                 // where the script says it
    int16_t keyCode = 0;          // KeyDown, KeyUp: Windows virtual-key code 0..255
    int16_t mask = 0;             // KeyDown, KeyUp: 1 Shift + 2 Ctrl + 4 Alt
    int joystick = 0;             // Joy: 0 or 1
    int32_t x = 0, y = 0;         // Joy: 0..65535
    uint32_t buttons = 0;         // Joy: bit 0 = button 1
    MenuItem item = MenuItem::Player1;   // Menu: the check mark it flips
};

// One line that does something, in script order. `at` lines are not commands of their own: they
// hang on the game they belong to.
struct ScriptCommand {
    enum class Kind { Players, Options, Timer, Name, Game, Draws, Set };
    Kind kind = Kind::Game;
    int line = 0;
    std::array<bool, 4> marks{};     // Players: 1P..4P; Options: live, small, simple, wire
    int timerPhase = kDefaultTimerPhase;   // Timer
    std::string name;                // Name: the text typed into later record prompts
    std::vector<ScriptEvent> events; // Game: ordered by step, script order within one step
    long long draws = 0;             // Draws: the generator's draws before the next game
    std::string setName;             // Set: shellKind, steerX, steerY, hopperVY or bloodBudget
    int setIndex = 0;                // Set: the table entry; 0 for bloodBudget
    int16_t setValue = 0;            // Set
};

struct Script {
    int joysticks = 0;               // attached at program start; the last `joysticks` line counts
    std::vector<ScriptCommand> commands;
};

struct ScriptError {
    int line = 0;                    // 1-based; 0 = no error
    std::string message;
};

// Parses a whole script. On the first bad line returns false with that line and what is wrong;
// `script` is then incomplete and must not be run.
bool parseScript(std::string_view text, Script& script, ScriptError& error);

// An event as its script line says it, without the `at N` in front: "key down 37 0", "tick".
std::string eventWords(const ScriptEvent& e);

// The values the game setup leaves alone, by their script names: sets one and returns true, or
// returns false for an unknown name or index.
bool setCarriedValue(World& w, std::string_view name, int index, int16_t value);
// Every such value as `set` lines, one a line, so that a game can start from them elsewhere.
std::string carriedValueLines(const World& w);

}  // namespace hopshot
