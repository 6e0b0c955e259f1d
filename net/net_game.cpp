#include "net/net_game.h"

namespace hopshot {

NetGame::NetGame(NetSession& session, const StartMessage& start, const std::array<bool, 4>& options)
    : session_(session), game_(start.game), delay_(start.delay) {
    GameStart g = gameStartOf(start);
    g.options = options;
    recorder_.gameStarts(g);
    for (const ScriptEvent& e : startJoyEvents(start)) recorder_.event(e);
}

void NetGame::send(long n, uint64_t hashAfterPrevious) {
    session_.sendStep(n + delay_, pending_, n - 1, hashAfterPrevious);
    pending_.clear();
}

NetGame::Status NetGame::poll(long n, std::vector<ScriptEvent>& out) {
    if (const long s = session_.desyncStep(); s != 0) {
        stopReason_ = "the machines disagree after step " + std::to_string(s) + " of game " +
                      std::to_string(game_) + ": the game was stopped";
        return Status::Stop;
    }
    if (session_.hostLeft()) {
        stopReason_ = "the host left: the network game is over";
        return Status::Stop;
    }
    if (!session_.lockstep().ready(n)) return Status::Wait;
    out = session_.lockstep().take(n);
    for (const ScriptEvent& e : out) recorder_.event(e);
    return Status::Go;
}

std::string NetGame::keptReplay(const World& w, long steps) {
    return recorder_.gameEnded(w, steps).alone;
}

}  // namespace hopshot
