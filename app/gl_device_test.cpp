// The GL device as the window uses it: drawn at the scale the picture is shown (the rules'
// viewports multiplied, the picture carried over when the scale changes), and calm drawing of
// the red flash and the light's flicker. Offscreen: no window and no hold on the X display.
#include "app/gl_device.h"
#include "testing/scene_views.h"
#include "core/setup.h"
#include "scene/device_scale.h"
#include "testing/gui_test_support.h"

#include <gtest/gtest.h>

namespace hopshot {
namespace {

class GlDeviceTest : public ::testing::Test, protected scenetest::Scene {
protected:
    void SetUp() override {
        if (!guitest::app()) GTEST_SKIP() << "needs an X display: run under xvfb-run";
        make();
    }

    std::unique_ptr<GlDevice> device(double scale) {
        std::string why;
        auto d = GlDevice::create(scene::kDeviceWidth, scene::kDeviceHeight, scale, why);
        EXPECT_TRUE(d) << why;
        return d;
    }

    scene::ViewportData viewport(int left, int top, int width, int height) const {
        return scenetest::viewportOn(deviceData, camera, left, top, width, height);
    }

    // A white square facing the camera, 10 ahead, filling the middle of the view.
    void whiteSquareAhead() {
        whiteSquare(mesh);
        sunFrame = scene::CreateFrame(rm, root);
        scene::AddLight(sunFrame, scene::CreateLightRGB(rm, scene::kLightDirectional, 1, 1, 1));
    }

    // The light's way, as the game turns it (straight up and down are the flicker's).
    void shine(float x, float y, float z) {
        const bool vertical = x == 0 && z == 0;
        scene::SetOrientation(sunFrame, nullptr, x, y, z, 0, vertical ? 0 : 1, vertical ? 1 : 0);
    }

    // Grey level of the square's middle once drawn with this light.
    int squareShade(GlDevice& d) {
        const scene::ViewportData v = viewport(0, 0, 640, 480);
        EXPECT_TRUE(d.clear(v, {0, 0, 0}, scene::kClearAll));
        EXPECT_TRUE(d.render(v, *root));
        QImage shown;
        EXPECT_TRUE(d.readTop(scene::kShownHeight, shown));
        return qGreen(shown.pixel(320, 240));
    }

    scene::Frame sunFrame;
    scene::MeshBuilder mesh;
};

// Each of the rules' viewports covers exactly its rectangle times the scale, at whole and
// fractional scales; the rows the window shows are 430 of 480 times the scale.
TEST_F(GlDeviceTest, ViewportsAreDrawnAtTheScaleOfThePictureShown) {
    struct Case {
        double scale;
        QRect quarter;   // the fourth player's quarter (320, 215, 320, 215) in pixels
        QSize shown;
    };
    const Case cases[] = {{1, {320, 215, 320, 215}, {640, 430}},
                          {2, {640, 430, 640, 430}, {1280, 860}},
                          {1.5, {480, 323, 480, 322}, {960, 645}}};
    for (const Case& c : cases) {
        auto d = device(c.scale);
        ASSERT_TRUE(d);
        ASSERT_TRUE(d->clear(viewport(0, 0, 640, 480), {0, 0, 1}, scene::kClearAll));
        ASSERT_TRUE(d->clear(viewport(320, 215, 320, 215), {1, 0, 0}, scene::kClearAll));
        QImage shown;
        ASSERT_TRUE(d->readTop(scene::scaledEdge(scene::kShownHeight, c.scale), shown));
        EXPECT_EQ(shown.size(), c.shown) << c.scale;
        int red = 0, redInside = 0;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                if (shown.pixel(x, y) == qRgb(255, 0, 0)) {
                    ++red;
                    if (c.quarter.contains(x, y)) ++redInside;
                }
        EXPECT_EQ(red, c.quarter.width() * c.quarter.height()) << c.scale;
        EXPECT_EQ(redInside, red) << c.scale;
    }
}

// A window made larger mid-game: the part no viewport draws again keeps its picture, scaled.
TEST_F(GlDeviceTest, ANewScaleCarriesThePictureOver) {
    auto d = device(1);
    ASSERT_TRUE(d);
    ASSERT_TRUE(d->clear(viewport(0, 0, 640, 480), {0, 0, 1}, scene::kClearAll));
    ASSERT_TRUE(d->clear(viewport(0, 0, 320, 215), {1, 0, 0}, scene::kClearAll));
    ASSERT_TRUE(d->setScale(2));
    QImage shown;
    ASSERT_TRUE(d->readTop(860, shown));
    ASSERT_EQ(shown.size(), QSize(1280, 860));
    EXPECT_EQ(shown.pixel(10, 10), qRgb(255, 0, 0));
    EXPECT_EQ(shown.pixel(630, 420), qRgb(255, 0, 0));
    EXPECT_EQ(shown.pixel(650, 440), qRgb(0, 0, 255));
    EXPECT_EQ(shown.pixel(1270, 850), qRgb(0, 0, 255));
}

// The red flash, calm: the sky goes a third of the way from its own colour to the red.
TEST_F(GlDeviceTest, CalmDrawsTheRedFlashWithAThirdOfItsChange) {
    auto d = device(1);
    ASSERT_TRUE(d);
    const scene::Color flash{0.99f, 0, 0};
    auto skyAt = [&](scene::Color c) {
        EXPECT_TRUE(d->clear(viewport(0, 0, 640, 480), c, scene::kClearAll));
        QImage shown;
        EXPECT_TRUE(d->readTop(scene::kShownHeight, shown));
        return shown.pixel(100, 100);
    };
    const QRgb rest = qRgb(128, 128, 204);
    EXPECT_EQ(skyAt(kSky), rest);
    EXPECT_EQ(skyAt(flash), qRgb(252, 0, 0));
    d->setCalm(true);
    EXPECT_EQ(skyAt(kSky), rest);   // the sky at rest is as it is
    const QRgb calm = skyAt(flash);
    for (auto [got, from, to] : {std::array{qRed(calm), qRed(rest), 252},
                                 std::array{qGreen(calm), qGreen(rest), 0},
                                 std::array{qBlue(calm), qBlue(rest), 0}})
        EXPECT_NEAR(got - from, (to - from) / 3.0, 1.5);
}

// The flicker throws the light straight down and up; calm, each face changes a third as much
// from how the steady light lit it. A steady light is drawn as it is.
TEST_F(GlDeviceTest, CalmDrawsTheLightsFlickerWithAThirdOfItsChange) {
    whiteSquareAhead();
    for (bool calm : {false, true}) {
        SCOPED_TRACE(calm ? "calm" : "as it is");
        auto d = device(1);
        ASSERT_TRUE(d);
        d->setCalm(calm);
        shine(0, 0, 1);   // full on the square's face
        const int steady = squareShade(*d);
        EXPECT_GE(steady, 250);
        shine(0, -1, 0);
        const int down = squareShade(*d);
        shine(0, 1, 0);
        const int up = squareShade(*d);
        shine(0.6f, 0, 0.8f);   // the light moved on (as behind the bomb): drawn as it is
        const int moved = squareShade(*d);
        EXPECT_NEAR(moved, 0.8 * 255, 10);
        // A face the flicker leaves dark: all its light gone, or a third of it.
        const double share = calm ? 1.0 / 3 : 1.0;
        EXPECT_NEAR(steady - down, share * steady, 10);
        EXPECT_NEAR(steady - up, share * steady, 10);
    }
}

}  // namespace
}  // namespace hopshot
