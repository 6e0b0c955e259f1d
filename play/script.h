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
constexpr long kDefaultStepLimit = 3000; // frame steps a headless game may take: one whole game
// The most draws a `draws` line may name: ten thousand games of 200,000 draws each. The busiest
// game measured (four players firing without pause) takes about 110,000; moving the generator
// this far takes some 13 seconds, where a line of twelve digits would take hours.
constexpr long long kMaxDraws = 2000000000;

// One window event of a game, delivered in the yield just before frame step `step`.
struct ScriptEvent {
    enum class Kind { KeyDown, KeyUp, Joy, Menu, Tick };   // Tick: the countdown's one-second tick
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

// The values the game setup leaves alone, which a single game needs from the run before it.
enum class CarriedValue { ShellKind, SteerX, SteerY, HopperVY, BloodBudget };

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
    bool ticks = false;              // Game: some `at … tick` line: no ticks from `timer`
    uint64_t draws = 0;              // Draws: the generator's draws before the next game
    CarriedValue value = CarriedValue::BloodBudget;   // Set: which value,
    int index = 0;                   //   its index in its table (0 for bloodBudget),
    int16_t setTo = 0;               //   and what it becomes
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

// Reads and parses a script file. On failure `message` is "FILE:LINE: what is wrong", or
// "FILE: cannot read the script"; `line` is the bad line (0 when the file cannot be read).
bool loadScript(const std::string& path, Script& script, std::string& message, int* line = nullptr);

// One `at N …` line alone (comment and blanks allowed), as the recorder writes it, so that a
// written line can be read back as the event it came from. `line` is the number that errors and
// the event carry.
bool parseEventLine(std::string_view text, int line, ScriptEvent& event, ScriptError& error);

// The script's own names of the values a `set` line may change, and their table sizes (1 for a
// scalar, which takes no index).
const char* carriedValueName(CarriedValue v);
int carriedValueSize(CarriedValue v);
int16_t& carriedValueRef(World& w, CarriedValue v, int index);

}  // namespace hopshot
