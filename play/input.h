// The one road by which events reach a game. Whatever the front end (the window played live, a
// script headless or in the window's replay, a network game), between its steps it asks one
// InputSource for the events before the next frame step, and GameInput hands them to the game in
// order and to whoever writes them down. A rule about input stands in one of these places.
#pragma once

#include "core/game.h"
#include "play/feed.h"
#include "play/script.h"

#include <functional>
#include <vector>

namespace hopshot {

class GameInput;
class Rollback;

class InputSource {
public:
    enum class Turn { Go, Wait, Stop };
    virtual ~InputSource() = default;
    // The events that reach the game before frame step `step`, in order, added to `out`. Asked at
    // every yield until the step runs: Go, the step may run (more events may still come for it at
    // a later yield); Wait, not yet; Stop, the game must stop now.
    virtual Turn eventsBefore(long step, std::vector<ScriptEvent>& out) = 0;
    // After frame step `step` and its trace object.
    virtual void stepDone(long /*step*/, Game& /*g*/) {}
    // Takes in what came from outside for the game since the last turn (a network game's
    // messages), waiting up to `waitMs` for it: asked by the front end first in each turn, before
    // any correction, and again while it waits for a step's commands.
    virtual void takeIn(int /*waitMs*/) {}
};

// A script's events for one game: each event before its step, then the countdown's tick after
// steps P, P + 50, ... unless the game has `at … tick` lines of its own.
class ScriptInput : public InputSource {
public:
    void begin(const std::vector<ScriptEvent>& events, int timerPhase);   // 0: no timer
    Turn eventsBefore(long step, std::vector<ScriptEvent>& out) override;

    long lastEventStep() const { return events_ && !events_->empty() ? events_->back().step : 0; }
    bool scriptTicks() const { return scriptTicks_; }

private:
    const std::vector<ScriptEvent>* events_ = nullptr;
    size_t next_ = 0;
    long askedFor_ = 0;
    int timerPhase_ = 50;
    bool scriptTicks_ = false;
};

// Events as they happen on this machine (the window's key handlers, its timer, its menus): kept
// in arrival order and handed over whole at the next yield.
class LocalInput : public InputSource {
public:
    void push(const ScriptEvent& e) { queue_.push_back(e); }
    Turn eventsBefore(long step, std::vector<ScriptEvent>& out) override;

private:
    std::vector<ScriptEvent> queue_;
};

// A running game's input: its source, the joysticks the events set, the menu marks they flip,
// the step limit and the tap that writes every delivered event down.
class GameInput {
public:
    using Flip = std::function<void(MenuItem)>;
    using Tap = std::function<void(const ScriptEvent&)>;
    // A step written down for good: the world after it, the generator's draws and the banks its
    // run played (with those of the events before it).
    using Settled = std::function<void(long step, const World& w, uint64_t draws,
                                       const std::vector<int>& sounds)>;

    GameInput(Game& g, ScriptJoysticks* joysticks, Flip flip)
        : g_(g), joysticks_(joysticks), flip_(std::move(flip)) {}

    // A game begins with this source; stepLimit 0: no limit. The tap sees each event, tagged
    // with the step before which it reached the game. `settled` sees each step once it is
    // written down for good (the trace): as it runs (stepDone), or in a game that runs steps
    // before their events are known for good, once the rollback beside it (`rollback`, which
    // puts the game back and runs it again through this input) has settled it, in order, with
    // its events to the tap then.
    void begin(InputSource* source, long stepLimit = 0, Tap tap = {}, Settled settled = {},
               Rollback* rollback = nullptr);
    void end();
    bool predicting() const { return rollback_ != nullptr; }
    bool active() const { return source_ != nullptr; }
    void setJoysticks(ScriptJoysticks* j) { joysticks_ = j; }

    // A front end's turn before its next step, the same for every front end, in this order:
    //   1. takeIn(0): what came from outside is taken in;
    //   2. with a rollback beside the game (rollback()), while the next step's commands are not
    //      in: stepsDone = rollback()->correct(), the game put back and run again to the
    //      commands now held;
    //   3. yieldAfter(stepsDone): the next step's commands to the game; after a Stop with a
    //      rollback, stepsDone = rollback()->stopAtSettled();
    //   4. nextStepIn(stepsDone), the one answer to whether the next step may run: the window
    //      freezes its clock until it is true, headless waits for it (takeIn(2)), and a network
    //      game is true once the step's commands are in.
    // yieldAfter returns the source's answer: Go, Wait, or Stop (the game is stopped).
    InputSource::Turn yieldAfter(long stepsDone);
    void takeIn(int waitMs) {
        if (source_) source_->takeIn(waitMs);
    }
    bool nextStepIn(long stepsDone) const { return grantedFor_ == stepsDone + 1; }
    Rollback* rollback() const { return rollback_; }
    // After frame step `step`, with the banks it played: written down at once unless a rollback
    // settles it later, then handed to the source.
    void stepDone(long step, const std::vector<int>& sounds) {
        if (settled_ && !predicting()) settled_(step, g_.w, g_.rng.draws(), sounds);
        if (source_) source_->stepDone(step, g_);
    }

    // Hands events to the game at once, outside any game's steps (keys between games).
    void apply(const std::vector<ScriptEvent>& events);

    // --- for the rollback ---
    Game& game() { return g_; }
    ScriptJoysticks* joysticks() { return joysticks_; }
    // Events of a step run again: to the game as before, but no menu mark flips a second time.
    void applyAgain(const std::vector<ScriptEvent>& events);
    // The events before step `step`, for good, to the tap.
    void tapSettled(long step, const std::vector<ScriptEvent>& events);
    // Step `step` is settled: the step to `settled` (its events went to tapSettled).
    void settle(long step, const World& w, uint64_t draws, const std::vector<int>& sounds);

private:
    Game& g_;
    ScriptJoysticks* joysticks_;
    Flip flip_;
    InputSource* source_ = nullptr;
    Rollback* rollback_ = nullptr;
    long stepLimit_ = 0;
    Tap tap_;
    Settled settled_;
    long grantedFor_ = 0;
};

}  // namespace hopshot
