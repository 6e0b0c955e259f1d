// What a hostile host can do to a guest: a real headless guest joins a host of the test's own on
// the loopback interface, which starts its game and then floods it or pauses and falls silent.
// Either way the guest ends within its limits, small, and says why.
#include "testing/headless_test_support.h"
#include "testing/hostile_peer.h"
#include "testing/process_support.h"

#include <gtest/gtest.h>

namespace hopshot {
namespace {

using testing::HostileHost;
using testing::TempDir;
using Clock = std::chrono::steady_clock;

uint16_t testPort(int slot) { return uint16_t(58000 + (getpid() % 400) * 4 + slot); }

long peakKb(pid_t pid) {
    const std::string status = proc::slurp("/proc/" + std::to_string(pid) + "/status");
    const size_t at = status.find("VmHWM:");
    return at == std::string::npos ? 0 : std::atol(status.c_str() + at + 6);
}

struct Row {
    const char* attack;
    bool floods;              // notices as fast as they go; else a pause, then nothing at all
    const char* guestSays;
    double atLeast, atMost;   // seconds from the attack to the guest's end
};

TEST(HostileHost, AGuestEndsWithinItsLimitsWhateverTheHostSends) {
    const Row rows[] = {
        {"a flood of notices", true, "the host sent more than 20 notices in a second: this machine leaves", 0, 10},
        {"a pause, then silence", false, "the host dropped this machine: it sent nothing for 15 seconds", 14, 20},
    };
    int slot = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.attack);
        const uint16_t port = testPort(slot++);
        HostileHost host(port);
        ASSERT_TRUE(host.listening());
        TempDir dir;
        std::ofstream(dir.path() / "script") << "players 0 1 0 0\ngame\n";
        auto guest = proc::start(HOPSHOT_BINARY,
                                 {"--headless", (dir.path() / "script").string(), "--dir", dir.path().string(),
                                  "--steps", "1000", "--join", "127.0.0.1:" + std::to_string(port)},
                                 (dir.path() / "guest").string());
        StartMessage start;
        start.game = 1;
        start.delay = 2;
        start.machines = {0, 1};
        start.machinePlayers = {{true, false, false, false}, {false, true, false, false}};
        start.players = {true, true, false, false};
        start.stepLimit = 1000;
        const auto until = Clock::now() + std::chrono::seconds(15);
        while (!host.heardSteps() && Clock::now() < until && !guest->ended()) host.pump(5, &start);
        ASSERT_TRUE(host.heardSteps()) << guest->err();

        if (!row.floods) host.send(wireNumber(MsgKind::Pause, 1));
        const auto began = Clock::now();
        long peak = 0;
        while (!guest->ended() && Clock::now() - began < std::chrono::seconds(30)) {
            if (row.floods)
                for (int k = 0; k < 200; ++k) host.send(wireText(MsgKind::Notice, std::string(300, 'n')), false);
            host.pump(row.floods ? 1 : 20);   // ENet's own pings are answered all along
            peak = std::max(peak, peakKb(guest->pid));
        }
        const double took = std::chrono::duration<double>(Clock::now() - began).count();
        ASSERT_TRUE(guest->waitEnd(5000)) << "the guest still runs";
        EXPECT_EQ(guest->exitCode(), 3) << guest->err();
        EXPECT_NE(guest->err().find(row.guestSays), std::string::npos) << guest->err();
        EXPECT_GE(took, row.atLeast);
        EXPECT_LE(took, row.atMost) << guest->err();
        EXPECT_LT(peak, 64 * 1024) << "the guest's peak memory, kB";
    }
}

}  // namespace
}  // namespace hopshot
