#include "app/screen_fit.h"

#include "scene/scene.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace hopshot {

PictureFit fitPicture(int areaWidth, int areaHeight) {
    using scene::kDeviceHeight;
    using scene::kDeviceWidth;
    PictureFit f;
    areaWidth = std::max(areaWidth, 1);
    areaHeight = std::max(areaHeight, 1);
    // The side that runs out first sets the scale; the other gets the bars.
    if (int64_t(areaWidth) * kDeviceHeight <= int64_t(areaHeight) * kDeviceWidth) {
        f.scale = double(areaWidth) / kDeviceWidth;
        f.width = areaWidth;
        f.height = std::max(1, int(std::lround(f.scale * kDeviceHeight)));
    } else {
        f.scale = double(areaHeight) / kDeviceHeight;
        f.height = areaHeight;
        f.width = std::max(1, int(std::lround(f.scale * kDeviceWidth)));
    }
    f.left = (areaWidth - f.width) / 2;
    f.top = (areaHeight - f.height) / 2;
    return f;
}

int RenderPace::rows(int shownRows) const {
    if (fixedRows_ > 0) return std::min(fixedRows_, shownRows);
    return std::min(shownRows, std::max(capRows_, std::min(kFloorRows, shownRows)));
}

// Drawing costs about as much as the pixels drawn: the cost seen at one height foretells the
// others by the square of the ratio. The cap moves only after half a second of frames, down as
// soon as they are over the budget, up only when the next step up would still be well within it.
void RenderPace::frameCost(int rows, double ms) {
    if (!automatic() || rows <= 0) return;
    if (rows != lastRows_) {   // a new height: its own frames only
        lastRows_ = rows;
        costSum_ = 0;
        frames_ = 0;
    }
    costSum_ += ms / (double(rows) * rows);
    if (++frames_ < kFramesPerLook) return;
    const double perRowSq = costSum_ / frames_;
    costSum_ = 0;
    frames_ = 0;
    const int fits = int(std::sqrt(kBudgetMs / perRowSq));   // rows that take the whole budget
    if (perRowSq * rows * rows > kBudgetMs) {
        capRows_ = std::max(kFloorRows, fits / kStepRows * kStepRows);
    } else if (capRows_ <= rows) {
        const int up = rows + kStepRows;
        if (perRowSq * up * up < 0.8 * kBudgetMs) capRows_ = up;
    }
}

}  // namespace hopshot
