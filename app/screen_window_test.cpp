// The window at any size: the whole 640 x 480 picture (labels, 3D view, title) scales as one to
// the largest size that fits, centred with black bars; at --scale 2 the program's client area is
// 1280 x 960 below the menu bar and the 3D view is drawn at that size, with detail a magnified
// 640 x 480 picture cannot have; F11 fills the X screen under a window manager, and again
// brings the window back.
#include "app/form1.h"
#include "app/screen_area.h"
#include "scene/device_scale.h"
#include "testing/gui_test_support.h"
#include "testing/private_display.h"

#include <QLabel>
#include <QMenuBar>

#include <gtest/gtest.h>

namespace hopshot {
namespace {

using guitest::waitFor;

QRect scaled(QRect r, double s) {
    const scene::PixelRect p = scene::scaleRect(r.x(), r.y(), r.width(), r.height(), s);
    return {p.left, p.top, p.width, p.height};
}

class ScreenWindow : public ::testing::Test {
protected:
    void SetUp() override {
        if (!guitest::app()) GTEST_SKIP() << "needs an X display: run under xvfb-run";
    }
};

TEST_F(ScreenWindow, TheWholePictureScalesToFitTheClientAreaWithBlackBars) {
    Form1 form(WindowPresets{}, guitest::assetsDir());
    form.show();
    ASSERT_TRUE(waitFor([&] { return form.windowHandle()->isExposed(); }, 5000));
    auto* client = form.findChild<QWidget*>(QStringLiteral("client"));
    auto* label1 = form.findChild<QLabel*>(QStringLiteral("Label1"));
    auto* label2 = form.findChild<QLabel*>(QStringLiteral("Label2"));
    auto* image1 = form.findChild<QLabel*>(QStringLiteral("Image1"));
    auto* picture1 = form.findChild<GLView*>(QStringLiteral("Picture1"));
    ASSERT_TRUE(client && label1 && label2 && image1 && picture1);
    const QImage title(guitest::assetsDir() + QStringLiteral("/title.bmp"));
    ASSERT_FALSE(title.isNull());

    struct Case {
        QSize area;      // the client area below the menu bar
        double scale;
        QRect picture;   // the 640 x 480 picture within it
    };
    const Case cases[] = {
        {{640, 480}, 1, {0, 0, 640, 480}},
        {{1280, 960}, 2, {0, 0, 1280, 960}},
        {{960, 720}, 1.5, {0, 0, 960, 720}},
        {{1000, 600}, 1.25, {100, 0, 800, 600}},   // bars left and right
        {{800, 900}, 1.25, {0, 150, 800, 600}},    // bars above and below
        {{640, 480}, 1, {0, 0, 640, 480}},         // and back to 1:1
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.area.width() << "x" << c.area.height());
        form.resize(c.area.width(), c.area.height() + form.menuBar()->height());
        ASSERT_TRUE(waitFor([&] { return form.centralWidget()->size() == c.area; }, 5000));
        guitest::pump(50);
        EXPECT_EQ(client->geometry(), c.picture);
        EXPECT_EQ(label2->geometry(), scaled({0, 0, 320, 50}, c.scale));
        EXPECT_EQ(label1->geometry(), scaled({320, 0, 320, 50}, c.scale));
        EXPECT_DOUBLE_EQ(label1->font().pointSizeF(), 36 * c.scale);   // drawn, not magnified
        EXPECT_EQ(picture1->geometry(), scaled({0, 50, 640, 430}, c.scale));
        EXPECT_DOUBLE_EQ(picture1->renderScale(), c.scale);
        EXPECT_EQ(image1->geometry(), c.picture.translated(-c.picture.topLeft()));
        EXPECT_EQ(image1->pixmap().size(), c.picture.size());
        if (c.scale == 1) {   // 1:1 is the title picture itself, pixel for pixel
            EXPECT_EQ(image1->pixmap().toImage().convertToFormat(QImage::Format_RGB32),
                      title.convertToFormat(QImage::Format_RGB32));
        }
        // The bars are black: the screen shows nothing of the picture outside it.
        const QImage shot = form.centralWidget()->grab().toImage();
        if (c.picture.left() > 0) {
            EXPECT_EQ(shot.pixel(c.picture.left() / 2, c.area.height() / 2), qRgb(0, 0, 0));
        }
        if (c.picture.top() > 0) {
            EXPECT_EQ(shot.pixel(c.area.width() / 2, c.picture.top() / 2), qRgb(0, 0, 0));
        }
        EXPECT_NE(shot.pixel(c.picture.center()), qRgb(0, 0, 0));   // the title's field
    }
}

// F11 belongs to the window: it toggles full screen, and the game never sees the key (its
// release would let go of player 1's charging shot, as any key's release does).
TEST_F(ScreenWindow, F11TogglesFullScreenAndLeavesTheGameAlone) {
    Form1 form(WindowPresets{}, guitest::assetsDir());
    ASSERT_TRUE(guitest::showAndFocus(form));
    form.game().w.fireState[0] = 2;   // charging
    for (bool full : {true, false}) {
        ASSERT_TRUE(guitest::sh("xdotool key F11"));
        EXPECT_TRUE(waitFor([&] { return form.isFullScreen() == full; }, 3000)) << full;
        guitest::pump(100);
        EXPECT_EQ(form.game().w.fireState[0], 2);
    }
    ASSERT_TRUE(guitest::sh("xdotool key x"));   // an ordinary key's release does let go
    EXPECT_TRUE(waitFor([&] { return form.game().w.fireState[0] == 0; }, 3000));
}

// The share of a picture's pixels that change visibly (by more than 12 of 255 grey levels) when
// it is halved and doubled again: a picture drawn at 640 x 480 and magnified twice has few such
// pixels; one drawn at twice that size keeps fine edges there and many more change.
double detailLost(const QImage& picture) {
    const QImage gray = picture.convertToFormat(QImage::Format_Grayscale8);
    const QImage again = gray.scaled(gray.size() / 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                             .scaled(gray.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    long changed = 0;
    for (int y = 0; y < gray.height(); ++y) {
        const uchar* a = gray.constScanLine(y);
        const uchar* b = again.constScanLine(y);
        for (int x = 0; x < gray.width(); ++x)
            if (std::abs(int(a[x]) - int(b[x])) > 12) ++changed;
    }
    return double(changed) / (double(gray.width()) * gray.height());
}

class ScreenProgram : public ::testing::Test {
protected:
    void SetUp() override {
        if (!guitest::app()) GTEST_SKIP() << "needs an X display: run under xvfb-run";
    }

    // Four players' game, two seconds in, at --scale 2 with the 3D view drawn `rows` high:
    // the window's client area and the 3D view's part of a screenshot.
    void fourPlayersAtScaleTwo(const std::string& rows, QRect& client, QImage& view) {
        guitest::PrivateDisplay x(1600, 1200, false);
        ASSERT_TRUE(x.ok());
        auto child = x.start({guitest::programPath(), "--nosound", "--players", "1234",
                              "--scale", "2", "--render-height", rows},
                             {"LIBGL_ALWAYS_SOFTWARE=1", "SDL_AUDIODRIVER=dummy"});
        const unsigned long window = x.windowOf(*child);
        ASSERT_NE(window, 0u) << child->err();
        client = x.geometryOf(window);
        ASSERT_TRUE(guitest::sh(x.env() + "xdotool windowfocus --sync " + std::to_string(window) +
                                " key ctrl+s"));
        std::this_thread::sleep_for(std::chrono::seconds(3));
        const QImage shot = x.screenshot(testing::TempDir() + "hopshot-scale2.png");
        ASSERT_FALSE(shot.isNull());
        const int menu = client.height() - 960;
        view = shot.copy(client.x(), client.y() + menu + 100, 1280, 860);
        if (const char* dir = std::getenv("HOPSHOT_PICTURES"))
            shot.copy(client).save(QStringLiteral("%1/hopshot-scale2-rows%2.png")
                                       .arg(QString::fromUtf8(dir), QString::fromStdString(rows)));
        kill(child->pid, SIGTERM);
        EXPECT_TRUE(child->waitEnd(10000));
    }
};

TEST_F(ScreenProgram, AtScaleTwoTheClientAreaIsTwiceTheSizeAndThePictureIsDrawnAtIt) {
    QRect client;
    QImage sharp, magnified;
    fourPlayersAtScaleTwo("960", client, sharp);
    if (HasFatalFailure()) return;
    EXPECT_EQ(client.width(), 1280);
    const int menu = client.height() - 960;
    EXPECT_GE(menu, 15);   // a menu bar above the picture, as at 1:1
    EXPECT_LE(menu, 40);
    // The same game drawn at 640 x 480 and magnified, for the measure's other end.
    QRect client480;
    fourPlayersAtScaleTwo("480", client480, magnified);
    if (HasFatalFailure()) return;
    const double lostSharp = detailLost(sharp), lostMagnified = detailLost(magnified);
    std::printf("pixels changed when halved and doubled: drawn at 1280x960 %.4f, magnified %.4f\n",
                lostSharp, lostMagnified);
    EXPECT_GT(lostSharp, 3 * lostMagnified);
}

TEST_F(ScreenProgram, F11FillsTheScreenUnderAWindowManagerAndBringsTheWindowBack) {
    guitest::PrivateDisplay x(1280, 1024, true);
    ASSERT_TRUE(x.ok());
    auto child = x.start({guitest::programPath(), "--nosound"},
                         {"LIBGL_ALWAYS_SOFTWARE=1", "SDL_AUDIODRIVER=dummy"});
    const unsigned long window = x.windowOf(*child);
    ASSERT_NE(window, 0u) << child->err();
    const QRect before = x.geometryOf(window);
    EXPECT_EQ(before.width(), 640);
    const std::string key = x.env() + "xdotool windowfocus --sync " + std::to_string(window) + " key F11";
    ASSERT_TRUE(guitest::sh(key));
    EXPECT_TRUE(waitFor([&] { return x.geometryOf(window) == QRect(0, 0, 1280, 1024); }, 5000))
        << "the window is at " << x.geometryOf(window).x() << "," << x.geometryOf(window).y()
        << " " << x.geometryOf(window).width() << "x" << x.geometryOf(window).height();
    guitest::pump(500);
    // The title picture fills the screen's width at twice its size, with bars above and below.
    const int menu = before.height() - 480;
    const QImage shot = x.screenshot(testing::TempDir() + "hopshot-fullscreen.png");
    ASSERT_EQ(shot.size(), QSize(1280, 1024));
    if (const char* dir = std::getenv("HOPSHOT_PICTURES"))
        shot.save(QStringLiteral("%1/hopshot-fullscreen.png").arg(QString::fromUtf8(dir)));
    const int bar = (1024 - menu - 960) / 2;
    EXPECT_EQ(shot.pixel(640, menu + bar / 2), qRgb(0, 0, 0));
    EXPECT_EQ(shot.pixel(640, 1023 - bar / 2), qRgb(0, 0, 0));
    const QImage title = QImage(guitest::assetsDir() + QStringLiteral("/title.bmp"))
                             .scaled(1280, 960, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    int alike = 0;
    for (int y = 0; y < 960; y += 16)
        for (int x0 = 0; x0 < 1280; x0 += 16) {
            const QRgb a = shot.pixel(x0, menu + bar + y), b = title.pixel(x0, y);
            if (std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                    std::abs(qBlue(a) - qBlue(b)) < 60)
                ++alike;
        }
    EXPECT_GT(alike, 80 * 60 * 9 / 10);   // nine in ten sampled points as the title shows them
    ASSERT_TRUE(guitest::sh(key));
    EXPECT_TRUE(waitFor([&] { return x.geometryOf(window).size() == before.size(); }, 5000));
    kill(child->pid, SIGTERM);
    EXPECT_TRUE(child->waitEnd(10000));
}

}  // namespace
}  // namespace hopshot
