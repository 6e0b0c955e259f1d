// Form1's recording and replay: every event that reaches a game goes to the recorder; a replay
// feeds the game from a script instead, on a clock that can pause, step and change speed.
#include "app/form1.h"

#include "app/form1_replay.h"
#include "app/net_seat.h"
#include "app/screen_area.h"
#include "game/lifecycle.h"
#include "play/kept_games.h"
#include "play/trace.h"

#include <QAction>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <ctime>
#include <iostream>

namespace hopshot {

namespace {

bool openTrace(const std::string& path, std::unique_ptr<std::ostream>& trace, std::string& error) {
    if (path.empty()) return true;
    auto file = std::make_unique<std::ofstream>(path, std::ios::binary | std::ios::trunc);
    if (!*file) {
        error = path + ": cannot write the trace";
        return false;
    }
    trace = std::move(file);
    return true;
}

// The title picture's lines on starting and stopping a game (Ctrl+S, Esc stops a game) do
// nothing in a replay: a band over them says what its keys do. Places on the 640 x 480 picture.
void paintReplayKeys(QPainter& p) {
    const QRectF band(84, 321, 472, 69);   // covers both lines and their own bands
    p.setPen(QPen(QColor(255, 255, 255, 150), 1.5));
    p.setBrush(QColor(10, 14, 40));
    p.drawRoundedRect(band, 18, 18);
    QFont big(QStringLiteral("IPAPGothic"));
    big.setPixelSize(19);
    big.setBold(true);
    p.setFont(big);
    p.setPen(QColor(255, 232, 90));
    p.drawText(QRectF(band.left(), band.top() + 6, band.width(), 30), Qt::AlignCenter,
               Form1::tr("A replay  ·  Esc leaves"));
    QFont small = big;
    small.setPixelSize(14);
    p.setFont(small);
    p.setPen(QColor(240, 244, 255));
    p.drawText(QRectF(band.left(), band.top() + 38, band.width(), 24), Qt::AlignCenter,
               Form1::tr("P pauses  ·  N one step while paused  ·  + and − speed"));
}

QString speedText(int exponent) {
    if (exponent >= 0) return QStringLiteral("%1x").arg(1 << exponent);
    return QStringLiteral("1/%1x").arg(1 << -exponent);
}

}  // namespace

int64_t Form1::realMs() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now() - start_).count();
}

// --- recording ---

bool Form1::startRecording(const Form1Recording& r, std::string& error) {
    auto state = std::make_unique<RecordingState>();
    if (!r.recordFile.empty()) {
        state->recordFile.open(r.recordFile, std::ios::binary | std::ios::trunc);
        state->recordFile << Recorder::runHeader();
        state->recordFile.flush();
        if (!state->recordFile) {
            error = r.recordFile + ": cannot write the recording";
            return false;
        }
        state->recordPath = r.recordFile;
    } else {
        state->keptGames = r.keptGames;
        if (!r.keptGames.empty()) removeWritingLeftovers(r.keptGames);   // of games cut off
    }
    if (!openTrace(r.trace, trace_, error)) return false;
    state->tap = std::make_unique<JoystickTap>(game_.joysticks, game_.controller, state->recorder);
    game_.joysticks = state->tap.get();
    recording_ = std::move(state);
    return true;
}

void Form1::beforeGame() {
    ++gameNumber_;
    steps_ = 0;
    heard_.take();
    if (!recording_) return;
    GameStart start;
    const MenuItem players[] = {MenuItem::Player1, MenuItem::Player2, MenuItem::Player3,
                                MenuItem::Player4};
    const MenuItem options[] = {MenuItem::LiveCamera, MenuItem::SmallScreen,
                                MenuItem::SimpleDisplay, MenuItem::Wireframe};
    for (int i = 0; i < 4; ++i) {
        start.players[i] = checked(players[i]);
        start.options[i] = checked(options[i]);
    }
    start.draws = game_.rng.draws();
    start.carried = carriedValues(game_.w);
    recording_->recorder.gameStarts(start);
    recording_->tap->gameStarts();
    recording_->tap->setStep(1);
}

// An event handed over in the turn after step k reached the game before step k + 1.
void Form1::noteEvent(ScriptEvent e) {
    if (!recording_ || !recording_->recorder.inGame()) return;
    if (!input_.predicting()) e.step = steps_ + 1;   // a settled step's events carry their own
    recording_->recorder.event(e);
}

void Form1::stepDone() {
    ++steps_;
    input_.stepDone(steps_, heard_.take());
    if (recording_) recording_->tap->setStep(steps_ + 1);
    if (replay_) showReplayState();
}

// A record set is saved at once (and again at close): a kill or a power cut keeps it. A record
// reached in a replay is no record.
void Form1::saveNewRecords() {
    if (!services_.records || replay_ || recordsOf(game_.w) == savedRecords_) return;
    std::string error;
    if (saveRecords(recordsPlace_.writePath, recordsOf(game_.w), error)) savedRecords_ = recordsOf(game_.w);
    else std::cerr << "hopshot: " << error << "\n";
}

// The game is over, or the program ended inside it. Its lines go to the recording of the run,
// or into the folder of kept games; a game that ran no step is not worth keeping.
void Form1::afterGame() {
    const bool finished = !ended_;
    if (finished) saveNewRecords();
    if (trace_) {
        if (finished) writeEndObject(*trace_, gameNumber_, steps_, game_.w, heard_.take());
        trace_->flush();
    }
    if (!recording_) return;
    RecordingState& r = *recording_;
    r.tap->setStep(0);
    // A game stopped from outside its own events is written with where it stopped.
    const std::string stoppedBy = finished ? stoppedBy_ : "the program was closed";
    stoppedBy_.clear();
    const RecordedGame game = r.recorder.gameEnded(game_.w, steps_, finished, stoppedBy);
    if (!r.recordPath.empty()) {
        r.recordFile << game.inRun;
        r.recordFile.flush();
        if (!r.recordFile) std::cerr << "hopshot: " << r.recordPath << ": writing the recording failed\n";
    } else if (!r.keptGames.empty() && game.steps > 0) {
        std::string error;
        if (!keepGame(r.keptGames, game.alone, std::time(nullptr), game.score, kKeptGames, error))
            std::cerr << "hopshot: the game is not kept: " << error << "\n";
    }
}

// --- replay ---

bool Form1::startReplay(const Script& script, const std::string& trace, std::string& error) {
    auto state = std::make_unique<ReplayState>();
    state->script = script;
    state->games = int(std::count_if(script.commands.begin(), script.commands.end(),
                                     [](const ScriptCommand& c) {
                                         return c.kind == ScriptCommand::Kind::Game;
                                     }));
    state->joysticks.attach(script.joysticks);
    if (!openTrace(trace, trace_, error)) return false;
    replay_ = std::move(state);
    game_.joysticks = &replay_->joysticks;
    // Nothing live reaches the game: no countdown of our own, no menu commands, no Start.
    timer1_->stop();
    if (auto* start = findChild<QAction*>(QStringLiteral("スタート"))) start->setEnabled(false);
    if (auto* settings = findChild<QMenu*>(QStringLiteral("設定"))) settings->setEnabled(false);
    screen_->paintOverTitle(paintReplayKeys);
    showReplayState();
    return true;
}

void Form1::runReplay() {
    // The script's settings set the window's check marks; its games run one after another, each
    // on the window's clock, the next one started once the last one is over.
    class Front : public ScriptFront {
    public:
        explicit Front(Form1& f) : f_(f) {}
        void setMark(MenuItem item, bool on) override { f_.markAction(item)->setChecked(on); }
        void setName(const std::string& name) override { f_.replay_->name = name; }
        bool playGame(int number, const ScriptCommand& game, int timerPhase) override {
            ReplayState& r = *f_.replay_;
            r.playing = number;
            r.input.begin(game.events, timerPhase);
            f_.gameNumber_ = number;
            f_.steps_ = 0;
            f_.heard_.take();
            f_.showReplayState();
            Form1& f = f_;
            f_.beginPlay(r.input, scriptStepLimit(0, r.input.scriptTicks(), r.input.lastEventStep()),
                         &r.joysticks, true, [&f] {
                             // Not inside the last game's end: from the event loop.
                             QTimer::singleShot(0, &f, [&f] { f.nextReplayGame(); });
                         });
            return true;
        }

        // The generator may take a while to move on: it goes a stretch at a time, back to the
        // event loop in between, so that the window stays live and closing it ends the replay.
        bool stillWanted() override { return false; }

    private:
        Form1& f_;
    };

    replay_->front = std::make_unique<Front>(*this);
    replay_->cursor = std::make_unique<ScriptCursor>(replay_->script);
    nextReplayGame();
}

void Form1::nextReplayGame() {
    if (ended_) return;
    ScriptError error;
    switch (replay_->cursor->next(game_, *replay_->front, error)) {
    case ScriptCursor::Next::Started: return;
    case ScriptCursor::Next::Stopped:   // the generator's next stretch, after the window's events
        QTimer::singleShot(0, this, [this] { nextReplayGame(); });
        return;
    case ScriptCursor::Next::Failed:
        std::cerr << "hopshot: line " << error.line << " of the replay: " << error.message << "\n";
        close();
        return;
    case ScriptCursor::Next::Over: break;
    }
    replay_->over = true;
    showReplayState();
}

QAction* Form1::markAction(MenuItem item) const {
    switch (item) {
    case MenuItem::Player1: return players_[0];
    case MenuItem::Player2: return players_[1];
    case MenuItem::Player3: return players_[2];
    case MenuItem::Player4: return players_[3];
    case MenuItem::LiveCamera: return liveCamera_;
    case MenuItem::SmallScreen: return smallScreen_;
    case MenuItem::SimpleDisplay: return simpleDisplay_;
    case MenuItem::Wireframe: return wireframe_;
    }
    return players_[0];
}

// The replay's own keys; nothing typed reaches the game.
void Form1::replayKey(const QKeyEvent& event) {
    if (event.type() != QEvent::KeyPress) return;
    ReplayClock& clock = replay_->clock;
    switch (event.key()) {
    case Qt::Key_P:
        if (!event.isAutoRepeat()) clock.togglePause(realMs());
        break;
    case Qt::Key_N: clock.stepOnce(game_.w.lastTick); break;
    case Qt::Key_Plus:
    case Qt::Key_Equal: clock.faster(realMs()); break;
    case Qt::Key_Minus:
    case Qt::Key_Underscore: clock.slower(realMs()); break;
    case Qt::Key_Escape: close(); return;
    default: return;
    }
    showReplayState();
    wakeGame();   // on the clock as it now runs
}

int Form1::replayWaitMs() {
    const int64_t wait = replay_->clock.msToNextTick(realMs());
    return wait < 0 ? -1 : int(std::min<int64_t>(wait, 1000));
}

// The replay's tick count: game time on the replay's own clock.
int32_t Form1::replayTicks() { return replay_->clock.ticksAt(realMs(), game_.w.lastTick); }

void Form1::showReplayState() {
    const ReplayState& r = *replay_;
    QString title = tr("HopShot replay");
    if (r.over) {
        title += tr(" - over, Esc leaves");
    } else if (r.playing > 0) {
        title += tr(" - game %1 of %2 - step %3").arg(r.playing).arg(r.games).arg(steps_);
    }
    title += QStringLiteral(" - ") + speedText(r.clock.speedExponent());
    if (r.clock.paused()) title += tr(" - paused (P resumes, N steps)");
    if (!r.prompted.empty()) title += tr(" - new record: %1").arg(QString::fromStdString(r.prompted));
    setWindowTitle(title);
    // A paused replay shows the mark a paused game shows, also where no caption is seen.
    showPauseMark(r.clock.paused() && !r.over);
}

std::string Form1::replayPrompt() {
    replay_->prompted = replay_->name.empty() ? tr("(no name)").toStdString() : replay_->name;
    showReplayState();
    return replay_->name;
}

}  // namespace hopshot
