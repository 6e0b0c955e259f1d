#include "play/headless.h"

#include "game/game_routine.h"
#include "controls/keyboard.h"
#include "game/lifecycle.h"
#include "game/match.h"
#include "controls/joystick.h"
#include "play/rollback.h"
#include "play/trace.h"

#include <algorithm>
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

void HeadlessHost::attach(Game& g) {
    game_ = &g;
    input_ = std::make_unique<GameInput>(g, &joysticks_,
                                         [this](MenuItem item) { marks_[item] = !checked(item); });
}

void HeadlessHost::setMark(MenuItem item, bool on) { marks_[item] = on; }
void HeadlessHost::setTimerPhase(int phase) { timerPhase_ = phase; }
void HeadlessHost::setName(std::string name) { name_ = std::move(name); }

void HeadlessHost::setJoysticks(int attached) { joysticks_.attach(attached); }

JoyReading HeadlessHost::joystick(int j) const { return joysticks_.reading(j); }

std::string HeadlessHost::caption(Label label) const {
    auto it = captions_.find(label);
    return it == captions_.end() ? std::string() : it->second;
}

bool HeadlessHost::checked(MenuItem item) const {
    auto it = marks_.find(item);
    return it != marks_.end() && it->second;
}

void HeadlessHost::setCaption(Label label, const std::string& text) { captions_[label] = text; }

void HeadlessHost::askRecordName(RecordKind kind) {
    ++prompts_;
    nameRecord(game_->w, kind, name_);
}

long HeadlessHost::playGame(int number, const std::vector<ScriptEvent>& events, long stepLimit) {
    script_.begin(events, timerPhase_);
    return playGame(number, script_,
                    scriptStepLimit(stepLimit, script_.scriptTicks(), script_.lastEventStep()));
}

long HeadlessHost::playGame(int number, InputSource& source, long stepLimit, Rollback* rollback) {
    playing_ = true;
    gameNumber_ = number;
    steps_ = 0;
    input_->begin(&source, stepLimit, {},
                  [this](long step, const World& w, uint64_t draws, const std::vector<int>& sounds) {
                      if (trace_) writeStepObject(*trace_, gameNumber_, step, w, draws, sounds);
                  },
                  rollback);

    // As fast as it goes: the turn before each step (GameInput::yieldAfter says the order) is
    // taken again, after a short wait for what comes from outside, until the step's commands are
    // in; then the step. The clock advances a tick a step.
    Match match(*game_);
    if (match.begin()) {
        for (;;) {
            ++tick_;
            // Waited out while the step's commands are not in and the game is not stopped: a game
            // at its step limit still waits, so that its last steps settle.
            for (InputSource::Turn t = turn(0); t != InputSource::Turn::Stop && !input_->nextStepIn(steps_);)
                t = turn(2);
            if (!match.running()) break;
            match.step();
            game_->w.lastTick = tick_;
            stepDone();
        }
        match.end();
    }

    playing_ = false;
    input_->end();
    std::vector<int> sounds = sound_.take();
    if (trace_) writeEndObject(*trace_, number, steps_, game_->w, sounds);
    if (afterEachGame_) afterEachGame_();
    return steps_;
}

InputSource::Turn HeadlessHost::turn(int waitMs) {
    input_->takeIn(waitMs);
    Rollback* rollback = input_->rollback();
    if (rollback && !input_->nextStepIn(steps_)) steps_ = rollback->correct();
    const InputSource::Turn t = input_->yieldAfter(steps_);
    if (t == InputSource::Turn::Stop && rollback) steps_ = rollback->stopAtSettled();
    return t;
}

void HeadlessHost::stepDone() {
    if (!playing_) return;
    ++steps_;
    input_->stepDone(steps_, sound_.take());
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

// The script's games through the headless host, each reported on one line.
class HeadlessFront : public ScriptFront {
public:
    HeadlessFront(HeadlessHost& host, Game& g, long stepLimit, std::ostream& out, std::ostream& err)
        : host_(host), g_(g), stepLimit_(stepLimit), out_(out), err_(err) {}
    void setMark(MenuItem item, bool on) override { host_.setMark(item, on); }
    void setName(const std::string& name) override { host_.setName(name); }
    bool playGame(int number, const ScriptCommand& game, int timerPhase) override {
        host_.setTimerPhase(timerPhase);
        for (const std::string& line : missingJoysticks(host_.checked(MenuItem::Player3),
                                                        host_.checked(MenuItem::Player4), g_.joysticks))
            err_ << line << "\n";
        const long steps = host_.playGame(number, game.events, stepLimit_);
        out_ << "game " << number << ": score " << g_.w.score << ", " << steps << " steps\n";
        return true;
    }

private:
    HeadlessHost& host_;
    Game& g_;
    long stepLimit_;
    std::ostream& out_;
    std::ostream& err_;
};

}  // namespace

int runHeadless(const HeadlessOptions& o, std::ostream& out, std::ostream& err,
                const HeadlessGames& games) {
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
    g.joysticks = &host.joysticks();
    detectJoystick(g.controller, g.joysticks, kJoystickMargin);
    const RecordsPlace place = o.recordsInDataHome ? recordsPlace(o.dir, false) : recordsPlace(o.dir);
    removeSaveLeftovers(place.writePath);
    Records records;
    std::string problem;
    if (!loadRecords(place.readPath, records, problem)) {
        err << problem << "\n";
        return 1;
    }
    takeRecords(g.w, records);
    // A record set is saved as soon as its game ends (and again at the end): a kill or a power
    // cut keeps it.
    host.afterEachGame([&] {
        if (recordsOf(g.w) == records) return;
        std::string failed;
        if (saveRecords(place.writePath, recordsOf(g.w), failed)) records = recordsOf(g.w);
        else err << failed << "\n";
    });

    int code = 0;   // what the games' player says of them; the records are saved all the same
    if (games) {
        code = games(script, host, g, out, err);
        if (code == 1 || code == 2) return code;
    } else {
        HeadlessFront front(host, g, o.stepLimit, out, err);
        if (!playScript(script, g, front, error)) {
            err << o.script << ":" << error.line << ": " << error.message << "\n";
            return 2;
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
    return code;
}

}  // namespace hopshot
