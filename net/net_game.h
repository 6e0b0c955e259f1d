// One machine's side of a running network game, for the window and the headless run alike: its
// own events go out D steps ahead, and the events of each step come back merged once every
// machine's are in. It also keeps the game as a replay script, for when the machines disagree.
#pragma once

#include "net/session.h"

#include <string>
#include <vector>

namespace hopshot {

class NetGame {
public:
    NetGame(NetSession& session, const StartMessage& start);

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
    const std::string& replay() const { return replay_; }   // the game so far, as a script

private:
    NetSession& session_;
    int game_;
    int delay_;
    std::vector<ScriptEvent> pending_;
    std::string replay_;
    std::string stopReason_;
};

}  // namespace hopshot
