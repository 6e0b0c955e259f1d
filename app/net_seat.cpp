#include "app/net_seat.h"

#include "app/form1.h"
#include "controls/joystick.h"
#include "game/game_routine.h"
#include "input/sdl_joysticks.h"
#include "net/world_hash.h"

#include <QApplication>
#include <QDateTime>
#include <QSignalBlocker>
#include <QDir>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <chrono>
#include <fstream>

namespace hopshot {

namespace {

constexpr int kTickMs = 20;
constexpr int kJoinWaitMs = 5000;

int64_t nowTick() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() / kTickMs;
}

}  // namespace

NetSeat::NetSeat(Form1& form, const NetChoice& choice) : form_(form), choice_(choice) {
    joysticks_.attach(2);
    pump_.setInterval(25);
    connect(&pump_, &QTimer::timeout, this, &NetSeat::pump);
}

NetSeat::~NetSeat() = default;

Players NetSeat::myPlayers() const {
    Players p{};
    for (int i = 0; i < kPlayers; ++i) p[size_t(i)] = form_.players_[size_t(i)]->isChecked();
    if (session_)   // the roster has the last word on what this machine brings
        for (const Machine& m : session_->roster())
            if (m.id == session_->self()) return m.players;
    return p;
}

bool NetSeat::open(std::string& error) {
    Players own{};
    for (int i = 0; i < kPlayers; ++i) own[size_t(i)] = form_.players_[size_t(i)]->isChecked();
    session_ = choice_.host
                   ? NetSession::host(choice_.port, own, programVersion(), error)
                   : NetSession::join(choice_.address, choice_.port, own, programVersion(),
                                      kJoinWaitMs, error);
    if (!session_) return false;
    // A packet wakes the window's event loop, also while a game waits in a yield.
    notifier_ = new QSocketNotifier(session_->socket(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &NetSeat::pump);
    pump_.start();
    showCaption();
    return true;
}

// The session's own business between the frame loop's turns: packets, machines coming and
// going, and on a guest the host's start of a game.
void NetSeat::pump() {
    if (!session_) return;
    session_->service(0);
    bool changed = false;
    for (const std::string& n : session_->takeNotices()) {
        lastNotice_ = n;
        changed = true;
    }
    if (!session_->isHost()) {
        // The marks follow what the host agreed this machine brings.
        const Players mine = myPlayers();
        for (int i = 0; i < kPlayers; ++i) {
            QSignalBlocker quiet(form_.players_[size_t(i)]);
            form_.players_[size_t(i)]->setChecked(mine[size_t(i)]);
        }
    }
    if (!inGame() && !starting_ && session_->over()) {
        const bool hostLeft = session_->hostLeft();
        leave();
        if (hostLeft) tellProblem("The host left: the network game is over.");
        return;
    }
    StartMessage m;
    if (!session_->isHost() && !inGame() && !starting_ && !QApplication::activeModalWidget() &&
        session_->takeStart(m)) {
        starting_ = true;
        // The game runs from the event loop, not inside this slot.
        QTimer::singleShot(0, this, [this, m] { play(m); });
    }
    if (changed || caption() != form_.windowTitle()) showCaption();
}

QString NetSeat::caption() const {
    if (!session_) return QStringLiteral("HopShot");
    const size_t machines = session_->roster().size();
    QString s = QStringLiteral("HopShot — ") +
                (session_->isHost() ? QStringLiteral("host") : QStringLiteral("guest")) +
                QStringLiteral(", %1 machine%2, players ").arg(machines).arg(machines == 1 ? "" : "s") +
                QString::fromStdString(playersList(session_->everyonesPlayers()));
    if (!lastNotice_.empty()) s += QStringLiteral(" — ") + QString::fromStdString(lastNotice_);
    return s;
}

void NetSeat::showCaption() { form_.setWindowTitle(caption()); }

void NetSeat::tellProblem(const std::string& text) {
    form_.boxes_->show(text, "HopShot", MessageBoxes::Icon::Warning);
}

bool NetSeat::keyEvent(int16_t code, int16_t mask, bool down) {
    if (!session_) return false;
    constexpr int16_t kEscape = 27;
    if (code == kEscape) {
        if (!down) return true;
        if (!session_->isHost()) {
            leave();   // Esc on a guest leaves the network game
        } else if (game_) {
            ScriptEvent e;
            e.kind = ScriptEvent::Kind::KeyDown;
            e.keyCode = code;
            e.mask = mask;
            game_->local(e);   // the host's Esc stops the game on every machine at one step
        }
        return true;
    }
    if (!game_) return true;   // between games keys move nothing: each game starts from the host's
    ScriptEvent e;
    e.kind = down ? ScriptEvent::Kind::KeyDown : ScriptEvent::Kind::KeyUp;
    e.keyCode = code;
    e.mask = mask;
    if (ownEvent(myPlayers(), e)) game_->local(e);
    return true;
}

bool NetSeat::countdownTick() {
    if (!session_) return false;
    if (session_->isHost() && game_) {
        ScriptEvent tick;
        tick.kind = ScriptEvent::Kind::Tick;
        game_->local(tick);
    }
    return true;   // a guest's countdown ticks come from the host
}

bool NetSeat::startChosen() {
    if (!session_) return false;
    if (!session_->isHost()) {
        lastNotice_ = "only the host starts a game";
        showCaption();
        return true;
    }
    if (game_ || starting_) return true;
    Game& g = form_.game_;
    StartMessage m;
    m.game = ++gamesStarted_;
    m.delay = choice_.delay > 0 ? choice_.delay : session_->autoDelay();
    for (const Machine& mc : session_->roster()) m.machines.push_back(mc.id);
    m.players = session_->everyonesPlayers();
    m.draws = g.rng.draws();
    m.carried = carriedValues(g.w);
    for (int j = 0; j < 2; ++j) {
        const JoyReading r = joysticks_.reading(j);
        m.joys[size_t(j)] = {r.x, r.y, r.buttons};
    }
    session_->startGame(m);
    play(m);
    return true;
}

void NetSeat::playersChanged() {
    if (!session_) return;
    Players wanted{};
    for (int i = 0; i < kPlayers; ++i) wanted[size_t(i)] = form_.players_[size_t(i)]->isChecked();
    const std::string problem = session_->setOwnPlayers(wanted);
    if (!problem.empty()) lastNotice_ = problem;
    for (int i = 0; i < kPlayers; ++i) {
        QSignalBlocker quiet(form_.players_[size_t(i)]);
        form_.players_[size_t(i)]->setChecked(myPlayers()[size_t(i)]);
    }
    showCaption();
}

std::optional<bool> NetSeat::checkedPlayer(int p) const {
    if (!start_) return std::nullopt;
    return start_->players[size_t(p)];
}

// One network game, run to its end: every machine starts it from the host's start.
void NetSeat::play(const StartMessage& m) {
    starting_ = false;
    if (!session_ || game_) return;
    Game& g = form_.game_;
    if (g.w.running != 0) return;
    start_ = m;
    g.rng.advanceTo(m.draws);
    takeCarried(g.w, m.carried);
    for (int j = 0; j < 2; ++j) {
        joysticks_.set(j, m.joys[size_t(j)].x, m.joys[size_t(j)].y, m.joys[size_t(j)].buttons);
        sentJoys_[size_t(j)] = joysticks_.reading(j);
    }
    // The players' passes read the joysticks as the events leave them, under the same dead zone
    // on every machine.
    JoystickService* own = g.joysticks;
    g.joysticks = &joysticks_;
    detectJoystick(g.controller, &joysticks_, kJoystickMargin);
    const std::array<bool, 4> options{form_.liveCamera_->isChecked(), form_.smallScreen_->isChecked(),
                                      form_.simpleDisplay_->isChecked(), form_.wireframe_->isChecked()};
    game_ = std::make_unique<NetGame>(*session_, m, options);
    stepsDone_ = sentFor_ = 0;
    granted_ = false;
    hash_ = 0;
    tick_ = 0;
    lastGrantTick_ = nowTick() - 1;
    showCaption();

    // Written down like any game (the kept games, --record, --trace): the events that reach it
    // are the merged ones, noted as they are handed over.
    form_.beforeGame();
    for (const ScriptEvent& e : startJoyEvents(m)) form_.noteEvent(e);
    startCommand(g);   // setup, the frame loop through our yields, the teardown
    form_.afterGame();

    const std::string stop = game_->stopReason();
    const bool desync = session_ && session_->desyncStep() != 0;
    std::string kept;
    if (desync || !choice_.replayOut.empty()) {
        const std::string replay = game_->keptReplay(g.w, stepsDone_);
        if (!choice_.replayOut.empty()) std::ofstream(choice_.replayOut, std::ios::binary) << replay;
        if (desync) kept = keepReplay(replay, m.game);
    }
    game_.reset();
    start_.reset();
    g.joysticks = own;
    detectJoystick(g.controller, own, kJoystickMargin);
    if (form_.ended()) return;   // the window closed during the game
    if (session_) session_->gameOver();
    if (leaving_) {
        leave();
        return;
    }
    if (!stop.empty()) {
        const bool hostLeft = session_ && session_->hostLeft();
        if (hostLeft) leave();
        std::string text = stop;
        text[0] = char(std::toupper(static_cast<unsigned char>(text[0])));
        if (!kept.empty()) text += ".\nIts replay is kept in " + kept;
        tellProblem(text + ".");
    }
    showCaption();
}

// A disagreed game's replay goes where the kept games go.
std::string NetSeat::keepReplay(const std::string& replay, int game) {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                  QStringLiteral("/hopshot/replays");
    QDir().mkpath(dir);
    const QString name = dir + QStringLiteral("/desync-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")) +
                         QStringLiteral("-game%1.replay").arg(game);
    std::ofstream(name.toStdString(), std::ios::binary) << replay;
    return name.toStdString();
}

void NetSeat::leave() {
    if (game_) {
        leaving_ = true;   // the running game stops at its next yield; then the seat is left
        return;
    }
    leaving_ = false;
    pump_.stop();
    delete notifier_;
    notifier_ = nullptr;
    session_.reset();
    lastNotice_.clear();
    form_.setWindowTitle(QStringLiteral("HopShot — left the network game"));
}

void NetSeat::afterYield() {
    if (!game_) return;
    Game& g = form_.game_;
    if (leaving_ || !session_) {
        g.w.running = 0;
        return;
    }
    session_->service(0);
    if (granted_) return;
    const int64_t now = nowTick();
    if (now <= lastGrantTick_) return;   // one step a tick, as in play on one machine
    const long n = stepsDone_ + 1;
    if (sentFor_ < n) {
        // The joysticks this machine's players use, read once a step: a change is an event.
        const Players mine = myPlayers();
        for (int j = 0; j < 2; ++j) {
            if (!mine[size_t(2 + j)]) continue;
            JoystickService::Reading r{kJoyCentre, kJoyCentre, 0};
            JoystickService* real = form_.joysticks_.get();
            if (!real || !real->position(j, r)) r = {kJoyCentre, kJoyCentre, 0};
            JoyReading& sent = sentJoys_[size_t(j)];
            if (r.x == sent.x && r.y == sent.y && r.buttons == sent.buttons) continue;
            sent.x = r.x;
            sent.y = r.y;
            sent.buttons = r.buttons;
            ScriptEvent e;
            e.kind = ScriptEvent::Kind::Joy;
            e.joystick = j;
            e.x = r.x;
            e.y = r.y;
            e.buttons = r.buttons;
            game_->local(e);
        }
        game_->send(n, hash_);
        sentFor_ = n;
    }
    std::vector<ScriptEvent> events;
    switch (game_->poll(n, events)) {
    case NetGame::Status::Go:
        for (const ScriptEvent& e : events) {
            applyEvent(e, g, joysticks_, [](MenuItem) {});
            form_.noteEvent(e);
        }
        granted_ = true;
        ++tick_;
        lastGrantTick_ = now;
        break;
    case NetGame::Status::Stop: g.w.running = 0; break;
    case NetGame::Status::Wait: break;
    }
}

void NetSeat::stepDone() {
    if (!game_) return;
    ++stepsDone_;
    granted_ = false;
    hash_ = worldHash(form_.game_.w, form_.game_.rng.draws());
}

}  // namespace hopshot
