// The device's rectangles at the scale the window shows them: the four players' quarters still
// tile the shown picture exactly, at whole and at fractional scales.
#include "scene/device_scale.h"
#include "scene/scene.h"

#include <gtest/gtest.h>

namespace scene {
namespace {

TEST(DeviceScale, RectanglesScaleByTheirEdges) {
    struct Case {
        double scale;
        int left, top, width, height;
        PixelRect want;
    };
    const Case cases[] = {
        {1, 320, 215, 320, 215, {320, 215, 320, 215}},     // 1:1 is the rules' own pixels
        {2, 320, 215, 320, 215, {640, 430, 640, 430}},
        {1.5, 0, 0, 320, 215, {0, 0, 480, 323}},           // 322.5 rounds away
        {1.5, 0, 215, 320, 215, {0, 323, 480, 322}},       // ... and the next one starts there
        {2.25, 120, 65, 400, 300, {270, 146, 900, 675}},   // the small whole view
        {0.75, 60, 245, 200, 150, {45, 184, 150, 112}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(scaleRect(c.left, c.top, c.width, c.height, c.scale), c.want)
            << c.scale << ": " << c.left << "," << c.top << " " << c.width << "x" << c.height;
}

// Adjacent viewports share their edges at any scale: no row or column is drawn twice or left
// out between the views.
TEST(DeviceScale, TheFourQuartersTileTheShownPictureAtEveryScale) {
    const int quarters[4][4] = {{0, 0, 320, 215}, {320, 0, 320, 215}, {0, 215, 320, 215},
                                {320, 215, 320, 215}};
    for (double s : {1.0, 2.0, 3.0, 1.5, 1.25, 2.25, 0.75, 4.0 / 3.0, 1.7}) {
        PixelRect r[4];
        long area = 0;
        for (int i = 0; i < 4; ++i) {
            r[i] = scaleRect(quarters[i][0], quarters[i][1], quarters[i][2], quarters[i][3], s);
            area += long(r[i].width) * r[i].height;
        }
        EXPECT_EQ(r[0].left + r[0].width, r[1].left) << s;
        EXPECT_EQ(r[0].top + r[0].height, r[2].top) << s;
        EXPECT_EQ(r[2].left + r[2].width, r[3].left) << s;
        EXPECT_EQ(r[1].top + r[1].height, r[3].top) << s;
        const int w = scaledEdge(kDeviceWidth, s), h = scaledEdge(kShownHeight, s);
        EXPECT_EQ(r[3].left + r[3].width, w) << s;
        EXPECT_EQ(r[3].top + r[3].height, h) << s;
        EXPECT_EQ(area, long(w) * h) << s;
    }
}

}  // namespace
}  // namespace scene
