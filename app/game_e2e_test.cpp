// Whole games as a player plays them, with real keys in a real X server: a shell fired with Ctrl
// flies away from the tank in the world and in the picture; the program itself plays a full
// minute with Ctrl tapped throughout, the score label changes, the record prompt takes a name
// and the high-score file holds it; and a four-player game runs and Esc brings the title back.
#include "game/game_routine.h"
#include "testing/ending_test_support.h"
#include "app/form1.h"

#include <QAction>

#include <gtest/gtest.h>

#include <csignal>

#include <algorithm>
#include <map>

namespace hopshot {
namespace {

using guitest::waitFor;

using guitest::assetsDir;

int count(const QImage& image, QRect area, const std::function<bool(QColor)>& test) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (test(image.pixelColor(x, y))) ++n;
    return n;
}

// A shell's brass and copper in the light: red well up, green below it but not far, blue low.
// The hoppers' pink has more blue than green, blood almost no green, the grass and the lanes
// more green than red, and the earth and the tanks' stowage twice the blue of brass.
bool isShell(QColor c) {
    const int r = c.red(), g = c.green(), b = c.blue();
    return r > 60 && g < r && g * 100 > r * 35 && b * 100 < r * 40 && b < g;
}

// The sky at rest is (0.5, 0.5, 0.8) of full brightness.
bool isSky(QColor c) {
    return std::abs(c.red() - 128) <= 2 && std::abs(c.green() - 128) <= 2 &&
           std::abs(c.blue() - 204) <= 2;
}

// --- one player's shell, in the window of this process ---

// The world after each frame step, and each picture Picture1 showed, by the step it shows.
class WatchedForm1 : public Form1 {
public:
    struct Step {
        int16_t shellX, shellZ, elevation, steerY;
    };

    WatchedForm1(const WindowPresets& presets, const QString& dir) : Form1(presets, dir) {
        view_ = findChild<GLView*>(QStringLiteral("Picture1"));
        view_->installEventFilter(this);
    }

    std::vector<Step> steps;             // steps[k]: the world after step k of the game
    std::map<int, QImage> pictures;      // step -> the picture of that step
    std::function<void(int)> afterStep;  // the test's driver, run after each step

    void stepDone() override {
        const World& w = game().w;
        steps.push_back({w.shellX[0], w.shellZ[0], w.gunElevation[0], w.steerY[0]});
        // A paint since the last step read the device back: the view now shows that step.
        if (paintedStep_ >= 0) pictures[paintedStep_] = view_->shown();
        paintedStep_ = -1;
        if (afterStep) afterStep(int(steps.size()) - 1);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == view_ && event->type() == QEvent::Paint && !steps.empty())
            paintedStep_ = int(steps.size()) - 1;
        return Form1::eventFilter(watched, event);
    }

private:
    GLView* view_ = nullptr;
    int paintedStep_ = -1;
};

class GameInWindow : public ::testing::Test {
protected:
    void SetUp() override {
        if (!guitest::app()) GTEST_SKIP() << "needs an X display: run under xvfb-run";
    }
};

// The rows of `area` that hold shell pixels: their mean, or -1 when there are none.
double shellRow(const QImage& picture, QRect area) {
    long sum = 0, n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (isShell(picture.pixelColor(x, y))) {
                sum += y;
                ++n;
            }
    return n ? double(sum) / n : -1;
}

TEST_F(GameInWindow, CtrlFiresAShellThatFliesAwayDownTheFieldAndShowsAboveTheTank) {
    WatchedForm1 form(WindowPresets{}, assetsDir());
    ASSERT_TRUE(guitest::showAndFocus(form));

    // Driven step by step, each stage waiting for the world to show the last one took: the gun
    // raised with a held Down key (so the shell flies long enough to be seen), then Ctrl held
    // until the shell is out (a press and its release taken in the same yield would be undone
    // before any step saw it), then a while of flight, then Esc.
    enum class Stage { Warming, Raising, Settling, Firing, Flying, Stopping } stage = Stage::Warming;
    int fired = -1, settledAt = -1;
    form.afterStep = [&](int k) {
        const WatchedForm1::Step& s = form.steps[k];
        switch (stage) {
        case Stage::Warming:
            if (k < 25) break;
            guitest::sh("xdotool keydown Down");
            stage = Stage::Raising;
            break;
        case Stage::Raising:
            if (s.elevation < 20) break;
            guitest::sh("xdotool keyup Down");
            stage = Stage::Settling;
            break;
        case Stage::Settling:
            if (s.steerY != 0) break;
            if (settledAt < 0) settledAt = k;
            if (k < settledAt + 3) break;
            guitest::sh("xdotool keydown ctrl");
            stage = Stage::Firing;
            break;
        case Stage::Firing:
            if (s.shellX == kIdleX) break;
            fired = k;
            guitest::sh("xdotool keyup ctrl");
            stage = Stage::Flying;
            break;
        case Stage::Flying:
            if (s.shellX != kIdleX && k < fired + 40) break;
            guitest::sh("xdotool key Escape");
            stage = Stage::Stopping;
            break;
        case Stage::Stopping:
            break;
        }
    };
    // A game that goes wrong still ends, well before its minute is up.
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, [&] { form.game().w.running = 0; });
    giveUp.start(30000);
    form.findChild<QAction*>(QStringLiteral("スタート"))->trigger();
    ASSERT_TRUE(waitFor([&] { return !form.steps.empty() && form.game().w.running == 0 &&
                                     form.findChild<QWidget*>("Image1")->isVisible(); },
                        40000));
    guitest::sh("xdotool keyup ctrl keyup Down");   // whatever a failed run left held
    ASSERT_GE(fired, 0) << "no shell left the tank; the gun reached "
                        << form.steps.back().elevation;

    // In the world: the shell is out and flies on down the field, further every step.
    const auto& steps = form.steps;
    EXPECT_EQ(steps[fired - 1].shellX, kIdleX);
    int flight = 0;
    while (fired + flight + 1 < int(steps.size()) && steps[fired + flight + 1].shellX != kIdleX)
        ++flight;
    ASSERT_GE(flight, 4) << "the shell was gone after " << flight << " more steps";
    for (int k = fired; k < fired + flight; ++k) {
        SCOPED_TRACE(k - fired);
        EXPECT_EQ(steps[k].shellX, tankX(0));   // straight down the field from player 1's tank
        EXPECT_GT(steps[k + 1].shellZ, steps[k].shellZ);
    }

    // In the picture: along the view's centre line, above the tank, no shell before the shot;
    // while it climbs (its first eight steps with the gun at 20 degrees or more), the shell shows
    // there, and well higher up (further away and higher) three steps or more later.
    const QRect band(300, 20, 40, 180);
    auto before = form.pictures.upper_bound(fired - 1);
    ASSERT_NE(before, form.pictures.begin()) << "no picture before the shot";
    --before;
    guitest::keepShot(before->second, "shell-before");
    EXPECT_EQ(count(before->second, band, isShell), 0);
    std::vector<std::pair<int, QImage>> climbing;
    for (auto it = form.pictures.lower_bound(fired);
         it != form.pictures.end() && it->first <= std::min(fired + 8, fired + flight); ++it)
        if (shellRow(it->second, band) >= 0) climbing.emplace_back(*it);
    ASSERT_FALSE(climbing.empty()) << "the shell never showed";
    const int earlyStep = climbing.front().first;   // named, not bound: a lambda captures it
    const auto& early = climbing.front().second;
    auto later = std::find_if(climbing.begin(), climbing.end(),
                              [&](const auto& p) { return p.first >= earlyStep + 3; });
    ASSERT_NE(later, climbing.end()) << "no two pictures of the shell three steps apart";
    guitest::keepShot(early, "shell-early");
    guitest::keepShot(later->second, "shell-later");
    EXPECT_NE(early.copy(band), later->second.copy(band));
    EXPECT_LT(shellRow(later->second, band), shellRow(early, band) - 15)
        << "steps " << earlyStep << " and " << later->first;
}

// --- the program itself ---

// The parts of the program's window as shown: below the menu bar, the score label at the top
// left, the 3D view below the labels.
QRect clientArea(const QImage& shot) { return QRect(0, shot.height() - 480, 640, 480); }
QImage scoreLabel(const QImage& shot) {
    return shot.copy(clientArea(shot).adjusted(0, 0, -320, -430));
}
QImage view3D(const QImage& shot) { return shot.copy(clientArea(shot).adjusted(0, 50, 0, 0)); }

// The score label as the game shows it: its letters in their cyan on black.
bool isScoreLabel(const QImage& label) {
    return count(label, label.rect(), [](QColor c) { return c == QColor(192, 255, 255); }) > 50 &&
           count(label, label.rect(), [](QColor c) { return c == QColor(Qt::black); }) >
               label.width() * label.height() / 2;
}

class GameProgram : public ::testing::Test {
protected:
    void SetUp() override {
        if (!guitest::app()) GTEST_SKIP() << "needs an X display: run under xvfb-run";
    }

    // The title picture beside the program fills the window below the menu bar (sampled).
    bool showsTitle(unsigned long window) {
        const QImage title(dir.qpath() + QStringLiteral("/title.bmp"));
        const QImage shot = guitest::grabShown(window);
        if (shot.isNull() || title.isNull()) return false;
        const int top = clientArea(shot).top();
        for (int y = 10; y < 480; y += 60)
            for (int x = 10; x < 640; x += 80)
                if (shot.pixelColor(x, top + y) != title.pixelColor(x, y)) return false;
        return true;
    }

    // Starts the program, waits for its title, and starts a game with Ctrl+S.
    unsigned long startAGame(const std::vector<std::string>& args) {
        child = dir.start(args, {{"SDL_AUDIODRIVER", "dummy"}});
        const auto window = guitest::waitForWindow(*child, "HopShot", 20000);
        EXPECT_TRUE(window) << child->err();
        if (!window) return 0;
        EXPECT_TRUE(waitFor([&] { return showsTitle(*window); }, 10000));
        EXPECT_TRUE(guitest::focusWindow(*window));
        EXPECT_TRUE(guitest::sh("xdotool key ctrl+s"));
        EXPECT_TRUE(waitFor([&] { return isScoreLabel(scoreLabel(guitest::grabShown(*window))); },
                            10000)) << "no game started";
        return *window;
    }

    void closeAndExpectStatusZero(unsigned long window) {
        ASSERT_TRUE(guitest::sendCloseRequest(uint32_t(window)));
        ASSERT_TRUE(child->waitEnd(15000)) << "still running after the close box";
        EXPECT_TRUE(child->exitedWith(0)) << child->err();
    }

    guitest::ProgramDir dir{true};
    std::unique_ptr<guitest::Child> child;
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t from = 0;
    for (size_t at; (at = text.find("\r\n", from)) != std::string::npos; from = at + 2)
        out.push_back(text.substr(from, at - from));
    return out;
}

TEST_F(GameProgram, AFullMinuteWithCtrlTappedScoresAndTheRecordTakesTheTypedName) {
    dir.write("gun3.x", "\r\n-1000000\r\n\r\n 0\r\n");   // any one-player score beats it
    const unsigned long window = startAGame({});
    ASSERT_NE(window, 0u);
    const QImage firstLabel = scoreLabel(guitest::grabShown(window));
    guitest::keepShot(firstLabel, "score-at-start");

    // Ctrl tapped about every 300 ms (held long enough that a step sees it), the score label
    // looked at every two seconds, until the record prompt comes up at the end of the minute.
    std::optional<unsigned long> prompt;
    int labelsSeen = 0, labelsChanged = 0;
    QImage changedLabel;
    QElapsedTimer clock;
    clock.start();
    qint64 lastLook = 0;
    while (!prompt && clock.elapsed() < 150000 && !child->waitEnd(0)) {
        guitest::sh("xdotool key --delay 80 ctrl");
        guitest::pump(220);
        if (clock.elapsed() - lastLook >= 2000) {
            lastLook = clock.elapsed();
            const QImage label = scoreLabel(guitest::grabShown(window));
            if (isScoreLabel(label)) {
                ++labelsSeen;
                if (label != firstLabel) {
                    if (labelsChanged++ == 0) changedLabel = label;
                    guitest::keepShot(label, "score-later");
                }
            }
        }
        prompt = guitest::waitForWindow(*child, "NewRecord!", 0);
    }
    ASSERT_TRUE(prompt) << "no record prompt after " << clock.elapsed() << " ms; " << child->err();
    EXPECT_GT(clock.elapsed(), 50000) << "the game ended early";
    guitest::keepShot(changedLabel, "score-first-change");
    guitest::keepShot(guitest::grabShown(window), "record-prompt-window");
    guitest::keepShot(guitest::grabShown(*prompt), "record-prompt");
    EXPECT_GE(labelsSeen, 10);
    EXPECT_GE(labelsChanged, 1) << "the score label never changed from its start";

    // The name typed into the prompt, then Return; the title comes back.
    ASSERT_TRUE(guitest::focusWindow(*prompt));
    guitest::pump(300);   // keys of the prompt's first moment were pressed before it
    ASSERT_TRUE(guitest::sh("xdotool type --delay 60 --window " + std::to_string(*prompt) +
                            " TARO"));
    guitest::pump(500);   // every letter taken and drawn
    guitest::keepShot(guitest::grabShown(*prompt), "record-prompt-typed");
    ASSERT_TRUE(guitest::sh("xdotool key Return"));
    EXPECT_TRUE(waitFor([&] { return !guitest::waitForWindow(*child, "NewRecord!", 0); }, 10000));
    EXPECT_TRUE(waitFor([&] { return showsTitle(window); }, 10000));

    closeAndExpectStatusZero(window);
    const std::vector<std::string> records = lines(dir.read("gun3.x"));
    ASSERT_EQ(records.size(), 4u) << dir.read("gun3.x");
    EXPECT_EQ(records[0], "TARO");
    EXPECT_GT(std::stol(records[1]), -1000000);
    EXPECT_EQ(records[2], "");
    EXPECT_EQ(records[3], " 0");
}

// A record is saved as soon as its holder is named, not when the program ends: killed outright
// (kill -9) as soon as the prompt has taken Enter, the program has the name in the file.
TEST_F(GameProgram, ARecordNamedInThePromptIsInTheFileBeforeTheProgramEnds) {
    dir.write("gun3.x", "\r\n-1000000\r\n\r\n 0\r\n");   // any one-player score beats it
    ASSERT_NE(startAGame({}), 0u);
    const auto prompt = guitest::waitForWindow(*child, "NewRecord!", 150000);
    ASSERT_TRUE(prompt) << child->err();
    ASSERT_TRUE(guitest::focusWindow(*prompt));
    guitest::pump(300);   // keys of the prompt's first moment were pressed before it
    ASSERT_TRUE(guitest::sh("xdotool type --delay 60 --window " + std::to_string(*prompt) + " HANAKO"));
    guitest::pump(500);
    const std::string before = dir.read("gun3.x");
    ASSERT_TRUE(guitest::sh("xdotool key Return"));
    ASSERT_TRUE(waitFor([&] { return !guitest::waitForWindow(*child, "NewRecord!", 0); }, 10000));
    ASSERT_EQ(::kill(child->pid, SIGKILL), 0);
    ASSERT_TRUE(child->waitEnd(10000));

    EXPECT_EQ(lines(before)[0], "") << "the name was in the file before Enter";
    const std::vector<std::string> records = lines(dir.read("gun3.x"));
    ASSERT_EQ(records.size(), 4u) << dir.read("gun3.x");
    EXPECT_EQ(records[0], "HANAKO");
    EXPECT_GT(std::stol(records[1]), -1000000);
    EXPECT_EQ(records[2], "");
    EXPECT_EQ(records[3], " 0");
}

TEST_F(GameProgram, FourPlayersFillTheQuartersAndEscBringsTheTitleBack) {
    // Esc counts for nothing, so even a cooperative record every game beats stays as it is.
    const std::string records = "\r\n 0\r\n\r\n-1000000\r\n";
    dir.write("gun3.x", records);
    const unsigned long window = startAGame({"--players", "1234"});
    ASSERT_NE(window, 0u);

    // Each player's view in its quarter: sky along its top, the game moving on.
    const QRect quarters[4] = {QRect(0, 0, 320, 215), QRect(320, 0, 320, 215),
                               QRect(0, 215, 320, 215), QRect(320, 215, 320, 215)};
    QImage view;
    auto allFourDrawn = [&] {
        view = view3D(guitest::grabShown(window));
        for (const QRect& q : quarters)
            if (count(view, QRect(q.left(), q.top(), q.width(), 20), isSky) < q.width() * 20 * 8 / 10)
                return false;
        return true;
    };
    EXPECT_TRUE(waitFor(allFourDrawn, 10000));
    guitest::keepShot(view, "four-players");
    // Hoppers come and hop: the picture changes (a slow machine may take a while).
    EXPECT_TRUE(waitFor([&] { return view3D(guitest::grabShown(window)) != view; }, 10000))
        << "the game stands still";

    ASSERT_TRUE(guitest::focusWindow(window));
    ASSERT_TRUE(guitest::sh("xdotool key Escape"));
    EXPECT_TRUE(waitFor([&] { return showsTitle(window); }, 10000));
    guitest::keepShot(guitest::grabShown(window), "four-players-after-esc");
    closeAndExpectStatusZero(window);
    EXPECT_EQ(dir.read("gun3.x"), records);
}

}  // namespace
}  // namespace hopshot
