// Network play in real windows: a host and a guest, each a program of its own in the X server,
// play a short game with real keys; both machines must have played the very same events.
#include "testing/ending_test_support.h"
#include "testing/hostile_peer.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

namespace hopshot {
namespace {

using guitest::Child;
using guitest::ProgramDir;
using guitest::shOut;
using guitest::sh;
namespace fs = std::filesystem;

uint16_t testPort() { return uint16_t(24000 + (getpid() % 2000) * 2); }

// The program from its own directory (its own high-score file).
std::unique_ptr<Child> startIn(const ProgramDir& dir, const std::vector<std::string>& args) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    setenv("XDG_CONFIG_HOME", dir.path("config").c_str(), 1);   // its window's size, its own
    std::vector<std::string> all;
    if (args[0] != "--headless") all.push_back("--nosound");
    all.insert(all.end(), args.begin(), args.end());
    auto child = std::make_unique<Child>();
    child->outPath = dir.path("run.out");
    child->errPath = dir.path("run.err");
    std::vector<std::string> argStore{dir.path("hopshot")};
    argStore.insert(argStore.end(), all.begin(), all.end());
    std::vector<char*> argv;
    for (auto& a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (char** e = environ; *e; ++e) envp.push_back(*e);
    envp.push_back(nullptr);
    guitest::spawnInto(*child, argv, envp);
    return child;
}

// The shown window whose caption starts with `caption`; 0 if none in time.
unsigned long windowCalled(const std::string& caption) {
    const std::string id = shOut("timeout 15 xdotool search --sync --onlyvisible --name '^" +
                                 caption + "' | head -1");
    return id.empty() ? 0 : std::stoul(id);
}

std::string captionOf(unsigned long window) {
    return shOut("xdotool getwindowname " + std::to_string(window));
}

// A real key event (xdotool's key, keydown or keyup) to a window that has the focus.
bool keys(unsigned long window, const std::string& what) {
    const size_t space = what.find(' ');
    return guitest::focusWindow(window) &&
           sh("xdotool " + what.substr(0, space) + " --window " + std::to_string(window) +
              what.substr(space) + " >/dev/null 2>&1");
}

TEST(NetWindow, AHostAndAGuestPlayOneGameWithTheSameEvents) {
    if (!guitest::app()) GTEST_SKIP() << "no X display";
    const uint16_t port = testPort();
    ProgramDir hostDir(true), guestDir(true);
    const std::string hostReplay = hostDir.path("net.replay"), guestReplay = guestDir.path("net.replay");
    // Each machine writes down the games it played, as any player's run can be.
    auto host = startIn(hostDir, {"--host", std::to_string(port), "--players", "1", "--trace",
                                  hostDir.path("trace"), "--record", hostReplay});
    const unsigned long hostWindow = windowCalled("HopShot — host, 1 machine, players 1");
    ASSERT_NE(hostWindow, 0u) << host->err();

    // The guest names no player: it takes the first free one, player 2.
    auto guest = startIn(guestDir, {"--join", "127.0.0.1:" + std::to_string(port), "--trace",
                                    guestDir.path("trace"), "--record", guestReplay});
    const unsigned long guestWindow = windowCalled("HopShot — guest, 2 machines, players 1 2");
    ASSERT_NE(guestWindow, 0u) << guest->err();
    EXPECT_TRUE(guitest::waitFor([&] {
        return captionOf(hostWindow).rfind("HopShot — host, 2 machines, players 1 2", 0) == 0;
    }, 5000)) << captionOf(hostWindow);
    sh("xdotool windowmove " + std::to_string(guestWindow) + " 700 0");

    // A third machine wanting player 2 too is refused at once, with a message box saying why.
    ProgramDir thirdDir(true);
    auto third = startIn(thirdDir, {"--join", "127.0.0.1:" + std::to_string(port), "--players", "2"});
    const unsigned long box = windowCalled("HopShot$");
    ASSERT_NE(box, 0u) << third->err();
    QImage shown;
    EXPECT_TRUE(guitest::showsBox(box, guitest::expectedBox(QMessageBox::Critical, "HopShot",
        QString::fromUtf8("The host at 127.0.0.1:%1 refused to let this machine join: player 2 is "
                          "already played on machine 2; join with free ones: --players 34.")
            .arg(port)), shown, 5000));
    guitest::keepShot(shown, "net-window-refused");
    ASSERT_TRUE(guitest::focusWindow(box) && sh("xdotool key Return"));
    ASSERT_TRUE(third->waitEnd(5000));
    EXPECT_TRUE(third->exitedWith(3));

    // A guest cannot start; the host starts for both.
    ASSERT_TRUE(keys(guestWindow, "key ctrl+s")) << host->err() << guest->err();
    EXPECT_TRUE(guitest::waitFor([&] {
        return captionOf(guestWindow).find("only the host starts a game") != std::string::npos;
    }, 5000)) << captionOf(guestWindow);
    ASSERT_TRUE(keys(hostWindow, "key ctrl+s"));
    guitest::pump(700);
    ASSERT_TRUE(keys(hostWindow, "keydown Left"));
    guitest::pump(400);
    ASSERT_TRUE(keys(hostWindow, "keyup Left"));
    ASSERT_TRUE(keys(guestWindow, "keydown d"));
    guitest::pump(400);
    ASSERT_TRUE(keys(guestWindow, "keyup d"));
    ASSERT_TRUE(keys(guestWindow, "keydown Left"));   // player 1's key on the guest: not its own
    guitest::pump(200);
    ASSERT_TRUE(keys(guestWindow, "keyup Left"));
    guitest::pump(300);
    guitest::keepShot(guitest::grabShown(hostWindow), "net-window-host");
    guitest::keepShot(guitest::grabShown(guestWindow), "net-window-guest");

    // The guest's P only says who pauses; the host's holds both machines, and P again goes on.
    auto steps = [&](const ProgramDir& d) {
        const std::string t = Child::slurp(d.path("trace"));
        return std::count(t.begin(), t.end(), '\n');
    };
    ASSERT_TRUE(keys(guestWindow, "key p"));
    EXPECT_TRUE(guitest::waitFor([&] {
        return captionOf(guestWindow).find("only the host pauses") != std::string::npos;
    }, 5000)) << captionOf(guestWindow);
    ASSERT_TRUE(keys(hostWindow, "key p"));
    guitest::pump(500);
    const long heldHost = steps(hostDir), heldGuest = steps(guestDir);
    guitest::pump(1000);
    EXPECT_EQ(steps(hostDir), heldHost) << "the host stepped while paused";
    EXPECT_EQ(steps(guestDir), heldGuest) << "the guest stepped while the host paused";
    guitest::keepShot(guitest::grabShown(guestWindow), "net-window-guest-paused");
    ASSERT_TRUE(keys(hostWindow, "key p"));
    EXPECT_TRUE(guitest::waitFor([&] { return steps(guestDir) > heldGuest + 20; }, 5000))
        << "the guest did not go on";

    // The host's Esc stops the game on both machines; each writes what its game received.
    ASSERT_TRUE(keys(hostWindow, "key Escape"));
    ASSERT_TRUE(guitest::waitFor([&] {
        return fs::exists(hostReplay) && fs::exists(guestReplay);
    }, 10000));
    guitest::pump(200);
    const std::string played = Child::slurp(hostReplay);
    EXPECT_EQ(played, Child::slurp(guestReplay));
    EXPECT_NE(played.find("players 1 1 0 0\n"), std::string::npos) << played;
    EXPECT_NE(played.find(" key down 37 0\n"), std::string::npos) << played;   // the host's Left
    EXPECT_NE(played.find(" key down 68 0\n"), std::string::npos) << played;   // the guest's D
    EXPECT_EQ(played.find(" key down 37 0\n"), played.rfind(" key down 37 0\n")) << played;
    EXPECT_NE(played.find(" key down 27 0\n"), std::string::npos) << played;

    // Both windows went through the same states, step for step, and the game's replay played
    // headless on one machine goes through them too.
    const std::string trace = Child::slurp(hostDir.path("trace"));
    EXPECT_GT(std::count(trace.begin(), trace.end(), '\n'), 20);
    EXPECT_TRUE(trace == Child::slurp(guestDir.path("trace")));
    auto alone = startIn(hostDir, {"--headless", hostReplay, "--trace", hostDir.path("alone"),
                                   "--dir", hostDir.path()});
    ASSERT_TRUE(alone->waitEnd(20000));
    EXPECT_TRUE(alone->exitedWith(0)) << alone->err();
    EXPECT_TRUE(Child::slurp(hostDir.path("alone")) == trace);

    // Esc on the guest leaves: the host's caption says who left, and the game goes on without it.
    ASSERT_TRUE(keys(guestWindow, "key Escape"));
    EXPECT_TRUE(guitest::waitFor([&] {
        return captionOf(hostWindow) ==
               "HopShot — host, 1 machine, players 1 — machine 2 (players 2) left";
    }, 5000)) << captionOf(hostWindow);
    // The machine that left plays alone now: its first game takes the plain caption back.
    EXPECT_EQ(captionOf(guestWindow), "HopShot — left the network game");
    ASSERT_TRUE(keys(guestWindow, "key ctrl+s"));
    EXPECT_TRUE(guitest::waitFor([&] { return captionOf(guestWindow) == "HopShot"; }, 5000))
        << captionOf(guestWindow);
    ASSERT_TRUE(keys(guestWindow, "key Escape"));
}

// A start that asks the generator for two billion draws: the guest's window moves it there a few
// million at a time and stays live meanwhile, so SIGTERM ends it at once, as at any other time.
TEST(NetWindow, AGuestMovingItsGeneratorForAStartEndsAtOnceOnSigterm) {
    if (!guitest::app()) GTEST_SKIP() << "no X display";
    const uint16_t port = uint16_t(testPort() + 1);
    testing::HostileHost host(port);
    ASSERT_TRUE(host.listening());
    ProgramDir dir(true);
    auto guest = startIn(dir, {"--join", "127.0.0.1:" + std::to_string(port), "--players", "2"});
    ASSERT_TRUE(guitest::waitFor([&] {
        host.pump(0);
        return host.welcomed();
    }, 15000)) << guest->err();
    ASSERT_NE(windowCalled("HopShot — guest"), 0u) << guest->err();
    StartMessage start;
    start.game = 1;
    start.delay = 2;
    start.machines = {0, 1};
    start.machinePlayers = {{true, false, false, false}, {false, true, false, false}};
    start.players = {true, true, false, false};
    start.draws = uint64_t(kMaxDraws);
    host.send(wireStart(start));
    guitest::waitFor([&] {
        host.pump(0);
        return false;
    }, 500);
    const auto asked = std::chrono::steady_clock::now();
    ASSERT_EQ(kill(guest->pid, SIGTERM), 0);
    ASSERT_TRUE(guest->waitEnd(10000));
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
    EXPECT_LT(took, 1.6) << "seconds from SIGTERM to the end; " << guest->err();
    EXPECT_TRUE(guest->exitedWith(0)) << guest->err();
}

}  // namespace
}  // namespace hopshot
