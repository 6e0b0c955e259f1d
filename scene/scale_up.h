// Scaling a picture up smoothly on the CPU, for a 3D view drawn smaller than it is shown. A
// software GL scales by drawing a textured quad, several times as slow; this is a plain
// two-way linear blend of the four nearest pixels, done in whole numbers on the compiler's
// vectors, a row at a time.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "scene/device_scale.h"

namespace scene {

// 32-bit pixels (any byte order: each of the four bytes is blended on its own), rows `stride`
// pixels apart.
struct PixelsIn {
    const uint32_t* pixels = nullptr;
    int width = 0, height = 0, stride = 0;
};
struct PixelsOut {
    uint32_t* pixels = nullptr;
    int width = 0, height = 0, stride = 0;
};

// Fills `to` (or only the rectangle `part` of it) with `from` stretched over the whole of it:
// each pixel of `to` takes its centre's place in `from` and blends the four pixels around it
// (at the edges, the edge pixels), each weighed in 256ths. Equal sizes copy the pixels as they
// are. The row buffers are kept between calls.
class ScaleUp {
public:
    void operator()(const PixelsIn& from, const PixelsOut& to);
    void operator()(const PixelsIn& from, const PixelsOut& to, PixelRect part);

private:
    // Where pixels of `to` sample `from` along one axis: the first of the two pixels each
    // blends, and the second one's weight, 0..256.
    struct Taps {
        std::vector<int> first;
        std::vector<uint16_t> weight;
        int from = 0;
    };
    static void taps(int from, int to, Taps& out);
    void blendAcross(const uint32_t* row, int width, int left, int right, uint16_t* into) const;

    Taps across_, down_;
    std::vector<uint16_t> weights_;   // across_'s pairs of weights, each given to four bytes
    // Two source rows blended across to the width of `to`, a byte to a 16-bit lane; which
    // source row each holds (-1: none yet).
    std::vector<uint16_t> rows_[2];
    int held_[2] = {-1, -1};
};

// The same, with the rows shared between this thread and a helper thread of its own: in the
// window the picture is scaled while Mesa's drawing threads have finished and wait, so both
// cores are free.
class ScaleUpInTwo {
public:
    ScaleUpInTwo() = default;
    ~ScaleUpInTwo();
    ScaleUpInTwo(const ScaleUpInTwo&) = delete;
    ScaleUpInTwo& operator=(const ScaleUpInTwo&) = delete;

    void operator()(const PixelsIn& from, const PixelsOut& to, PixelRect part);

private:
    void helperLoop();

    ScaleUp mine_, helpers_;
    std::thread helper_;
    std::mutex lock_;
    std::condition_variable wake_;
    // The helper's share of the work, and whether it is given and not yet done.
    PixelsIn from_;
    PixelsOut to_;
    PixelRect part_;
    bool given_ = false, stopping_ = false;
};

}  // namespace scene
