#include "net/lockstep.h"

#include "replay/recorder.h"

#include <algorithm>

namespace hopshot {

namespace {

enum : int16_t {
    kVkCtrl = 17, kVkEscape = 27,
    kVkLeft = 37, kVkUp = 38, kVkRight = 39, kVkDown = 40,
    kVkA = 65, kVkD = 68, kVkF = 70, kVkS = 83, kVkW = 87,
};
constexpr int16_t kShift = 1, kCtrl = 2;
constexpr long kKeptFingerprints = 256;   // steps of fingerprints waiting for the others

ScriptEvent keyUpEvent(int16_t code, int16_t mask) {
    ScriptEvent e;
    e.kind = ScriptEvent::Kind::KeyUp;
    e.keyCode = code;
    e.mask = mask;
    return e;
}

bool playerTwoKey(int16_t code) {
    return code == kVkA || code == kVkD || code == kVkW || code == kVkS || code == kVkF;
}

}  // namespace

std::string playersDigits(const Players& p) {
    std::string s;
    for (bool b : p) s += b ? '1' : '0';
    return s;
}

bool parsePlayersDigits(std::string_view s, Players& p) {
    if (s.size() != p.size()) return false;
    for (size_t i = 0; i < p.size(); ++i) {
        if (s[i] != '0' && s[i] != '1') return false;
        p[i] = s[i] == '1';
    }
    return true;
}

std::string playersList(const Players& p) {
    std::string s;
    for (int i = 0; i < kPlayers; ++i)
        if (p[size_t(i)]) s += (s.empty() ? "" : " ") + std::to_string(i + 1);
    return s;
}

std::vector<ScriptEvent> releaseEvents(const Players& p) {
    std::vector<ScriptEvent> v;
    if (p[0])
        for (int16_t k : {kVkLeft, kVkRight, kVkUp, kVkDown}) v.push_back(keyUpEvent(k, 0));
    if (p[1])
        for (int16_t k : {kVkA, kVkD, kVkW, kVkS, kVkF}) v.push_back(keyUpEvent(k, kShift));
    for (int j = 0; j < 2; ++j)
        if (p[size_t(2 + j)]) {
            ScriptEvent e;
            e.kind = ScriptEvent::Kind::Joy;
            e.joystick = j;
            e.x = e.y = 32767;
            v.push_back(e);
        }
    return v;
}

bool ownEvent(const Players& mine, ScriptEvent& e) {
    switch (e.kind) {
    case ScriptEvent::Kind::Joy: return mine[size_t(2 + e.joystick)];
    case ScriptEvent::Kind::Menu:
    case ScriptEvent::Kind::Tick: return false;   // menus stay local; ticks are the host's
    case ScriptEvent::Kind::KeyDown:
    case ScriptEvent::Kind::KeyUp: break;
    }
    if (e.keyCode == kVkEscape) return false;   // the front end's own: stop or leave
    if (playerTwoKey(e.keyCode)) {
        if (!mine[1]) return false;
        if (!mine[0]) {
            e.mask = int16_t(e.mask & ~kCtrl);
            if (e.kind == ScriptEvent::Kind::KeyUp && e.mask == 0) e.mask = kShift;
        }
        return true;
    }
    (void)kVkCtrl;   // Ctrl, the arrows and every other key: player 1's
    return mine[0];
}

bool counts(const Players& brings, bool fromHost, const ScriptEvent& e) {
    switch (e.kind) {
    case ScriptEvent::Kind::Tick:
    case ScriptEvent::Kind::Menu: return fromHost;
    case ScriptEvent::Kind::Joy: return (e.joystick == 0 || e.joystick == 1) && brings[size_t(2 + e.joystick)];
    case ScriptEvent::Kind::KeyDown:
    case ScriptEvent::Kind::KeyUp: break;
    }
    const bool down = e.kind == ScriptEvent::Kind::KeyDown;
    if (down && e.keyCode == kVkEscape) return fromHost;   // stops the game
    // Player 1's fire is armed by a key down with Ctrl alone. A player 2 key let go with no
    // modifier also lets go of player 1's fire, as it does in one window: it goes with the key.
    if (playerTwoKey(e.keyCode)) return brings[1] && (!down || e.mask != kCtrl || brings[0]);
    const bool arrow = e.keyCode >= kVkLeft && e.keyCode <= kVkDown;
    const bool movesOne = arrow || (down ? e.mask == kCtrl : e.mask == 0);
    return !movesOne || brings[0];
}

void Lockstep::begin(int game, int delay, const std::vector<int>& machines,
                     const std::vector<Players>& players) {
    game_ = game;
    delay_ = delay;
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

void Lockstep::put(int machine, long step, std::vector<ScriptEvent> events) {
    auto it = streams_.find(machine);
    if (it == streams_.end()) return;
    Stream& s = it->second;
    if (step != s.have + 1) return;   // had already, or a gap before it
    if (s.droppedFrom != 0 && step >= s.droppedFrom) return;   // after it left
    for (ScriptEvent& e : events) e.step = step;
    s.bundles[step] = std::move(events);
    s.have = step;
}

long Lockstep::have(int machine) const {
    const Stream* s = stream(machine);
    return s ? s->have : 0;
}

void Lockstep::drop(int machine, long from, std::vector<ScriptEvent> release) {
    auto it = streams_.find(machine);
    if (it == streams_.end() || it->second.droppedFrom != 0) return;
    Stream& s = it->second;
    for (auto b = s.bundles.lower_bound(from); b != s.bundles.end();) b = s.bundles.erase(b);
    for (ScriptEvent& e : release) e.step = from;
    s.bundles[from] = std::move(release);
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

std::vector<ScriptEvent> Lockstep::take(long step) {
    std::vector<ScriptEvent> merged;
    for (int m : machines_) {
        Stream& s = streams_.at(m);
        auto it = s.bundles.find(step);
        if (it == s.bundles.end()) continue;
        for (const ScriptEvent& e : it->second) {
            if (counts(s.players, m == 0, e)) {
                merged.push_back(e);
                continue;
            }
            if (s.refused++ == 0)
                notices_.push_back((m == 0 ? std::string("the host") : "machine " + std::to_string(m + 1)) +
                                   " (players " + playersList(s.players) + ") sent `" +
                                   [&] { std::string l = eventLine(e); l.pop_back(); return l; }() +
                                   "`, which is not its own to send: it and any like it are dropped");
        }
        s.bundles.erase(it);
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
