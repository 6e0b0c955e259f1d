// Scaling the picture up on the CPU: where each pixel samples, that the four bytes of a pixel
// blend apart, and that a part, or the rows shared with a helper thread, come out as the whole.
#include "scene/scale_up.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace scene {
namespace {

struct Picture {
    int width, height;
    std::vector<uint32_t> pixels;
    Picture(int w, int h, uint32_t fill = 0) : width(w), height(h), pixels(size_t(w) * h, fill) {}
    PixelsIn in() const { return {pixels.data(), width, height, width}; }
    PixelsOut out() { return {pixels.data(), width, height, width}; }
    uint32_t at(int x, int y) const { return pixels[size_t(y) * width + x]; }
};

// Every byte of a pixel different and far from its neighbours' in the other pixels.
Picture pattern(int w, int h) {
    Picture p(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            p.pixels[size_t(y) * w + x] = uint32_t((x * 37 + y * 11) & 0xff) |
                                          uint32_t((x * 5 + y * 91) & 0xff) << 8 |
                                          uint32_t((x ^ y) * 29 & 0xff) << 16 | 0xffu << 24;
    return p;
}

TEST(ScaleUp, EachPixelBlendsTheTwoNearestByWhereItsCentreFalls) {
    // Across only (one row): two pixels to four, three to seven, one to three, two to two.
    struct Case {
        std::vector<uint32_t> from;
        std::vector<uint32_t> want;
    };
    const uint32_t a = 0xff000000, b = 0xffffffff;
    const Case cases[] = {
        // Centres at -0.25 (the edge), 0.25, 0.75 and 1.25 (the edge).
        {{a, b}, {a, 0xff3f3f3f, 0xffbfbfbf, b}},
        // Bytes blend apart: no carry from one into the next.
        {{0x00ff00ff, 0xff00ff00}, {0x00ff00ff, 0x3fbf3fbf, 0xbf3fbf3f, 0xff00ff00}},
        // Centres at 1/14, 5/14 ... of the way: 36, 146, 0, 109 and 219 256ths past a pixel.
        {{0x10, 0x20, 0x90}, {0x10, 0x12, 0x19, 0x20, 0x4f, 0x7f, 0x90}},
        {{0x12345678}, {0x12345678, 0x12345678, 0x12345678}},
        {{a, b}, {a, b}},   // the same size: copied
    };
    for (const Case& c : cases) {
        Picture from(int(c.from.size()), 1), to(int(c.want.size()), 1);
        from.pixels = c.from;
        ScaleUp()(from.in(), to.out());
        EXPECT_EQ(to.pixels, c.want) << c.from.size() << " to " << c.want.size();
    }
    // Down works as across does: a column of two to four.
    Picture from(1, 2), to(1, 4);
    from.pixels = {a, b};
    ScaleUp()(from.in(), to.out());
    EXPECT_EQ(to.pixels, (std::vector<uint32_t>{a, 0xff3f3f3f, 0xffbfbfbf, b}));
}

TEST(ScaleUp, APartAndTheRowsSharedWithAHelperComeOutAsTheWhole) {
    struct Case {
        int fromW, fromH, toW, toH;
    };
    const Case cases[] = {{640, 430, 1280, 860}, {1280, 860, 1920, 1290}, {333, 211, 517, 397},
                          {2, 2, 3, 301}};
    ScaleUpInTwo inTwo;   // one helper for every case: its row buffers change size between them
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.fromW << "x" << c.fromH << " to " << c.toW << "x" << c.toH);
        const Picture from = pattern(c.fromW, c.fromH);
        Picture whole(c.toW, c.toH), shared(c.toW, c.toH), part(c.toW, c.toH, 0xdeadbeef);
        ScaleUp()(from.in(), whole.out());
        inTwo(from.in(), shared.out(), {0, 0, c.toW, c.toH});
        EXPECT_EQ(shared.pixels, whole.pixels);
        // An odd rectangle in the middle: its pixels are the whole's, the rest untouched.
        const PixelRect r{c.toW / 3 + 1, c.toH / 4 + 1, c.toW / 2, c.toH / 2};
        ScaleUp()(from.in(), part.out(), r);
        int wrong = 0;
        for (int y = 0; y < c.toH; ++y)
            for (int x = 0; x < c.toW; ++x) {
                const bool inside = x >= r.left && x < r.left + r.width && y >= r.top && y < r.top + r.height;
                if (part.at(x, y) != (inside ? whole.at(x, y) : 0xdeadbeef)) ++wrong;
            }
        EXPECT_EQ(wrong, 0);
    }
}

}  // namespace
}  // namespace scene
