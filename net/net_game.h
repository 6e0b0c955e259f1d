// One machine's side of a running network game, for the window and the headless run alike: its
// own events go out D steps ahead, and the events of each step come back merged once every
// machine's are in. The recorder writes down the game as it is played, so that a game the
// machines disagree on can be kept and replayed alone.
#pragma once

#include "net/session.h"
#include "replay/recorder.h"

#include <array>
#include <string>
#include <vector>

namespace hopshot {

class NetGame {
public:
    // `options`: this machine's own screen options, for the kept replay.
    NetGame(NetSession& session, const StartMessage& start, const std::array<bool, 4>& options);

    // An event of this machine's own, read now: it goes with the next steps sent.
    void local(const ScriptEvent& e) { pending_.push_back(e); }

    // Before step n (each n once, in order): this machine's events read so far go out for step
    // n + D, with the world's fingerprint after step n - 1 (none before step 1).
    void send(long n, uint64_t hashAfterPrevious);

    enum class Status { Wait, Go, Stop };
    // Go with the merged events for step n once all are in; Stop when the game cannot go on.
    Status poll(long n, std::vector<ScriptEvent>& out);
    const std::string& stopReason() const { return stopReason_; }

    int delay() const { return delay_; }
    // The game so far as a script that replays it alone, once it has stopped.
    std::string keptReplay(const World& w, long steps);

private:
    NetSession& session_;
    int game_;
    int delay_;
    std::vector<ScriptEvent> pending_;
    Recorder recorder_;
    std::string stopReason_;
};

}  // namespace hopshot
