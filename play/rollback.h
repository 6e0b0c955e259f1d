// Rollback, a part beside the game: a game that runs steps before every machine's commands for
// them are in keeps each such step's saved game, takes commands that come late, puts the game back
// to the first step they change and runs it again to the present, unseen and unheard, and hands on
// each step once it is settled (every machine's commands in, and run with them). What feeds it
// (the lockstep in a network game, a table in a test) stands behind StepFeed.
#pragma once

#include "core/commands.h"
#include "core/game.h"
#include "play/input.h"
#include "play/snapshot.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace hopshot {

// The steps as the rollback learns them.
class StepFeed {
public:
    virtual ~StepFeed() = default;
    // Every machine's commands for `step` as held now: a machine whose commands are not in adds
    // none (its players' controls stay as they are, its joystick where it was).
    virtual StepCommands held(long step) const = 0;
    virtual bool complete(long step) const = 0;   // every machine's commands for `step` are in
    virtual StepCommands take(long step) = 0;     // the step's commands for good, once complete
    // A step settled: the world after it and its generator's draws.
    virtual void settled(long /*step*/, const World& /*w*/, uint64_t /*draws*/) {}
    // The events of step `step` have reached the game, before it runs.
    virtual void handedOver(long /*step*/) {}
};

// What the corrections of one machine's game came to.
struct RerunMeasures {
    long rollbacks = 0;        // times the game was put back
    long stepsAgain = 0;       // steps run again, all told
    long longestSteps = 0;     // the most steps of one correction
    double longestMs = 0;      // and the longest one took (restore and run again)
};

class Rollback {
public:
    static constexpr long kMostAhead = 8;   // steps run beyond the last settled one, at most

    // `ahead`: how many steps the game may run beyond its last settled one (at most kMostAhead).
    Rollback(StepFeed& feed, long ahead);

    // A game begins and ends: its sounds go through the rollback, which notes them by step and
    // lets only a step's first run be heard.
    void bind(GameInput& in);
    void unbind();
    Game* game() { return in_ ? &in_->game() : nullptr; }   // the game bound; null: none
    void handedOver() { feed_.handedOver(grantedFor_); }    // the events granted reached it

    // The front end's correction, before it asks for the next step's commands: the oldest step
    // run whose commands, as held now, differ from those it ran with is run again, with every
    // later one, unseen and unheard; then every step that may settle, settles. Returns the last
    // step the game now stands after: the front end's own count of steps done, lower than the
    // step it ran last when the commands now held end the game earlier.
    long correct();
    // Whether the next step may run now, with what is held of it (its events added to `out`):
    // not beyond `ahead` of the last settled step, and a step that ends the game (the step limit,
    // Esc, the last tick, a menu command) only once every step before it has settled and its own
    // commands are all in. `stepLimit` 0: none.
    bool runNext(long stepLimit, std::vector<ScriptEvent>& out);
    // After each live step.
    void stepDone(long step);
    // A game stopped from outside: it stands where it last settled, stopped. Returns that step,
    // the front end's count of steps done from now.
    long stopAtSettled();

    long settled() const { return settled_; }
    long ran() const { return ranFor_; }
    long granted() const { return grantedFor_; }
    bool stepSettlesAsItRuns(long step) const { return settled_ == step - 1 && feed_.complete(step); }
    const RerunMeasures& reruns() const { return reruns_; }

private:
    // One step run ahead of its settling, kept until it settles.
    struct Ran {
        StepCommands commands;             // as held when it ran
        std::vector<ScriptEvent> events;   // the events that do them, handed to the game
        FedGameSnapshot before;            // the game before those events
        std::vector<int> sounds;           // the banks its latest run played
        std::vector<int> heard;            // those of them that were heard
    };
    static constexpr long kSlots = kMostAhead + 4;

    // The sound of a game that predicts: every bank is noted for its step; those of a step run
    // for the first time are heard too.
    class StepSounds : public SoundOut {
    public:
        void play(int bank) override {
            banks.push_back(bank);
            if (heard) heard->play(bank);
        }
        SoundOut* heard = nullptr;
        std::vector<int> banks;
    };

    bool endsGame(const StepCommands& c, const World& w) const;
    void runAgain(long from);
    void settleReady();
    void settle(long step);
    void takeSettled(long step);
    Ran& slot(long step) { return ran_[size_t(step % kSlots)]; }

    StepFeed& feed_;
    long ahead_;
    GameInput* in_ = nullptr;
    StepSounds sounds_;
    std::vector<Ran> ran_;
    long ranFor_ = 0;       // the last step run (first or again)
    long grantedFor_ = 0;   // the last step whose events were handed over
    long settled_ = 0;      // the last step settled
    long taken_ = 0;        // the last step whose commands were taken for good
    std::vector<int> late_;  // banks first played by a run again, to be heard
    RerunMeasures reruns_;
};

}  // namespace hopshot
