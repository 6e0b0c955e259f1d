// The headless shell: the real game with no window, no picture and no sound device, stepped as
// fast as it goes on a virtual clock that advances one tick a step. A replay script stands in for
// the player: its events reach the game before the steps it names.
#pragma once

#include "core/game.h"
#include "play/feed.h"
#include "play/input.h"
#include "play/script.h"

#include <array>
#include <functional>
#include <cstdint>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace hopshot {

struct HeadlessOptions {
    std::string script;
    std::string trace;        // empty: no trace
    std::string dir = ".";    // the program directory: meshes and the high-score file
    bool recordsInDataHome = false;   // installed: the high-score file in the data home only
    long stepLimit = 0;       // a game still running after this many steps is stopped; 0: none
                              // given, so 3000, or as far as a game's own countdown ticks go
};

class HeadlessHost;

// Who plays the games of a headless run once the script is read and the window's start-up is
// done: by default the script's own commands; network play brings its own. Returns an exit code.
using HeadlessGames = std::function<int(const Script& script, HeadlessHost& host, Game& g,
                                        std::ostream& out, std::ostream& err)>;

// Runs a whole script: parses it first (an error runs nothing), then its games in order, then the
// close handler. Prints a line per game and the records to `out`, errors to `err`. Returns the
// process exit code: 0 done, 1 a file that cannot be read or written, 2 an error in the script.
int runHeadless(const HeadlessOptions& o, std::ostream& out, std::ostream& err,
                const HeadlessGames& games = {});

// The sound of a headless run: nothing is heard, every bank played is noted for the trace. In
// the window it passes every bank on to the sound that is heard.
class RecordingSound : public SoundOut {
public:
    explicit RecordingSound(SoundOut* passOn = nullptr) : passOn_(passOn) {}
    void play(int bank) override {
        pending_.push_back(bank);
        if (passOn_) passOn_->play(bank);
    }
    std::vector<int> take();   // the banks played since the last take, in order

private:
    SoundOut* passOn_;
    std::vector<int> pending_;
};

class HeadlessHost : public Host {
public:
    // With a trace stream, one object goes there after every frame step and after every game.
    explicit HeadlessHost(RecordingSound& sound, std::ostream* trace = nullptr);

    void attach(Game& g);   // the one game this host drives; before the first playGame

    // --- what the script sets between games ---
    void setMark(MenuItem item, bool on);
    void setTimerPhase(int phase);          // 1..50: the tick after steps phase, phase + 50, ...
    void setName(std::string name);         // typed into every later record prompt
    void setJoysticks(int attached);        // 0..2, all centred with no buttons

    // The Start command with the given events (ordered by step), as game number `number` of the
    // run. Writes the end object after the teardown; returns the frame steps the game ran.
    // stepLimit 0: none given (see scriptStepLimit).
    long playGame(int number, const std::vector<ScriptEvent>& events, long stepLimit);
    // The same with the events of another source (network play), stopped after stepLimit steps,
    // with the rollback beside the game when it runs steps ahead of their events (null: none).
    long playGame(int number, InputSource& source, long stepLimit, Rollback* rollback = nullptr);

    // Called after every game's teardown (the records it may have set are saved there).
    void afterEachGame(std::function<void()> done) { afterEachGame_ = std::move(done); }

    ScriptJoysticks& joysticks() { return joysticks_; }
    int timerPhase() const { return timerPhase_; }

    // --- what the window would show, and what the joystick module will read ---
    JoyReading joystick(int j) const;       // j = 0 or 1
    std::string caption(Label label) const;
    bool titleShown() const { return titleShown_; }
    int promptsShown() const { return prompts_; }

    // --- Host ---
    bool checked(MenuItem item) const override;
    void setCaption(Label label, const std::string& text) override;
    void show3DView() override { titleShown_ = false; }
    void showTitle() override { titleShown_ = true; }
    void clearWindowSurface() override {}
    scene::Window* picture1() override { return nullptr; }
    int32_t tickCount() override { return tick_; }
    void askRecordName(RecordKind kind) override;   // answered at once with the script's name
    void stepDone() override;

private:
    // The turn before the next step, after waiting up to `waitMs` for what comes from outside.
    InputSource::Turn turn(int waitMs);

    RecordingSound& sound_;
    std::ostream* trace_;
    std::function<void()> afterEachGame_;
    Game* game_ = nullptr;

    std::map<MenuItem, bool> marks_;
    std::map<Label, std::string> captions_;
    ScriptJoysticks joysticks_;
    std::string name_;
    int timerPhase_ = kDefaultTimerPhase;
    bool titleShown_ = true;
    int prompts_ = 0;
    int32_t tick_ = 0;

    // --- the game being played ---
    bool playing_ = false;
    int gameNumber_ = 0;
    ScriptInput script_;
    std::unique_ptr<GameInput> input_;
    long steps_ = 0;
};

}  // namespace hopshot
