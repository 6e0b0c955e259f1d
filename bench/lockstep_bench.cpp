// What the lockstep costs a network game: two machines (host and guest, each a session of its
// own on the loopback interface, in this one process, each with a game of its own) play steps at
// the game's pace of 50 a second, each with a key event now and then, through a relay that holds
// every datagram for half the round trip and loses a share of them; and four machines on a LAN,
// for what the host sends and receives. Printed as a table, one row per link, or as one JSON
// object a line:
//
//   <build>/bench/lockstep_bench [--seconds N] [--link K] [--delay D] [--json]
//
// (30 s a link; K: row K only; D: the pure lockstep with input delay D, for comparison; without
// it the machines predict one another and correct their games.)
//
// The last row, "relayed", is two machines whose guest reaches the host through a real TURN
// relay (coturn's turnserver, started on 127.0.0.1 for the row; skipped where it is missing), as
// a guest behind a router that nothing else passes does: its allocation, the relay bridge's
// stand-in, ENet through both. Its connect time runs from the allocation's first request to the
// host's welcome. The JSON rows carry `path` and `connect_ms` (from the join to the welcome).
//
// Columns: the link (round trip, loss, machines); D, the input delay; own, how long a machine's
// own key takes to show on its own screen (the mean, ms, from the yield that reads it to the end
// of the step it changes); steps a second held by the host and the guests (the slowest); the
// longest pause between two steps on any machine, and how many pauses passed 200 ms; rollbacks a
// second (the busiest machine) and the longest run again (steps, and ms with the restore); the
// bytes a second the host and the first guest send and receive (ENet's counts, UDP and IP
// headers not counted), and ENet's share of what the host sends (its headers, acknowledgements
// and pings).
#include "bench/bench_support.h"
#include "controls/joystick.h"
#include "core/setup.h"
#include "game/game_routine.h"
#include "meet/turn_credentials.h"
#include "net/net_game.h"
#include "net/session.h"
#include "net/ways_through.h"
#include "testing/process_support.h"
#include "testing/lossy_relay.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace hopshot {
namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

struct Link {
    const char* name;
    int oneWayMs;     // the relay holds each datagram this long, give or take 5 ms
    double loss;
    int machines = 2;
    bool relayed = false;   // through a TURN relay on 127.0.0.1 instead of the lossy one
};

constexpr char kRelaySecret[] = "bench relay secret";

// turnserver on 127.0.0.1:port relaying between loopback addresses; null where it is missing or
// does not start.
std::unique_ptr<proc::Child> startRelay(uint16_t port) {
    const char* program = "/usr/bin/turnserver";
    if (!std::filesystem::exists(program)) return nullptr;
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("hopshot-bench-relay-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    auto child = proc::start(program,
        {"-n", "--listening-ip=127.0.0.1", "--relay-ip=127.0.0.1", "--listening-port=" + std::to_string(port),
         "--use-auth-secret", std::string("--static-auth-secret=") + kRelaySecret, "--realm=hopshot-bench",
         "--no-tls", "--no-dtls", "--no-cli", "--no-tcp", "--allow-loopback-peers",
         "--pidfile=" + (dir / "pid").string(), "--db=" + (dir / "db").string(), "--log-file=stdout", "--simple-log"},
        (dir / "turnserver").string());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));   // the relay's own start
    return child->pid > 0 ? std::move(child) : nullptr;
}

// The guest through the relay: an allocation, a stand-in for the host, and ENet's join through it.
std::unique_ptr<NetSession> joinRelayed(uint16_t relayPort, uint16_t hostPort, const Players& own,
                                        std::unique_ptr<net::RelayPump>& pump, std::string& error) {
    auto s = NetSession::openGuest(own, programVersion(), error);
    if (!s) return nullptr;
    const meet::TurnCredentials c = meet::turnCredentials(kRelaySecret, int64_t(std::time(nullptr)) + 600, "BENCH234");
    meet::TurnOffer offer{true, {0x7F000001, relayPort}, c.username, c.password};
    pump = net::RelayPump::allocate(offer, s->localPort(), error);
    if (!pump) return nullptr;
    const uint16_t standIn = pump->carryTo({0x7F000001, hostPort}, error);
    if (standIn == 0 || !s->joinHost("127.0.0.1", standIn, 30000, error)) return nullptr;
    return s;
}

// One machine's steps: one a tick (20 ms) at most, each as soon as its input lets it run.
struct Player {
    std::unique_ptr<NetSession> session;
    LocalInput own;   // this machine's keys, as the window's handlers queue them
    std::unique_ptr<NetGame> game;
    bench::NoPicture window;
    MutedSound sound;
    std::unique_ptr<Game> g;
    ScriptJoysticks joysticks;
    std::unique_ptr<GameInput> input;
    long done = 0;
    long sent = 0;
    long lastTick = -1;
    Clock::time_point lastStep;
    double longestPause = 0;
    int longPauses = 0;
    uint64_t sent0 = 0, received0 = 0, payload0 = 0;
    // Own keys on their way to the screen: the step they change and when they were read.
    std::vector<std::pair<long, Clock::time_point>> keys;
    double ownKeyMs = 0;
    long ownKeys = 0;

    // Its game, set up as the start says, played through the lockstep.
    void begin(const StartMessage& m) {
        g = std::make_unique<Game>(window, sound, bench::assetsDir());
        joysticks.attach(2);
        g->joysticks = &joysticks;
        detectJoystick(g->controller, &joysticks, kJoystickMargin);
        game = std::make_unique<NetGame>(*session, m, std::array<bool, 4>{}, own);
        input = std::make_unique<GameInput>(*g, &joysticks, [](MenuItem) {});
        gameSetup(*g);
        input->begin(game.get(), 0, {}, {}, game->rollback());
    }

    void turn(Clock::time_point start, int machine, int delay) {
        session->service(0);
        const long tick = long(msSince(start) / 20);
        if (tick <= lastTick) return;
        const long n = done + 1;
        if (sent < n) {
            if (n % 25 == 0) {   // a key now and then, as a player's hands give them
                static const int16_t keys[] = {37, 68};
                ScriptEvent e;
                e.kind = n % 50 == 0 ? ScriptEvent::Kind::KeyDown : ScriptEvent::Kind::KeyUp;
                if (machine < 2) {
                    e.keyCode = keys[machine];
                } else {
                    e.kind = ScriptEvent::Kind::Joy;
                    e.joystick = machine - 2;
                    e.x = n % 50 == 0 ? 65535 : 32767;
                    e.y = 32767;
                }
                own.push(e);
                this->keys.push_back({n + delay, Clock::now()});
            }
            sent = n;
        }
        // The front end's turn (GameInput::yieldAfter says the order); service(0) took in.
        Rollback* rollback = input->rollback();
        if (rollback && !input->nextStepIn(done)) done = rollback->correct();
        if (input->yieldAfter(done) == InputSource::Turn::Stop && rollback) done = rollback->stopAtSettled();
        if (!input->nextStepIn(done)) return;
        if (done > 0) {
            const double pause = msSince(lastStep);
            longestPause = std::max(longestPause, pause);
            if (pause > 200) ++longPauses;
        }
        frameStep(*g);
        lastStep = Clock::now();
        lastTick = tick;
        ++done;
        input->stepDone(done, {});
        // A key read before step n changes step n + D: it shows once that step has run.
        while (!this->keys.empty() && this->keys.front().first <= done) {
            ownKeyMs += msSince(this->keys.front().second);
            ++ownKeys;
            this->keys.erase(this->keys.begin());
        }
    }
};

bool runLink(const Link& link, int seconds, uint16_t port, int delay, bool json) {
    // The relay and its pump outlive the sessions they carry.
    std::unique_ptr<proc::Child> turnserver;
    std::unique_ptr<net::RelayPump> pump;
    std::vector<Player> ms(size_t(link.machines));
    std::vector<std::unique_ptr<proc::LossyRelay>> relays;
    std::string error;
    double connectMs = 0;
    if (link.relayed && !(turnserver = startRelay(uint16_t(port + 7)))) {
        std::fprintf(stderr, "%s: no TURN relay here (coturn's turnserver): the row is skipped\n", link.name);
        return true;
    }
    auto bringing = [](int m) {
        Players p{};
        p[size_t(m)] = true;
        return p;
    };
    ms[0].session = NetSession::host(port, bringing(0), programVersion(), error);
    if (!ms[0].session) {
        std::fprintf(stderr, "%s: %s\n", link.name, error.c_str());
        return false;
    }
    for (int g = 1; g < link.machines; ++g) {
        const uint16_t relayPort = uint16_t(port + g);
        if (!link.relayed) relays.push_back(std::make_unique<proc::LossyRelay>(relayPort, port, link.loss,
                                                            std::max(0, link.oneWayMs - 5),
                                                            link.oneWayMs + 5, (seconds + 40) * 1000, unsigned(g)));
        std::atomic<bool> joining{true};
        const Clock::time_point joinAt = Clock::now();
        std::thread joiner([&] {
            ms[size_t(g)].session = link.relayed
                ? joinRelayed(uint16_t(port + 7), port, bringing(g), pump, error)
                : NetSession::join("127.0.0.1", relayPort, bringing(g), programVersion(), 30000, error);
            joining = false;
        });
        while (joining) {   // the host answers (and answers again) meanwhile
            for (int k = 0; k < g; ++k) ms[size_t(k)].session->service(k == 0 ? 5 : 0);
        }
        joiner.join();
        connectMs = std::max(connectMs, msSince(joinAt));
        if (!ms[size_t(g)].session) {
            std::fprintf(stderr, "%s: machine %d could not connect: %s\n", link.name, g + 1, error.c_str());
            return false;
        }
    }
    // Two seconds of pings measure the round trip the host chooses D from.
    for (auto t = Clock::now(); msSince(t) < 2000;)
        for (Player& p : ms) p.session->service(1);
    StartMessage m;
    m.game = 1;
    m.predicts = delay == 0;
    m.delay = delay > 0 ? delay : 1;
    for (const Machine& mc : ms[0].session->roster()) {
        m.machines.push_back(mc.id);
        m.machinePlayers.push_back(mc.players);
    }
    m.players = ms[0].session->everyonesPlayers();
    m.stepLimit = kMaxStepLimit;
    ms[0].session->startGame(m);
    ms[0].begin(m);
    for (size_t g = 1; g < ms.size(); ++g) {
        StartMessage got;
        while (!ms[g].session->takeStart(got))
            for (Player& p : ms) p.session->service(1);
        ms[g].begin(got);
    }
    for (Player& p : ms) {
        p.sent0 = p.session->bytesSent();
        p.received0 = p.session->bytesReceived();
        p.payload0 = p.session->payloadSent();
    }
    const Clock::time_point start = Clock::now();
    while (msSince(start) < seconds * 1000.0) {
        for (size_t k = 0; k < ms.size(); ++k) ms[k].turn(start, int(k), m.delay);
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    const double s = msSince(start) / 1000;
    double guestSteps = 1e9, pause = 0;
    int longPauses = 0;
    for (size_t k = 0; k < ms.size(); ++k) {
        if (k > 0) guestSteps = std::min(guestSteps, ms[k].done / s);
        pause = std::max(pause, ms[k].longestPause);
        longPauses += ms[k].longPauses;
    }
    auto out = [&](size_t k) { return (ms[k].session->bytesSent() - ms[k].sent0) / s; };
    auto in = [&](size_t k) { return (ms[k].session->bytesReceived() - ms[k].received0) / s; };
    // ENet's share of what the host sends: its headers, acknowledgements and pings.
    const double headers = 100.0 * (1.0 - (ms[0].session->payloadSent() - ms[0].payload0) / s / std::max(1.0, out(0)));
    double ownMs = 0, rollbacks = 0, rerunMs = 0;
    long keys = 0, rerunSteps = 0;
    for (const Player& p : ms) {
        ownMs += p.ownKeyMs;
        keys += p.ownKeys;
        const RerunMeasures& r = p.game->reruns();
        rollbacks = std::max(rollbacks, r.rollbacks / s);
        rerunSteps = std::max(rerunSteps, r.longestSteps);
        rerunMs = std::max(rerunMs, r.longestMs);
    }
    ownMs /= double(std::max(1L, keys));
    if (json)
        std::printf("{\"link\":\"%s\",\"machines\":%d,\"rtt_ms\":%d,\"loss\":%.2f,\"delay\":%d,"
                    "\"predicts\":%s,\"own_key_ms\":%.1f,"
                    "\"host_steps_per_s\":%.2f,\"guest_steps_per_s\":%.2f,\"longest_pause_ms\":%.0f,"
                    "\"rollbacks_per_s\":%.2f,\"longest_rerun_steps\":%ld,\"longest_rerun_ms\":%.3f,"
                    "\"host_out_bps\":%.0f,\"host_in_bps\":%.0f,\"guest_out_bps\":%.0f,\"guest_in_bps\":%.0f,"
                    "\"enet_header_share\":%.2f,\"path\":\"%s\",\"connect_ms\":%.0f}\n",
                    link.name, link.machines, 2 * link.oneWayMs, link.loss, m.delay,
                    m.predicts ? "true" : "false", ownMs, ms[0].done / s, guestSteps, pause, rollbacks,
                    rerunSteps, rerunMs, out(0), in(0), out(1), in(1), headers / 100,
                    link.relayed ? "relayed" : "direct", connectMs);
    else
        std::printf("%-22s %3d %5.0f ms %9.1f %9.1f %8.0f ms %6d %7.1f %4ld %6.3f ms %9.0f %9.0f %9.0f %9.0f %6.0f %%\n",
                    link.name, m.delay, ownMs, ms[0].done / s, guestSteps, pause, longPauses, rollbacks,
                    rerunSteps, rerunMs, out(0), in(0), out(1), in(1), headers);
    std::fflush(stdout);
    return true;
}

}  // namespace
}  // namespace hopshot

int main(int argc, char** argv) {
    int seconds = 30, only = -1, delay = 0;
    bool json = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) json = true;
        if (i + 1 >= argc) continue;
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::max(1, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--link") == 0) only = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--delay") == 0) delay = std::clamp(std::atoi(argv[i + 1]), 1, hopshot::kMaxDelay);
    }
    const hopshot::Link links[] = {
        {"LAN", 0, 0.0},
        {"100 ms", 50, 0.0},
        {"100 ms, 5 %", 50, 0.05},
        {"100 ms, 20 %", 50, 0.20},
        {"200 ms", 100, 0.0},
        {"200 ms, 20 %", 100, 0.20},
        {"LAN, 4 machines", 0, 0.0, 4},
        {"relayed", 0, 0.0, 2, true},
    };
    if (!json)
        std::printf("%-22s %3s %8s %9s %9s %11s %6s %7s %4s %9s %9s %9s %9s %9s %8s\n", "link", "D", "own",
                    "host st/s", "guest st/s", "max pause", ">200", "rb/s", "rerun", "rerun ms", "host B/s",
                    "host rB/s", "guest B/s", "guest rB/s", "ENet's");
    uint16_t port = uint16_t(26000 + getpid() % 1000 * 8);
    bool ok = true;
    for (int k = 0; k < int(std::size(links)); ++k)
        if (only < 0 || only == k) ok = hopshot::runLink(links[k], seconds, port += 8, delay, json) && ok;
    return ok ? 0 : 1;
}
