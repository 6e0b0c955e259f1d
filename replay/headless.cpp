#include "replay/headless.h"

#include "game/game_routine.h"
#include "controls/keyboard.h"
#include "game/lifecycle.h"
#include "controls/joystick.h"
#include "replay/trace.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    const std::vector<ScriptEvent>& events = *events_;
    for (; nextEvent_ < events.size() && events[nextEvent_].step <= upcoming; ++nextEvent_)
        if (events[nextEvent_].step == upcoming) deliver(events[nextEvent_]);

    if (steps_ >= timerPhase_ && (steps_ - timerPhase_) % kStepsPerSecond == 0)
        countdownTick(*game_);

    if (steps_ >= stepLimit_) game_->w.running = 0;
}

void HeadlessHost::deliver(const ScriptEvent& e) {
    switch (e.kind) {
    case ScriptEvent::Kind::KeyDown: keyDown(game_->w, e.keyCode, e.mask); break;
    case ScriptEvent::Kind::KeyUp: keyUp(game_->w, e.keyCode, e.mask); break;
    case ScriptEvent::Kind::Menu: marks_[e.item] = !checked(e.item); break;
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

// With the system's own calls: a stream opens a directory and reads it as an empty script,
// which would run nothing and still rewrite the records.
bool readFile(const std::string& path, std::string& text, std::string& why) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        why = "it is a directory";
        return false;
    }
    char buf[65536];
    ssize_t n = 0;
    while ((n = ::read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) text.append(buf, std::size_t(n));
    const int readError = n < 0 ? errno : 0;
    ::close(fd);
    if (readError != 0) why = std::strerror(readError);
    return readError == 0;
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

int runHeadless(const HeadlessOptions& o, std::ostream& out, std::ostream& err) {
    std::string text, why;
    if (!readFile(o.script, text, why)) {
        err << o.script << ": cannot read the script: " << why << "\n";
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
    removeSaveLeftovers(place.writePath);
    Records records;
    std::string problem;
    if (!loadRecords(place.readPath, records, problem)) {
        err << problem << "\n";
        return 1;
    }
    takeRecords(g.w, records);

    static const MenuItem playerItems[] = {MenuItem::Player1, MenuItem::Player2,
                                           MenuItem::Player3, MenuItem::Player4};
    static const MenuItem optionItems[] = {MenuItem::LiveCamera, MenuItem::SmallScreen,
                                           MenuItem::SimpleDisplay, MenuItem::Wireframe};
    int games = 0;
    for (const ScriptCommand& c : script.commands) {
        switch (c.kind) {
        case ScriptCommand::Kind::Players:
            for (int i = 0; i < 4; ++i) host.setMark(playerItems[i], c.marks[i]);
            break;
        case ScriptCommand::Kind::Options:
            for (int i = 0; i < 4; ++i) host.setMark(optionItems[i], c.marks[i]);
            break;
        case ScriptCommand::Kind::Timer: host.setTimerPhase(c.timerPhase); break;
        case ScriptCommand::Kind::Name: host.setName(c.name); break;
        case ScriptCommand::Kind::Game: {
            ++games;
            for (const std::string& line :
                 missingJoysticks(host.checked(MenuItem::Player3), host.checked(MenuItem::Player4),
                                  &joysticks))
                err << line << "\n";
            const long steps = host.playGame(games, c.events, o.stepLimit);
            out << "game " << games << ": score " << g.w.score << ", " << steps << " steps\n";
            break;
        }
        }
    }
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
