// The program as a player starts it: the command line, no display, and a real window ended by
// its menu and by its close box.
#include "app/form1.h"
#include "testing/gui_test_support.h"

#include <QMenu>
#include <QMenuBar>
#include <QScreen>

#include <gtest/gtest.h>

#include <fstream>

namespace hopshot {
namespace {

using guitest::Child;
using guitest::startProgram;
using guitest::waitFor;

const std::vector<std::string> kNoDisplay = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};

TEST(Program, HelpListsEveryOptionWithoutADisplay) {
    auto child = startProgram({"--help"}, kNoDisplay);
    ASSERT_TRUE(child->waitEnd(10000));
    EXPECT_TRUE(child->exitedWith(0));
    for (const char* option : {"--players", "--live", "--small", "--simple", "--wire",
                               "--headless", "--trace", "--dir", "--steps", "--help", "--version"})
        EXPECT_NE(child->out().find(std::string("\n  ") + option + " "), std::string::npos) << option;
}

TEST(Program, BadOptionsEndWithStatusTwoAndSayWhy) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--players", "7"}, "hopshot: --players takes the players to check"},
        {{"--frobnicate"}, "hopshot: unknown option '--frobnicate'"},
        {{"--dir", "x"}, "hopshot: --dir needs --headless SCRIPT"},
        {{"--record", "a", "--replay", "b"}, "hopshot: --record and --replay cannot go together"},
    };
    for (const auto& [args, message] : cases) {
        auto child = startProgram(args, kNoDisplay);
        ASSERT_TRUE(child->waitEnd(10000));
        EXPECT_TRUE(child->exitedWith(2)) << args[0];
        EXPECT_NE(child->err().find(message), std::string::npos) << child->err();
        EXPECT_NE(child->err().find("--help"), std::string::npos) << child->err();
    }
}

TEST(Program, VersionNeedsNoDisplay) {
    auto child = startProgram({"--version"}, kNoDisplay);
    ASSERT_TRUE(child->waitEnd(10000));
    EXPECT_TRUE(child->exitedWith(0));
    EXPECT_EQ(child->out().rfind("hopshot ", 0), 0u) << child->out();
}

TEST(Program, WithoutADisplayTheWindowSaysSoInsteadOfAborting) {
    auto child = startProgram({}, kNoDisplay);
    ASSERT_TRUE(child->waitEnd(10000));
    ASSERT_TRUE(WIFEXITED(child->status)) << "ended by a signal";
    EXPECT_NE(WEXITSTATUS(child->status), 0);
    EXPECT_NE(child->err().find("hopshot: cannot open the display"), std::string::npos)
        << child->err();
}

TEST(Program, AHeadlessRunNeedsNoDisplay) {
    const std::string dir = ::testing::TempDir();
    const std::string script = dir + "/esc-at-once.txt";
    std::ofstream(script) << "game\nat 1 key down 27 0\n";
    auto child = startProgram({"--headless", script, "--dir", dir}, kNoDisplay);
    ASSERT_TRUE(child->waitEnd(30000));
    EXPECT_TRUE(child->exitedWith(0)) << child->err();

    auto missing = startProgram({"--headless", dir + "/no-such-script.txt"}, kNoDisplay);
    ASSERT_TRUE(missing->waitEnd(30000));
    EXPECT_TRUE(missing->exitedWith(1)) << missing->err();
}

// --- the real window ---

// Where Quit is, relative to the window: the same window built here, its menu opened by a click.
struct QuitClicks { QPoint menu, item; };

QuitClicks whereQuitIs() {
    Form1 form(WindowPresets{}, guitest::programDir());
    EXPECT_TRUE(guitest::showAndFocus(form));
    QMenuBar* bar = form.menuBar();
    auto* gameMenu = form.findChild<QMenu*>(QStringLiteral("ゲーム"));
    auto* quit = form.findChild<QAction*>(QStringLiteral("終わる"));
    const QPoint menuAt = bar->mapToGlobal(bar->actionGeometry(gameMenu->menuAction()).center());
    guitest::clickAt(menuAt);
    EXPECT_TRUE(waitFor([&] { return gameMenu->isVisible(); }, 3000));
    const QPoint itemAt = gameMenu->mapToGlobal(gameMenu->actionGeometry(quit).center());
    gameMenu->hide();
    return {form.mapFromGlobal(menuAt), form.mapFromGlobal(itemAt)};
}

bool clickIn(unsigned long window, QPoint at) {
    return guitest::sh("xdotool mousemove --window " + std::to_string(window) + " " +
                       std::to_string(at.x()) + " " + std::to_string(at.y()) + " click 1");
}

// The child's window as shown on the screen: the title picture, or the black 3D view of a game.
bool showsTheGame(unsigned long window) {
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(window).toImage();
    if (shot.isNull()) return false;
    const int top = shot.height() - 480;   // below the menu bar
    for (QPoint p : {QPoint(100, 200), QPoint(320, 300), QPoint(600, 450)})
        if (shot.pixelColor(p.x(), top + p.y()) != QColor(Qt::black)) return false;
    return true;
}

class ProgramWindow : public ::testing::TestWithParam<bool> {   // param: during a game
protected:
    void SetUp() override {
        if (!guitest::app()) GTEST_SKIP() << "needs an X display: run under xvfb-run";
    }
    // Starts the program, and a game in it when the test asks for one.
    unsigned long start(std::unique_ptr<Child>& child) {
        child = startProgram({});
        const unsigned long window = guitest::windowOf(*child);
        EXPECT_NE(window, 0u) << child->err();
        if (!window) return 0;
        EXPECT_TRUE(guitest::focusWindow(window));
        EXPECT_FALSE(showsTheGame(window));
        if (GetParam()) {
            EXPECT_TRUE(guitest::sh("xdotool key ctrl+s"));
            EXPECT_TRUE(waitFor([&] { return showsTheGame(window); }, 5000)) << "no game started";
        }
        return window;
    }
};

TEST_P(ProgramWindow, QuitChosenByClicksEndsItWithStatusZero) {
    const QuitClicks at = whereQuitIs();
    std::unique_ptr<Child> child;
    const unsigned long window = start(child);
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(clickIn(window, at.menu));
    // The menu opens in a window of its own: wait for it before choosing the item.
    EXPECT_TRUE(waitFor([&] {
        return std::stoi(guitest::shOut("xdotool search --onlyvisible --pid " +
                                        std::to_string(child->pid) + " --name '' | wc -l")) >= 2;
    }, 5000));
    ASSERT_TRUE(clickIn(window, at.item));
    ASSERT_TRUE(child->waitEnd(10000)) << "still running after Quit";
    EXPECT_TRUE(child->exitedWith(0)) << child->err();
}

TEST_P(ProgramWindow, TheCloseBoxEndsItWithStatusZero) {
    std::unique_ptr<Child> child;
    const unsigned long window = start(child);
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(guitest::sendCloseRequest(uint32_t(window)));
    ASSERT_TRUE(child->waitEnd(10000)) << "still running after the close box";
    EXPECT_TRUE(child->exitedWith(0)) << child->err();
}

INSTANTIATE_TEST_SUITE_P(, ProgramWindow, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "DuringAGame" : "Idle"; });

// Without OpenGL 3.3 the game still runs its steps, with no picture, and says why on stderr.
TEST(ProgramWithoutGl, PlaysWithNoPictureAndSaysWhy) {
    if (!guitest::app()) GTEST_SKIP() << "needs an X display: run under xvfb-run";
    ::setenv("MESA_GL_VERSION_OVERRIDE", "2.1", 1);   // Mesa then offers no 3.3 context
    auto child = startProgram({"--nosound"});
    ::unsetenv("MESA_GL_VERSION_OVERRIDE");
    const unsigned long window = guitest::windowOf(*child);
    ASSERT_NE(window, 0u) << child->err();
    ASSERT_TRUE(guitest::focusWindow(window));
    ASSERT_TRUE(guitest::sh("xdotool key ctrl+s"));
    EXPECT_TRUE(waitFor([&] { return child->err().find("no 3D picture") != std::string::npos; },
                        5000));
    EXPECT_NE(child->err().find("needs 3.3"), std::string::npos) << child->err();
    // The game goes on: the countdown ticks in the time label (black 3D view, labels drawn).
    EXPECT_TRUE(waitFor([&] { return showsTheGame(window); }, 5000));
    ASSERT_TRUE(guitest::sendCloseRequest(uint32_t(window)));
    ASSERT_TRUE(child->waitEnd(10000));
    EXPECT_TRUE(child->exitedWith(0)) << child->err();
}

}  // namespace
}  // namespace hopshot
