// What the renderer's parts leave of the picture: the uncovered parts of an area are exactly the
// pixels no rectangle covers, each once.
#include "scene/pixel_rects.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

namespace scene {
namespace {

using Pixels = std::set<std::pair<int, int>>;

Pixels pixelsOf(const std::vector<PixelRect>& rects, int* overlaps = nullptr) {
    Pixels p;
    for (const PixelRect& r : rects)
        for (int y = r.top; y < bottomOf(r); ++y)
            for (int x = r.left; x < rightOf(r); ++x)
                if (!p.insert({x, y}).second && overlaps) ++*overlaps;
    return p;
}

TEST(PixelRects, TheUncoveredPartsAreThePixelsNothingCoversEachOnce) {
    struct Case {
        const char* name;
        PixelRect area;
        std::vector<PixelRect> over;
        size_t parts;   // how many rectangles the answer takes
    };
    const PixelRect shown{0, 0, 64, 43};
    const Case cases[] = {
        {"nothing over it", shown, {}, 1},
        {"the four quarters", shown, {{0, 0, 32, 21}, {32, 0, 32, 21}, {0, 21, 32, 22}, {32, 21, 32, 22}}, 0},
        {"two top quarters", shown, {{0, 0, 32, 21}, {32, 0, 32, 21}}, 1},
        {"players one and four", shown, {{0, 0, 32, 21}, {32, 21, 32, 22}}, 2},
        {"a small view inside a quarter", shown, {{38, 24, 20, 15}}, 4},
        {"overlapping, and reaching out of the area", shown, {{-5, -5, 40, 30}, {20, 10, 60, 60}}, 2},
        {"the whole and more", shown, {{-1, -1, 100, 100}}, 0},
        {"an empty rectangle", shown, {{10, 10, 0, 5}}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<PixelRect> parts = uncoveredParts(c.area, c.over);
        EXPECT_EQ(parts.size(), c.parts);
        int twice = 0;
        const Pixels got = pixelsOf(parts, &twice);
        EXPECT_EQ(twice, 0);
        Pixels want = pixelsOf({c.area});
        for (const auto& px : pixelsOf(c.over)) want.erase(px);
        EXPECT_EQ(got, want);
    }
}

}  // namespace
}  // namespace scene
