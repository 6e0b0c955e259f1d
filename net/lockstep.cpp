#include "net/lockstep.h"

#include <algorithm>

namespace hopshot {

namespace {

enum : int16_t {
    kVkCtrl = 17, kVkEscape = 27,
    kVkLeft = 37, kVkUp = 38, kVkRight = 39, kVkDown = 40,
    kVkA = 65, kVkD = 68, kVkF = 70, kVkS = 83, kVkW = 87,
};
constexpr int16_t kShift = 1, kCtrl = 2;

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

void Lockstep::begin(int game, int delay, const std::vector<int>& machines) {
    game_ = game;
    delay_ = delay;
    machines_ = machines;
    streams_.clear();
    hashes_.clear();
    desync_ = 0;
    for (int m : machines) streams_[m].have = delay;
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
        merged.insert(merged.end(), it->second.begin(), it->second.end());
        s.bundles.erase(it);
    }
    return merged;
}

void Lockstep::fingerprint(int machine, long step, uint64_t hash) {
    if (!inGame(machine) || dropped(machine) || step <= 0) return;
    std::map<int, uint64_t>& byMachine = hashes_[step];
    byMachine[machine] = hash;
    for (const auto& [other, h] : byMachine)
        if (h != hash && (desync_ == 0 || step < desync_)) desync_ = step;
    // A step every playing machine has vouched for is settled.
    size_t playing = size_t(std::count_if(machines_.begin(), machines_.end(),
                                          [this](int m) { return !dropped(m); }));
    if (byMachine.size() >= playing && desync_ != step) hashes_.erase(step);
}

}  // namespace hopshot
