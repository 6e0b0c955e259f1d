// Form1: the game's one window. It owns the Game for its whole life, turns Qt's events into the
// game's own calls (menu commands, key handlers, the one-second tick) and shows what the game asks
// for (captions, check marks, the 3D view or the title picture, the record prompt). Its games
// run on its own clock: a timer of Qt's own event loop steps the match (see playTurn).
#pragma once

#include "core/game.h"
#include "core/host.h"
#include "game/match.h"
#include "audio/sound.h"
#include "app/options.h"
#include "records/records.h"
#include "play/headless.h"
#include "play/input.h"
#include "play/script.h"

#include <QMainWindow>
#include <QTimer>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <ostream>
#include <map>
#include <set>

class QAction;
class QLabel;
class QKeyEvent;

namespace hopshot {

class GLView;
class NetSeat;
class ScreenArea;
class SdlJoysticks;
struct NetChoice;

// What the window reaches beyond itself. The program uses them all; window tests leave them off
// so that no sound device opens and no high-score file is touched.
struct Form1Services {
    bool sound = false;       // open the sound device and load the eight banks
    bool joysticks = false;   // read the system's joysticks
    bool records = false;     // read the high-score file at start, write it at close
    QString recordsDir;       // where the high-score file lives; empty: the program directory
    // Installed: the high-score file is read and written in the data home only (an older one
    // beside the program is read until there is one there), and the current folder is left alone.
    bool recordsInDataHome = false;
};

// What the window writes down of its games, and where (see form1_replay.cpp).
struct Form1Recording {
    std::string recordFile;   // the whole run, written game by game (--record)
    std::string keptGames;    // the folder where the last games are kept; empty: none kept
    std::string trace;        // the state after every frame step (--trace)
};

struct RecordingState;
struct ReplayState;

class Form1 : public QMainWindow, public Host {
    Q_OBJECT
public:
    // programDir: where the title picture and the meshes are; the program passes its own.
    Form1(const WindowPresets& presets, const QString& programDir, Form1Services services = {},
          QWidget* parent = nullptr);
    ~Form1() override;

    // The load handler, before the window is first shown: the sound device and the banks, the
    // joysticks, the records. False when the program must end (a message box has said why).
    bool load();

    Game& game() { return game_; }

    // Network play: hosts or joins now. False when that cannot be: `error` says why, or with
    // none given a message box has.
    bool openNetwork(const NetChoice& choice, std::string* error = nullptr);
    NetSeat* netSeat() const { return net_.get(); }   // null: no network play yet
    // How large the window opens, the size the 3D view is drawn at, calm drawing. Before show().
    void setScreen(const ScreenOptions& options);
    // Writing games down: after load(). False when a file cannot be written (error says which).
    bool startRecording(const Form1Recording& r, std::string& error);
    // Showing a recorded script instead of playing: before load(), which then reads its
    // joysticks; the games start with runReplay() once the window shows. The live keys, the
    // joysticks, the menus and the one-second timer no longer reach the game.
    bool startReplay(const Script& script, const std::string& trace, std::string& error);
    void runReplay();
    bool replaying() const { return replay_ != nullptr; }

    // Host
    bool checked(MenuItem item) const override;
    void setCaption(Label label, const std::string& text) override;
    void show3DView() override;
    void showTitle() override;
    void clearWindowSurface() override;
    scene::Window* picture1() override;
    int32_t tickCount() override;
    // Opens the record prompt ("NewRecord!") over the game's last picture and returns: the game
    // waits in it, asking for a name, and its teardown follows the answer.
    void askRecordName(RecordKind kind) override;
    void stepDone() override;

    bool ended() const { return ended_; }      // the close handler has run: the program is over
    bool playing() const { return playing_; }  // a game is on the window's clock (or asks a name)

    // The window is gone from under the program (destroyed from outside): the close handler
    // runs as for Quit, and a failed save is told on standard error, with no box.
    void windowLost();
    // The display is gone and the program is ending inside the toolkit: the close handler, and
    // the game that was running written down where it stopped.
    void displayLost();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void startChosen();
    void quitChosen();
    void timer1Tick();
    // The record displays: a box with the holder's name and the score.
    void showSoloRecord();
    void showCoopRecord();
    void toggleFullScreen();   // F11

private:
    void buildControls(const QString& programDir);
    void buildMenus(const WindowPresets& presets);
    void keyEvent(const QKeyEvent& event);
    // The window's own keys in a game (pause_and_help.cpp): P and Pause pause and go on, F1 shows
    // the controls. True: the key was one of them (its press and its release never reach the game).
    bool ownKey(const QKeyEvent& event);
    void togglePause();
    void toggleHelp();
    void buildOverlays();
    void hideOverlays();   // the game is over: no mark stays
    void coverPicture();   // the 3D picture goes beneath the mark or the help while either is up
    QString helpText() const;
    void showPauseMark(bool on);   // the pause mark, with the words for this machine

public:
    // Pausing: no frame step and no countdown tick while paused, the picture kept with a mark
    // over it. In a network game the host's pause holds every machine.
    void setPaused(bool on);
    bool paused() const { return paused_; }

    // What a network seat asks of the window. The players' check marks as the menu shows them,
    // and set without telling anyone (the roster's answer, not the player's choice).
    std::array<bool, kPlayers> menuPlayers() const;
    void showMenuPlayers(const std::array<bool, kPlayers>& marks);
    std::array<bool, 4> screenMarks() const;   // live camera, small screen, simple, wireframe
    InputSource& ownInput() { return local_; }   // the window's keys, timer and menus
    JoystickService* ownJoysticks();             // the system's joysticks; null: none read
    void warn(const std::string& text);          // a warning box
    // One game from `source` to its end, written down like any game (the kept games, --record,
    // --trace) with `first` as its first events, its joystick events setting `joysticks`.
    // `stoppedBy` is asked at the end why the game was stopped from outside (empty: it was not).
    // The game runs on the window's clock: playFrom returns at once, and `then` runs once the
    // game is over and written down (also when the program ended during it).
    // `rollback`: the one beside a game that runs steps ahead of their events (null: none).
    void playFrom(InputSource& source, Rollback* rollback, long stepLimit, ScriptJoysticks* joysticks,
                  const std::vector<ScriptEvent>& first, std::function<std::string()> stoppedBy,
                  std::function<void()> then);
    // Something a waiting game may have waited for came (a network game's commands): the next
    // pass of the game's clock runs now rather than at the next tick.
    void wakeGame();

private:
    bool promptKeyEvent(const QKeyEvent& event);
    void showRecord(const QString& title, const std::string& name, int32_t score);

    // Every event of this window reaches the game here: queued, and handed over at the next
    // pass of the game's clock while a game runs, at once between games.
    void takeEvent(const ScriptEvent& e);
    void applyQueued();
    // A game's input begins: from `source`, stopped after stepLimit steps (0: none), its joystick
    // events setting `joysticks`, its menu events flipping the marks when `flipMarks` (live, Qt
    // has flipped them already).
    void beginInput(InputSource& source, long stepLimit, ScriptJoysticks* joysticks, bool flipMarks,
                    Rollback* rollback = nullptr);
    void endInput();

    // The game on the window's clock. beginPlay sets the game up and sets the clock going;
    // playTurn is one pass of it; finishPlay tears the game down (unless the program ended),
    // writes it down and runs `afterPlay_`.
    void beginPlay(InputSource& source, long stepLimit, ScriptJoysticks* joysticks, bool flipMarks,
                   std::function<void()> then, Rollback* rollback = nullptr);
    void playTurn();
    void inputTurn();  // the turn before the next step: corrections, then its commands
    void nextTurn();   // the next pass, at the clock's next tick
    void finishPlay();
    void promptAnswered(bool accepted);

    // Recording and replay (form1_replay.cpp).
    void beforeGame();
    void afterGame();
    void saveNewRecords();   // the records, when a game changed them, to the file at once
    void noteEvent(ScriptEvent e);   // an event that reached the running game
    void replayKey(const QKeyEvent& event);
    void nextReplayGame();   // the script's settings up to its next game, and that game started
    int replayWaitMs();      // until the replay clock's next tick; -1 while paused
    void showReplayState();
    int32_t replayTicks();
    std::string replayPrompt();
    QAction* markAction(MenuItem item) const;
    int64_t realMs() const;

    const QString programDir_;
    const Form1Services services_;
    std::unique_ptr<MessageBoxes> boxes_;
    std::unique_ptr<AudioService> audio_;
    std::unique_ptr<Dx7DSndSupport> soundModule_;
    SoundBanks soundBanks_;              // silent until loaded, and with --nosound
    RecordingSound heard_{&soundBanks_}; // every bank played, passed on and noted for a trace
    std::unique_ptr<SdlJoysticks> joysticks_;
    RecordsPlace recordsPlace_;
    Records savedRecords_;               // as the file holds them: a game that sets a record saves
    Game game_;                          // after heard_: it holds a reference to it
    LocalInput local_;                   // what the window's handlers read, in arrival order
    GameInput input_;                    // the running game's input, from local_ or elsewhere
    bool flipMarks_ = false;
    std::string stoppedBy_;              // why the game that ends was stopped from outside it
    std::unique_ptr<RecordingState> recording_;
    std::unique_ptr<ReplayState> replay_;
    int gameNumber_ = 0;                 // games started by this window, counted from 1
    long steps_ = 0;                     // frame steps of the game running, or of the last one
    std::unique_ptr<std::ostream> trace_;   // --trace: the state after every step; null: none

    ScreenArea* screen_ = nullptr;       // the client area: the picture scaled to fit
    GLView* picture1_ = nullptr;
    QLabel* label1_ = nullptr;           // time
    QLabel* label2_ = nullptr;           // score
    QLabel* image1_ = nullptr;           // the title picture
    QLabel* pauseMark_ = nullptr;        // over the picture while paused
    QLabel* help_ = nullptr;             // the controls, over the picture (F1)
    bool paused_ = false;
    bool helpPaused_ = false;            // the help paused the game and goes on when it goes
    QTimer* timer1_ = nullptr;           // the one-second countdown tick

    // Check marks the game setup reads: "１Ｐ".."４Ｐ", then the four screen options.
    std::array<QAction*, kPlayers> players_{};
    QAction* liveCamera_ = nullptr;
    QAction* smallScreen_ = nullptr;
    QAction* simpleDisplay_ = nullptr;
    QAction* wireframe_ = nullptr;

    // The game's clock: ticks of 20 ms since the window was made. turn_ runs the next pass at
    // the next tick boundary, or at once when something the game waits for comes.
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    QTimer turn_;
    Match match_{game_};
    bool playing_ = false;               // from the game's setup to its teardown
    std::function<void()> afterPlay_;    // what follows the game being played
    std::function<std::string()> stoppedByOf_;   // asked as it ends why it was stopped from outside

    void endProgram();        // the close handler, once
    bool ended_ = false;      // the close handler has run: the program is over
    bool windowGone_ = false; // nothing can be shown any more

    // Keys held in the window (by scan code), and while the record prompt is open, the keys it
    // does not take: those already down when it opened, until they are let go.
    std::set<quint32> keysDown_;
    QWidget* prompt_ = nullptr;          // the record prompt while it asks; null: none
    RecordKind promptKind_ = RecordKind::Solo;
    std::set<quint32> promptIgnores_;
    std::set<quint32> promptPressed_;   // pressed since it opened: their repeats type
    std::map<quint32, ulong> promptLetGo_;   // ignored keys let go, with the time they were
    std::chrono::steady_clock::time_point promptOpened_;

    std::unique_ptr<NetSeat> net_;   // network play; null when playing alone
};

}  // namespace hopshot
