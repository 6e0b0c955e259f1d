// The picture's fit into the window's client area, and the height the 3D view is drawn at.
#include "app/screen_fit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace hopshot {
namespace {

TEST(ScreenFit, ThePictureFillsTheAreaItFitsCentredWithBarsOnTheOtherSide) {
    struct Case {
        int areaW, areaH;
        double scale;
        int left, top, width, height;
    };
    const Case cases[] = {
        {640, 480, 1, 0, 0, 640, 480},          // the window as it opens
        {1280, 960, 2, 0, 0, 1280, 960},        // --scale 2
        {960, 720, 1.5, 0, 0, 960, 720},
        {1920, 1061, 1061 / 480.0, 252, 0, 1415, 1061},   // full HD less a menu bar: side bars
        {1280, 1005, 2, 0, 22, 1280, 960},      // 1280x1024 less the menu bar: bars top and bottom
        {1000, 480, 1, 180, 0, 640, 480},
        {320, 600, 0.5, 0, 180, 320, 240},
        {0, 0, 1.0 / 640, 0, 0, 1, 1},          // never an empty picture
    };
    for (const Case& c : cases) {
        const PictureFit f = fitPicture(c.areaW, c.areaH);
        EXPECT_DOUBLE_EQ(f.scale, c.scale) << c.areaW << "x" << c.areaH;
        EXPECT_EQ(f.left, c.left) << c.areaW << "x" << c.areaH;
        EXPECT_EQ(f.top, c.top) << c.areaW << "x" << c.areaH;
        EXPECT_EQ(f.width, c.width) << c.areaW << "x" << c.areaH;
        EXPECT_EQ(f.height, c.height) << c.areaW << "x" << c.areaH;
    }
}

TEST(RenderPace, AChosenHeightIsKeptButNeverAboveTheShownOne) {
    RenderPace pace(720);
    EXPECT_EQ(pace.rows(960), 720);
    EXPECT_EQ(pace.rows(1440), 720);
    EXPECT_EQ(pace.rows(480), 480);
    for (int i = 0; i < 100; ++i) pace.frameCost(720, 50);   // slow, but it was asked for
    EXPECT_EQ(pace.rows(1440), 720);
}

// A machine whose drawing costs `msAt480` at 480 rows, growing with the pixels.
double cost(double msAt480, int rows) { return msAt480 * (rows / 480.0) * (rows / 480.0); }

// Runs frames at whatever height the pace picks; returns the height it settles on.
int settle(RenderPace& pace, int shown, double msAt480, int frames = 2000) {
    for (int i = 0; i < frames; ++i) {
        const int rows = pace.rows(shown);
        pace.frameCost(rows, cost(msAt480, rows));
    }
    return pace.rows(shown);
}

TEST(RenderPace, AutomaticallyDrawsTheLargestHeightThatKeepsWithinTheBudget) {
    struct Case {
        int shown;
        double msAt480;
        int settled;
    };
    constexpr double kBudget = RenderPace::kBudgetMs;
    const Case cases[] = {
        {1440, 1.0, 1440},           // a fast machine draws the full size
        {960, 3.0, 960},
        {1440, kBudget / 4, 960},    // the budget fits 960 rows exactly
        {1440, kBudget / 2, 672},    // it fits 678 rows: the tenth of 480 below
        {1440, 40.0, 480},           // never below the rules' own 480 rows
        {360, 40.0, 360},            // ... nor above what is shown
    };
    for (const Case& c : cases) {
        RenderPace pace;
        const int settled = settle(pace, c.shown, c.msAt480);
        EXPECT_EQ(settled, c.settled) << c.shown << " rows shown, " << c.msAt480 << " ms at 480";
        EXPECT_LE(cost(c.msAt480, settled), std::max(RenderPace::kBudgetMs, cost(c.msAt480, 480)));
    }
}

TEST(RenderPace, ComesBackUpWhenTheMachineIsFreeAgain) {
    RenderPace pace;
    EXPECT_EQ(settle(pace, 1440, 1.25 * RenderPace::kBudgetMs), 480);   // busy: the floor
    EXPECT_EQ(settle(pace, 1440, 1.0), 1440);   // free: the whole size again, step by step
}

// The same machine, told what showing costs: a copy when drawn at the size shown, a scaling up
// when drawn smaller (which a software GL pays by the pixel shown, whatever the height drawn).
int settleShowing(RenderPace& pace, int shown, double msAt480, double copyMs, double scaleUpMs,
                  std::vector<int>* heights = nullptr) {
    for (int i = 0; i < 2000; ++i) {
        const int rows = pace.rows(shown);
        const double show = rows >= shown ? copyMs : scaleUpMs;
        pace.frameCost(rows, cost(msAt480, rows) + show, show, shown);
        if (heights && (heights->empty() || heights->back() != rows)) heights->push_back(rows);
    }
    return pace.rows(shown);
}

TEST(RenderPace, ASmallerHeightIsChosenOnlyWhereItsDrawingAndScalingUpTogetherCostLess) {
    struct Case {
        const char* name;
        int shown;
        double msAt480, copyMs, scaleUpMs;
        int settled;
    };
    const Case cases[] = {
        {"cheap scaling: the largest height that fits with it", 1440, 6.0, 1.0, 3.0, 672},
        {"scaling up dearer than the drawing it saves: the full height", 1440, 1.4, 4.0, 20.0, 1440},
        {"the full height fits with its copy", 1440, 1.4, 2.0, 20.0, 1440},
        {"nothing fits, and the lowest height is the cheapest", 1440, 6.0, 1.0, 12.0, 480},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RenderPace pace;
        EXPECT_EQ(settleShowing(pace, c.shown, c.msAt480, c.copyMs, c.scaleUpMs), c.settled);
    }
}

// Once scaling up is seen to cost more than drawing the whole size, the full height comes back
// at once rather than a tenth at a time; and it stays there.
TEST(RenderPace, GoesBackToTheFullHeightWhenScalingUpCostsMore) {
    RenderPace pace;
    std::vector<int> heights;
    EXPECT_EQ(settleShowing(pace, 1440, 1.4, 4.0, 20.0, &heights), 1440);
    // Full (16.6 ms) is over the budget, so one lower height is tried to learn what scaling up
    // costs, and then never again.
    EXPECT_LE(heights.size(), 3u);
    EXPECT_EQ(heights.front(), 1440);
    EXPECT_EQ(heights.back(), 1440);
}

// Busy, the pace went down to a height scaled up; free again, it goes back up, and goes straight
// to the full height once that costs less than drawing smaller and scaling up, even where the
// steps between would each be too dear to take.
TEST(RenderPace, ComesBackToTheFullHeightOnceItCostsLessThanScalingUp) {
    RenderPace pace;
    EXPECT_EQ(settleShowing(pace, 1440, 12.0, 1.0, 6.0), 480);
    // Free: above 960 rows a height and its scaling up cost more than the full height and its
    // copy (10 ms); the steps up would stop short of the full height, where the next step's
    // cost comes near the budget.
    EXPECT_EQ(settleShowing(pace, 1440, 1.0, 1.0, 6.0), 1440);
}

// A machine whose frames cost a part that does not shrink with the height (the views' corners,
// the window) besides the part that does: the square law then foretells the full height far too
// dear from a low one.
struct FixedPartMachine {
    double fixedMs, fullDrawMs, copyMs, scaleUpMs;
    int shown = 1061;   // full screen at 1920 x 1080
    double draw(int rows) const {
        return fixedMs + fullDrawMs * (double(rows) / shown) * (double(rows) / shown);
    }
    // Runs `frames` frames; the frames drawn at the full height among them.
    int run(RenderPace& pace, int frames, double busyMs = 0) const {
        int atFull = 0;
        for (int i = 0; i < frames; ++i) {
            const int rows = pace.rows(shown);
            const double show = rows >= shown ? copyMs : scaleUpMs;
            pace.frameCost(rows, draw(rows) + busyMs + show, show, shown);
            if (rows >= shown) ++atFull;
        }
        return atFull;
    }
};

TEST(RenderPace, ABusyMomentDoesNotLowerTheFullHeight) {
    const FixedPartMachine m{4, 9, 2, 7};   // 15 ms a frame at the full height
    RenderPace pace;
    m.run(pace, 100);
    m.run(pace, RenderPace::kFramesPerLook, 5);   // half a second at 20 ms a frame
    EXPECT_EQ(m.run(pace, 500), 500);
}

// Busy for a while, the pace draws smaller; free again, the full height is tried and kept, though
// foretold from the low height by the square law it would seem far too dear. While the machine
// stays as busy, the full height is not tried again: each try would fail, and stutter.
TEST(RenderPace, TriesTheFullHeightAgainAndKeepsItWhenItFits) {
    const FixedPartMachine m{4, 9, 2, 7};
    RenderPace pace;
    m.run(pace, 100);
    const int busyAtFull = m.run(pace, 3000, 6);   // a minute at 21 ms at the full height
    EXPECT_LT(pace.rows(m.shown), m.shown);
    EXPECT_EQ(busyAtFull, 2 * RenderPace::kFramesPerLook);   // the two looks it took to leave
    m.run(pace, 2250);   // free: 45 seconds, more than the longest wait between tries
    EXPECT_EQ(pace.rows(m.shown), m.shown);
    EXPECT_EQ(m.run(pace, 500), 500);
}

// Told the time between frames, the pace judges the height by the game's own pace: a height the
// game falls behind at is left for a lower one, even where its cost seems within the budget; a
// height the game keeps its pace at is kept, even where its cost seems over it.
TEST(RenderPace, TheGamesPaceJudgesTheHeight) {
    struct Case {
        const char* name;
        double fixedMs;    // the cost that does not shrink with the height
        int behindFrom;    // from this height up the frames come 10 % late; else on time
        int frames;
        int atMost, atLeast;   // where the height ends
        int mostChanges;       // of the height, tries of the full height included
    };
    const Case cases[] = {
        {"on time: the full height, though its cost seems over the budget", 9, 1 << 30, 1000, 1440, 1440, 0},
        {"behind at the full height, though its cost seems within the budget", 3, 1440, 1000, 1392, 480, 8},
        // 40 s: the full height tried twice, each try with its way down (five heights); between
        // the tries 1104 is not tried again, where going up and down again would be 80 changes.
        {"behind above 1056 rows: 1056, though 1104 seems to fit", 3, 1100, 2000, 1056, 1008, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FixedPartMachine m{c.fixedMs, 9, 2, 2, 1440};
        RenderPace pace;
        int changes = 0, last = pace.rows(m.shown), afterTry = 0;
        bool left = false;
        for (int i = 0; i < c.frames; ++i) {
            const int rows = pace.rows(m.shown);
            if (rows != last) {
                ++changes;
                if (last == m.shown && left) afterTry = std::max(afterTry, rows);
                if (last == m.shown) left = true;
            }
            last = rows;
            const double show = rows >= m.shown ? m.copyMs : m.scaleUpMs;
            const double gap = rows >= c.behindFrom ? 1.1 * RenderPace::kStepMs : RenderPace::kStepMs;
            pace.frameCost(rows, m.draw(rows) + show, show, m.shown, gap);
        }
        EXPECT_LE(pace.rows(m.shown), c.atMost);
        EXPECT_GE(pace.rows(m.shown), c.atLeast);
        EXPECT_LE(changes, c.mostChanges);
        // A try of the full height that fails goes back to where the game kept its pace, not
        // to a height between that the law foretells to fit.
        EXPECT_LE(afterTry, c.atMost);
    }
}

// At the full height a look a little behind the pace is let pass once (a busy moment); one
// clearly behind is not: the height goes down at once.
TEST(RenderPace, ClearlyBehindAtTheFullHeightItGoesDownAtOnce) {
    struct Case {
        double behind;
        int looksAtFull;
    };
    const Case cases[] = {{1.05, 2}, {1.15, 1}};
    for (const Case& c : cases) {
        const FixedPartMachine m{3, 9, 2, 2, 1440};
        RenderPace pace;
        int atFull = 0;
        for (int i = 0; i < 4 * RenderPace::kFramesPerLook && pace.rows(m.shown) == m.shown; ++i, ++atFull)
            pace.frameCost(m.shown, m.draw(m.shown) + m.copyMs, m.copyMs, m.shown, c.behind * RenderPace::kStepMs);
        EXPECT_EQ(atFull, c.looksAtFull * RenderPace::kFramesPerLook) << c.behind;
    }
}

}  // namespace
}  // namespace hopshot
