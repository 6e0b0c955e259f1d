// Recordings and replays as a player makes and watches them: a game played in the real window
// with real keys and recorded replays headless to the same score and trace; a replay in the
// window pauses, steps one frame per N, writes the headless trace and takes no live keys; a
// damaged or cut recording is refused with its line; the last twenty games are kept.
#include "play/headless.h"
#include "play/kept_games.h"
#include "testing/ending_test_support.h"

#include <gtest/gtest.h>

#include <regex>

namespace hopshot {
namespace {

using guitest::Child;
using guitest::ProgramDir;
using guitest::sh;
using guitest::waitFor;

namespace fs = std::filesystem;

// The title of the child's window that starts with "HopShot"; empty when none shows.
std::string windowTitle(const Child& child, unsigned long* id = nullptr) {
    for (const auto& [window, name] : guitest::shownWindows(child))
        if (name.rfind("HopShot", 0) == 0) {
            if (id) *id = window;
            return name;
        }
    return {};
}

// The step a replay's title shows; -1 when it shows none.
long titleStep(const std::string& title) {
    std::smatch m;
    return std::regex_search(title, m, std::regex(R"( - step (\d+))")) ? std::stol(m[1]) : -1;
}

struct HeadlessResult {
    int code = -1;
    std::string out, err, trace;
};

// The script run headless in a folder of its own (no high-score file: records start empty).
HeadlessResult runHeadlessIn(const std::string& script, const std::string& folder) {
    fs::create_directories(folder);
    HeadlessOptions o;
    o.script = script;
    o.trace = folder + "/headless.trace";
    o.dir = folder;
    std::ostringstream out, err;
    HeadlessResult r;
    r.code = runHeadless(o, out, err);
    r.out = out.str();
    r.err = err.str();
    r.trace = Child::slurp(o.trace);
    return r;
}

// The score in the last end object of a trace.
std::string lastEndScore(const std::string& trace) {
    const size_t end = trace.rfind("\"end\":true");
    if (end == std::string::npos) return {};
    std::smatch m;
    const std::string line = trace.substr(end);
    return std::regex_search(line, m, std::regex(R"("score":(-?\d+))")) ? m[1].str() : "";
}

// The title picture as a replay shows it: a band of its own covers the lines on starting and
// stopping a game (Ctrl+S does nothing in a replay); the rest is the title picture as it is.
void expectReplayTitle(unsigned long window, const ProgramDir& dir) {
    const QImage title(dir.qpath() + QStringLiteral("/title.bmp"));
    const QImage shot = guitest::grabShown(window);
    ASSERT_FALSE(shot.isNull());
    ASSERT_FALSE(title.isNull());
    const int top = shot.height() - 480;   // below the menu bar
    const QRect band(84, 321, 472, 69);    // where the start lines are drawn on the picture
    int inBand = 0, sameInBand = 0, outside = 0, sameOutside = 0;
    for (int y = 0; y < 480; y += 3)
        for (int x = 0; x < 640; x += 3) {
            const bool same = shot.pixelColor(x, top + y) == title.pixelColor(x, y);
            if (band.adjusted(2, 2, -2, -2).contains(x, y)) {
                ++inBand;
                sameInBand += same;
            } else if (!band.adjusted(-2, -2, 2, 2).contains(x, y)) {
                ++outside;
                sameOutside += same;
            }
        }
    EXPECT_EQ(sameOutside, outside) << "the title picture changed outside the start lines";
    EXPECT_LT(sameInBand, inBand / 10) << "the start lines still show";
    guitest::keepShot(shot, "replay-over");
}

class ReplayWindow : public ::testing::Test {
protected:
    void SetUp() override {
        if (!guitest::app()) GTEST_SKIP() << "needs an X display: run under xvfb-run";
    }

    // Starts the program and waits for its window; 0 when none shows.
    unsigned long start(const std::vector<std::string>& args,
                        std::map<std::string, std::string> env = {}) {
        env["SDL_AUDIODRIVER"] = "dummy";
        child = dir.start(args, env);
        unsigned long window = 0;
        waitFor([&] { return !windowTitle(*child, &window).empty(); }, 20000);
        EXPECT_NE(window, 0u) << child->err();
        if (window) {
            EXPECT_TRUE(guitest::focusWindow(window));
        }
        return window;
    }

    void closeAndExpectStatusZero(unsigned long window) {
        ASSERT_TRUE(guitest::sendCloseRequest(uint32_t(window)));
        ASSERT_TRUE(child->waitEnd(15000)) << "still running after the close box";
        EXPECT_TRUE(child->exitedWith(0)) << child->err();
    }

    ProgramDir dir{true};
    std::unique_ptr<Child> child;
};

TEST_F(ReplayWindow, AGamePlayedWithRealKeysReplaysHeadlessToTheSameScoreAndTrace) {
    const unsigned long window =
        start({"--record", dir.path("run.replay"), "--trace", dir.path("live.trace"),
               "--players", "12"});
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(sh("xdotool key ctrl+s"));
    guitest::pump(1500);
    // Player 1 turns and taps Ctrl, player 2 holds A and F for a charged shot, for about
    // eight seconds, then Esc.
    ASSERT_TRUE(sh("xdotool keydown Left sleep 0.4 keyup Left"));
    for (int i = 0; i < 12; ++i) {
        ASSERT_TRUE(sh("xdotool keydown ctrl sleep 0.08 keyup ctrl"));
        guitest::pump(200);
    }
    ASSERT_TRUE(sh("xdotool keydown a keydown f sleep 0.9 keyup a keyup f"));
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(sh(i % 2 ? "xdotool key --delay 60 Right ctrl" : "xdotool key --delay 60 ctrl"));
        guitest::pump(250);
    }
    ASSERT_TRUE(sh("xdotool key Escape"));
    guitest::pump(500);
    closeAndExpectStatusZero(window);

    const std::string recording = dir.read("run.replay");
    EXPECT_NE(recording.find("\nplayers 1 1 0 0\n"), std::string::npos) << recording;
    EXPECT_NE(recording.find(" key down 17 2\n"), std::string::npos) << "Ctrl with its mask";
    EXPECT_NE(recording.find(" key down 65 0\n"), std::string::npos) << "A";
    EXPECT_NE(recording.find(" tick\n"), std::string::npos) << "the countdown's ticks";
    EXPECT_NE(recording.find(" key down 27 0\n"), std::string::npos) << "Esc";
    const std::string live = dir.read("live.trace");
    ASSERT_NE(live.find("\"end\":true"), std::string::npos) << "the game did not end";
    EXPECT_GT(std::count(live.begin(), live.end(), '\n'), 300);

    const HeadlessResult replayed = runHeadlessIn(dir.path("run.replay"), dir.path("headless"));
    ASSERT_EQ(replayed.code, 0) << replayed.err;
    EXPECT_TRUE(replayed.trace == live) << "the headless trace differs from the window's";
    EXPECT_NE(replayed.out.find("game 1: score " + lastEndScore(live) + ","), std::string::npos)
        << replayed.out;
}

// A hand-written game: player 1 turns and fires; a tick every 6 steps ends the minute before
// step 360, with a record and its prompt, which the script answers.
std::string shortGame() {
    std::string s = "players 1 0 0 0\noptions 1 0 1 0\nname NOBODY\ngame\n";
    s += "at 2 key down 37 0\nat 30 key up 37 0\n";
    for (int k = 40; k < 360; k += 15)
        s += "at " + std::to_string(k) + " key down 17 2\nat " + std::to_string(k + 1) +
             " key up 17 0\n";
    for (int k = 6; k <= 360; k += 6) s += "at " + std::to_string(k) + " tick\n";
    return s;
}

const char* const kLowRecords = "\r\n-1000000\r\n\r\n-1000000\r\n";   // any score beats them

TEST_F(ReplayWindow, PausedEachNStepsOneFrameAndTheTraceIsTheHeadlessOne) {
    dir.write("short.replay", shortGame());
    dir.write("gun3.x", kLowRecords);
    const unsigned long window =
        start({"--replay", dir.path("short.replay"), "--trace", dir.path("window.trace")});
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(waitFor([&] { return titleStep(windowTitle(*child)) >= 20; }, 15000))
        << windowTitle(*child);
    EXPECT_EQ(windowTitle(*child).find("paused"), std::string::npos);

    ASSERT_TRUE(sh("xdotool key p"));
    ASSERT_TRUE(waitFor([&] { return windowTitle(*child).find("paused") != std::string::npos; },
                        5000));
    guitest::pump(300);
    const long paused = titleStep(windowTitle(*child));
    guitest::pump(1000);
    EXPECT_EQ(titleStep(windowTitle(*child)), paused) << "steps ran while paused";
    // Live game keys and the menu's Start do nothing to the game being shown (the trace below).
    ASSERT_TRUE(sh("xdotool key --delay 50 Right ctrl ctrl+s"));
    for (int n = 1; n <= 3; ++n) {
        ASSERT_TRUE(sh("xdotool key n"));
        EXPECT_TRUE(waitFor([&] { return titleStep(windowTitle(*child)) == paused + n; }, 5000))
            << "after N number " << n << ": " << windowTitle(*child);
        guitest::pump(300);
        EXPECT_EQ(titleStep(windowTitle(*child)), paused + n) << "one N, one step";
    }

    ASSERT_TRUE(sh("xdotool key plus plus plus p"));   // eight times, running again
    EXPECT_TRUE(waitFor([&] { return windowTitle(*child).find(" - 8x") != std::string::npos; },
                        5000)) << windowTitle(*child);
    EXPECT_TRUE(waitFor([&] { return windowTitle(*child).find("over") != std::string::npos; },
                        30000)) << windowTitle(*child);
    expectReplayTitle(window, dir);
    ASSERT_TRUE(sh("xdotool key Escape"));
    ASSERT_TRUE(child->waitEnd(15000)) << "Esc did not leave the replay";
    EXPECT_TRUE(child->exitedWith(0)) << child->err();

    // The prompt took the file's name, and the record reached in the replay is not saved.
    EXPECT_EQ(dir.read("gun3.x"), kLowRecords);
    const std::string shown = dir.read("window.trace");
    EXPECT_NE(shown.find("\"game\":1,\"end\":true,\"steps\":359,"), std::string::npos);
    EXPECT_NE(shown.find("\"hiNameSolo\":\"NOBODY\""), std::string::npos);

    fs::create_directories(dir.path("headless"));
    dir.write("headless/gun3.x", kLowRecords);
    const HeadlessResult headless = runHeadlessIn(dir.path("short.replay"), dir.path("headless"));
    ASSERT_EQ(headless.code, 0) << headless.err;
    EXPECT_TRUE(shown == headless.trace) << "the window's trace differs from the headless one";
}

TEST_F(ReplayWindow, TheLastTwentyGamesAreKeptInTheDataFolder) {
    const std::string data = dir.path("data");
    const std::string folder = data + "/hopshot/replays";
    fs::create_directories(folder);
    for (int day = 1; day <= 20; ++day) {
        char name[64];
        std::snprintf(name, sizeof name, "2001-01-%02d_120000_score_%d.replay", day, day * 100);
        dir.write("data/hopshot/replays/" + std::string(name), "game\nat 1 key down 27 0\n");
    }
    dir.write("data/hopshot/replays/my-notes.txt", "mine");
    // A game cut off by a kill while it was being kept, long ago: gone at the next start.
    const std::string leftover = folder + "/.writing-2001-01-21_120000_score_5.replay";
    dir.write("data/hopshot/replays/.writing-2001-01-21_120000_score_5.replay", "game\nat 1 ");
    fs::last_write_time(leftover, fs::file_time_type::clock::now() - std::chrono::hours(2));

    const unsigned long window = start({"--players", "1"}, {{"XDG_DATA_HOME", data}});
    ASSERT_NE(window, 0u);
    for (int game = 0; game < 2; ++game) {
        ASSERT_TRUE(sh("xdotool key ctrl+s"));
        guitest::pump(1500);
        ASSERT_TRUE(sh("xdotool key --delay 100 Left ctrl Escape"));
        guitest::pump(800);
    }
    closeAndExpectStatusZero(window);

    const std::vector<std::string> kept = keptGames(folder);
    ASSERT_EQ(kept.size(), 20u);
    EXPECT_EQ(fs::path(kept.front()).filename(), "2001-01-03_120000_score_300.replay");
    EXPECT_TRUE(fs::exists(folder + "/my-notes.txt"));
    EXPECT_FALSE(fs::exists(leftover));
    for (size_t i = 18; i < 20; ++i) {
        const std::string name = fs::path(kept[i]).filename().string();
        EXPECT_EQ(name.rfind("2001-", 0), std::string::npos) << name;
        // Each replays by itself, ended by the Esc it holds.
        const HeadlessResult r = runHeadlessIn(kept[i], dir.path("headless" + std::to_string(i)));
        ASSERT_EQ(r.code, 0) << r.err;
        std::smatch m;
        ASSERT_TRUE(std::regex_search(name, m, std::regex(R"(_score_(-?\d+)\.replay$)"))) << name;
        EXPECT_NE(r.out.find("game 1: score " + m[1].str() + ","), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find(", 3000 steps"), std::string::npos) << "not ended by its Esc";
    }
}

// --- no display needed ---

const std::vector<std::string> kNoDisplay = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};

TEST(ReplayFiles, ADamagedOrCutRecordingIsRefusedWithItsLine) {
    const std::string good =
        "joysticks 2\n\n# game 1\nplayers 1 0 0 0\noptions 1 0 0 0\ndraws 0\ngame\n"
        "at 1 key down 37 0\nat 43 tick\nat 44 key down 17 2\nat 80 key up 17 0\n";
    struct Case {
        const char* what;
        std::string text;
        int line;
    };
    const Case cases[] = {
        {"cut inside a line", good.substr(0, good.size() - 7), 11},
        {"cut after a word", good.substr(0, good.find("at 43 tick") + 3), 9},
        {"a letter changed", std::string(good).replace(good.find("at 43 tick") + 6, 1, "x"), 9},
        {"a number damaged", std::string(good).replace(good.find("17 2"), 2, "1x"), 10},
        {"a line doubled on", good + "at 90 key up 17 0 at 91 key up 17 0\n", 12},
        {"bytes that are no text", good + "at 9\xff\xfe\n", 12},
    };
    const ProgramDir dir{false};
    for (const Case& c : cases) {
        dir.write("bad.replay", c.text);
        for (const char* mode : {"--replay", "--headless"}) {
            auto child = guitest::startProgram({mode, dir.path("bad.replay")}, kNoDisplay);
            ASSERT_TRUE(child->waitEnd(10000));
            EXPECT_TRUE(child->exitedWith(2)) << c.what << " " << mode;
            EXPECT_NE(child->err().find(dir.path("bad.replay") + ":" + std::to_string(c.line) + ": "),
                      std::string::npos)
                << c.what << " " << mode << ": " << child->err();
        }
    }
    // The whole file is good.
    dir.write("good.replay", good);
    auto child = guitest::startProgram({"--headless", dir.path("good.replay"), "--dir", dir.path()},
                                       kNoDisplay);
    ASSERT_TRUE(child->waitEnd(30000));
    EXPECT_TRUE(child->exitedWith(0)) << child->err();
}

}  // namespace
}  // namespace hopshot

namespace hopshot {
namespace {

// P holds the game (no step, no tick) with its mark over the picture, F1 shows the controls over
// it, P again goes on; and a game ended by SIGTERM is kept so that its replay stops at its last
// step: the headless replay retraces the window's game step for step, pause and all.
TEST_F(ReplayWindow, APauseHoldsTheGameAndAGameEndedBySigtermIsKeptToItsLastStep) {
    const std::string data = dir.path("data");
    const unsigned long window =
        start({"--players", "12", "--trace", dir.path("live.trace")}, {{"XDG_DATA_HOME", data}});
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(sh("xdotool key ctrl+s"));
    guitest::pump(1000);
    ASSERT_TRUE(sh("xdotool keydown Left sleep 0.3 keyup Left"));
    ASSERT_TRUE(sh("xdotool key p"));
    guitest::pump(300);
    auto steps = [&] {
        const std::string t = dir.read("live.trace");
        return std::count(t.begin(), t.end(), '\n');
    };
    const long heldAt = steps();
    ASSERT_TRUE(sh("xdotool keydown d"));   // held while paused: it reaches the next step
    guitest::pump(1500);
    EXPECT_EQ(steps(), heldAt) << "steps ran while paused";
    // The mark and the help are written in pale yellow over the picture: the player sees them.
    auto markPixels = [](const QImage& image) {
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                n += c.red() > 230 && c.green() > 230 && c.blue() > 110 && c.blue() < 210;
            }
        return n;
    };
    const QImage paused = guitest::grabShown(window);
    guitest::keepShot(paused, "paused");
    ASSERT_TRUE(sh("xdotool key F1"));
    guitest::pump(300);
    const QImage help = guitest::grabShown(window);
    guitest::keepShot(help, "help");
    ASSERT_TRUE(sh("xdotool key F1 sleep 0.2 key p"));
    guitest::pump(1000);
    const QImage goingOn = guitest::grabShown(window);
    EXPECT_GT(markPixels(paused), 500) << "the pause mark is not seen";
    EXPECT_GT(markPixels(help), 1000) << "the help is not seen";
    EXPECT_LT(markPixels(goingOn), 100) << "the mark stayed";
    ASSERT_TRUE(sh("xdotool keyup d"));
    guitest::pump(300);
    EXPECT_GT(steps(), heldAt + 40) << "the game did not go on";
    ASSERT_EQ(kill(child->pid, SIGTERM), 0);
    ASSERT_TRUE(child->waitEnd(10000));
    EXPECT_TRUE(child->exitedWith(0)) << child->err();

    const std::vector<std::string> kept = keptGames(data + "/hopshot/replays");
    ASSERT_EQ(kept.size(), 1u);
    const std::string script = Child::slurp(kept[0]);
    EXPECT_NE(script.find("# stopped here: the program was closed\n"), std::string::npos) << script;
    const HeadlessResult r = runHeadlessIn(kept[0], dir.path("headless"));
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string live = dir.read("live.trace");
    ASSERT_EQ(live.find("\"end\":true"), std::string::npos) << "closed during the game: no end";
    // The replay: the window's steps, then the end its Esc makes.
    ASSERT_EQ(r.trace.rfind(live, 0), 0u) << "the replay does not retrace the window's game";
    EXPECT_NE(r.trace.substr(live.size()).find("\"end\":true"), std::string::npos);
    EXPECT_EQ(std::count(r.trace.begin(), r.trace.end(), '\n'), steps() + 1);
}

}  // namespace
}  // namespace hopshot
