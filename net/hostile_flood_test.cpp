// A machine that plays along and floods, trickles or crowds the host: a real headless host
// (player 1), an honest headless guest (player 3), the attacker speaking the wire from this test
// (player 2) and a real guest joining later (player 4), all on the loopback interface. Whatever the
// attacker does, the honest machines play the game of player 2 standing idle, the host stays small
// and quiet, names the fault, and a late guest still finds a place.
#include "testing/headless_test_support.h"
#include "testing/hostile_peer.h"
#include "testing/process_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

namespace hopshot {
namespace {

namespace fs = std::filesystem;
using testing::HalfOpen;
using testing::HostilePeer;
using testing::TempDir;
using Clock = std::chrono::steady_clock;

uint16_t testPort(int slot) { return uint16_t(41000 + (getpid() % 2000) * 8 + slot); }

constexpr int kDelay = 2;
constexpr long kSteps = 600;       // twelve seconds of game
constexpr long kFloodFrom = 100;   // the attacker's step where its doings begin
constexpr int kBurst = 200;        // messages a loop turn
const char* const kHostEvents = "at 10 key down 37 0\nat 60 key up 37 0\nat 300 key down 39 0\nat 340 key up 39 0\n";

enum class Attack { Players, Ends, PlayersBeforeItsFirstStep, OldSteps, AlivesAfterHello, Trickle, HalfOpen, Strangers };

struct Row {
    const char* name;
    Attack attack;
    const char* hostSays;   // named once on the host's standard error; empty: nothing named
};

// The game every honest machine must play: the host's events and countdown ticks D steps late,
// players 2 and 4 standing idle when they take part.
std::string merged(bool player2, bool player4) {
    std::string s = std::string("joysticks 2\nplayers 1 ") + (player2 ? "1" : "0") + " 1 " + (player4 ? "1" : "0") +
                    "\ngame\n";
    std::istringstream lines(kHostEvents);
    for (std::string at, step, rest; lines >> at >> step && std::getline(lines, rest);)
        s += "at " + std::to_string(std::stol(step) + kDelay) + rest + "\n";
    for (long n = 51; n + kDelay <= kSteps; n += 50) s += "at " + std::to_string(n + kDelay) + " tick\n";
    return s;
}

long peakKb(pid_t pid) {
    const std::string status = proc::slurp("/proc/" + std::to_string(pid) + "/status");
    const size_t at = status.find("VmHWM:");
    return at == std::string::npos ? 0 : std::atol(status.c_str() + at + 6);
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

struct Machine {
    fs::path dir;
    std::unique_ptr<proc::Child> child;
    std::string trace() const { return proc::slurp((dir / "trace").string()); }
};

Machine startMachine(const fs::path& dir, const std::string& script, std::vector<std::string> net) {
    fs::create_directories(dir);
    std::ofstream(dir / "script") << script;
    std::vector<std::string> args = {"--headless", (dir / "script").string(), "--trace", (dir / "trace").string(),
                                     "--dir", dir.string(), "--steps", std::to_string(kSteps), "--delay",
                                     std::to_string(kDelay)};
    args.insert(args.end(), net.begin(), net.end());
    return {dir, proc::start(HOPSHOT_BINARY, args, (dir / "run").string())};
}

// Connections that never say hello, made again as soon as the host lets them go, from a thread of
// their own so that the attacker keeps its pace.
class Strangers {
public:
    explicit Strangers(uint16_t port)
        : thread_([this, port] {
              std::vector<std::unique_ptr<HostilePeer>> peers(16);
              while (!stop_) {
                  for (auto& p : peers) {
                      if (!p || p->disconnected()) {
                          p = std::make_unique<HostilePeer>();
                          if (p->join(port, "", 300)) ++made_;
                      }
                      p->pump(0);
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(5));
              }
          }) {}
    ~Strangers() {
        stop_ = true;
        thread_.join();
    }
    int made() const { return made_; }

private:
    std::atomic<bool> stop_{false};
    std::atomic<int> made_{0};
    std::thread thread_;
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

class HostileFlood : public ::testing::TestWithParam<Row> {};

TEST_P(HostileFlood, TheHonestMachinesPlayTheirGameAndALateGuestJoins) {
    const Row& row = GetParam();
    const uint16_t port = testPort(0);
    const std::string at = "127.0.0.1:" + std::to_string(port);
    TempDir dir;
    const bool beforeStart = row.attack == Attack::AlivesAfterHello;   // let go before the game
    Machine host = startMachine(dir.path() / "host", std::string("players 1 0 0 0\ngame\n") + kHostEvents,
                                {"--host", std::to_string(port), "--machines", "3"});
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    HostilePeer attacker;
    ASSERT_TRUE(attacker.join(port, wireHello({programVersion(), {false, true, false, false}}), 8000))
        << host.child->err();
    const auto joined = Clock::now();
    auto since = [](Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); };
    if (beforeStart)   // keep-alives at once; the honest guest comes 3 s later, the late one 6 s
        while (since(joined) < 3) {
            attacker.flood(wireSimple(MsgKind::Alive), kBurst);
            attacker.pump(1);
        }
    Machine honest = startMachine(dir.path() / "honest", "players 0 0 1 0\ngame\n", {"--join", at});
    Machine late;
    auto startLate = [&] { late = startMachine(dir.path() / "late", "players 0 0 0 1\ngame\n", {"--join", at}); };
    if (beforeStart) {
        while (since(joined) < 6) attacker.pump(5);
        startLate();
    } else {
        ASSERT_TRUE(attacker.pumpUntil([&] { return attacker.started(); }, 15000)) << host.child->err();
    }

    const auto began = Clock::now();
    std::vector<std::unique_ptr<HalfOpen>> halfOpen;
    std::unique_ptr<Strangers> strangers;
    if (row.attack == Attack::Strangers) strangers = std::make_unique<Strangers>(port);
    double renewedAt = 0, steppedAt = 0, sentAt = 0, trickleFrom = -1, letGoAt = -1;
    long sent = kDelay;   // steps 1..D hold nothing
    long peak = 0;
    while (!host.child->ended() && since(began) < 60) {
        const double t = since(began);
        peak = std::max(peak, peakKb(host.child->pid));
        if (row.attack == Attack::HalfOpen && (halfOpen.empty() || t - renewedAt >= 3)) {
            renewedAt = t;
            if (halfOpen.empty())
                for (int k = 0; k < 8; ++k) halfOpen.push_back(std::make_unique<HalfOpen>(port));
            else
                for (auto& h : halfOpen) h->renew();
        }
        if (!attacker.byes().empty() && letGoAt < 0) letGoAt = t;
        if (attacker.disconnected() || letGoAt >= 0) {   // let go, or the host's games are over
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        // The attacker's own steps, at 50 a second and just ahead of the host, as a guest's.
        const bool stepping = row.attack != Attack::PlayersBeforeItsFirstStep;
        const bool trickling = row.attack == Attack::Trickle && sent >= kFloodFrom;
        if (trickling && trickleFrom < 0) trickleFrom = t;
        const bool due = trickling ? t - steppedAt >= 2.5 : sent < kDelay + long(t * 50) && sent < attacker.hostHave() + 4;
        bool fresh = false;
        if (stepping && due) {
            ++sent;
            steppedAt = t;
            fresh = true;
        }
        if (stepping && sent > kDelay && (fresh || t - sentAt > 0.015)) {   // and again until confirmed
            const long first = std::max<long>(kDelay + 1, sent - 8);
            attacker.sendSteps(first, std::vector<std::vector<ScriptEvent>>(size_t(sent - first + 1)), false, 0);
            sentAt = t;
        }
        const bool flooding = sent >= kFloodFrom || row.attack == Attack::PlayersBeforeItsFirstStep;
        // The late guest comes as the attacker's doings begin: the host plays on at its own pace
        // once the attacker is let go, and must still let a guest in.
        const bool crowding = row.attack == Attack::HalfOpen || row.attack == Attack::Strangers;
        if (!late.child && (crowding ? t >= 6 : flooding)) startLate();
        if (flooding && (row.attack == Attack::Players || row.attack == Attack::PlayersBeforeItsFirstStep))
            attacker.flood(wirePlayers({false, true, false, false}), kBurst);
        if (flooding && row.attack == Attack::Ends) attacker.flood(wireNumber(MsgKind::Ends, 887175816), kBurst);
        if (flooding && row.attack == Attack::OldSteps) {
            StepsPacket old;
            old.game = attacker.start().game;
            old.have = {{0, 1}};
            old.runs.push_back(StepRun{attacker.id(), kDelay + 1, std::vector<StepCommands>(8), false, 0});
            attacker.flood(wireSteps(old), kBurst);
        }
        attacker.pump(1);
    }
    ASSERT_TRUE(host.child->waitEnd(20000)) << "the host still runs: " << host.child->err();
    ASSERT_TRUE(honest.child->waitEnd(20000)) << honest.child->err();
    ASSERT_TRUE(late.child && late.child->waitEnd(20000)) << (late.child ? late.child->err() : "");
    const std::string err = host.child->err();

    EXPECT_EQ(host.child->exitCode(), 0) << err;
    EXPECT_NE(host.child->out().find("game 1: score"), std::string::npos) << host.child->out();
    EXPECT_NE(host.child->out().find(std::to_string(kSteps) + " steps"), std::string::npos) << err;
    EXPECT_LT(peak, 64 * 1024) << "the host's peak memory, kB";
    EXPECT_LT(err.size(), 100u * 1024) << "the host's standard error, bytes";
    if (*row.hostSays) {
        EXPECT_EQ(count(err, row.hostSays), 1u) << err;
    }
    const bool letGo = row.attack != Attack::HalfOpen && row.attack != Attack::Strangers;
    EXPECT_EQ(!attacker.byes().empty(), letGo) << err;
    if (row.attack == Attack::Trickle) {
        EXPECT_LT(letGoAt - trickleFrom, 10) << err;
    }
    if (strangers) {
        EXPECT_GT(strangers->made(), 16) << "the strangers were never let go";
    }

    const testing::RunResult alone = testing::runScript(merged(!beforeStart, beforeStart), kSteps);
    ASSERT_EQ(alone.code, 0) << alone.err;
    EXPECT_TRUE(host.trace() == alone.traceText) << "the host's game differs; it said: " << err;
    EXPECT_EQ(honest.child->exitCode(), 0) << honest.child->err();
    EXPECT_TRUE(honest.trace() == alone.traceText) << "the honest guest's game differs: " << honest.child->err();
    EXPECT_EQ(count(err, "(players 4) joined"), 1u) << err;
    EXPECT_EQ(late.child->exitCode(), 0) << late.child->err();
    if (beforeStart) {
        EXPECT_TRUE(late.trace() == alone.traceText) << late.child->err();
    }
}

const Row kRows[] = {
    {"PlayersMessages", Attack::Players,
     "machine 2 (players 2) left, dropped by the host: it sent more than 10 \"players\" messages in a second"},
    {"EndsMessages", Attack::Ends,
     "machine 2 (players 2) left, dropped by the host: it sent more than 2 \"ends\" messages in a second"},
    {"PlayersMessagesBeforeItsFirstStep", Attack::PlayersBeforeItsFirstStep,
     "machine 2 (players 2) left, dropped by the host: it sent more than 10 \"players\" messages in a second"},
    {"OldSteps", Attack::OldSteps,
     "machine 2 (players 2) left, dropped by the host: it sent more than 250 packets of steps that bring nothing new"},
    {"KeepAlivesRightAfterItsHello", Attack::AlivesAfterHello,
     "machine 2 (players 2) left, dropped by the host: it sent more than 50 keep-alives in a second"},
    {"AStepEveryTwoAndAHalfSeconds", Attack::Trickle,
     "machine 2 (players 2) left, dropped by the host: it held the game back for more than 3 seconds within 10 seconds"},
    {"EightHalfOpenConnectsRenewed", Attack::HalfOpen, ""},
    {"StrangersThatNeverSayHello", Attack::Strangers, ""},
};

INSTANTIATE_TEST_SUITE_P(Attack, HostileFlood, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hopshot
