#include "play/recorder.h"

namespace hopshot {

namespace {

const char* menuWord(MenuItem item) {
    switch (item) {
    case MenuItem::Player1: return "1P";
    case MenuItem::Player2: return "2P";
    case MenuItem::Player3: return "3P";
    case MenuItem::Player4: return "4P";
    case MenuItem::LiveCamera: return "live";
    case MenuItem::SmallScreen: return "small";
    case MenuItem::SimpleDisplay: return "simple";
    case MenuItem::Wireframe: return "wire";
    }
    return "";
}

std::string marksLine(const char* command, const std::array<bool, 4>& marks) {
    std::string s = command;
    for (bool m : marks) s += m ? " 1" : " 0";
    return s + "\n";
}

template <size_t N>
void setLines(std::string& out, CarriedValue v, const std::array<int16_t, N>& now,
              const std::array<int16_t, N>& before) {
    for (size_t i = 0; i < N; ++i)
        if (now[i] != before[i])
            out += std::string("set ") + carriedValueName(v) + " " + std::to_string(i) + " " +
                   std::to_string(now[i]) + "\n";
}

// A replay's joysticks report 0..65535, so its dead zone is this (see detectJoystick).
constexpr int32_t kReplayLow = 0 + kJoystickMargin;
constexpr int32_t kReplayHigh = 65535 - kJoystickMargin;
constexpr int32_t kCentre = 32767;

int reduce(int32_t v, int32_t low, int32_t high) { return (v > high ? 1 : 0) - (v < low ? 1 : 0); }

int32_t pushedTo(int direction) { return direction < 0 ? 0 : direction > 0 ? 65535 : kCentre; }

}  // namespace

CarriedValues carriedValues(const World& w) {
    return {w.shellKind, w.steerX, w.steerY, w.hopperVY, w.bloodBudget};
}

void takeCarried(World& w, const CarriedValues& c) {
    w.shellKind = c.shellKind;
    w.steerX = c.steerX;
    w.steerY = c.steerY;
    w.hopperVY = c.hopperVY;
    w.bloodBudget = c.bloodBudget;
}

std::string eventLine(const ScriptEvent& e) {
    std::string s = "at " + std::to_string(e.step) + " ";
    switch (e.kind) {
    case ScriptEvent::Kind::KeyDown:
    case ScriptEvent::Kind::KeyUp:
        s += e.kind == ScriptEvent::Kind::KeyDown ? "key down " : "key up ";
        s += std::to_string(e.keyCode) + " " + std::to_string(e.mask);
        break;
    case ScriptEvent::Kind::Joy:
        s += "joy " + std::to_string(e.joystick) + " " + std::to_string(e.x) + " " +
             std::to_string(e.y) + " " + std::to_string(e.buttons);
        break;
    case ScriptEvent::Kind::Menu: s += std::string("menu ") + menuWord(e.item); break;
    case ScriptEvent::Kind::Tick: s += "tick"; break;
    }
    return s + "\n";
}

std::string startLines(const GameStart& start, const CarriedValues& before) {
    std::string s = marksLine("players", start.players) + marksLine("options", start.options);
    s += "draws " + std::to_string(start.draws) + "\n";
    const CarriedValues& now = start.carried;
    setLines(s, CarriedValue::ShellKind, now.shellKind, before.shellKind);
    setLines(s, CarriedValue::SteerX, now.steerX, before.steerX);
    setLines(s, CarriedValue::SteerY, now.steerY, before.steerY);
    setLines(s, CarriedValue::HopperVY, now.hopperVY, before.hopperVY);
    if (now.bloodBudget != before.bloodBudget)
        s += "set bloodBudget " + std::to_string(now.bloodBudget) + "\n";
    return s;
}

// The script takes the rest of the line up to a `#`: a name holding one cannot be written whole,
// and is written up to it.
std::string nameLine(const std::string& name) {
    const std::string kept = name.substr(0, name.find('#'));
    return kept.empty() ? "name\n" : "name " + kept + "\n";
}

std::string Recorder::runHeader() {
    return "# hopshot recording: replay with hopshot --replay FILE or --headless FILE\n"
           "joysticks 2\n";
}

void Recorder::gameStarts(const GameStart& start) {
    inGame_ = true;
    start_ = start;
    events_.clear();
    prompted_ = false;
    name_.clear();
}

void Recorder::event(const ScriptEvent& e) {
    if (inGame_) events_ += eventLine(e);
}

void Recorder::prompted(const std::string& name) {
    if (!inGame_) return;
    prompted_ = true;
    name_ = name;
}

RecordedGame Recorder::gameEnded(const World& w, long steps, bool finished,
                                 const std::string& stoppedBy) {
    const int32_t score = w.score;
    RecordedGame r;
    if (!inGame_) return r;
    inGame_ = false;
    r.number = ++games_;
    r.steps = steps;
    r.score = score;
    r.finished = finished;

    std::string head = "\n# game " + std::to_string(r.number) + ": score " +
                       std::to_string(score) + ", " + std::to_string(steps) + " steps" +
                       (finished ? "" : ", the program ended during it") + "\n";
    const std::string name = prompted_ ? nameLine(name_) : std::string();
    std::string body = "game\n" + events_;
    if (!stoppedBy.empty()) {
        ScriptEvent esc;
        esc.step = steps + 1;
        esc.keyCode = 27;
        std::string why = stoppedBy;
        for (char& c : why)
            if (c == '\n') c = ' ';
        body += "# stopped here: " + why + "\n" + eventLine(esc);
    }
    r.inRun = head + startLines(start_, afterLast_) + name + body;
    r.alone = runHeader() + head + startLines(start_, CarriedValues{}) + name + body;
    afterLast_ = carriedValues(w);   // a replay of the run reaches the next start from here
    events_.clear();
    return r;
}

bool JoystickTap::position(int id, Reading& out) {
    const bool read = inner_ && inner_->position(id, out);
    if (step_ <= 0 || id < 0 || id >= int(last_.size())) return read;

    // What the pass makes of it under the window's thresholds, and the same under a replay's.
    int32_t x = kCentre, y = kCentre;
    uint32_t buttons = 0;
    if (read) {
        const int jx = reduce(out.x, controller_.joyXLow, controller_.joyXHigh);
        const int jy = reduce(out.y, controller_.joyYLow, controller_.joyYHigh);
        x = reduce(out.x, kReplayLow, kReplayHigh) == jx ? out.x : pushedTo(jx);
        y = reduce(out.y, kReplayLow, kReplayHigh) == jy ? out.y : pushedTo(jy);
        buttons = out.buttons;
    }
    Written& w = last_[size_t(id)];
    if (w.any && w.x == x && w.y == y && w.buttons == buttons) return read;
    w = {true, x, y, buttons};
    ScriptEvent e;
    e.kind = ScriptEvent::Kind::Joy;
    e.step = step_;
    e.joystick = id;
    e.x = x;
    e.y = y;
    e.buttons = buttons;
    recorder_.event(e);
    return read;
}

}  // namespace hopshot
