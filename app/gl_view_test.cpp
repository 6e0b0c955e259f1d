// What Picture1 shows during a game, in a real X server: the players' views laid out on the
// picture, the sky, the ground and the tank where a player expects them, the parts no viewport
// covers left as they were, the wireframe option, and the view turning with the arrow keys, also
// after a click on the picture.
#include "app/form1.h"
#include "testing/gui_test_support.h"

#include <QAction>
#include <QTimer>

#include <gtest/gtest.h>

namespace hopshot {
namespace {

using guitest::waitFor;

using guitest::assetsDir;

// The sky at rest is (0.5, 0.5, 0.8) of full brightness.
bool isSky(QColor c) {
    return std::abs(c.red() - 128) <= 2 && std::abs(c.green() - 128) <= 2 &&
           std::abs(c.blue() - 204) <= 2;
}
bool isBlack(QColor c) { return c.red() == 0 && c.green() == 0 && c.blue() == 0; }
// The grass and the lanes in the sun: green well above red and blue.
bool isGround(QColor c) { return c.green() > c.red() + 25 && c.green() > c.blue() + 25; }
// The tanks' olive armour in the sun (green a little above red, blue well below) and the grey
// of their tracks; the earth of the tank row is redder, the grass far greener.
bool isTank(QColor c) {
    const bool olive = c.green() > c.red() && c.green() < c.red() + 25 && c.blue() + 20 < c.green();
    const bool track = c.red() > 10 && c.red() < 45 && std::abs(c.red() - c.green()) < 8 &&
                       std::abs(c.red() - c.blue()) < 8;
    return olive || track;
}
bool isNotSky(QColor c) { return !isSky(c); }

// The share of the pixels of `area` that pass `test`.
double share(const QImage& image, QRect area, bool (*test)(QColor)) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (test(image.pixelColor(x, y))) ++n;
    return double(n) / (area.width() * area.height());
}

// A picture is easier to judge by eye than by numbers: with HOPSHOT_PICTURES set to a
// directory, each case's picture is written there as hopshot-<case>.png.
void keep(const QImage& image, const char* name) {
    const char* dir = std::getenv("HOPSHOT_PICTURES");
    if (dir && *dir)
        image.save(QStringLiteral("%1/hopshot-%2.png").arg(QString::fromUtf8(dir), QString::fromUtf8(name)));
}

constexpr QRect kWhole(0, 0, 640, 430);
constexpr QRect kQuarters[4] = {QRect(0, 0, 320, 215), QRect(320, 0, 320, 215),
                                QRect(0, 215, 320, 215), QRect(320, 215, 320, 215)};

class GlViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!guitest::app()) GTEST_SKIP() << "needs an X display: run under xvfb-run";
    }

    void open(const WindowPresets& presets) {
        form = std::make_unique<Form1>(presets, assetsDir());
        ASSERT_TRUE(guitest::showAndFocus(*form));
        view = form->findChild<GLView*>(QStringLiteral("Picture1"));
        ASSERT_NE(view, nullptr);
    }

    // A moment of a game: `what` runs inside the game's frame loop (from one of its yields)
    // `ms` after Start.
    struct Moment {
        int ms;
        std::function<void()> what;
    };

    // Starts a game with the Start command and runs the moments in it; the game is stopped
    // right after the last one, and this returns when the title picture is back.
    void play(const std::vector<Moment>& moments) {
        std::vector<std::unique_ptr<QTimer>> timers;
        int last = 0;
        for (const Moment& m : moments) {
            auto t = std::make_unique<QTimer>();
            t->setSingleShot(true);
            QObject::connect(t.get(), &QTimer::timeout, m.what);
            t->start(m.ms);
            timers.push_back(std::move(t));
            last = std::max(last, m.ms);
        }
        QTimer stop;
        stop.setSingleShot(true);
        QObject::connect(&stop, &QTimer::timeout, [this] { world().running = 0; });
        stop.start(last + 100);
        form->findChild<QAction*>(QStringLiteral("スタート"))->trigger();
        ASSERT_TRUE(waitFor([&] { return !stop.isActive() && world().running == 0 &&
                                         form->findChild<QWidget*>("Image1")->isVisible(); },
                            20000));
    }

    // The picture a game shows `ms` after its start.
    QImage pictureOfAGame(const WindowPresets& presets, int ms = 1200) {
        open(presets);
        if (HasFatalFailure()) return {};
        QImage seen;
        play({{ms, [&] { seen = view->shown(); }}});
        return seen;
    }

    World& world() { return form->game().w; }

    std::unique_ptr<Form1> form;
    GLView* view = nullptr;
};

WindowPresets playing(std::array<bool, 4> players) {
    WindowPresets p;
    p.players = players;
    return p;
}

TEST_F(GlViewTest, OnePlayerSeesSkyAboveGroundAndTheTankAheadAtTheBottom) {
    const QImage picture = pictureOfAGame(playing({true, false, false, false}));
    keep(picture, "one-player");
    ASSERT_EQ(picture.size(), QSize(640, 430));
    // The camera stands behind and above the tank, looking down at it: sky in the top band,
    // the field below, the tank in the middle near the bottom.
    // (Hoppers hopping at the far end may stand against the sky.)
    EXPECT_GT(share(picture, QRect(0, 0, 640, 60), isSky), 0.8);
    EXPECT_GT(share(picture, QRect(0, 330, 640, 100), isGround), 0.5);
    EXPECT_EQ(share(picture, QRect(0, 330, 640, 100), isSky), 0.0);
    EXPECT_GT(share(picture, QRect(270, 230, 100, 120), isTank), 0.4);
    // ... and not at the sides, where only the field is.
    EXPECT_LT(share(picture, QRect(0, 230, 120, 200), isTank), 0.05);
    EXPECT_LT(share(picture, QRect(520, 230, 120, 200), isTank), 0.05);
    // Every pixel is drawn: black only where a face is turned away from the sun.
    EXPECT_LT(share(picture, kWhole, isBlack), 0.02);
}

// Each player's view in their own quarter; quarters no viewport covers keep what they showed,
// black in a window's first game. The overview of the live camera (three players) sits in the
// free quarter's small place.
TEST_F(GlViewTest, TheViewsFillTheQuartersOfThePlayersTakingPart) {
    struct Case {
        const char* name;
        std::array<bool, 4> players;
        bool liveCamera;
        std::array<bool, 4> drawn;   // quarters that show a player's view
        int overviewIn;              // the quarter with the overview view, or -1
    };
    const Case cases[] = {
        {"two-players", {true, true, false, false}, true, {true, true, false, false}, -1},
        {"players-1-and-4", {true, false, false, true}, true, {true, false, false, true}, -1},
        {"four-players", {true, true, true, true}, true, {true, true, true, true}, -1},
        {"three-players-live", {true, true, true, false}, true, {true, true, true, false}, 3},
        {"three-players-no-live", {true, true, true, false}, false, {true, true, true, false}, -1},
    };
    const QRect overviewPlaces[4] = {QRect(60, 30, 200, 150), QRect(380, 30, 200, 150),
                                     QRect(60, 245, 200, 150), QRect(380, 245, 200, 150)};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowPresets presets = playing(c.players);
        presets.liveCamera = c.liveCamera;
        const QImage picture = pictureOfAGame(presets);
        keep(picture, c.name);
        for (int q = 0; q < 4; ++q) {
            SCOPED_TRACE(q);
            const QRect quarter = kQuarters[q];
            const QRect skyBand(quarter.left(), quarter.top(), quarter.width(), 25);
            if (c.drawn[q]) {
                EXPECT_GT(share(picture, skyBand, isSky), 0.8);
                EXPECT_GT(share(picture, quarter.adjusted(0, 170, 0, 0), isGround), 0.4);
                EXPECT_LT(share(picture, quarter, isBlack), 0.02);
            } else if (q == c.overviewIn) {
                // The whole field from its far end: sky above, ground below, nothing outside.
                // The hoppers show their backs to this camera and the sun: they may be black.
                const QRect place = overviewPlaces[q];
                EXPECT_LT(share(picture, place, isBlack), 0.2);
                EXPECT_GT(share(picture, QRect(place.left(), place.top(), 200, 10), isSky), 0.9);
                EXPECT_GT(share(picture, place.adjusted(0, 100, 0, 0), isGround), 0.5);
                EXPECT_EQ(share(picture, QRect(quarter.left(), quarter.top(), 320, 30), isBlack), 1.0);
                EXPECT_EQ(share(picture, QRect(quarter.left(), place.bottom() + 1, 320,
                                               quarter.bottom() - place.bottom()), isBlack), 1.0);
                EXPECT_EQ(share(picture, QRect(quarter.left(), place.top(), 60, 150), isBlack), 1.0);
                EXPECT_EQ(share(picture, QRect(place.right() + 1, place.top(), 60, 150), isBlack), 1.0);
            } else {
                EXPECT_EQ(share(picture, quarter, isBlack), 1.0);
            }
        }
        form.reset();
    }
}

TEST_F(GlViewTest, TheSmallScreenDrawsOnlyItsFrameInTheMiddle) {
    WindowPresets presets = playing({true, false, false, false});
    presets.smallScreen = true;
    const QImage picture = pictureOfAGame(presets);
    keep(picture, "small-screen");
    const QRect place(120, 65, 400, 300);   // (120, 65) to (520, 365)
    EXPECT_LT(share(picture, place, isBlack), 0.02);
    EXPECT_GT(share(picture, QRect(120, 65, 400, 30), isSky), 0.9);
    int outsideDrawn = 0;
    for (int y = 0; y < 430; ++y)
        for (int x = 0; x < 640; ++x)
            if (!place.contains(x, y) && !isBlack(picture.pixelColor(x, y))) ++outsideDrawn;
    EXPECT_EQ(outsideDrawn, 0);
}

// The wireframe shows the field as lines over the sky: most of what was ground is now sky.
TEST_F(GlViewTest, TheWireframeOptionLeavesMostOfTheFieldClear) {
    const QImage solid = pictureOfAGame(playing({true, false, false, false}));
    form.reset();
    WindowPresets presets = playing({true, false, false, false});
    presets.wireframe = true;
    const QImage wire = pictureOfAGame(presets);
    keep(solid, "solid");
    keep(wire, "wireframe");
    const QRect field(0, 250, 640, 180);
    EXPECT_LT(share(solid, field, isSky), 0.05);
    EXPECT_GT(share(wire, field, isSky), 0.5);
    EXPECT_GT(share(wire, field, isNotSky), 0.005);   // the lines are still there
    EXPECT_GT(share(wire, QRect(0, 0, 640, 60), isSky), 0.9);
}

// Left held turns player 1's tank, and the chase camera with it: the field is seen at another
// angle.
TEST_F(GlViewTest, HoldingLeftTurnsTheView) {
    open(playing({true, false, false, false}));
    ASSERT_FALSE(HasFatalFailure());
    QImage before, after;
    int16_t headingBefore = 0, headingAfter = 0;
    // Each moment counts from the one before, whatever the pace of the loop.
    play({{800,
           [&] {
               before = view->shown();
               headingBefore = world().tankHeading[0];
               guitest::sh("xdotool keydown Left");
               QTimer::singleShot(1000, [&] {
                   guitest::sh("xdotool keyup Left");
                   QTimer::singleShot(200, [&] {   // a few steps later, the last of them shown
                       after = view->shown();
                       headingAfter = world().tankHeading[0];
                   });
               });
           }},
          {3500, [] {}}});   // the game ends after this
    keep(before, "before-left");
    keep(after, "after-left");
    EXPECT_EQ(headingBefore, 90);
    EXPECT_GT(headingAfter, headingBefore + 10);   // turned to the left
    ASSERT_EQ(before.size(), after.size());
    int changed = 0;
    for (int y = 0; y < before.height(); ++y)
        for (int x = 0; x < before.width(); ++x)
            if (before.pixel(x, y) != after.pixel(x, y)) ++changed;
    EXPECT_GT(changed, 640 * 430 / 10);
}

// The picture is shown in a GL window of its own over Picture1: a click on it must not take the
// keyboard from the game's window, or the player's keys would stop steering.
TEST_F(GlViewTest, AClickOnThePictureLeavesTheKeysWithTheGame) {
    open(playing({true, false, false, false}));
    ASSERT_FALSE(HasFatalFailure());
    int16_t headingBefore = 0, headingAfter = 0;
    play({{800,
           [&] {
               guitest::clickAt(view->mapToGlobal(view->rect().center()));
               QTimer::singleShot(200, [&] {
                   headingBefore = world().tankHeading[0];
                   guitest::sh("xdotool keydown Left");
                   QTimer::singleShot(600, [&] {
                       guitest::sh("xdotool keyup Left");
                       headingAfter = world().tankHeading[0];
                   });
               });
           }},
          {2000, [] {}}});
    EXPECT_TRUE(form->isActiveWindow());
    EXPECT_GT(headingAfter, headingBefore + 5);
}

// The effects a player sees: the small hopper's kill turns the sky red, a charging gun glows at
// the muzzle, and a rolling bomb shows straight ahead of the tank.
TEST_F(GlViewTest, TheRedSkyTheChargingGlowAndTheBombShow) {
    open(playing({true, false, false, false}));
    ASSERT_FALSE(HasFatalFailure());
    QImage red, glow, bomb, before;
    // Each picture is taken a while after its change, counted from the change itself, so that
    // the change has been drawn whatever the pace of the loop.
    auto after = [](int ms, std::function<void()> next) { QTimer::singleShot(ms, next); };
    play({{600,
           [&] {
               before = view->shown();
               world().flashTimer = 100;   // as the small hopper's kill sets it
               after(300, [&] {
                   red = view->shown();
                   // Ctrl held long, the gun half raised so the jitter never hides the glow.
                   world().fireState[0] = 2;
                   world().charge[0] = 30;
                   world().gunElevation[0] = 40;
                   after(400, [&] {
                       glow = view->shown();
                       world().gunElevation[0] = 0;
                       world().charge[0] = 0;
                       world().fireState[0] = 0;
                       world().bombX = -300;
                       world().bombZ = -330;
                       after(200, [&] { bomb = view->shown(); });
                   });
               });
           }},
          {4000, [] {}}});   // the game ends after this
    keep(red, "red-sky");
    keep(glow, "charging-glow");
    keep(bomb, "bomb");
    auto reddish = [](QColor c) { return c.red() > 150 && c.green() < 30 && c.blue() < 30; };
    auto cyan = [](QColor c) { return c.blue() > 200 && c.green() > 150 && c.red() < 120; };
    // The bomb's black and dark red quarters, where the sky and the far field were.
    auto dark = [](QColor c) { return c.red() < 90 && c.green() < 30 && c.blue() < 30; };
    auto count = [](const QImage& image, QRect area, auto test) {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                if (test(image.pixelColor(x, y))) ++n;
        return n;
    };
    const QRect skyBand(0, 0, 640, 40);
    EXPECT_EQ(count(before, skyBand, reddish), 0);
    EXPECT_GT(count(red, skyBand, reddish), 640 * 40 / 2);
    EXPECT_GT(count(glow, kWhole, cyan), 20);
    EXPECT_GT(count(bomb, QRect(220, 60, 200, 200), dark), 300);
}

}  // namespace
}  // namespace hopshot
