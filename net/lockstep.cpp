#include "net/lockstep.h"

#include "play/command_events.h"
#include "play/feed.h"
#include "play/recorder.h"

#include <algorithm>

namespace hopshot {

namespace {

constexpr long kKeptFingerprints = 256;   // steps of fingerprints waiting for the others

}  // namespace

std::string playersDigits(const Players& p) {
    std::string s;
    for (bool b : p) s += b ? '1' : '0';
    return s;
}

std::string playersList(const Players& p) {
    std::string s;
    for (int i = 0; i < kPlayers; ++i)
        if (p[size_t(i)]) s += (s.empty() ? "" : " ") + std::to_string(i + 1);
    return s;
}

StepCommands releaseCommands(const Players& p) {
    StepCommands c;
    for (int i = 0; i < 2; ++i)
        if (p[size_t(i)]) c.players[size_t(i)] = {Aim::LetGoBoth, Aim::LetGoBoth, Fire::LetGo, {}};
    for (int j = 0; j < 2; ++j)
        if (p[size_t(2 + j)]) c.players[size_t(2 + j)].stick = {true, kJoyCentre, kJoyCentre, 0};
    return c;
}

void Lockstep::begin(int game, int delay, const std::vector<int>& machines,
                     const std::vector<Players>& players, bool predicts) {
    game_ = game;
    delay_ = delay;
    predicts_ = predicts;
    machines_ = machines;
    streams_.clear();
    hashes_.clear();
    notices_.clear();
    for (size_t i = 0; i < machines.size(); ++i) {
        Stream& s = streams_[machines[i]];
        s.have = delay;
        if (i < players.size()) s.players = players[i];
    }
}

bool Lockstep::inGame(int machine) const { return streams_.count(machine) != 0; }

const Lockstep::Stream* Lockstep::stream(int machine) const {
    auto it = streams_.find(machine);
    return it == streams_.end() ? nullptr : &it->second;
}

void Lockstep::put(int machine, long step, const StepCommands& commands) {
    auto it = streams_.find(machine);
    if (it == streams_.end()) return;
    Stream& s = it->second;
    if (step != s.have + 1) return;   // had already, or a gap before it
    if (s.droppedFrom != 0 && step >= s.droppedFrom) return;   // after it left
    s.bundles[step] = commands;
    s.have = step;
}

long Lockstep::have(int machine) const {
    const Stream* s = stream(machine);
    return s ? s->have : 0;
}

void Lockstep::drop(int machine, long from, const StepCommands& release) {
    auto it = streams_.find(machine);
    if (it == streams_.end() || it->second.droppedFrom != 0) return;
    Stream& s = it->second;
    for (auto b = s.bundles.lower_bound(from); b != s.bundles.end();) b = s.bundles.erase(b);
    s.bundles[from] = release;
    s.droppedFrom = from;   // its steps before `from` may still come, passed on by the host
    for (auto& [step, byMachine] : hashes_) byMachine.erase(machine);
}

bool Lockstep::dropped(int machine) const {
    const Stream* s = stream(machine);
    return s && s->droppedFrom != 0;
}

bool Lockstep::ready(long step) const {
    if (step <= delay_) return true;
    for (int m : machines_) {
        const Stream& s = streams_.at(m);
        if (s.droppedFrom != 0 && step >= s.droppedFrom) continue;
        if (s.have < step) return false;
    }
    return true;
}

void Lockstep::merge(const Stream& s, bool fromHost, const StepCommands& bundle, StepCommands& merged,
                     std::vector<int>* foreign) {
    for (int p = 0; p < kPlayers; ++p) {
        const PlayerCommand& c = bundle.players[size_t(p)];
        if (c.empty()) continue;
        if (s.players[size_t(p)])
            merged.players[size_t(p)] = c;
        else if (foreign)
            foreign->push_back(p);
    }
    if (bundle.hostCount == 0) return;
    if (!fromHost) {
        if (foreign) foreign->push_back(-1);
        return;
    }
    for (int i = 0; i < bundle.hostCount; ++i) merged.addHost(bundle.host[size_t(i)]);
}

StepCommands Lockstep::take(long step) {
    StepCommands merged;
    for (int m : machines_) {
        Stream& s = streams_.at(m);
        auto it = s.bundles.find(step);
        if (it == s.bundles.end()) continue;
        std::vector<int> foreign;
        merge(s, m == 0, it->second, merged, &foreign);
        if (!foreign.empty() && s.refused == 0) {
            std::string line = eventLine(commandEvents(it->second, step, foreign.front()).front());
            line.pop_back();
            notices_.push_back((m == 0 ? std::string("the host") : "machine " + std::to_string(m + 1)) +
                               " (players " + playersList(s.players) + ") sent `" + line +
                               "`, which is not its own to send: it and any like it are dropped");
        }
        s.refused += long(foreign.size());
        s.bundles.erase(it);
    }
    return merged;
}

StepCommands Lockstep::peek(long step) const {
    StepCommands merged;
    for (int m : machines_) {
        const Stream& s = streams_.at(m);
        auto it = s.bundles.find(step);
        if (it != s.bundles.end()) merge(s, m == 0, it->second, merged, nullptr);
    }
    return merged;
}

long Lockstep::refused(int machine) const {
    const Stream* s = stream(machine);
    return s ? s->refused : 0;
}

std::vector<std::string> Lockstep::takeNotices() {
    std::vector<std::string> v;
    v.swap(notices_);
    return v;
}

void Lockstep::fingerprint(int machine, long step, uint64_t hash) {
    if (!inGame(machine) || dropped(machine) || step <= 0) return;
    std::map<int, uint64_t>& byMachine = hashes_[step];
    hash = byMachine.emplace(machine, hash).first->second;   // a machine's first word on a step stands
    auto disagree = [&](int m) {
        Stream& s = streams_.at(m);
        if (s.disagrees == 0 || step < s.disagrees) s.disagrees = step;
    };
    if (machine == 0) {
        for (const auto& [other, h] : byMachine)
            if (other != 0 && h != hash) disagree(other);
    } else if (auto host = byMachine.find(0); host != byMachine.end() && host->second != hash) {
        disagree(machine);
    }
    // A step every playing machine has vouched for is settled; and none is kept for long.
    const size_t playing = size_t(std::count_if(machines_.begin(), machines_.end(),
                                                [this](int m) { return !dropped(m); }));
    if (byMachine.size() >= playing) hashes_.erase(step);
    while (!hashes_.empty() && hashes_.begin()->first < step - kKeptFingerprints)
        hashes_.erase(hashes_.begin());
}

std::optional<uint64_t> Lockstep::fingerprintOf(int machine, long step) const {
    auto at = hashes_.find(step);
    if (at == hashes_.end()) return std::nullopt;
    auto said = at->second.find(machine);
    if (said == at->second.end()) return std::nullopt;
    return said->second;
}

long Lockstep::disagreesAfter(int machine) const {
    const Stream* s = stream(machine);
    return s ? s->disagrees : 0;
}

std::vector<int> Lockstep::disagreeing() const {
    std::vector<int> v;
    for (int m : machines_)
        if (streams_.at(m).disagrees != 0 && !dropped(m)) v.push_back(m);
    return v;
}

}  // namespace hopshot
