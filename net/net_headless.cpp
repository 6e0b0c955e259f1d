#include "net/net_headless.h"

#include "controls/joystick.h"
#include "net/net_game.h"
#include "net/ways_through.h"
#include "net/world_hash.h"

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>

namespace hopshot {

namespace {

// The players a script's machine brings: its last `players` line before its first game. With
// none the host brings player 1, as a machine alone does, and a guest names none, so that the
// host gives it a free one.
Players scriptPlayers(const Script& script, bool host) {
    Players p{host, false, false, false};
    for (const ScriptCommand& c : script.commands) {
        if (c.kind == ScriptCommand::Kind::Game) break;
        if (c.kind == ScriptCommand::Kind::Players) p = c.marks;
    }
    return p;
}

// Host: its game registered with the meeting service; the code goes to the standard output once
// it comes, and each guest's path once it has joined. Stepped whenever the session's socket
// hears anything, in games too, so that the code is kept alive.
class HostMeeting {
public:
    HostMeeting(NetSession& s, const meet::Endpoint& service, const Players& own)
        : s_(s), meeting_(s, service, gameInfo(own)) {}
    // False when the service failed this game, said on `err`.
    bool step(std::ostream& out, std::ostream& err) {
        meeting_.step();
        const net::HostWays& ways = meeting_.ways();
        if (!ways.failure().empty()) {
            err << "hopshot: " << ways.failure() << "\n";
            return false;
        }
        if (!ways.code().empty() && !told_) {
            told_ = true;
            out << "invite code: " << ways.code() << std::endl;
        }
        for (const Machine& m : s_.roster()) {
            meet::Endpoint from;
            if (m.id == 0 || paths_.count(m.id) || !s_.machineAddress(m.id, from.address, from.port)) continue;
            paths_.insert(m.id);
            out << "path: " << net::pathName(meeting_.pathOf(from)) << " (machine " << m.id + 1 << ")" << std::endl;
        }
        return true;
    }

private:
    static meet::GameInfo gameInfo(const Players& own) {
        char name[65] = {};
        if (gethostname(name, sizeof name - 1) != 0 || !name[0]) std::snprintf(name, sizeof name, "hopshot");
        meet::GameInfo game{std::string(name).substr(0, meet::kMaxNameBytes), 1, 0};
        for (int p = 0; p < kPlayers; ++p)
            if (!own[size_t(p)]) game.freePlayers |= uint8_t(1 << p);
        return game;
    }

    NetSession& s_;
    net::HostMeeting meeting_;
    bool told_ = false;
    std::set<int> paths_;
};

// What the player should hear of (machines joining and leaving), on the error stream.
void tell(NetSession& s, std::ostream& err) {
    for (const std::string& n : s.takeNotices()) err << "hopshot: " << n << "\n";
}

// What the host's start makes every machine share, with the players taking part checked.
void takeStart(HeadlessHost& host, Game& g, const StartMessage& m) {
    static const MenuItem items[] = {MenuItem::Player1, MenuItem::Player2, MenuItem::Player3,
                                     MenuItem::Player4};
    for (int p = 0; p < kPlayers; ++p) host.setMark(items[p], m.players[size_t(p)]);
    takeStart(m, g, host.joysticks());
}

std::array<bool, 4> screenOptions(const HeadlessHost& host) {
    return {host.checked(MenuItem::LiveCamera), host.checked(MenuItem::SmallScreen),
            host.checked(MenuItem::SimpleDisplay), host.checked(MenuItem::Wireframe)};
}

// One game of the run through the lockstep: this machine's own script events for a step go out
// D steps ahead, and each step waits for everyone's, or runs ahead of theirs and is corrected.
// False when the network stopped it.
bool playNetGame(NetSession& s, const StartMessage& m, HeadlessHost& host, Game& g,
                 const std::vector<ScriptEvent>& own, const HeadlessOptions& o, std::ostream& out,
                 std::ostream& err) {
    takeStart(host, g, m);
    ScriptInput script;
    script.begin(own, host.timerPhase());
    NetGame net(s, m, screenOptions(host), script);
    const long steps = host.playGame(m.game, net, m.stepLimit, net.rollback());
    s.gameOver();
    tell(s, err);
    out << "game " << m.game << ": score " << g.w.score << ", " << steps << " steps\n";
    if (net.stopReason().empty()) return true;
    err << "hopshot: " << net.stopReason();
    if (s.desyncStep() != 0) {
        const std::filesystem::path kept = std::filesystem::path(o.dir) /
                                           ("desync-game" + std::to_string(m.game) + ".replay");
        std::ofstream(kept, std::ios::binary) << net.keptReplay(g.w);
        err << "; its replay is kept in " << kept.string();
    }
    err << "\n";
    return false;
}

// What a machine's script front needs, host or guest: its session, its headless host and game,
// and where it reports. Settings lines act on this machine alone.
class NetFront : public ScriptFront {
public:
    NetFront(NetSession& s, HeadlessHost& host, Game& g, const HeadlessOptions& o,
             const NetOptions& n, std::ostream& out, std::ostream& err)
        : s_(s), host_(host), g_(g), o_(o), n_(n), out_(out), err_(err) {}
    void setMark(MenuItem item, bool on) override { host_.setMark(item, on); }
    void setName(const std::string& name) override { host_.setName(name); }
    bool failed = false;   // a game the network stopped

protected:
    NetSession& s_;
    HeadlessHost& host_;
    Game& g_;
    const HeadlessOptions& o_;
    const NetOptions& n_;
    std::ostream& out_;
    std::ostream& err_;
};

// The host plays its script: its settings lines, and at each `game` line a start for everyone.
class HostFront : public NetFront {
public:
    using NetFront::NetFront;
    bool playGame(int number, const ScriptCommand& game, int timerPhase) override {
        host_.setTimerPhase(timerPhase);
        const StartMessage m = hostStart(s_, number, n_.delay,
                                         o_.stepLimit > 0 ? o_.stepLimit : kDefaultStepLimit, g_,
                                         host_.joysticks());
        s_.startGame(m);
        if (!playNetGame(s_, m, host_, g_, game.events, o_, out_, err_)) failed = true;
        return true;
    }
};

int hostGames(const Script& script, HeadlessHost& host, Game& g, const HeadlessOptions& o,
              const NetOptions& n, std::ostream& out, std::ostream& err) {
    std::string problem;
    auto s = NetSession::host(n.port, scriptPlayers(script, true), programVersion(), problem);
    if (!s) {
        err << "hopshot: " << problem << "\n";
        return 3;
    }
    auto lan = std::make_unique<LanResponder>(n.lanPort);
    if (lan->error().empty()) s->answerOnLan(std::move(lan));
    else err << "hopshot: " << lan->error() << "\n";   // the game goes on, found by address only
    std::unique_ptr<HostMeeting> meeting;
    if (n.meet.empty()) {
        err << "hopshot: hosting by address only; for an invite code give --meet HOST[:PORT]\n";
    } else {
        const auto service = net::resolveMeet(n.meet, problem);
        if (!service) {
            err << "hopshot: " << problem << "\n";
            if (n.meetGiven) return 3;
            err << "hopshot: hosting by address only\n";
        } else {
            meeting = std::make_unique<HostMeeting>(*s, *service, scriptPlayers(script, true));
        }
    }
    // Measured by the clock: a burst of packets ends each service() early.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(n.waitMs);
    for (;;) {
        if (meeting && !meeting->step(out, err)) {
            // The build's own service failing leaves hosting by address as it always was.
            if (n.meetGiven) return 3;
            err << "hopshot: hosting by address only\n";
            meeting.reset();
        }
        if (int(s->roster().size()) >= n.machines) break;
        if (std::chrono::steady_clock::now() >= until) {
            err << "hopshot: only " << s->roster().size() << " of " << n.machines
                << " machines came\n";
            return 3;
        }
        s->service(10);
        tell(*s, err);
    }
    HostFront front(*s, host, g, o, n, out, err);
    ScriptError error;
    const bool ok = playScript(script, g, front, error);
    s->finish();
    tell(*s, err);
    if (!ok) {
        err << o.script << ":" << error.line << ": " << error.message << "\n";
        return 2;
    }
    return front.failed || s->endsDiffered() ? 3 : 0;
}

// A guest plays the host's games; its own script's k-th `game` line holds its events for the
// host's k-th game.
class GuestFront : public NetFront {
public:
    using NetFront::NetFront;
    bool playGame(int, const ScriptCommand& game, int) override { return playNext(game.events); }

    // Waits for the host's next start and plays it; false when no more games come.
    bool playNext(const std::vector<ScriptEvent>& own) {
        StartMessage m;
        while (!s_.takeStart(m)) {
            if (s_.over()) return false;
            s_.service(10);
            tell(s_, err_);
        }
        // A machine told how long its games last must agree with the host.
        if (o_.stepLimit > 0 && o_.stepLimit != m.stepLimit) {
            s_.leaveForStepLimit(o_.stepLimit, m.stepLimit);
            tell(s_, err_);
            failed = true;
            return false;
        }
        if (playNetGame(s_, m, host_, g_, own, o_, out_, err_)) return true;
        failed = true;   // stopped by the network: this machine plays no more
        return false;
    }
};

int guestGames(const Script& script, HeadlessHost& host, Game& g, const HeadlessOptions& o,
               const NetOptions& n, std::ostream& out, std::ostream& err) {
    std::string problem, address = n.address;
    uint16_t port = n.port;
    if (address.empty() && n.code.empty()) {
        const bool found = pickLanGame(lanQueryPlaces(n.lanPort), kLanListenMs, address, port, problem);
        err << "hopshot: " << problem << "\n";
        if (!found) return 3;
    }
    std::unique_ptr<net::RelayPump> relay;   // outlives the session that it carries
    net::Path path = net::Path::None;
    const Players own = scriptPlayers(script, false);
    auto s = n.code.empty() ? NetSession::join(address, port, own, programVersion(), n.waitMs, problem)
                            : net::joinByCode(n.meet, n.code, own, n.waitMs, relay, path, problem);
    if (!s) {
        err << "hopshot: " << problem << "\n";
        return 3;
    }
    if (path != net::Path::None) out << "path: " << net::pathName(path) << std::endl;
    GuestFront front(*s, host, g, o, n, out, err);
    ScriptError error;
    bool more = playScript(script, g, front, error);
    static const std::vector<ScriptEvent> none;
    while (more && front.playNext(none)) {}   // the host's games beyond this script's
    tell(*s, err);
    if (!s->expelled().empty() && !front.failed) err << "hopshot: the host dropped this machine: " << s->expelled() << "\n";
    return s->hostLeft() || front.failed || !s->expelled().empty() ? 3 : 0;
}

}  // namespace

int runNetHeadless(const HeadlessOptions& o, const NetOptions& n, std::ostream& out,
                   std::ostream& err) {
    return runHeadless(o, out, err,
                       [&](const Script& script, HeadlessHost& host, Game& g, std::ostream& out2,
                           std::ostream& err2) {
                           // Every machine reads both joysticks from the events, centred at first.
                           host.setJoysticks(2);
                           detectJoystick(g.controller, g.joysticks, kJoystickMargin);
                           return n.host ? hostGames(script, host, g, o, n, out2, err2)
                                         : guestGames(script, host, g, o, n, out2, err2);
                       });
}

}  // namespace hopshot
