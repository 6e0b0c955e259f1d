// One machine's side of a running network game, for the window and the headless run alike: the
// game's input comes from the lockstep. Before step n (each n once) this machine's own events
// read so far go out for step n + D as its own players' commands (and the host's, on the host),
// with a fingerprint of the world; every machine merges the commands of a step under one rule
// and hands the game the key lines that do them. The recorder writes down the game as it is
// played, so that a game this machine disagrees on with the host can be kept and replayed alone.
//
// Two ways to play. With a fixed delay (--delay D) step n runs once every machine's commands for
// it are in, and the fingerprint is the world's after step n - 1. When the host's start says the
// machines predict, D is 1 and step n runs at once: this machine's own commands as read, the
// others' as held so far, and where a machine's commands are not in yet, its players' controls
// stay as they are and its joystick where it was. The rollback beside the game
// (play/rollback.h) puts the game back and runs it again when the real commands of a step turn
// out otherwise; the lockstep feeds it, and the front end has it correct the game in its turn,
// after taking in what arrived (takeIn) and before asking for the next step's commands, which
// are all this input hands out. Only settled steps are written down (trace, recording,
// kept game) and fingerprinted, and only they set the labels. No machine runs further beyond its
// last settled step than a round trip (the delay the lockstep would need) and one step, or
// kRunAhead steps, whichever is less.
#pragma once

#include "core/joystick_seam.h"
#include "net/session.h"
#include "play/input.h"
#include "play/recorder.h"
#include "play/rollback.h"

#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace hopshot {

class NetGame : public InputSource, private StepFeed {
public:
    // `options`: this machine's own screen options, for the kept replay. `own`: where this
    // machine's own events come from (the window's keys and timer, or its script). `ownSticks`:
    // the joysticks its players 3 and 4 read, read once a step (null: their events come from
    // `own`).
    NetGame(NetSession& session, const StartMessage& start, const std::array<bool, 4>& options,
            InputSource& own, JoystickService* ownSticks = nullptr);

    Turn eventsBefore(long step, std::vector<ScriptEvent>& out) override;
    void stepDone(long step, Game& g) override;
    void takeIn(int waitMs) override { session_.service(waitMs); }
    // The rollback beside the game, when the machines predict: the front end hands it to the
    // game's input (GameInput::begin). Null in a plain lockstep.
    Rollback* rollback() { return rollback_.get(); }

    void leave() { leaving_ = true; }   // this machine leaves: the game stops before its next step
    const std::string& stopReason() const { return stopReason_; }
    // The game so far as a script that replays it alone, once it has stopped.
    std::string keptReplay(const World& w);

    const RerunMeasures& reruns() const { return rollback_ ? rollback_->reruns() : noReruns_; }
    long settled() const { return rollback_ ? rollback_->settled() : stepsDone_; }

private:
    void readOwnSticks(std::vector<ScriptEvent>& pending);
    bool stopped();   // the game must stop now: stopReason_ says why (empty: left)
    Turn lockstepTurn(long n, long sendFor, std::vector<ScriptEvent>& out);
    Turn predictedTurn(long n, long sendFor, std::vector<ScriptEvent>& out);
    void showSettled();
    StepCommands takePending();

    // --- the rollback's feed: the lockstep ---
    StepCommands held(long step) const override { return session_.lockstep().peek(step); }
    bool complete(long step) const override { return session_.lockstep().ready(step); }
    StepCommands take(long step) override;
    void settled(long step, const World& w, uint64_t draws) override;
    void handedOver(long step) override;

    NetSession& session_;
    int game_;
    int delay_;
    bool predicts_;
    long stepLimit_;
    Players mine_{};
    InputSource& own_;
    JoystickService* ownSticks_;
    std::array<JoyReading, 2> sentJoys_{};
    std::vector<ScriptEvent> pending_;
    Recorder recorder_;
    std::string stopReason_;
    long sentFor_ = 0;      // the last step n whose own events have gone out (for n + D)
    long grantedFor_ = 0;   // the last step whose merged events were handed over
    long stepsDone_ = 0;
    long ranFor_ = 0;       // the last step run, live (a correction may put the game back before it)
    uint64_t hash_ = 0;     // the world's fingerprint after the last step run
    bool leaving_ = false;

    // --- prediction ---
    std::unique_ptr<Rollback> rollback_;
    std::map<long, uint64_t> hashes_;    // the fingerprints of the last steps settled
    int32_t settledTime_ = 0, settledScore_ = 0;   // what the labels show
    RerunMeasures noReruns_;
};

// The host's start of game `number`: the machines and the players each brings as the session
// has them, the lockstep's delay (0: the machines predict), the step limit, and what every
// machine must share before its setup, taken from this machine's game and joysticks.
StartMessage hostStart(const NetSession& s, int number, int delay, long stepLimit, const Game& g,
                       const ScriptJoysticks& joysticks);

// What the host's start makes this machine share before its setup: the generator, the values the
// setup leaves alone and the joysticks' readings. The players it marks are the front end's to
// show. The generator may take a while to get there: `goOn` is asked in between, and false from
// it stops the wait and takes nothing (false back).
bool takeStart(const StartMessage& m, Game& g, ScriptJoysticks& joysticks,
               const std::function<bool()>& goOn = {});

}  // namespace hopshot
