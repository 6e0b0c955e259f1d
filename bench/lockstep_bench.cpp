// What the lockstep costs a network game: two machines (host and guest, each a session of its
// own on the loopback interface, in this one process) play steps at the game's pace of 50 a
// second, each with a key event now and then, through a relay that holds every datagram for half
// the round trip and loses a share of them. Printed as a table, one row per link:
//
//   <build>/bench/lockstep_bench [--seconds N] [--link K]   (30 s a link; K: only row K, from 0)
//
// Columns: the link (round trip, loss); D, the input delay the host chose from the measured round
// trip, and what it adds to every key (D x 20 ms); steps a second held by each machine; the
// longest pause between two steps on either machine, and how many pauses passed 200 ms; the
// bytes a second each machine sends and receives (ENet's counts, UDP and IP headers not counted).
#include "net/net_game.h"
#include "net/session.h"
#include "testing/lossy_relay.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
};

// One machine's steps: one a tick (20 ms) at most, each as soon as every machine's events are in.
struct Player {
    NetSession* session = nullptr;
    LocalInput own;   // this machine's keys, as the window's handlers queue them
    std::unique_ptr<NetGame> game;
    long done = 0;
    long sent = 0;
    long lastTick = -1;
    Clock::time_point lastStep;
    double longestPause = 0;
    int longPauses = 0;

    void turn(Clock::time_point start, int machine) {
        session->service(0);
        const long tick = long(msSince(start) / 20);
        if (tick <= lastTick) return;
        const long n = done + 1;
        if (sent < n) {
            if (n % 25 == 0) {   // a key now and then, as a player's hands give them
                ScriptEvent e;
                e.kind = n % 50 == 0 ? ScriptEvent::Kind::KeyDown : ScriptEvent::Kind::KeyUp;
                e.keyCode = int16_t(machine == 0 ? 37 : 68);
                own.push(e);
            }
            sent = n;
        }
        std::vector<ScriptEvent> events;
        if (game->eventsBefore(n, events) != InputSource::Turn::Go) return;
        if (done > 0) {
            const double pause = msSince(lastStep);
            longestPause = std::max(longestPause, pause);
            if (pause > 200) ++longPauses;
        }
        lastStep = Clock::now();
        lastTick = tick;
        ++done;
    }
};

void runLink(const Link& link, int seconds, uint16_t port) {
    const Players p1{true, false, false, false}, p2{false, true, false, false};
    std::string error;
    auto host = NetSession::host(port, p1, programVersion(), error);
    proc::LossyRelay relay(uint16_t(port + 1), port, link.loss, std::max(0, link.oneWayMs - 5),
                           link.oneWayMs + 5, (seconds + 30) * 1000);
    std::unique_ptr<NetSession> guest;
    std::atomic<bool> joining{true};
    std::thread joiner([&] {
        guest = NetSession::join("127.0.0.1", uint16_t(port + 1), p2, programVersion(), 30000, error);
        joining = false;
    });
    while (joining) host->service(5);   // the host answers (and answers again) meanwhile
    joiner.join();
    if (!guest || host->roster().size() < 2) {
        std::printf("%-16s could not connect: %s\n", link.name, error.c_str());
        return;
    }
    // Two seconds of pings measure the round trip the host chooses D from.
    for (auto t = Clock::now(); msSince(t) < 2000;) {
        host->service(1);
        guest->service(1);
    }
    StartMessage m;
    m.game = 1;
    m.delay = host->autoDelay();
    m.machines = {0, 1};
    m.machinePlayers = {p1, p2};
    m.players = host->everyonesPlayers();
    host->startGame(m);
    StartMessage got;
    while (!guest->takeStart(got)) {
        host->service(1);
        guest->service(1);
    }
    Player a, b;
    a.session = host.get();
    b.session = guest.get();
    a.game = std::make_unique<NetGame>(*host, m, std::array<bool, 4>{}, a.own);
    b.game = std::make_unique<NetGame>(*guest, got, std::array<bool, 4>{}, b.own);
    const uint64_t sentA = host->bytesSent(), recvA = host->bytesReceived();
    const uint64_t sentB = guest->bytesSent(), recvB = guest->bytesReceived();
    const Clock::time_point start = Clock::now();
    while (msSince(start) < seconds * 1000.0) {
        a.turn(start, 0);
        b.turn(start, 1);
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    const double s = msSince(start) / 1000;
    std::printf("%-16s %3d %5d ms %9.1f %9.1f %8.0f ms %6d %9.0f %9.0f %9.0f %9.0f\n", link.name,
                m.delay, m.delay * 20, a.done / s, b.done / s, std::max(a.longestPause, b.longestPause),
                a.longPauses + b.longPauses, (host->bytesSent() - sentA) / s,
                (host->bytesReceived() - recvA) / s, (guest->bytesSent() - sentB) / s,
                (guest->bytesReceived() - recvB) / s);
    std::fflush(stdout);
}

}  // namespace
}  // namespace hopshot

int main(int argc, char** argv) {
    int seconds = 30, only = -1;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::max(1, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--link") == 0) only = std::atoi(argv[i + 1]);
    }
    const hopshot::Link links[] = {
        {"LAN", 0, 0.0},
        {"100 ms", 50, 0.0},
        {"100 ms, 5 %", 50, 0.05},
        {"100 ms, 20 %", 50, 0.20},
    };
    std::printf("%-16s %3s %8s %9s %9s %11s %6s %9s %9s %9s %9s\n", "link", "D", "adds",
                "host st/s", "guest st/s", "max pause", ">200", "host B/s", "host rB/s",
                "guest B/s", "guest rB/s");
    uint16_t port = uint16_t(26000 + getpid() % 1000 * 4);
    for (int k = 0; k < int(std::size(links)); ++k)
        if (only < 0 || only == k) hopshot::runLink(links[k], seconds, port += 2);
    return 0;
}
