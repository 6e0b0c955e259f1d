#include "play/rollback.h"

#include "game/game_routine.h"
#include "play/command_events.h"

#include <algorithm>
#include <array>
#include <chrono>

namespace hopshot {

namespace {

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

Rollback::Rollback(StepFeed& feed, long ahead)
    : feed_(feed), ahead_(std::clamp<long>(ahead, 0, kMostAhead)), ran_(size_t(kSlots)) {}

void Rollback::bind(GameInput& in) {
    in_ = &in;
    Game& g = in.game();
    sounds_.heard = g.sound;
    g.sound = &sounds_;
}

void Rollback::unbind() {
    if (!in_) return;
    in_->game().sound = sounds_.heard;
    in_ = nullptr;
}

// The host's commands: one that ends the game (or might: a menu command) waits for its step to
// settle.
bool Rollback::endsGame(const StepCommands& c, const World& w) const {
    for (int i = 0; i < c.hostCount; ++i) {
        const uint8_t h = c.host[size_t(i)];
        if (h != kTick || (w.running == kRunning && w.timeLeft <= 1)) return true;
    }
    return false;
}

long Rollback::correct() {
    for (long j = settled_ + 1; j <= ranFor_; ++j)
        if (!(feed_.held(j) == slot(j).commands)) {
            runAgain(j);
            break;
        }
    settleReady();
    return ranFor_;
}

bool Rollback::runNext(long stepLimit, std::vector<ScriptEvent>& out) {
    Game& g = in_->game();
    const long n = ranFor_ + 1;   // a correction may have ended the game at an earlier step
    const StepCommands commands = feed_.held(n);
    const bool ending = (stepLimit > 0 && n > stepLimit) || endsGame(commands, g.w);
    if (ending && (settled_ != n - 1 || !feed_.complete(n))) return false;
    if (n - 1 - settled_ > ahead_) return false;   // too far ahead of what is settled

    Ran& r = slot(n);
    save(g, *in_->joysticks(), r.before);
    // The commands of a game's last step are taken for good as they are handed over: no step
    // follows to settle them.
    if (ending) takeSettled(n);
    r.commands = commands;
    r.events = commandEvents(commands, n);
    r.sounds.clear();
    r.heard.clear();
    sounds_.banks.clear();
    if (!ending)
        for (int b : late_) sounds_.heard->play(b);
    late_.clear();
    out.insert(out.end(), r.events.begin(), r.events.end());
    grantedFor_ = n;
    return true;
}

void Rollback::runAgain(long from) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point began = Clock::now();
    Game& g = in_->game();
    ScriptJoysticks& joysticks = *in_->joysticks();
    restore(g, joysticks, slot(from).before);
    const long last = ranFor_;
    NotedSound noted;
    for (long k = from; k <= last; ++k) {
        Ran& r = slot(k);
        if (k > from) save(g, joysticks, r.before);
        const StepCommands commands = feed_.held(k);
        if (endsGame(commands, g.w)) {
            // The game ends before step k: it stands after step k - 1 until k settles.
            ranFor_ = k - 1;
            grantedFor_ = k - 1;
            break;
        }
        r.commands = commands;
        r.events = commandEvents(commands, k);
        noted.banks.clear();
        {
            SoundRedirect unheard(g, noted);
            in_->applyAgain(r.events);
            silentFrameStep(g, noted);
        }
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

void Rollback::settleReady() {
    while (settled_ < ranFor_ &&
           (taken_ == settled_ + 1 ||
            (feed_.complete(settled_ + 1) && feed_.held(settled_ + 1) == slot(settled_ + 1).commands)))
        settle(settled_ + 1);
}

// A step's commands, all in, are taken for good; their events go to the tap.
void Rollback::takeSettled(long step) {
    if (taken_ >= step) return;
    in_->tapSettled(step, commandEvents(feed_.take(step), step));
    taken_ = step;
}

// The world after a settled step is the game's own when it is the step run last, else the one
// saved before the next.
void Rollback::settle(long step) {
    Game& g = in_->game();
    const bool last = step == ranFor_;
    const World& w = last ? g.w : slot(step + 1).before.game.w;
    const uint64_t draws = last ? g.rng.draws() : slot(step + 1).before.game.rng.draws;
    takeSettled(step);
    in_->settle(step, w, draws, slot(step).sounds);
    settled_ = step;
    feed_.settled(step, w, draws);
}

long Rollback::stopAtSettled() {
    if (ranFor_ > settled_) {
        restore(in_->game(), *in_->joysticks(), slot(settled_ + 1).before);
        ranFor_ = settled_;
        grantedFor_ = settled_;
    }
    in_->game().w.running = 0;
    return ranFor_;
}

void Rollback::stepDone(long step) {
    ranFor_ = step;
    Ran& r = slot(step);
    r.sounds.swap(sounds_.banks);
    sounds_.banks.clear();
    r.heard = r.sounds;
    settleReady();
}

}  // namespace hopshot
