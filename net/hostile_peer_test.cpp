// What a host does with a dishonest or broken machine: a real headless host process on the
// loopback interface, and a peer that speaks the wire as an attacker would. Each row says what
// the host must do, and every row checks the host's trace against its game played alone.
#include "testing/headless_test_support.h"
#include "testing/hostile_peer.h"
#include "testing/script_events.h"
#include "testing/process_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>

namespace hopshot {
namespace {

using testing::joy;
using testing::key;
constexpr auto of = testing::eventOf;

namespace fs = std::filesystem;
using testing::HostilePeer;
using testing::TempDir;

// Ports of this test process, 16 of them: the floods use slots 8 and up, clear of the next
// process's.
uint16_t testPort(int slot) { return uint16_t(23000 + (getpid() % 2000) * 16 + slot); }

constexpr int kDelay = 2;
constexpr long kSteps = 300;
const char* const kHostScript = "players 1 0 0 0\ngame\nat 10 key down 37 0\nat 60 key up 37 0\n";

// Keys the host's player presses beyond its script's, as `at` lines (step, what).
using HostKeys = std::vector<std::pair<long, const char*>>;

std::string hostLines(const HostKeys& keys, long late) {
    std::string s;
    for (const auto& [step, what] : keys) s += "at " + std::to_string(step + late) + " " + what + "\n";
    return s;
}

// The host's game alone, with the guest's player 2 idle: its keys land D steps late, its
// countdown ticks after steps 50, 100, ... likewise.
std::string hostAlone(const HostKeys& more) {
    std::string s = "joysticks 2\nplayers 1 1 0 0\ngame\n";
    s += "at " + std::to_string(10 + kDelay) + " key down 37 0\n";
    s += "at " + std::to_string(60 + kDelay) + " key up 37 0\n";
    s += hostLines(more, kDelay);
    for (long n = 51; n + kDelay <= kSteps; n += 50) s += "at " + std::to_string(n + kDelay) + " tick\n";
    return s;
}

struct Row {
    const char* attack;
    // The peer's events for its step k (it brings player 2); null: it sends no steps at all.
    std::function<std::vector<ScriptEvent>(long)> events;
    long lastStep = 1000000;   // the peer sends no steps after this one (keep-alives only)
    // The fingerprint it sends with a run ending at step k; null: none.
    std::function<uint32_t(long)> fingerprint;
    const char* hostSays;      // on standard error; empty: it says nothing of the peer
    bool dropped;              // the peer is told "bye" and disconnected
    // Alongside the game: a stranger's doings, called again and again (with the seconds since
    // the game began) while the peer plays at 50 steps a second.
    std::function<void(uint16_t port, double seconds)> stranger = nullptr;
    int silentBefore = 0;      // connections that never say hello, made before the peer joins
    HostKeys hostKeys = {};    // the host's player's own keys besides its script's
};

// The host's peak memory, in kB.
long peakKb(pid_t pid) {
    const std::string status = proc::slurp("/proc/" + std::to_string(pid) + "/status");
    const size_t at = status.find("VmHWM:");
    return at == std::string::npos ? 0 : std::atol(status.c_str() + at + 6);
}

// Plays the row: the host runs its script with the peer as its one guest; the peer keeps just
// ahead of the host as a guest would.
void play(const Row& row, uint16_t port) {
    SCOPED_TRACE(row.attack);
    TempDir dir;
    const fs::path d = dir.path();
    std::ofstream(d / "script") << kHostScript << hostLines(row.hostKeys, 0);
    auto host = proc::start(HOPSHOT_BINARY,
                            {"--headless", (d / "script").string(), "--trace", (d / "trace").string(),
                             "--dir", d.string(), "--steps", std::to_string(kSteps), "--delay",
                             std::to_string(kDelay), "--host", std::to_string(port), "--machines", "2"},
                            (d / "host").string());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::vector<std::unique_ptr<HostilePeer>> silent;
    for (int k = 0; k < row.silentBefore; ++k) {
        silent.push_back(std::make_unique<HostilePeer>());
        EXPECT_TRUE(silent.back()->join(port, "")) << "silent connection " << k;
    }
    HostilePeer peer;
    ASSERT_TRUE(peer.join(port, wireHello({programVersion(), {false, true, false, false}}), 8000)) << host->err();
    ASSERT_TRUE(peer.pumpUntil([&] { return peer.started(); }, 5000)) << host->err();
    const auto began = std::chrono::steady_clock::now();
    auto seconds = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count(); };

    long sent = kDelay;   // steps 1..D hold nothing
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int waited = 0;
    long lastSent = 0;
    auto sentAt = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() < until && !peer.disconnected()) {
        if (host->ended()) break;
        const bool paced = !row.stranger || sent < kDelay + long(seconds() * 50);
        if (row.events && sent < row.lastStep && sent < peer.hostHave() + 4 && paced) ++sent;
        if (row.stranger) row.stranger(port, seconds());
        // The steps the host may not have yet, the last with its fingerprint.
        const long first = std::max<long>(kDelay + 1, sent - 8), last = std::min(sent, row.lastStep);
        // Sent when a step is new, and again every 15 ms as a guest's go until confirmed.
        const bool due = last != lastSent || std::chrono::steady_clock::now() - sentAt > std::chrono::milliseconds(15);
        if (row.events && first <= last && due) {
            lastSent = last;
            sentAt = std::chrono::steady_clock::now();
            std::vector<std::vector<ScriptEvent>> steps;
            for (long k = first; k <= last; ++k) steps.push_back(row.events(k));
            const uint32_t print = row.fingerprint ? row.fingerprint(last) : 0;
            peer.sendSteps(first, steps, bool(row.fingerprint), print);
        }
        if (++waited % 20 == 0) peer.sendAlive();
        peer.pump(2);
    }
    const long peak = peakKb(host->pid);
    ASSERT_TRUE(host->waitEnd(20000)) << "the host still runs: " << host->err();
    EXPECT_LT(peak, 64 * 1024) << "the host's peak memory, kB";
    EXPECT_EQ(host->exitCode(), 0) << host->err();
    EXPECT_NE(host->out().find("game 1: score"), std::string::npos) << host->out();
    EXPECT_NE(host->out().find(std::to_string(kSteps) + " steps"), std::string::npos)
        << "the game did not run to its limit: " << host->out() << host->err();
    if (*row.hostSays) {
        EXPECT_NE(host->err().find(row.hostSays), std::string::npos) << host->err();
    }
    EXPECT_EQ(!peer.byes().empty(), row.dropped) << host->err();
    const testing::RunResult alone = testing::runScript(hostAlone(row.hostKeys), kSteps);
    ASSERT_EQ(alone.code, 0) << alone.err;
    EXPECT_TRUE(proc::slurp((d / "trace").string()) == alone.traceText)
        << "the host's game is not its game alone; it said: " << host->err();
}

std::vector<ScriptEvent> none(long) { return {}; }

// Events a peer bringing player 2 has no business sending: each is dropped where the steps
// merge, named once, and the host's game runs on untouched.
TEST(HostilePeer, WhatIsNotAMachinesOwnNeverReachesTheHostsGame) {
    const std::vector<Row> rows = {
        {"player 1's keys", [](long k) -> std::vector<ScriptEvent> {
             if (k == 10) return {key(true, 37, 0)};
             if (k == 20) return {key(true, 17, 2)};
             if (k == 30) return {key(true, 39, 0), key(false, 17, 0)};
             return {};
         }, 1000000, nullptr, "machine 2 (players 2) sent `at 10 key down 37 0`, which is not its own", false},
        {"the joysticks of players 3 and 4", [](long k) -> std::vector<ScriptEvent> {
             if (k == 10) return {joy(0, 65535, 0, 1), joy(1, 0, 65535, 1)};
             return {};
         }, 1000000, nullptr, "sent `at 10 joy 0 65535 0 1`", false},
        {"Esc", [](long k) -> std::vector<ScriptEvent> {
             return k == 50 ? std::vector<ScriptEvent>{key(true, 27, 0)} : std::vector<ScriptEvent>{};
         }, 1000000, nullptr, "sent `at 50 key down 27 0`", false},
        {"sixty countdown ticks", [](long k) -> std::vector<ScriptEvent> {
             return k >= 5 && k < 65 ? std::vector<ScriptEvent>{of(ScriptEvent::Kind::Tick)} : std::vector<ScriptEvent>{};
         }, 1000000, nullptr, "sent `at 5 tick`", false},
        {"menu commands", [](long k) -> std::vector<ScriptEvent> {
             ScriptEvent m = of(ScriptEvent::Kind::Menu);
             m.item = MenuItem::Player3;
             return k == 10 ? std::vector<ScriptEvent>{m} : std::vector<ScriptEvent>{};
         }, 1000000, nullptr, "sent `at 10 menu 3P`", false},
        // On one keyboard any key let go with no modifier lets go of player 1's fire; from
        // another machine it lets go of that machine's own key only.
        {"its own A let go at every step while the host's player 1 charges", [](long k) {
             return k >= 110 ? std::vector<ScriptEvent>{key(false, 65, 0)} : std::vector<ScriptEvent>{};
         }, 1000000, nullptr, "machine 2 (players 2) sent `at 110 key up 17 0`, which is not its own", false,
         nullptr, 0, {{100, "key down 17 2"}, {250, "key up 17 0"}}},
        {"a forged fingerprint", none, 1000000, [](long) { return 1u; },
         "machine 2 (players 2) left, dropped by the host: its game differs from the host's after step 1 of game 1",
         true},
    };
    int slot = 0;
    for (const Row& row : rows) play(row, testPort(slot++));
}

// A machine that stops sending steps is let go, however much else it sends.
TEST(HostilePeer, AMachineThatSendsNoStepsIsDroppedAndTheGameGoesOn) {
    const std::vector<Row> rows = {
        {"keep-alives only after step 50", none, 50, nullptr,
         "machine 2 (players 2) left, dropped by the host: it sent no steps for 3 seconds", true},
        {"a start it never takes (a message box open), keep-alives only", nullptr, 0, nullptr,
         "machine 2 (players 2) left, dropped by the host: it did not start game 1 within 10 seconds", true},
    };
    int slot = 0;
    for (const Row& row : rows) play(row, testPort(slot++));
}

// What a stranger sends costs the host bounded memory and no step of its game: packets of a
// megabyte, whole or cut up, with a hello or without; steps packets naming machines that are not
// there; fields out of range; connections that never say hello, taking every slot.
TEST(HostilePeer, AStrangersFloodCostsBoundedMemoryAndTheGameGoesOn) {
    std::mt19937 random(7);
    auto noise = [&](size_t size) {
        std::string bytes(size, '\0');
        for (char& c : bytes) c = char(random());
        return bytes;
    };
    // A connection of its own that sends `what` ten times a second, joining again when let go.
    struct Stranger {
        std::unique_ptr<HostilePeer> peer;
        double last = -1;
    };
    auto flooding = [&](bool hello, std::function<std::string()> what) {
        auto s = std::make_shared<Stranger>();
        return [s, hello, what](uint16_t port, double seconds) {
            if (seconds < 0.3 || seconds - s->last < 0.1) return;
            s->last = seconds;
            if (!s->peer || s->peer->disconnected()) {
                s->peer = std::make_unique<HostilePeer>();
                s->peer->join(port, hello ? wireHello({programVersion(), {false, false, true, false}}) : "", 1000);
            }
            s->peer->send(what());
            s->peer->pump(0);
        };
    };
    auto withHeader = [](MsgKind kind, std::string body) {
        return std::string{char(kWireVersion), char(kind)} + body;
    };
    long machine = 100;
    const std::vector<Row> rows = {
        {"megabyte packets of noise, no hello", none, 1000000, nullptr, "", false,
         flooding(false, [&] { return noise(1 << 20); })},
        {"megabyte packets of noise after a hello", none, 1000000, nullptr, "", false,
         flooding(true, [&] { return noise(1 << 20); })},
        {"steps that confirm machines that are not there", none, 1000000, nullptr, "", false,
         flooding(true, [&] {
             StepsPacket p;
             p.game = 1;
             for (int k = 0; k < 4; ++k) p.have.push_back({int(++machine), 5});
             return wireSteps(p);
         })},
        {"every kind with fields out of range", none, 1000000, nullptr, "", false,
         flooding(true, [&] { return withHeader(MsgKind(1 + random() % 13), noise(1 + random() % 600)); })},
        {"eight connections that never say hello, then the guest", none, 1000000, nullptr, "", false,
         nullptr, 8},
    };
    int slot = 0;
    for (const Row& row : rows) play(row, testPort(8 + slot++));
}

// A machine of the wire before commands (version 3) is refused, both versions named.
TEST(HostilePeer, AMachineOfTheWireBeforeCommandsIsRefusedWithBothVersions) {
    TempDir dir;
    std::ofstream(dir.path() / "script") << kHostScript;
    const std::string port = std::to_string(testPort(5));
    auto host = proc::start(HOPSHOT_BINARY, {"--headless", (dir.path() / "script").string(), "--dir",
                                             dir.path().string(), "--steps", "1000000", "--host", port},
                            (dir.path() / "run").string());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::string older = programVersion();
    older.back() = '3';
    std::string hello = wireHello({older, {false, true, false, false}});
    hello[0] = char(3);
    HostilePeer peer;
    EXPECT_FALSE(peer.join(uint16_t(std::stoi(port)), hello, 1000));
    EXPECT_TRUE(peer.pumpUntil([&] { return !peer.refusals().empty(); }, 3000));
    ASSERT_FALSE(peer.refusals().empty()) << host->err();
    EXPECT_EQ(peer.refusals()[0], "it runs " + programVersion() + ", this machine runs " + older +
                                      "; both need the same version");
    kill(host->pid, SIGTERM);
    EXPECT_TRUE(host->waitEnd(10000));
}

// Two real machines told different step limits: both end, each saying why, neither with 0.
TEST(HostilePeer, MachinesThatDisagreeOnWhenAGameEndsBothEndWithAMessage) {
    TempDir dir;
    const fs::path h = dir.path() / "host", g = dir.path() / "guest";
    fs::create_directories(h);
    fs::create_directories(g);
    std::ofstream(h / "script") << kHostScript;
    std::ofstream(g / "script") << "players 0 1 0 0\ngame\n";
    const std::string port = std::to_string(testPort(4));
    auto host = proc::start(HOPSHOT_BINARY, {"--headless", (h / "script").string(), "--dir", h.string(),
                                             "--steps", "20", "--host", port}, (h / "run").string());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto guest = proc::start(HOPSHOT_BINARY, {"--headless", (g / "script").string(), "--dir", g.string(),
                                              "--steps", "10", "--join", "127.0.0.1:" + port},
                             (g / "run").string());
    ASSERT_TRUE(guest->waitEnd(20000));
    ASSERT_TRUE(host->waitEnd(20000));
    EXPECT_EQ(guest->exitCode(), 3);
    EXPECT_NE(guest->err().find("the host ends its games after 20 steps, this machine after 10: the "
                                "machines disagree on when a game ends"), std::string::npos)
        << guest->err();
    EXPECT_EQ(host->exitCode(), 3);
    EXPECT_NE(host->err().find("machine 2 (players 2) ends its games after 10 steps"), std::string::npos)
        << host->err();
    EXPECT_NE(host->out().find("game 1: score 0, 20 steps"), std::string::npos) << host->out();
}

}  // namespace
}  // namespace hopshot
