#include "replay/headless.h"

#include "game/game_routine.h"
#include "controls/keyboard.h"
#include "game/lifecycle.h"
#include "controls/joystick.h"
#include "replay/trace.h"

#include <fstream>
#include <memory>
#include <sstream>

namespace hopshot {

std::vector<int> RecordingSound::take() {
    std::vector<int> banks;
    banks.swap(pending_);
    return banks;
}

// The menu's initial state: player 1 and the live camera checked, everything else not.
HeadlessHost::HeadlessHost(RecordingSound& sound, std::ostream* trace)
    : sound_(sound), trace_(trace),
      marks_{{MenuItem::Player1, true},       {MenuItem::Player2, false},
             {MenuItem::Player3, false},      {MenuItem::Player4, false},
             {MenuItem::LiveCamera, true},    {MenuItem::SmallScreen, false},
             {MenuItem::SimpleDisplay, false}, {MenuItem::Wireframe, false}} {}

void HeadlessHost::attach(Game& g) { game_ = &g; }

void HeadlessHost::setMark(MenuItem item, bool on) { marks_[item] = on; }
void HeadlessHost::setTimerPhase(int phase) { timerPhase_ = phase; }
void HeadlessHost::setName(std::string name) { name_ = std::move(name); }

void HeadlessHost::setJoysticks(int attached) {
    for (int j = 0; j < int(joysticks_.size()); ++j) {
        joysticks_[j] = JoyReading{};
        joysticks_[j].attached = j < attached;
    }
}

JoyReading HeadlessHost::joystick(int j) const {
    if (j < 0 || j >= int(joysticks_.size())) return JoyReading{};
    return joysticks_[j];
}

std::string HeadlessHost::caption(Label label) const {
    auto it = captions_.find(label);
    return it == captions_.end() ? std::string() : it->second;
}

bool HeadlessHost::checked(MenuItem item) const {
    auto it = marks_.find(item);
    return it != marks_.end() && it->second;
}

void HeadlessHost::setCaption(Label label, const std::string& text) { captions_[label] = text; }

std::string HeadlessHost::recordPrompt() {
    ++prompts_;
    return name_;
}

long HeadlessHost::playGame(int number, const std::vector<ScriptEvent>& events, long stepLimit) {
    playing_ = true;
    gameNumber_ = number;
    events_ = &events;
    nextEvent_ = 0;
    steps_ = 0;
    yieldedAfter_ = -1;
    stepLimit_ = stepLimit;
    scriptTicks_ = feed_ != nullptr;   // a feed brings the countdown's ticks as events
    for (const ScriptEvent& e : events)
        if (e.kind == ScriptEvent::Kind::Tick) scriptTicks_ = true;

    startCommand(*game_);

    playing_ = false;
    events_ = nullptr;
    std::vector<int> sounds = sound_.take();
    if (trace_) writeEndObject(*trace_, number, steps_, game_->w, sounds);
    return steps_;
}

void HeadlessHost::stepDone() {
    if (!playing_) return;
    ++steps_;
    std::vector<int> sounds = sound_.take();
    if (trace_) writeStepObject(*trace_, gameNumber_, steps_, game_->w, game_->rng.draws(), sounds);
    if (feed_) feed_->afterStep(steps_);
}

// The yield after step k (k = 0: the one after the setup): the script's events for step k + 1
// in script order, then the countdown's tick when k is the timer's phase plus a whole number of
// seconds, then the step limit, last so that a tick due in the same yield still ends the game
// the countdown's way.
void HeadlessHost::yield() {
    ++tick_;   // one tick per yield: the frame loop runs one step after every yield
    if (!playing_ || yieldedAfter_ == steps_) return;
    yieldedAfter_ = steps_;

    const long upcoming = steps_ + 1;
    if (feed_) {
        std::vector<ScriptEvent> merged;
        const bool goOn = feed_->eventsFor(upcoming, merged);
        for (const ScriptEvent& e : merged) deliver(e);
        if (!goOn) game_->w.running = 0;
    } else {
        const std::vector<ScriptEvent>& events = *events_;
        for (; nextEvent_ < events.size() && events[nextEvent_].step <= upcoming; ++nextEvent_)
            if (events[nextEvent_].step == upcoming) deliver(events[nextEvent_]);
    }

    if (!scriptTicks_ && steps_ >= timerPhase_ && (steps_ - timerPhase_) % kStepsPerSecond == 0)
        countdownTick(*game_);

    if (steps_ >= stepLimit_) game_->w.running = 0;
}

void HeadlessHost::deliver(const ScriptEvent& e) {
    switch (e.kind) {
    case ScriptEvent::Kind::KeyDown: keyDown(game_->w, e.keyCode, e.mask); break;
    case ScriptEvent::Kind::KeyUp: keyUp(game_->w, e.keyCode, e.mask); break;
    case ScriptEvent::Kind::Menu: marks_[e.item] = !checked(e.item); break;
    case ScriptEvent::Kind::Tick: countdownTick(*game_); break;
    case ScriptEvent::Kind::Joy: {
        JoyReading& j = joysticks_[e.joystick];
        j.x = e.x;
        j.y = e.y;
        j.buttons = e.buttons;
        break;
    }
    }
}

namespace {

bool readFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    text = s.str();
    return !in.bad();
}

}  // namespace

namespace {

// The script's joysticks as the joystick module reads them: two ids, each usable when the
// script attached it, over the usual range 0..65535.
class HeadlessJoysticks : public JoystickService {
public:
    explicit HeadlessJoysticks(const HeadlessHost& host) : host_(host) {}
    int numDevs() override { return 2; }
    bool position(int id, Reading& out) override {
        const JoyReading j = host_.joystick(id);
        if (!j.attached) return false;
        out = {j.x, j.y, j.buttons};
        return true;
    }
    bool capabilities(int id, Range& out) override {
        if (!host_.joystick(id).attached) return false;
        out = {0, 65535, 0, 65535};
        return true;
    }

private:
    const HeadlessHost& host_;
};

}  // namespace

void applySetting(HeadlessHost& host, const ScriptCommand& c) {
    static const MenuItem playerItems[] = {MenuItem::Player1, MenuItem::Player2,
                                           MenuItem::Player3, MenuItem::Player4};
    static const MenuItem optionItems[] = {MenuItem::LiveCamera, MenuItem::SmallScreen,
                                           MenuItem::SimpleDisplay, MenuItem::Wireframe};
    switch (c.kind) {
    case ScriptCommand::Kind::Players:
        for (int i = 0; i < 4; ++i) host.setMark(playerItems[i], c.marks[i]);
        break;
    case ScriptCommand::Kind::Options:
        for (int i = 0; i < 4; ++i) host.setMark(optionItems[i], c.marks[i]);
        break;
    case ScriptCommand::Kind::Timer: host.setTimerPhase(c.timerPhase); break;
    case ScriptCommand::Kind::Name: host.setName(c.name); break;
    default: break;
    }
}

bool applyStartValue(Game& g, const ScriptCommand& c, std::string& problem) {
    if (c.kind == ScriptCommand::Kind::Draws) {
        if (uint64_t(c.draws) < g.rng.draws()) {
            problem = "the generator has already taken " + std::to_string(g.rng.draws()) + " draws";
            return false;
        }
        g.rng.advanceTo(uint64_t(c.draws));
    }
    if (c.kind == ScriptCommand::Kind::Set) setCarriedValue(g.w, c.setName, c.setIndex, c.setValue);
    return true;
}

void reportGame(std::ostream& out, int number, long steps, const World& w) {
    out << "game " << number << ": score " << w.score << ", " << steps << " steps\n";
}

namespace {

// The script's own commands in order: settings, start values, and its games.
int playScript(const Script& script, HeadlessHost& host, Game& g, const HeadlessOptions& o,
               std::ostream& out, std::ostream& err) {
    int games = 0;
    for (const ScriptCommand& c : script.commands) {
        std::string problem;
        if (!applyStartValue(g, c, problem)) {
            err << o.script << ":" << c.line << ": " << problem << "\n";
            return 2;
        }
        applySetting(host, c);
        if (c.kind == ScriptCommand::Kind::Game) {
            ++games;
            const long steps = host.playGame(games, c.events, o.stepLimit);
            reportGame(out, games, steps, g.w);
        }
    }
    return 0;
}

}  // namespace

int runHeadless(const HeadlessOptions& o, std::ostream& out, std::ostream& err,
                const HeadlessGames& games) {
    std::string text;
    if (!readFile(o.script, text)) {
        err << o.script << ": cannot read the script\n";
        return 1;
    }
    Script script;
    ScriptError error;
    if (!parseScript(text, script, error)) {
        err << o.script << ":" << error.line << ": " << error.message << "\n";
        return 2;
    }

    std::unique_ptr<std::ofstream> trace;
    if (!o.trace.empty()) {
        trace = std::make_unique<std::ofstream>(o.trace, std::ios::binary | std::ios::trunc);
        if (!*trace) {
            err << o.trace << ": cannot write the trace\n";
            return 1;
        }
    }

    RecordingSound sound;
    HeadlessHost host(sound, trace.get());
    host.setJoysticks(script.joysticks);
    Game g(host, sound, o.dir);
    host.attach(g);

    // The window's start-up: joystick detection, then the records.
    HeadlessJoysticks joysticks(host);
    g.joysticks = &joysticks;
    detectJoystick(g.controller, &joysticks, kJoystickMargin);
    const RecordsPlace place = recordsPlace(o.dir);
    Records records;
    std::string problem;
    if (!loadRecords(place.readPath, records, problem)) {
        err << problem << "\n";
        return 1;
    }
    takeRecords(g.w, records);

    const int code = games ? games(script, host, g, out, err) : playScript(script, host, g, o, out, err);
    if (code != 0) return code;
    closeHandler(g);
    if (!saveRecords(place.writePath, recordsOf(g.w), problem)) {
        err << problem << "\n";
        return 1;
    }
    out << "records: solo " << g.w.hiScoreSolo << " " << jsonString(g.w.hiNameSolo) << ", coop "
        << g.w.hiScoreCoop << " " << jsonString(g.w.hiNameCoop) << "\n";

    if (trace) {
        trace->flush();
        if (!*trace) {
            err << o.trace << ": writing the trace failed\n";
            return 1;
        }
    }
    return 0;
}

}  // namespace hopshot
