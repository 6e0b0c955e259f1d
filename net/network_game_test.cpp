// Whole network games of real headless machines, each a process of the program, on the loopback
// interface: every machine must write the trace that one machine writes for the merged events.
#include "net/net_game.h"
#include "play/command_events.h"
#include "testing/fake_host.h"
#include "testing/headless_test_support.h"
#include "testing/lossy_relay.h"
#include "testing/process_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <random>

namespace hopshot {
namespace {

namespace fs = std::filesystem;
using proc::Child;
using testing::TempDir;

// Ports of this test process: ctest runs tests side by side, each in a process of its own.
uint16_t testPort(int slot) { return uint16_t(21000 + (getpid() % 2000) * 8 + slot); }

struct Line {
    long step;
    std::string words;
};

// One machine's own events for a game: machine m brings player m + 1 and moves it at random.
// Every event, shifted by the delay, falls before the step limit: a network game stops there.
std::vector<Line> randomEvents(int machine, long steps, int delay, std::mt19937& r, bool ticks) {
    std::vector<Line> v;
    const long last = steps - delay - 1;
    auto at = [&] { return std::uniform_int_distribution<long>(1, last)(r); };
    auto pick = [&](std::initializer_list<int> c) {
        return *(c.begin() + std::uniform_int_distribution<size_t>(0, c.size() - 1)(r));
    };
    for (int i = 0; i < 40; ++i) {
        const std::string dir = pick({0, 1}) ? "down" : "up";
        if (machine == 0) {
            if (pick({0, 1, 2}) == 0)
                v.push_back({at(), "key " + dir + " 17 " + (dir == "down" ? "2" : "0")});
            else
                v.push_back({at(), "key " + dir + " " + std::to_string(pick({37, 38, 39, 40})) + " 0"});
        } else if (machine == 1) {
            v.push_back({at(), "key " + dir + " " + std::to_string(pick({65, 68, 87, 83, 70})) + " 0"});
        } else {
            v.push_back({at(), "joy " + std::to_string(machine - 2) + " " +
                                   std::to_string(pick({0, 32767, 65535})) + " " +
                                   std::to_string(pick({0, 32767, 65535})) + " " +
                                   std::to_string(pick({0, 1}))});
        }
    }
    if (ticks)
        for (long s = 51; s <= last; s += 50) v.push_back({s, "tick"});
    std::stable_sort(v.begin(), v.end(), [](const Line& a, const Line& b) { return a.step < b.step; });
    return v;
}

// Two games of every machine's events; the scripts each machine plays and the one merged script,
// in which each machine's line does only what it does for that machine's own players: player 2's
// key let go with no modifier lets go of player 2's key alone (with Shift), not of player 1's fire.
struct Scripts {
    std::vector<std::string> own;   // per machine, the host first
    std::string merged;
};

Scripts makeScripts(int machines, int delay, long steps, unsigned seed) {
    std::mt19937 r(seed);
    Scripts s;
    s.own.resize(size_t(machines));
    std::string union_ = "players";
    for (int m = 0; m < machines; ++m) {
        s.own[size_t(m)] = "players";
        for (int p = 0; p < 4; ++p) s.own[size_t(m)] += p == m ? " 1" : " 0";
        s.own[size_t(m)] += "\n";
        union_ += m < machines ? " 1" : " 0";
    }
    for (int p = machines; p < 4; ++p) union_ += " 0";
    s.merged = "joysticks 2\n" + union_ + "\n";
    for (int game = 0; game < 2; ++game) {
        s.merged += "game\n";
        for (int m = 0; m < machines; ++m) {
            s.own[size_t(m)] += "game\n";
            for (const Line& l : randomEvents(m, steps, delay, r, m == 0)) {
                s.own[size_t(m)] += "at " + std::to_string(l.step) + " " + l.words + "\n";
                const bool ownKeyUp = m == 1 && l.words.rfind("key up", 0) == 0;
                s.merged += "at " + std::to_string(l.step + delay) + " " +
                            (ownKeyUp ? l.words.substr(0, l.words.size() - 1) + "1" : l.words) + "\n";
            }
        }
    }
    return s;
}

struct Machines {
    TempDir dir;
    std::vector<std::unique_ptr<Child>> children;
    fs::path machineDir(int m) const { return dir.path() / ("machine" + std::to_string(m + 1)); }
    std::string trace(int m) const { return proc::slurp((machineDir(m) / "trace").string()); }
};

struct NetRun {
    int delay = 3;                      // 0: none given, so the machines predict one another
    int shift() const { return delay > 0 ? delay : 1; }   // steps from an own event to the game
    long steps = 300;
    std::vector<uint16_t> guestPorts;   // where each guest joins; empty: the host's own port
};

// Starts the host and then each guest once the one before has joined, so the join order is the
// machines' order.
void startMachines(Machines& ms, const std::vector<std::string>& scripts, uint16_t port,
                   const NetRun& run, int machines = 0) {
    for (size_t m = 0; m < scripts.size(); ++m) {
        const fs::path d = ms.machineDir(int(m));
        fs::create_directories(d);
        std::ofstream(d / "script", std::ios::binary) << scripts[m];
        std::vector<std::string> args = {"--headless", (d / "script").string(), "--trace",
                                         (d / "trace").string(), "--dir", d.string(),
                                         "--steps", std::to_string(run.steps)};
        if (run.delay > 0) args.insert(args.end(), {"--delay", std::to_string(run.delay)});
        if (m == 0) {
            args.insert(args.end(), {"--host", std::to_string(port), "--machines",
                                     std::to_string(machines ? machines : int(scripts.size()))});
        } else {
            const uint16_t to = m - 1 < run.guestPorts.size() ? run.guestPorts[m - 1] : port;
            args.insert(args.end(), {"--join", "127.0.0.1:" + std::to_string(to)});
        }
        ms.children.push_back(proc::start(HOPSHOT_BINARY, args, (d / "run").string()));
        if (m == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        } else {
            const std::string joined = "machine " + std::to_string(m + 1) + " (";
            ASSERT_TRUE(proc::waitUntil([&] { return ms.children[0]->err().find(joined) != std::string::npos; }, 10000))
                << "machine " << m + 1 << " did not join: " << ms.children[m]->err();
        }
    }
}

std::string singleMachineTrace(const std::string& merged, long steps) {
    testing::RunResult r = testing::runScript(merged, steps);
    EXPECT_EQ(r.code, 0) << r.err;
    return r.traceText;
}

void expectSameTraces(Machines& ms, const std::string& expected, int timeoutMs) {
    for (size_t m = 0; m < ms.children.size(); ++m) {
        ASSERT_TRUE(ms.children[m]->waitEnd(timeoutMs)) << "machine " << m + 1 << " still runs";
        EXPECT_EQ(ms.children[m]->exitCode(), 0) << "machine " << m + 1 << ": " << ms.children[m]->err();
    }
    ASSERT_FALSE(expected.empty());
    for (size_t m = 0; m < ms.children.size(); ++m)
        EXPECT_TRUE(ms.trace(int(m)) == expected)
            << "machine " << m + 1 << "'s trace differs; it said: " << ms.children[m]->err();
}

// With a fixed delay every machine runs a step once every machine's events for it are in; with
// none given (delay 0 here) each machine runs its own events at once and corrects its game when
// the others' turn out otherwise. Either way every machine writes the same trace as one machine
// running the merged events.
TEST(NetworkGame, TwoThreeAndFourMachinesWriteTheTraceOfTheMergedEvents) {
    for (int delay : {3, 0})
        for (int machines : {2, 3, 4}) {
            SCOPED_TRACE(std::to_string(machines) + " machines, delay " + std::to_string(delay));
            NetRun run;
            run.delay = delay;
            const unsigned seed = unsigned(delay == 0 ? 40 + machines : machines);
            const Scripts s = makeScripts(machines, run.shift(), run.steps, seed);
            Machines ms;
            startMachines(ms, s.own, uint16_t(testPort(0) + machines), run);
            expectSameTraces(ms, singleMachineTrace(s.merged, run.steps), 60000);
            EXPECT_NE(ms.children[0]->out().find("game 2: score"), std::string::npos);
        }
}

// Guests whose scripts name no players (as `hopshot --join ADDRESS` with no --players) each take
// the first player free when they join, and the game is the one where each named it.
TEST(NetworkGame, GuestsThatNameNoPlayersTakeTheFirstFreeOne) {
    for (int machines : {2, 3}) {
        SCOPED_TRACE(std::to_string(machines) + " machines");
        NetRun run;
        run.delay = 0;
        Scripts s = makeScripts(machines, run.shift(), run.steps, unsigned(60 + machines));
        for (size_t m = 1; m < s.own.size(); ++m) s.own[m].erase(0, s.own[m].find('\n') + 1);
        ASSERT_EQ(s.own[1].rfind("game\n", 0), 0u);
        Machines ms;
        startMachines(ms, s.own, uint16_t(testPort(0) + machines), run);
        expectSameTraces(ms, singleMachineTrace(s.merged, run.steps), 60000);
        for (int m = 2; m <= machines; ++m) {
            const std::string joined = "machine " + std::to_string(m) + " (players " + std::to_string(m) + ") joined";
            EXPECT_NE(ms.children[0]->err().find(joined), std::string::npos) << ms.children[0]->err();
        }
    }
}

TEST(NetworkGame, ALossyDelayingReorderingLinkChangesNothing) {
    struct Row {
        int delay;   // 0: the machines predict
        double loss;
        int longestHoldMs;
        unsigned seed;
    };
    for (const Row& r : {Row{4, 0.05, 40, 7}, Row{4, 0.20, 40, 7}, Row{0, 0.0, 60, 17}, Row{0, 0.20, 60, 17}}) {
        SCOPED_TRACE("delay " + std::to_string(r.delay) + ", loss " + std::to_string(r.loss));
        NetRun run;
        run.delay = r.delay;
        run.steps = 200;
        const uint16_t port = uint16_t(testPort(0) + (r.loss < 0.1 ? 0 : 4));
        // Each guest reaches the host through a bad link of its own.
        proc::LossyRelay relay1(uint16_t(port + 1), port, r.loss, 5, r.longestHoldMs, 120000, r.seed);
        proc::LossyRelay relay2(uint16_t(port + 2), port, r.loss, 5, r.longestHoldMs, 120000, r.seed + 1);
        ASSERT_TRUE(relay1.ok() && relay2.ok());
        run.guestPorts = {uint16_t(port + 1), uint16_t(port + 2)};
        const Scripts s = makeScripts(3, run.shift(), run.steps, r.delay == 0 ? 31 : 11);
        Machines ms;
        startMachines(ms, s.own, port, run);
        expectSameTraces(ms, singleMachineTrace(s.merged, run.steps), 110000);
        if (r.loss > 0) {
            EXPECT_GT(relay1.lost() + relay2.lost(), 0);
        }
    }
}

// The field values of one trace line, by name.
testing::Fields traceLine(const std::string& trace, size_t index) {
    std::istringstream in(trace);
    std::string line;
    for (size_t i = 0; std::getline(in, line); ++i)
        if (i == index) return testing::traceFields(line);
    return {};
}

size_t lineCount(const std::string& text) { return size_t(std::count(text.begin(), text.end(), '\n')); }

TEST(NetworkGame, AKilledGuestIsDroppedItsPlayerLetGoAndTheGameGoesOn) {
    NetRun run;
    run.steps = 3000;
    // Machine 3 pushes its stick right at step 5 and holds it for as long as it lives.
    const std::vector<std::string> scripts = {
        "players 1 0 0 0\ngame\nat 10 key down 37 0\nat 40 key up 37 0\n",
        "players 0 1 0 0\ngame\nat 20 key down 68 0\n",
        "players 0 0 1 0\ngame\nat 5 joy 0 65535 32767 0\n"};
    Machines ms;
    startMachines(ms, scripts, testPort(0), run);
    ASSERT_TRUE(proc::waitUntil([&] { return lineCount(ms.trace(0)) >= 300; }, 20000));
    ms.children[2]->killNow();
    for (int m : {0, 1}) {
        ASSERT_TRUE(ms.children[size_t(m)]->waitEnd(60000));
        EXPECT_EQ(ms.children[size_t(m)]->exitCode(), 0) << ms.children[size_t(m)]->err();
        EXPECT_NE(ms.children[size_t(m)]->err().find("machine 3 (players 3) left"), std::string::npos)
            << ms.children[size_t(m)]->err();
    }
    const std::string trace = ms.trace(0);
    EXPECT_TRUE(trace == ms.trace(1));
    EXPECT_EQ(testing::traceArray(testing::traceField(traceLine(trace, 100), "steerX"))[2], 1);   // held while it lived
    EXPECT_EQ(testing::traceArray(testing::traceField(traceLine(trace, 2999), "steerX"))[2], 0);  // let go when it left
    EXPECT_EQ(testing::traceArray(testing::traceField(traceLine(trace, 2999), "steerX"))[1], 1);  // the others play on
    EXPECT_EQ(testing::traceField(traceLine(trace, 3000), "steps"), "3000");
}

TEST(NetworkGame, TheHostLeavingEndsTheGameForEveryGuestWithAMessage) {
    NetRun run;
    run.steps = 3000;
    const std::vector<std::string> scripts = {"players 1 0 0 0\ngame\n", "players 0 1 0 0\ngame\n",
                                              "players 0 0 1 0\ngame\n"};
    Machines ms;
    startMachines(ms, scripts, uint16_t(testPort(0) + 6), run);
    ASSERT_TRUE(proc::waitUntil([&] { return lineCount(ms.trace(1)) >= 200; }, 20000));
    ms.children[0]->killNow();
    for (int m : {1, 2}) {
        ASSERT_TRUE(ms.children[size_t(m)]->waitEnd(15000));
        EXPECT_EQ(ms.children[size_t(m)]->exitCode(), 3);
        EXPECT_NE(ms.children[size_t(m)]->err().find("the host left: the network game is over"),
                  std::string::npos) << ms.children[size_t(m)]->err();
        // The game ended there, its end written; not run on to the step limit.
        const std::string trace = ms.trace(m);
        EXPECT_NE(trace.find("\"end\":true"), std::string::npos);
        EXPECT_LT(lineCount(trace), 3000u);
    }
}

// A machine that joins while a game runs plays from the next start, which brings it to the same
// state as the others: the generator's draws and the values the setup leaves alone.
TEST(NetworkGame, AMachineJoiningDuringAGamePlaysTheNextFromTheSameState) {
    NetRun run;
    run.steps = 400;
    const Scripts s = makeScripts(2, run.delay, run.steps, 21);
    Machines ms;
    const uint16_t port = uint16_t(testPort(0) + 7);
    // The second machine's link is slow, so that game 1 lasts some seconds.
    proc::LossyRelay slow(uint16_t(port + 1), port, 0, 15, 25, 60000);
    ASSERT_TRUE(slow.ok());
    run.guestPorts = {uint16_t(port + 1)};
    startMachines(ms, s.own, port, run);
    ASSERT_TRUE(proc::waitUntil([&] { return lineCount(ms.trace(0)) >= 50; }, 20000));
    const fs::path d = ms.machineDir(2);
    fs::create_directories(d);
    std::ofstream(d / "script") << "players 0 0 1 0\ngame\nat 10 joy 0 65535 32767 1\n";
    ms.children.push_back(proc::start(HOPSHOT_BINARY,
        {"--headless", (d / "script").string(), "--trace", (d / "trace").string(), "--dir",
         d.string(), "--steps", "400", "--join", "127.0.0.1:" + std::to_string(port)},
        (d / "run").string()));
    for (auto& c : ms.children) {
        ASSERT_TRUE(c->waitEnd(30000));
        EXPECT_EQ(c->exitCode(), 0) << c->err();
    }
    const std::string host = ms.trace(0), late = ms.trace(2);
    EXPECT_TRUE(host == ms.trace(1));
    const size_t second = host.find("{\"game\":2,");
    ASSERT_NE(second, std::string::npos);
    ASSERT_EQ(lineCount(host.substr(0, second)), 401u);
    EXPECT_TRUE(late == host.substr(second)) << "the late machine's game 2 differs: " << late.substr(0, 300) << "\n" << ms.children[2]->err() << ms.children[2]->out();
    EXPECT_EQ(testing::traceArray(testing::traceField(traceLine(late, 20), "playerIn")),
              (std::vector<long long>{1, 1, 1, 0}));
    EXPECT_EQ(testing::traceArray(testing::traceField(traceLine(late, 20), "steerX"))[2], 1);
}

struct Refusal {
    const char* what;
    std::string host;                 // the host's script
    std::vector<std::string> others;  // guests already in
    std::string guest;                // the one refused
    const char* reason;
};

TEST(NetworkGame, AJoinIsRefusedWithAClearMessageForEachReason) {
    const std::string game = "game\n";
    const std::vector<Refusal> cases = {
        {"a player checked on two machines", "players 1 1 0 0\n" + game, {}, "players 0 1 1 0\n",
         "player 2 is already played on the host"},
        {"no free player", "players 1 1 1 1\n" + game, {}, "players 0 1 0 0\n",
         "the game is full: all four players are taken"},
        {"four machines", "players 1 0 0 0\n" + game,
         {"players 0 1 0 0\n", "players 0 0 1 0\n", "players 0 0 0 1\n"}, "players 1 0 0 0\n",
         "the game is full: four machines are playing"},
    };
    int slot = 0;
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.what);
        const uint16_t port = uint16_t(testPort(0) + slot++);
        NetRun run;
        run.steps = 1000000;   // the host's game lasts while the test looks
        std::vector<std::string> scripts = {c.host};
        scripts.insert(scripts.end(), c.others.begin(), c.others.end());
        Machines ms;
        startMachines(ms, scripts, port, run, std::max(2, int(scripts.size())));
        const fs::path d = ms.dir.path() / "refused";
        fs::create_directories(d);
        std::ofstream(d / "script") << c.guest << "game\n";
        auto guest = proc::start(HOPSHOT_BINARY, {"--headless", (d / "script").string(), "--dir",
                                 d.string(), "--join", "127.0.0.1:" + std::to_string(port)},
                                 (d / "run").string());
        ASSERT_TRUE(guest->waitEnd(10000));
        EXPECT_EQ(guest->exitCode(), 3);
        EXPECT_NE(guest->err().find("refused to let this machine join: "), std::string::npos) << guest->err();
        EXPECT_NE(guest->err().find(c.reason), std::string::npos) << guest->err();
    }
}

// The host here is the test's own session on the wire: it sends the countdown's ticks, and with
// its steps the guest's own fingerprints of the world back, until from step 120 on it says
// otherwise.
TEST(NetworkGame, AGuestWhoseGameDiffersFromTheHostsLeavesAndKeepsItsReplay) {
    constexpr int kDelay = 3;
    constexpr long kDiffersAfter = 120;
    const uint16_t port = testPort(0);
    std::string problem;
    auto host = NetSession::host(port, {true, false, false, false}, programVersion(), problem);
    ASSERT_TRUE(host) << problem;
    TempDir dir;
    std::ofstream(dir.path() / "script") << "players 0 1 0 0\ngame\nat 5 key down 68 0\nat 40 key up 68 0\n";
    auto guest = proc::start(HOPSHOT_BINARY, {"--headless", (dir.path() / "script").string(), "--trace",
                             (dir.path() / "trace").string(), "--dir", dir.path().string(), "--steps",
                             "400", "--join", "127.0.0.1:" + std::to_string(port)},
                             (dir.path() / "run").string());
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    auto inTime = [&] { return std::chrono::steady_clock::now() < until; };
    while (host->roster().size() < 2 && inTime()) host->service(10);
    ASSERT_EQ(host->roster().size(), 2u) << guest->err();

    testing::TestGame start;
    ScriptJoysticks sticks;
    sticks.attach(2);
    host->startGame(hostStart(*host, 1, kDelay, 400, start.g, sticks));
    bool ended = false;   // the guest has stopped (a child is waited for once)
    for (long n = 1; n <= 400 && !(ended = guest->waitEnd(0)) && inTime(); host->service(2)) {
        if (host->lockstep().have(1) < n + kDelay) continue;   // the guest's step, with its word
        // A packet names the world after its last step only: a step no packet named goes unsaid.
        const auto said = host->lockstep().fingerprintOf(1, n - 1);
        const bool differs = n - 1 >= kDiffersAfter;
        // The countdown's tick every second, as a host's timer gives it.
        const long step = n + kDelay;
        std::vector<ScriptEvent> ticks(step > 50 && (step - 1) % 50 == 0 ? 1 : 0);
        for (ScriptEvent& e : ticks) e.kind = ScriptEvent::Kind::Tick;
        host->sendStep(step, commandsOf(ticks), said || differs ? n - 1 : 0,
                       (said ? *said : 0) ^ (differs ? 1 : 0));
        ++n;
    }
    host->finish();   // the run is over: a guest still in it hears so
    ASSERT_TRUE(ended || guest->waitEnd(10000)) << guest->err();
    EXPECT_EQ(guest->exitCode(), 3) << guest->err();
    std::smatch m;
    const std::string said = guest->err();
    ASSERT_TRUE(std::regex_search(said, m, std::regex("differs from the host's after step (\\d+) of game 1")))
        << said;
    // Fingerprints go with every packet, not with every step: the first compared from 120 on.
    const long step = std::stol(m[1]);
    EXPECT_TRUE(step >= kDiffersAfter && step <= kDiffersAfter + kDelay + 1) << step;
    // The guest's kept replay, played on one machine, retraces its game up to there.
    const std::string replay = proc::slurp((dir.path() / "desync-game1.replay").string());
    testing::RunResult alone = testing::runScript(replay, 400);
    ASSERT_EQ(alone.code, 0) << alone.err;
    const std::string own = proc::slurp((dir.path() / "trace").string());
    for (size_t i = 0; i < size_t(kDiffersAfter); ++i)
        ASSERT_TRUE(traceLine(alone.traceText, i) == traceLine(own, i)) << "step " << i + 1;
}

}  // namespace
}  // namespace hopshot
