#include "net/net_game.h"

#include "net/world_hash.h"

namespace hopshot {

NetGame::NetGame(NetSession& session, const StartMessage& start, const std::array<bool, 4>& options,
                 InputSource& own, JoystickService* ownSticks)
    : session_(session), game_(start.game), delay_(start.delay), own_(own), ownSticks_(ownSticks) {
    for (size_t i = 0; i < start.machines.size() && i < start.machinePlayers.size(); ++i)
        if (start.machines[i] == session.self()) mine_ = start.machinePlayers[i];
    for (int j = 0; j < 2; ++j)
        sentJoys_[size_t(j)] = {true, start.joys[size_t(j)].x, start.joys[size_t(j)].y,
                                start.joys[size_t(j)].buttons};
    GameStart g = gameStartOf(start);
    g.options = options;
    recorder_.gameStarts(g);
    for (const ScriptEvent& e : startJoyEvents(start)) recorder_.event(e);
}

// The joysticks this machine's players use, read once a step: a change is an event.
void NetGame::readOwnSticks(std::vector<ScriptEvent>& pending) {
    if (!ownSticks_) return;
    for (int j = 0; j < 2; ++j) {
        if (!mine_[size_t(2 + j)]) continue;
        JoystickService::Reading r{kJoyCentre, kJoyCentre, 0};
        if (!ownSticks_->position(j, r)) r = {kJoyCentre, kJoyCentre, 0};
        JoyReading& sent = sentJoys_[size_t(j)];
        if (r.x == sent.x && r.y == sent.y && r.buttons == sent.buttons) continue;
        sent.x = r.x;
        sent.y = r.y;
        sent.buttons = r.buttons;
        ScriptEvent e;
        e.kind = ScriptEvent::Kind::Joy;
        e.joystick = j;
        e.x = r.x;
        e.y = r.y;
        e.buttons = r.buttons;
        pending.push_back(e);
    }
}

InputSource::Turn NetGame::eventsBefore(long n, std::vector<ScriptEvent>& out) {
    // What this machine read since it last asked goes with the next step it sends; menus stay on
    // the machine. Where the steps merge, what is not this machine's to send is dropped.
    std::vector<ScriptEvent> own;
    own_.eventsBefore(n, own);
    for (const ScriptEvent& e : own)
        if (e.kind != ScriptEvent::Kind::Menu) pending_.push_back(e);
    session_.service(0);
    if (sentFor_ < n) {
        readOwnSticks(pending_);
        session_.sendStep(n + delay_, pending_, n - 1, hash_);
        pending_.clear();
        sentFor_ = n;
    }
    if (grantedFor_ >= n) return Turn::Go;
    if (leaving_) {
        stopReason_.clear();
        return Turn::Stop;
    }
    if (const long s = session_.desyncStep(); s != 0) {
        stopReason_ = "this machine's game differs from the host's after step " + std::to_string(s) +
                      " of game " + std::to_string(game_) + ": it was stopped";
        return Turn::Stop;
    }
    if (!session_.expelled().empty()) {
        stopReason_ = "the host dropped this machine: " + session_.expelled();
        return Turn::Stop;
    }
    if (session_.hostLeft()) {
        stopReason_ = "the host left: the network game is over";
        return Turn::Stop;
    }
    if (!session_.lockstep().ready(n)) return Turn::Wait;
    std::vector<ScriptEvent> merged = session_.lockstep().take(n);
    for (const ScriptEvent& e : merged) recorder_.event(e);
    out.insert(out.end(), merged.begin(), merged.end());
    grantedFor_ = n;
    return Turn::Go;
}

void NetGame::stepDone(long step, Game& g) {
    stepsDone_ = step;
    hash_ = worldHash(g.w, g.rng.draws());
}

std::string NetGame::keptReplay(const World& w) {
    return recorder_.gameEnded(w, stepsDone_, true, stopReason_).alone;
}

}  // namespace hopshot
