// Feeding a game from a script: the one way a written stream of events reaches a game, used by
// the headless shell and by the replay in the window. The script's settings go to the front end
// in order; in each game the events reach the game in the yield before their step.
#pragma once

#include "core/commands.h"
#include "core/game.h"
#include "play/script.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace hopshot {

constexpr int32_t kJoyCentre = 32767;   // an untouched stick, on both axes (0..65535)

// What a joystick reports when it is polled.
struct JoyReading {
    bool attached = false;    // attached at program start (`joysticks N`)
    int32_t x = kJoyCentre;
    int32_t y = kJoyCentre;
    uint32_t buttons = 0;     // bit 0 = button 1
};

// The script's joysticks as the joystick module reads them: two ids, each usable when the script
// attached it, over the usual range 0..65535; `at … joy` lines change what they report.
class ScriptJoysticks : public JoystickService {
public:
    void attach(int count);                      // 0..2, all centred with no buttons
    void set(int j, int32_t x, int32_t y, uint32_t buttons);
    JoyReading reading(int j) const;             // j = 0 or 1

    // Both readings at once, to be put back as they were (a game run again from a saved step).
    using Readings = std::array<JoyReading, 2>;
    const Readings& readings() const { return joysticks_; }
    void setReadings(const Readings& r) { joysticks_ = r; }

    int numDevs() override { return 2; }
    bool position(int id, Reading& out) override;
    bool capabilities(int id, Range& out) override;

private:
    Readings joysticks_{};
};

// Hands one event to the game: a key to the key handlers, a joystick reading to the joysticks, a
// menu command to `flip`, a tick to the countdown.
void applyEvent(const ScriptEvent& e, Game& g, ScriptJoysticks& joysticks,
                const std::function<void(MenuItem)>& flip);

// Hands one step's commands to the game: players 1 and 2's to their controls, players 3 and 4's
// sticks to the joysticks, then the host's in order (stop, the countdown's tick, menu commands to
// `flip`).
void applyCommands(const StepCommands& c, Game& g, ScriptJoysticks& joysticks,
                   const std::function<void(MenuItem)>& flip);

// Events as they reach a game: translated to commands as they come, folded, and handed over
// (a run of them at a time where more host commands come than one step holds).
void applyEvents(const std::vector<ScriptEvent>& events, Game& g, ScriptJoysticks& joysticks,
                 const std::function<void(MenuItem)>& flip);

// How many steps a scripted game may run: `limit` when one was given (0: none given), else the
// default 3000, or as far as the game's own countdown ticks go when it has any.
long scriptStepLimit(long limit, bool scriptTicks, long lastEventStep);

// What a script's commands ask of the front end that plays them.
class ScriptFront {
public:
    virtual ~ScriptFront() = default;
    virtual void setMark(MenuItem item, bool on) = 0;
    virtual void setName(const std::string& name) = 0;
    // Plays one game (number counted from 1) with the given timer phase. False: the program
    // ended inside it, and nothing more is played.
    virtual bool playGame(int number, const ScriptCommand& game, int timerPhase) = 0;
    // Asked now and then while the generator is moved on: false ends the script there (the
    // program is ending).
    virtual bool stillWanted() { return true; }
};

// Runs the script's commands in order: settings to the front end, `draws` and `set` straight
// into the game, each `game` through the front end. False (with the line and why in `error`)
// when a `draws` line asks for fewer draws than were already taken; the script stops there.
// True, with nothing more played, when the front end stops wanting it while the generator moves.
bool playScript(const Script& script, Game& g, ScriptFront& front, ScriptError& error);

// The same a game at a time, for a front end whose games run on its own clock: next() runs the
// commands up to the next `game` and has the front end start it, and is asked again once that
// game is over.
class ScriptCursor {
public:
    enum class Next {
        Started,   // a game was handed to the front end
        Over,      // the script has no more
        Stopped,   // the front end stopped wanting it while the generator moved on: asked
                   // again, next() goes on with the same line from where the generator got to
        Failed,    // a `draws` line asks for fewer draws than were taken: `error` says where
    };
    explicit ScriptCursor(const Script& script) : script_(script) {}
    Next next(Game& g, ScriptFront& front, ScriptError& error);

private:
    const Script& script_;
    size_t at_ = 0;
    int games_ = 0;
    int timerPhase_ = kDefaultTimerPhase;
};

}  // namespace hopshot
