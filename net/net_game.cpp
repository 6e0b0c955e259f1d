#include "net/net_game.h"

#include "core/setup.h"
#include "game/game_routine.h"
#include "net/world_hash.h"

#include <algorithm>
#include <chrono>

namespace hopshot {

namespace {

constexpr int16_t kVkEscape = 27;
constexpr size_t kKeptHashes = 2 * kRunAhead + 4;   // fingerprints of settled steps kept to send

bool sameEvent(const ScriptEvent& a, const ScriptEvent& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
    case ScriptEvent::Kind::KeyDown:
    case ScriptEvent::Kind::KeyUp: return a.keyCode == b.keyCode && a.mask == b.mask;
    case ScriptEvent::Kind::Joy:
        return a.joystick == b.joystick && a.x == b.x && a.y == b.y && a.buttons == b.buttons;
    case ScriptEvent::Kind::Menu: return a.item == b.item;
    case ScriptEvent::Kind::Tick: return true;
    }
    return false;
}

bool sameEvents(const std::vector<ScriptEvent>& a, const std::vector<ScriptEvent>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), sameEvent);
}

// What a run again played and the first runs did not, bank by bank: those are heard now.
std::vector<int> notYetHeard(const std::vector<int>& played, std::vector<int>& heard) {
    std::array<int, kSoundBanks> left{};
    for (int b : heard)
        if (b >= 0 && b < kSoundBanks) ++left[size_t(b)];
    std::vector<int> fresh;
    for (int b : played) {
        if (b < 0 || b >= kSoundBanks) continue;
        if (left[size_t(b)] > 0) {
            --left[size_t(b)];
            continue;
        }
        fresh.push_back(b);
        heard.push_back(b);
    }
    return fresh;
}

// A run again's banks, noted and not heard.
class NotedSound : public SoundOut {
public:
    void play(int bank) override { banks.push_back(bank); }
    std::vector<int> banks;
};

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
    if (predicts_) ran_.resize(size_t(kSlots));
    ahead_ = std::min<long>(kRunAhead, session.autoDelay() + 1);
}

// A game that predicts hears its sounds through this game's own, which notes them by step.
void NetGame::bind(GameInput& in) {
    if (!predicts_) return;
    in_ = &in;
    Game& g = in.game();
    sounds_.heard = g.sound;
    g.sound = &sounds_;
}

void NetGame::unbind() {
    if (!in_) return;
    in_->game().sound = sounds_.heard;
    in_ = nullptr;
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
    // the machine. Where the steps merge, what is not this machine's to send is dropped.
    std::vector<ScriptEvent> own;
    own_.eventsBefore(n, own);
    for (const ScriptEvent& e : own)
        if (e.kind != ScriptEvent::Kind::Menu) pending_.push_back(e);
    session_.service(0);
    return predicts_ ? predictedTurn(n, out) : lockstepTurn(n, out);
}

InputSource::Turn NetGame::lockstepTurn(long n, std::vector<ScriptEvent>& out) {
    if (sentFor_ < n) {
        readOwnSticks(pending_);
        session_.sendStep(n + delay_, pending_, n - 1, hash_);
        pending_.clear();
        sentFor_ = n;
    }
    if (grantedFor_ >= n) return Turn::Go;
    if (stopped()) return Turn::Stop;
    if (!session_.lockstep().ready(n)) return Turn::Wait;
    std::vector<ScriptEvent> merged = session_.lockstep().take(n);
    for (const ScriptEvent& e : merged) recorder_.event(e);
    out.insert(out.end(), merged.begin(), merged.end());
    grantedFor_ = n;
    return Turn::Go;
}

// Ticks, Esc and menu commands are the host's alone; one that ends the game (or might: a menu
// command) waits for its step to settle.
bool NetGame::endsGame(const std::vector<ScriptEvent>& events, const World& w) const {
    for (const ScriptEvent& e : events) {
        if (e.kind == ScriptEvent::Kind::Menu) return true;
        if (e.kind == ScriptEvent::Kind::KeyDown && e.keyCode == kVkEscape) return true;
        if (e.kind == ScriptEvent::Kind::Tick && w.running == kRunning && w.timeLeft <= 1) return true;
    }
    return false;
}

InputSource::Turn NetGame::predictedTurn(long n, std::vector<ScriptEvent>& out) {
    Game& g = in_->game();
    if (n == 1 && settled_ == 0) {
        settledTime_ = g.w.timeLeft;   // as the setup left them
        settledScore_ = g.w.score;
    }
    // Corrections first, so that the fingerprint that goes out is as new as can be.
    if (grantedFor_ < n) catchUp();
    if (sentFor_ < n) {
        readOwnSticks(pending_);
        const long named = n + delay_ - session_.lockstep().fingerprintLag();
        auto h = hashes_.find(named);
        session_.sendStep(n + delay_, pending_, h == hashes_.end() ? 0 : named,
                          h == hashes_.end() ? 0 : h->second);
        pending_.clear();
        sentFor_ = n;
    }
    if (grantedFor_ >= n) return Turn::Go;
    if (stopped()) {
        backToSettled();
        return Turn::Stop;
    }
    n = ranFor_ + 1;   // a correction may have ended the game at an earlier step
    Lockstep& lockstep = session_.lockstep();
    std::vector<ScriptEvent> events = lockstep.peek(n);
    const bool ending = (stepLimit_ > 0 && n > stepLimit_) || endsGame(events, g.w);
    if (ending && (settled_ != n - 1 || !lockstep.ready(n))) return Turn::Wait;
    if (n - 1 - settled_ > ahead_) return Turn::Wait;   // too far ahead of what is settled

    Ran& r = slot(n);
    save(g, *in_->joysticks(), r.before);
    // The events of a game's last step are written down as they are handed over: no step
    // follows to settle them.
    if (ending) takeSettled(n);
    r.events = events;
    r.sounds.clear();
    r.heard.clear();
    sounds_.banks.clear();
    if (!ending)
        for (int b : late_) sounds_.heard->play(b);
    late_.clear();
    out.insert(out.end(), events.begin(), events.end());
    grantedFor_ = n;
    return Turn::Go;
}

// The oldest step run whose events, as held now, differ from those it ran with is run again,
// with every later one; then every step whose events are all in settles, in order.
void NetGame::catchUp() {
    Lockstep& lockstep = session_.lockstep();
    for (long j = settled_ + 1; j <= ranFor_; ++j)
        if (!sameEvents(lockstep.peek(j), slot(j).events)) {
            runAgain(j);
            break;
        }
    settleReady();
}

void NetGame::runAgain(long from) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point began = Clock::now();
    Game& g = in_->game();
    ScriptJoysticks& joysticks = *in_->joysticks();
    Lockstep& lockstep = session_.lockstep();
    restore(g, joysticks, slot(from).before);
    const long last = ranFor_;
    NotedSound noted;
    for (long k = from; k <= last; ++k) {
        Ran& r = slot(k);
        if (k > from) save(g, joysticks, r.before);
        std::vector<ScriptEvent> events = lockstep.peek(k);
        if (endsGame(events, g.w)) {
            // The game ends before step k: it stands after step k - 1 until k settles.
            ranFor_ = k - 1;
            grantedFor_ = k - 1;
            in_->wentBackTo(k - 1);
            break;
        }
        r.events = std::move(events);
        noted.banks.clear();
        {
            SoundRedirect unheard(g, noted);
            in_->applyAgain(r.events);
            silentFrameStep(g, noted);
        }
        if (k == perturbAfter_) g.w.score += 1;
        r.sounds = noted.banks;
        for (int b : notYetHeard(r.sounds, r.heard)) late_.push_back(b);
    }
    const long steps = last - from + 1;
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - began).count();
    ++reruns_.rollbacks;
    reruns_.stepsAgain += steps;
    reruns_.longestSteps = std::max(reruns_.longestSteps, steps);
    reruns_.longestMs = std::max(reruns_.longestMs, ms);
}

void NetGame::settleReady() {
    Lockstep& lockstep = session_.lockstep();
    while (settled_ < ranFor_ &&
           (taken_ == settled_ + 1 || (lockstep.ready(settled_ + 1) &&
                                       sameEvents(lockstep.peek(settled_ + 1), slot(settled_ + 1).events))))
        settle(settled_ + 1);
}

// A step's events, all in, leave the lockstep for the recorder and the tap.
void NetGame::takeSettled(long step) {
    if (taken_ >= step) return;
    std::vector<ScriptEvent> events = session_.lockstep().take(step);
    for (ScriptEvent& e : events) {
        e.step = step;
        recorder_.event(e);
    }
    in_->tapSettled(step, events);
    taken_ = step;
}

// The world after a settled step is the game's own when it is the step run last, else the one
// saved before the next.
void NetGame::settle(long step) {
    Game& g = in_->game();
    const bool last = step == ranFor_;
    const World& w = last ? g.w : slot(step + 1).before.game.w;
    const uint64_t draws = last ? g.rng.draws() : slot(step + 1).before.game.rng.draws;
    const uint64_t hash = worldHash(w, draws);
    hashes_[step] = hash;
    while (hashes_.size() > kKeptHashes) hashes_.erase(hashes_.begin());
    takeSettled(step);
    in_->settle(step, w, draws, slot(step).sounds);
    settled_ = step;
    stepsDone_ = step;
    hash_ = hash;
    settledTime_ = w.timeLeft;
    settledScore_ = w.score;
}

// The labels show the last settled step, whatever the events and steps run ahead of it set them
// to: put back after the events handed over and after each step, before anything is drawn.
void NetGame::showSettled() {
    if (!in_ || grantedFor_ == 0) return;
    Host& host = in_->game().host;
    host.setCaption(Label::Time, captionNumber("Time :", settledTime_));
    host.setCaption(Label::Score, captionNumber("Score :", settledScore_));
}

// Events whose step will settle as it runs (all in, every step before settled) are the truth:
// what they show stands (the last tick's "Time : 0").
void NetGame::handedOver() {
    if (settled_ == grantedFor_ - 1 && session_.lockstep().ready(grantedFor_)) return;
    showSettled();
}

// A game stopped from outside stands where it last settled, as every machine saw it.
void NetGame::backToSettled() {
    if (ranFor_ <= settled_) return;
    restore(in_->game(), *in_->joysticks(), slot(settled_ + 1).before);
    ranFor_ = settled_;
    grantedFor_ = settled_;
    in_->wentBackTo(settled_);
}

void NetGame::stepDone(long step, Game& g) {
    if (step == perturbAfter_) g.w.score += 1;
    if (!predicts_) {
        stepsDone_ = step;
        hash_ = worldHash(g.w, g.rng.draws());
        return;
    }
    ranFor_ = step;
    Ran& r = slot(step);
    r.sounds.swap(sounds_.banks);
    sounds_.banks.clear();
    r.heard = r.sounds;
    settleReady();
    showSettled();
}

std::string NetGame::keptReplay(const World& w) {
    return recorder_.gameEnded(w, stepsDone_, true, stopReason_).alone;
}

}  // namespace hopshot
