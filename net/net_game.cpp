#include "net/net_game.h"

#include "controls/commands.h"
#include "core/setup.h"
#include "game/game_routine.h"
#include "net/world_hash.h"
#include "play/command_events.h"

#include <algorithm>
#include <chrono>

namespace hopshot {

namespace {

constexpr size_t kKeptHashes = 2 * kRunAhead + 4;   // fingerprints of settled steps kept to send
static_assert(kRunAhead == Rollback::kMostAhead,
              "the fingerprints name steps as far back as a game runs ahead");

}  // namespace

NetGame::NetGame(NetSession& session, const StartMessage& start, const std::array<bool, 4>& options,
                 InputSource& own, JoystickService* ownSticks)
    : session_(session), game_(start.game), delay_(start.delay), predicts_(start.predicts),
      stepLimit_(start.stepLimit), own_(own), ownSticks_(ownSticks) {
    for (size_t i = 0; i < start.machines.size() && i < start.machinePlayers.size(); ++i)
        if (start.machines[i] == session.self()) mine_ = start.machinePlayers[i];
    for (int j = 0; j < 2; ++j)
        sentJoys_[size_t(j)] = {true, start.joys[size_t(j)].x, start.joys[size_t(j)].y,
                                start.joys[size_t(j)].buttons};
    GameStart g = gameStartOf(start);
    g.options = options;
    recorder_.gameStarts(g);
    for (const ScriptEvent& e : startJoyEvents(start)) recorder_.event(e);
    if (predicts_)
        rollback_ = std::make_unique<Rollback>(static_cast<StepFeed&>(*this),
                                               std::min<long>(kRunAhead, session.autoDelay() + 1));
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

bool NetGame::stopped() {
    if (leaving_) {
        stopReason_.clear();
        return true;
    }
    if (const long s = session_.desyncStep(); s != 0) {
        stopReason_ = "this machine's game differs from the host's after step " + std::to_string(s) +
                      " of game " + std::to_string(game_) + ": it was stopped";
        return true;
    }
    if (!session_.expelled().empty()) {
        stopReason_ = "the host dropped this machine: " + session_.expelled();
        return true;
    }
    if (session_.hostLeft()) {
        stopReason_ = "the host left: the network game is over";
        return true;
    }
    return false;
}

InputSource::Turn NetGame::eventsBefore(long n, std::vector<ScriptEvent>& out) {
    // What this machine read since it last asked goes with the next step it sends; menus stay on
    // the machine.
    std::vector<ScriptEvent> own;
    own_.eventsBefore(n, own);
    for (const ScriptEvent& e : own)
        if (e.kind != ScriptEvent::Kind::Menu) pending_.push_back(e);
    // What was read goes out once, for the step after the last one run, even when a correction
    // has put the game back before it.
    const long sendFor = std::max(n, ranFor_ + 1);
    return predicts_ ? predictedTurn(n, sendFor, out) : lockstepTurn(n, sendFor, out);
}

// This machine's own read since the last step sent, as the commands of its own players (and the
// host's commands, on the host): the window and headless send the same for the same keys.
StepCommands NetGame::takePending() {
    readOwnSticks(pending_);
    const StepCommands c = ownCommands(mine_, session_.isHost(), commandsOf(pending_));
    pending_.clear();
    return c;
}

InputSource::Turn NetGame::lockstepTurn(long n, long sendFor, std::vector<ScriptEvent>& out) {
    if (sentFor_ < sendFor) {
        session_.sendStep(sendFor + delay_, takePending(), sendFor - 1, hash_);
        sentFor_ = sendFor;
    }
    if (grantedFor_ >= n) return Turn::Go;
    if (stopped()) return Turn::Stop;
    if (!session_.lockstep().ready(n)) return Turn::Wait;
    const std::vector<ScriptEvent> merged = commandEvents(session_.lockstep().take(n), n);
    for (const ScriptEvent& e : merged) recorder_.event(e);
    out.insert(out.end(), merged.begin(), merged.end());
    grantedFor_ = n;
    return Turn::Go;
}

// The front end has taken in what arrived and had the rollback correct the game before asking:
// the fingerprint that goes out is as new as can be.
InputSource::Turn NetGame::predictedTurn(long n, long sendFor, std::vector<ScriptEvent>& out) {
    Game* g = rollback_->game();
    if (!g) return Turn::Stop;   // no game was handed the rollback: nothing can run
    if (n == 1 && rollback_->settled() == 0) {
        settledTime_ = g->w.timeLeft;   // as the setup left them
        settledScore_ = g->w.score;
    }
    if (sentFor_ < sendFor) {
        const long named = sendFor + delay_ - session_.lockstep().fingerprintLag();
        auto h = hashes_.find(named);
        session_.sendStep(sendFor + delay_, takePending(), h == hashes_.end() ? 0 : named,
                          h == hashes_.end() ? 0 : h->second);
        sentFor_ = sendFor;
    }
    if (rollback_->granted() >= n) return Turn::Go;
    if (stopped()) return Turn::Stop;   // the front end puts the game back where it settled
    return rollback_->runNext(stepLimit_, out) ? Turn::Go : Turn::Wait;
}

// A step's commands, all in, leave the lockstep for good: the recorder writes them down.
StepCommands NetGame::take(long step) {
    const StepCommands c = session_.lockstep().take(step);
    for (const ScriptEvent& e : commandEvents(c, step)) recorder_.event(e);
    return c;
}

void NetGame::settled(long step, const World& w, uint64_t draws) {
    const uint64_t hash = worldHash(w, draws);
    hashes_[step] = hash;
    while (hashes_.size() > kKeptHashes) hashes_.erase(hashes_.begin());
    stepsDone_ = step;
    hash_ = hash;
    settledTime_ = w.timeLeft;
    settledScore_ = w.score;
}

// The labels show the last settled step, whatever the events and steps run ahead of it set them
// to: put back after the events handed over and after each step, before anything is drawn.
void NetGame::showSettled() {
    Game* g = rollback_ ? rollback_->game() : nullptr;
    if (!g || rollback_->granted() == 0) return;
    Host& host = g->host;
    host.setCaption(Label::Time, captionNumber("Time :", settledTime_));
    host.setCaption(Label::Score, captionNumber("Score :", settledScore_));
}

// Events whose step will settle as it runs (all in, every step before settled) are the truth:
// what they show stands (the last tick's "Time : 0").
void NetGame::handedOver(long step) {
    if (rollback_->stepSettlesAsItRuns(step)) return;
    showSettled();
}

void NetGame::stepDone(long step, Game& g) {
    ranFor_ = std::max(ranFor_, step);
    if (!predicts_) {
        stepsDone_ = step;
        hash_ = worldHash(g.w, g.rng.draws());
        return;
    }
    rollback_->stepDone(step);
    showSettled();
}

std::string NetGame::keptReplay(const World& w) {
    return recorder_.gameEnded(w, stepsDone_, true, stopReason_).alone;
}

StartMessage hostStart(const NetSession& s, int number, int delay, long stepLimit, const Game& g,
                       const ScriptJoysticks& joysticks) {
    StartMessage m;
    m.game = number;
    // A delay given fixes the lockstep; else every machine predicts the others.
    m.predicts = delay == 0;
    m.delay = delay > 0 ? delay : 1;
    m.stepLimit = stepLimit;
    for (const Machine& mc : s.roster()) {
        m.machines.push_back(mc.id);
        m.machinePlayers.push_back(mc.players);
    }
    m.players = s.everyonesPlayers();
    m.draws = g.rng.draws();
    m.carried = carriedValues(g.w);
    for (int j = 0; j < 2; ++j) {
        const JoyReading r = joysticks.reading(j);
        m.joys[size_t(j)] = {r.x, r.y, r.buttons};
    }
    return m;
}

bool takeStart(const StartMessage& m, Game& g, ScriptJoysticks& joysticks,
               const std::function<bool()>& goOn) {
    // Bounded where the start is read.
    if (!g.rng.advanceTo(m.draws, [&] { return !goOn || goOn(); })) return false;
    takeCarried(g.w, m.carried);
    for (int j = 0; j < 2; ++j)
        joysticks.set(j, m.joys[size_t(j)].x, m.joys[size_t(j)].y, m.joys[size_t(j)].buttons);
    return true;
}

}  // namespace hopshot
