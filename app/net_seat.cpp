#include "app/net_seat.h"

#include "app/form1.h"
#include "controls/commands.h"
#include "controls/joystick.h"
#include "input/sdl_joysticks.h"
#include "net/lan_games.h"
#include "play/kept_games.h"

#include <QApplication>
#include <QDateTime>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>

namespace hopshot {

namespace {

constexpr int kJoinWaitMs = 5000;

// The free players of a session: those no machine brings, bit p for player p + 1.
uint8_t freePlayers(const NetSession& s) {
    const Players taken = s.everyonesPlayers();
    uint8_t free = 0;
    for (int p = 0; p < kPlayers; ++p)
        if (!taken[size_t(p)]) free |= uint8_t(1 << p);
    return free;
}

}  // namespace

net::Path addressPath(uint32_t a) {
    if ((a >> 24) == 127) return net::Path::Lan;
    // On the LAN: in the subnet of one of this machine's own interfaces.
    ifaddrs* all = nullptr;
    if (getifaddrs(&all) != 0) return net::Path::Direct;
    bool home = false;
    for (const ifaddrs* i = all; i && !home; i = i->ifa_next) {
        if (!i->ifa_addr || !i->ifa_netmask || i->ifa_addr->sa_family != AF_INET) continue;
        const uint32_t own = ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
        const uint32_t mask = ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr);
        home = (own & mask) == (a & mask);
    }
    freeifaddrs(all);
    return home ? net::Path::Lan : net::Path::Direct;
}

JoinAttempt::JoinAttempt(NetChoice choice, const Players& own, QObject* parent)
    : QObject(parent), choice_(std::move(choice)) {
    thread_ = std::thread([this, own] { run(own); });
}

JoinAttempt::~JoinAttempt() {
    cancel_ = true;
    if (thread_.joinable()) thread_.join();
}

void JoinAttempt::run(Players own) {
    auto joined = std::make_shared<JoinedSession>();
    const auto cancelled = [this] { return cancel_.load(); };
    std::string error;
    NetChoice& c = choice_;
    if (c.address.empty() && c.code.empty() &&
        !pickLanGame(lanQueryPlaces(kLanPort), kLanListenMs, c.address, c.port, error))
        c.address.clear();
    else if (!c.code.empty() && c.meet.empty())
        error = "joining by an invite code needs a meeting service: name one in the network dialog or give --meet HOST[:PORT]";
    else if (!c.code.empty())
        joined->session = net::joinByCode(c.meet, c.code, own, kJoinWaitMs, joined->relay, joined->path, error, cancelled);
    else if (!cancel_)
        joined->session = NetSession::join(c.address, c.port, own, programVersion(), kJoinWaitMs, error, cancelled);
    if (joined->session && joined->path == net::Path::None) {
        meet::Endpoint host;
        joined->session->machineAddress(0, host.address, host.port);
        joined->path = addressPath(host.address);
    }
    if (joined->session) joined_ = std::move(joined);
    else error_ = error.empty() ? "the network game could not be joined" : error;
    if (cancel_) joined_.reset();
    // The window's thread hears of it from its event loop.
    QMetaObject::invokeMethod(this, [this] { emit finished(); }, Qt::QueuedConnection);
}

NetSeat::NetSeat(Form1& form, const NetChoice& choice) : form_(form), choice_(choice) {
    joysticks_.attach(2);
    pump_.setInterval(25);
    connect(&pump_, &QTimer::timeout, this, &NetSeat::pump);
}

NetSeat::~NetSeat() = default;   // the meeting ends its code before the session goes

Players NetSeat::myPlayers() const {
    Players p = form_.menuPlayers();
    if (session_)   // the roster has the last word on what this machine brings
        for (const Machine& m : session_->roster())
            if (m.id == session_->self()) return m.players;
    return p;
}

bool NetSeat::open(std::string& error) {
    if (choice_.joined) {   // joined already, away from the event loop
        relay_ = std::move(choice_.joined->relay);
        session_ = std::move(choice_.joined->session);
        path_ = choice_.joined->path;
        choice_.joined.reset();
        if (!session_) {
            error = "the network game could not be joined";
            return false;
        }
        return begin(error);
    }
    Players own = form_.menuPlayers();
    if (!choice_.host && !choice_.namesPlayers) own = {};   // the host gives it a free player
    if (!choice_.host && choice_.address.empty() && choice_.code.empty()) {
        std::string said;
        const bool found = pickLanGame(lanQueryPlaces(kLanPort), kLanListenMs, choice_.address, choice_.port, said);
        std::cerr << "hopshot: " << said << std::endl;
        if (!found) {
            error = said;
            return false;
        }
    }
    session_ = choice_.host            ? NetSession::host(choice_.port, own, programVersion(), error)
               : !choice_.code.empty() ? net::joinByCode(choice_.meet, choice_.code, own, kJoinWaitMs, relay_, path_, error)
                                       : NetSession::join(choice_.address, choice_.port, own, programVersion(),
                                                          kJoinWaitMs, error);
    if (!session_) return false;
    if (!choice_.host && path_ == net::Path::None) {
        meet::Endpoint host;
        session_->machineAddress(0, host.address, host.port);
        path_ = addressPath(host.address);
    }
    return begin(error);
}

bool NetSeat::begin(std::string& error) {
    if (choice_.host) {
        auto lan = std::make_unique<LanResponder>(kLanPort);
        if (lan->error().empty()) session_->answerOnLan(std::move(lan));
        else std::cerr << "hopshot: " << lan->error() << std::endl;   // the game goes on
        // By invite code: registered over the game's own socket, so that what the service sees
        // is what a guest must reach.
        if (!choice_.meet.empty()) {
            const auto service = net::resolveMeet(choice_.meet, error);
            if (!service && choice_.meetGiven) {
                session_.reset();
                return false;
            }
            if (service) {
                meet::GameInfo game{lanHostName().substr(0, meet::kMaxNameBytes), 1, freePlayers(*session_)};
                meeting_ = std::make_unique<net::HostMeeting>(*session_, *service, game);
            } else {
                std::cerr << "hopshot: " << error << "; hosting by address only" << std::endl;
                error.clear();
            }
        }
    }
    // A packet wakes the window's event loop, and a game waiting for a step's commands.
    notifier_ = new QSocketNotifier(session_->socket(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &NetSeat::pump);
    pump_.start();
    showCaption();
    return true;
}

// The session's own business between the passes of the game's clock: packets, machines coming and
// going, and on a guest the host's start of a game.
void NetSeat::pump() {
    if (!session_) return;
    session_->service(0);
    stepMeeting();
    if (!session_) return;
    if (inGame()) form_.wakeGame();   // a step's commands may be in
    bool changed = false;
    for (const std::string& n : session_->takeNotices()) {
        std::cerr << "hopshot: " << n << std::endl;
        lastNotice_ = n;
        changed = true;
    }
    if (!session_->isHost()) {
        // The marks follow what the host agreed this machine brings.
        form_.showMenuPlayers(myPlayers());
    }
    if (!inGame() && !starting_ && session_->over()) {
        const bool hostLeft = session_->hostLeft();
        const std::string expelled = session_->expelled();
        leave();
        if (!expelled.empty()) tellProblem("The host dropped this machine: " + expelled + ".");
        else if (hostLeft) tellProblem("The host left: the network game is over.");
        return;
    }
    StartMessage m;
    if (!session_->isHost() && !inGame() && !starting_ && !QApplication::activeModalWidget() &&
        session_->takeStart(m)) {
        starting_ = true;
        // The game runs from the event loop, not inside this slot.
        QTimer::singleShot(0, this, [this, m] { play(m); });
    }
    // The host's pause holds this machine's game too.
    if (!session_->isHost() && inGame() && session_->paused() != form_.paused()) {
        form_.setPaused(session_->paused());
        if (!form_.paused()) changed |= forgetPauseNote();
    }
    if (changed || caption() != form_.windowTitle()) showCaption();
}

// The host's invite code: kept alive, told once it comes (on standard output too), and ended with
// the session. A meeting service that fails a game the player asked to host by code ends it.
void NetSeat::stepMeeting() {
    if (!meeting_) return;
    meeting_->ways().setGame(uint8_t(session_->roster().size()), freePlayers(*session_));
    meeting_->step();
    if (!meeting_->ways().failure().empty()) {
        const std::string why = meeting_->ways().failure();
        std::cerr << "hopshot: " << why << std::endl;
        meeting_.reset();
        code_.clear();
        if (!choice_.meetGiven) {
            lastNotice_ = "hosting by address only";
            return;
        }
        leave();
        problem_ = why;
        if (!choice_.fromDialog) tellProblem(why + ".");
        return;
    }
    if (code_.empty() && !meeting_->ways().code().empty()) {
        code_ = meeting_->ways().code();
        std::cout << "invite code: " << code_ << std::endl;
    }
}

std::vector<SeatMachine> NetSeat::machines() const {
    std::vector<SeatMachine> out;
    if (!session_) return out;
    for (const Machine& m : session_->roster()) {
        SeatMachine s{m.id, m.players, net::Path::None};
        meet::Endpoint from;
        if (!session_->isHost()) s.path = m.id == session_->self() ? path_ : net::Path::None;
        else if (m.id != 0 && session_->machineAddress(m.id, from.address, from.port))
            s.path = meeting_ ? meeting_->pathOf(from) : addressPath(from.address);
        out.push_back(s);
    }
    return out;
}

QString NetSeat::caption() const {
    if (!session_) return QStringLiteral("HopShot");
    const size_t machines = session_->roster().size();
    QString s = QStringLiteral("HopShot — ") +
                (session_->isHost() ? QStringLiteral("host") : QStringLiteral("guest")) +
                QStringLiteral(", %1 machine%2, players ").arg(machines).arg(machines == 1 ? "" : "s") +
                QString::fromStdString(playersList(session_->everyonesPlayers()));
    if (!code_.empty()) s += QStringLiteral(", invite code ") + QString::fromStdString(code_);
    // Which way each machine's packets take: lan, direct, punched or relayed.
    for (const SeatMachine& m : this->machines())
        if (m.path != net::Path::None)
            s += session_->isHost() ? QStringLiteral(", machine %1 %2").arg(m.id + 1).arg(net::pathName(m.path))
                                    : QStringLiteral(", %1").arg(net::pathName(m.path));
    if (!lastNotice_.empty()) s += QStringLiteral(" — ") + QString::fromStdString(lastNotice_);
    return s;
}

void NetSeat::showCaption() { form_.setWindowTitle(caption()); }

void NetSeat::tellProblem(const std::string& text) {
    form_.warn(text);
}

bool NetSeat::keyEvent(ScriptEvent& e) {
    if (!session_) return false;
    if (e.keyCode == kVkEscape) {
        if (session_->isHost()) return !game_ || e.kind != ScriptEvent::Kind::KeyDown;
        if (e.kind == ScriptEvent::Kind::KeyDown) leave();   // Esc on a guest leaves the game
        return true;
    }
    // Between games keys move nothing: each game starts from the host's. In a game, what of a
    // key is this machine's to send is worked out where every front end's steps go out.
    return !game_;
}

bool NetSeat::startChosen() {
    if (!session_) return false;
    if (!session_->isHost()) {
        lastNotice_ = "only the host starts a game";
        showCaption();
        return true;
    }
    if (game_ || starting_) return true;
    const StartMessage m =
        hostStart(*session_, ++gamesStarted_, choice_.delay, 0, form_.game(), joysticks_);
    session_->startGame(m);
    play(m);
    return true;
}

constexpr const char* kOnlyHostPauses = "only the host pauses";

bool NetSeat::mayPause(bool say) {
    if (!session_ || session_->isHost()) return true;
    if (say) {
        lastNotice_ = kOnlyHostPauses;
        showCaption();
    }
    return false;
}

// The guest's note on its P holds while the pause it was about does: it goes when that ends.
bool NetSeat::forgetPauseNote() {
    if (lastNotice_ != kOnlyHostPauses) return false;
    lastNotice_.clear();
    return true;
}

void NetSeat::pauseChanged(bool on) {
    if (session_ && session_->isHost()) session_->setPaused(on);
}

void NetSeat::playersChanged() {
    if (!session_) return;
    const std::string problem = session_->setOwnPlayers(form_.menuPlayers());
    if (!problem.empty()) lastNotice_ = problem;
    form_.showMenuPlayers(myPlayers());
    showCaption();
}

std::optional<bool> NetSeat::checkedPlayer(int p) const {
    if (!start_) return std::nullopt;
    return start_->players[size_t(p)];
}

// One network game, run to its end: every machine starts it from the host's start.
void NetSeat::play(const StartMessage& m) {
    Game& g = form_.game();
    if (!session_ || game_ || g.w.running != 0) {
        starting_ = false;
        return;
    }
    // The generator may take a while to reach the host's: it goes a stretch at a time, back to
    // the event loop in between, so the window stays live (no other start is taken), and closing
    // it or leaving ends the wait.
    if (!takeStart(m, g, joysticks_, [] { return false; })) {
        if (!form_.ended() && !session_->over()) QTimer::singleShot(0, this, [this, m] { play(m); });
        else starting_ = false;
        return;
    }
    starting_ = false;
    start_ = m;
    // The players' passes read the joysticks as the events leave them, under the same dead zone
    // on every machine; this machine's own sticks are read once a step and sent.
    JoystickService* own = g.joysticks;
    g.joysticks = &joysticks_;
    detectJoystick(g.controller, &joysticks_, kJoystickMargin);
    game_ = std::make_unique<NetGame>(*session_, m, form_.screenMarks(), form_.ownInput(),
                                      form_.ownJoysticks());
    showCaption();

    // Written down like any game (the kept games, --record, --trace): the events that reach it
    // are the merged ones, noted as they are handed over. It runs on the window's clock, a step
    // as soon as its commands are in.
    form_.playFrom(
        *game_, game_->rollback(), m.stepLimit, &joysticks_, startJoyEvents(m),
        [this]() -> std::string {
            if (!game_->stopReason().empty()) return game_->stopReason();
            return leaving_ ? "this machine left the network game" : "";
        },
        [this, own, number = m.game] { over(number, own); });
}

// The network game is over (or the window closed during it): what stopped it is told, and a
// machine the network stopped is out of the session.
void NetSeat::over(int number, JoystickService* own) {
    Game& g = form_.game();
    const std::string stop = game_->stopReason();

    const bool desync = session_ && session_->desyncStep() != 0;
    std::string kept;
    if (desync) kept = keepReplay(game_->keptReplay(g.w), number);
    game_.reset();
    start_.reset();
    g.joysticks = own;
    detectJoystick(g.controller, own, kJoystickMargin);
    if (form_.ended()) return;   // the window closed during the game
    forgetPauseNote();   // no pause outlives its game
    if (session_) session_->gameOver();
    // A machine stopped by the network (the host gone, dropped, disagreeing) is out of it.
    const bool out = session_ && (session_->hostLeft() || !session_->expelled().empty() || desync);
    if (leaving_ || out) {
        leave();
        if (!out) return;
    }
    if (!stop.empty()) {
        std::string text = stop;
        text[0] = char(std::toupper(static_cast<unsigned char>(text[0])));
        if (!kept.empty()) text += ".\nIts replay is kept in " + kept;
        tellProblem(text + ".");
    }
    showCaption();
}

// A disagreed game's replay goes where the kept games go.
std::string NetSeat::keepReplay(const std::string& replay, int game) {
    const std::string dir = keptGamesDir();
    if (dir.empty()) return {};
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) return {};
    const std::string name = dir + "/desync-" +
                             QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")).toStdString() +
                             "-game" + std::to_string(game) + ".replay";
    std::ofstream(name, std::ios::binary) << replay;
    return name;
}

void NetSeat::leave() {
    if (game_) {
        leaving_ = true;   // the running game stops before its next step; then the seat is left
        game_->leave();
        return;
    }
    leaving_ = false;
    pump_.stop();
    delete notifier_;
    notifier_ = nullptr;
    meeting_.reset();   // the code dies with the game
    code_.clear();
    session_.reset();
    lastNotice_.clear();
    form_.setWindowTitle(QStringLiteral("HopShot — left the network game"));
}

}  // namespace hopshot
