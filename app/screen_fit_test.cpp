// The picture's fit into the window's client area, and the height the 3D view is drawn at.
#include "app/screen_fit.h"

#include <gtest/gtest.h>

#include <cmath>

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
    const Case cases[] = {
        {1440, 1.0, 1440},   // a fast machine draws the full size
        {960, 3.0, 960},
        {1440, 3.0, 960},    // 12 ms fit 960 rows exactly
        {1440, 6.0, 672},    // 12 ms fit 678 rows: the tenth of 480 below
        {1440, 40.0, 480},   // never below the rules' own 480 rows
        {360, 40.0, 360},    // ... nor above what is shown
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
    EXPECT_EQ(settle(pace, 1440, 12.0), 480);   // busy: the floor
    EXPECT_EQ(settle(pace, 1440, 1.0), 1440);   // free: the whole size again, step by step
}

}  // namespace
}  // namespace hopshot
