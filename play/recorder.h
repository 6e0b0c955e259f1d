// The recorder: the one place where everything that reaches a game from outside is written down,
// as replay script lines. The window hands it what the player did; network play hands it what
// the other machines did; a replay hands it nothing (its events are already written).
//
// A game's lines are kept until the game ends, because the name typed at its record prompt must
// stand before its `game` line; then the game comes back as text twice over: as the next piece
// of a recording of the whole run, and as a file that replays that game alone.
#pragma once

#include "core/joystick_seam.h"
#include "core/world.h"
#include "play/script.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace hopshot {

// What the setup leaves alone and so carries from one game into the next.
struct CarriedValues {
    std::array<int16_t, kPlayers> shellKind{};
    std::array<int16_t, kPlayers> steerX{};
    std::array<int16_t, kPlayers> steerY{};
    std::array<int16_t, kHoppers> hopperVY{};
    int16_t bloodBudget = 0;
    bool operator==(const CarriedValues&) const = default;
};
CarriedValues carriedValues(const World& w);
void takeCarried(World& w, const CarriedValues& c);   // the next game starts from these

// Everything a game starts from, taken just before the Start command runs the setup.
struct GameStart {
    std::array<bool, 4> players{true, false, false, false};   // "１Ｐ".."４Ｐ"
    std::array<bool, 4> options{true, false, false, false};   // live, small, simple, wire
    uint64_t draws = 0;          // random draws taken since the program started
    CarriedValues carried;
};

// The script lines of one thing, each ending in a line break.
std::string eventLine(const ScriptEvent& e);                   // "at 12 key down 37 0\n"
// `players`, `options`, `draws` and a `set` line for each carried value that differs from
// `before` (what a replay holds at that point).
std::string startLines(const GameStart& start, const CarriedValues& before);
std::string nameLine(const std::string& name);                 // "name TARO\n"

// One finished game, as the recorder hands it back.
struct RecordedGame {
    int number = 0;           // counted from 1 over the run
    long steps = 0;           // frame steps it ran
    int32_t score = 0;
    bool finished = false;    // its teardown ran (false: the program ended during it)
    std::string inRun;        // the lines that follow the previous game in a whole-run recording
    std::string alone;        // a script that replays this game by itself
};

class Recorder {
public:
    // The text that starts a whole-run recording: joysticks attached (the readings that the
    // players' passes used are written as `at … joy` lines, so both are attached), the timer.
    static std::string runHeader();

    // The Start command is about to run a game from `start`.
    void gameStarts(const GameStart& start);
    // `e` reached the running game before its frame step e.step. Ignored outside a game.
    void event(const ScriptEvent& e);
    // The record prompt of the running game gave `name` (empty: cancelled).
    void prompted(const std::string& name);
    // The game is over after `steps` frame steps, leaving `w` as it is; `finished` is false when
    // the program ended inside it (no teardown). `stoppedBy`: why it was stopped from outside its
    // own events (the program closed, the network game left); its text then ends with an Esc
    // before the next step, so that a replay stops where the game did. Returns the game's text.
    RecordedGame gameEnded(const World& w, long steps, bool finished = true,
                           const std::string& stoppedBy = {});

    bool inGame() const { return inGame_; }
    int games() const { return games_; }

private:
    bool inGame_ = false;
    int games_ = 0;
    GameStart start_;
    CarriedValues afterLast_;          // what the previous game left: the run's `set` baseline
    std::string events_;
    bool prompted_ = false;
    std::string name_;
};

// The joysticks as the game reads them, with every reading a player pass takes handed to the
// recorder as an `at N joy` line when it differs from the last one written. A joystick that
// cannot be read is written centred: that is what the pass makes of it. A reading whose meaning
// under the replay's thresholds (those of a joystick reporting 0..65535) would differ from its
// meaning under the window's is written as the full push it stands for.
class JoystickTap : public JoystickService {
public:
    JoystickTap(JoystickService* inner, const Controller& controller, Recorder& recorder)
        : inner_(inner), controller_(controller), recorder_(recorder) {}

    // The step whose passes read next; 0 outside a game (nothing is written).
    void setStep(long step) { step_ = step; }
    void gameStarts() { last_ = {}; }   // the first reading of every game is written

    int numDevs() override { return inner_ ? inner_->numDevs() : 0; }
    bool position(int id, Reading& out) override;
    bool capabilities(int id, Range& out) override {
        return inner_ && inner_->capabilities(id, out);
    }

private:
    struct Written { bool any = false; int32_t x = 0, y = 0; uint32_t buttons = 0; };

    JoystickService* inner_;
    const Controller& controller_;
    Recorder& recorder_;
    long step_ = 0;
    std::array<Written, 2> last_{};
};

}  // namespace hopshot
