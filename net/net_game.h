// One machine's side of a running network game, for the window and the headless run alike: the
// game's input comes from the lockstep. Before step n (each n once) this machine's own events
// read so far go out for step n + D with the world's fingerprint after step n - 1; step n runs
// once every machine's events for it are in, merged under one rule on every machine. The
// recorder writes down the game as it is played, so that a game this machine disagrees on with
// the host can be kept and replayed alone.
#pragma once

#include "core/joystick_seam.h"
#include "net/session.h"
#include "replay/input.h"
#include "replay/recorder.h"

#include <array>
#include <string>
#include <vector>

namespace hopshot {

class NetGame : public InputSource {
public:
    // `options`: this machine's own screen options, for the kept replay. `own`: where this
    // machine's own events come from (the window's keys and timer, or its script). `ownSticks`:
    // the joysticks its players 3 and 4 read, read once a step (null: their events come from
    // `own`).
    NetGame(NetSession& session, const StartMessage& start, const std::array<bool, 4>& options,
            InputSource& own, JoystickService* ownSticks = nullptr);

    Turn eventsBefore(long step, std::vector<ScriptEvent>& out) override;
    void stepDone(long step, Game& g) override;
    void idle(int ms) override { session_.service(ms); }

    void leave() { leaving_ = true; }   // this machine leaves: the game stops at its next yield
    const std::string& stopReason() const { return stopReason_; }
    // The game so far as a script that replays it alone, once it has stopped.
    std::string keptReplay(const World& w);

private:
    void readOwnSticks(std::vector<ScriptEvent>& pending);

    NetSession& session_;
    int game_;
    int delay_;
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
    uint64_t hash_ = 0;     // the world's fingerprint after the last step run
    bool leaving_ = false;
};

}  // namespace hopshot
