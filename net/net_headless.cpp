#include "net/net_headless.h"

#include "controls/joystick.h"
#include "net/net_game.h"
#include "net/world_hash.h"

#include <filesystem>
#include <fstream>

namespace hopshot {

namespace {

// The players a script's machine brings: its last `players` line before its first game.
Players scriptPlayers(const Script& script) {
    Players p{true, false, false, false};
    for (const ScriptCommand& c : script.commands) {
        if (c.kind == ScriptCommand::Kind::Game) break;
        if (c.kind == ScriptCommand::Kind::Players) p = c.marks;
    }
    return p;
}

// What the player should hear of (machines joining and leaving), on the error stream.
void tell(NetSession& s, std::ostream& err) {
    for (const std::string& n : s.takeNotices()) err << "hopshot: " << n << "\n";
}

// What the host's start makes every machine share: the players taking part, the generator,
// the values the setup leaves alone and the joysticks' readings.
void takeStart(HeadlessHost& host, Game& g, const StartMessage& m) {
    static const MenuItem items[] = {MenuItem::Player1, MenuItem::Player2, MenuItem::Player3,
                                     MenuItem::Player4};
    for (int p = 0; p < kPlayers; ++p) host.setMark(items[p], m.players[size_t(p)]);
    g.rng.advanceTo(m.draws);
    g.w.shellKind = m.carried.shellKind;
    g.w.steerX = m.carried.steerX;
    g.w.steerY = m.carried.steerY;
    g.w.hopperVY = m.carried.hopperVY;
    g.w.bloodBudget = m.carried.bloodBudget;
    for (int j = 0; j < 2; ++j) {
        ScriptEvent e;
        e.kind = ScriptEvent::Kind::Joy;
        e.joystick = j;
        e.x = m.joys[size_t(j)].x;
        e.y = m.joys[size_t(j)].y;
        e.buttons = m.joys[size_t(j)].buttons;
        host.deliver(e);
    }
}

// The game's events come from the lockstep: this machine's own script events for a step go out
// D steps ahead; the step waits for everyone's.
class LockstepFeed : public EventFeed {
public:
    LockstepFeed(NetSession& s, NetGame& net, Game& g, const std::vector<ScriptEvent>& own,
                 int timerPhase, long perturbStep, std::ostream& err)
        : session_(s), net_(net), g_(g), own_(own), perturbStep_(perturbStep), err_(err) {
        // The host's countdown: its timer's ticks, unless its script gives them step by step.
        hostTimer_ = s.isHost() ? timerPhase : 0;
        for (const ScriptEvent& e : own)
            if (e.kind == ScriptEvent::Kind::Tick) hostTimer_ = 0;
    }

    bool eventsFor(long n, std::vector<ScriptEvent>& out) override {
        for (const ScriptEvent& e : own_)
            if (e.step == n) net_.local(e);
        const long k = n - 1;   // the step just run
        if (hostTimer_ > 0 && k >= hostTimer_ && (k - hostTimer_) % kStepsPerSecond == 0) {
            ScriptEvent tick;
            tick.kind = ScriptEvent::Kind::Tick;
            net_.local(tick);
        }
        net_.send(n, hash_);
        for (;;) {
            switch (net_.poll(n, out)) {
            case NetGame::Status::Go: return true;
            case NetGame::Status::Stop: return false;
            case NetGame::Status::Wait:
                session_.service(2);
                tell(session_, err_);
                break;
            }
        }
    }

    void afterStep(long step) override {
        if (step == perturbStep_) g_.w.score += 1;   // tests: a machine that has gone astray
        hash_ = worldHash(g_.w, g_.rng.draws());
    }

private:
    NetSession& session_;
    NetGame& net_;
    Game& g_;
    const std::vector<ScriptEvent>& own_;
    int hostTimer_ = 0;
    long perturbStep_;
    uint64_t hash_ = 0;
    std::ostream& err_;
};

// One game of the run through the lockstep; false when the network stopped it.
bool playNetGame(NetSession& s, const StartMessage& m, HeadlessHost& host, Game& g,
                 const std::vector<ScriptEvent>& own, const HeadlessOptions& o, const NetOptions& n,
                 std::ostream& out, std::ostream& err) {
    takeStart(host, g, m);
    NetGame net(s, m);
    LockstepFeed feed(s, net, g, own, host.timerPhase(), n.perturbStep, err);
    host.setFeed(&feed);
    const long steps = host.playGame(m.game, own, o.stepLimit);
    host.setFeed(nullptr);
    s.gameOver();
    reportGame(out, m.game, steps, g.w);
    if (net.stopReason().empty()) return true;
    err << "hopshot: " << net.stopReason();
    if (s.desyncStep() != 0) {
        const std::filesystem::path kept = std::filesystem::path(o.dir) /
                                           ("desync-game" + std::to_string(m.game) + ".replay");
        std::ofstream(kept, std::ios::binary) << net.replay();
        err << "; its replay is kept in " << kept.string();
    }
    err << "\n";
    return false;
}

int hostGames(const Script& script, HeadlessHost& host, Game& g, const HeadlessOptions& o,
              const NetOptions& n, std::ostream& out, std::ostream& err) {
    std::string problem;
    auto s = NetSession::host(n.port, scriptPlayers(script), programVersion(), problem);
    if (!s) {
        err << "hopshot: " << problem << "\n";
        return 3;
    }
    for (int waited = 0; int(s->roster().size()) < n.machines; waited += 10) {
        if (waited >= n.waitMs) {
            err << "hopshot: only " << s->roster().size() << " of " << n.machines
                << " machines came\n";
            return 3;
        }
        s->service(10);
        tell(*s, err);
    }
    int code = 0, games = 0;
    for (const ScriptCommand& c : script.commands) {
        if (!applyStartValue(g, c, problem)) {
            err << o.script << ":" << c.line << ": " << problem << "\n";
            return 2;
        }
        applySetting(host, c);
        if (c.kind != ScriptCommand::Kind::Game) continue;
        StartMessage m;
        m.game = ++games;
        m.delay = n.delay > 0 ? n.delay : s->autoDelay();
        for (const Machine& mc : s->roster()) m.machines.push_back(mc.id);
        m.players = s->everyonesPlayers();
        m.draws = g.rng.draws();
        m.carried = g.w;
        for (int j = 0; j < 2; ++j)
            m.joys[size_t(j)] = {host.joystick(j).x, host.joystick(j).y, host.joystick(j).buttons};
        s->startGame(m);
        if (!playNetGame(*s, m, host, g, c.events, o, n, out, err)) code = 3;
    }
    s->finish();
    tell(*s, err);
    return code;
}

int guestGames(const Script& script, HeadlessHost& host, Game& g, const HeadlessOptions& o,
               const NetOptions& n, std::ostream& out, std::ostream& err) {
    std::string problem;
    auto s = NetSession::join(n.address, n.port, scriptPlayers(script), programVersion(), n.waitMs,
                              problem);
    if (!s) {
        err << "hopshot: " << problem << "\n";
        return 3;
    }
    // This machine's own games in its script, each with the settings that stand before it.
    std::vector<const ScriptCommand*> ownGames;
    for (const ScriptCommand& c : script.commands)
        if (c.kind == ScriptCommand::Kind::Game) ownGames.push_back(&c);
    static const std::vector<ScriptEvent> none;
    size_t applied = 0;
    int code = 0;
    while (!s->over()) {
        StartMessage m;
        if (!s->takeStart(m)) {
            s->service(10);
            tell(*s, err);
            continue;
        }
        // The settings lines (name, screen options) that stand before this game's own line.
        const size_t k = size_t(m.game - 1);
        const ScriptCommand* mine = k < ownGames.size() ? ownGames[k] : nullptr;
        for (; applied < script.commands.size() && &script.commands[applied] != mine; ++applied)
            applySetting(host, script.commands[applied]);
        if (mine) ++applied;
        host.setMark(MenuItem::Player1, false);   // the host's start says who takes part
        if (!playNetGame(*s, m, host, g, k < ownGames.size() ? ownGames[k]->events : none, o, n,
                         out, err))
            code = 3;
    }
    tell(*s, err);
    return s->hostLeft() ? 3 : code;
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
