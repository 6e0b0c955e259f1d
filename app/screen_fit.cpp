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

// What a frame drawn at `rows` and shown `shownRows` high costs, as last seen. The full height
// is foretold by the square law too, and by what it cost when last drawn, whichever is less: the
// law overshoots from low heights, where a frame's fixed costs weigh most.
double RenderPace::foretold(int rows, int shownRows) const {
    const double show = rows >= shownRows ? copyMs_ : (scaleUpMs_ >= 0 ? scaleUpMs_ : copyMs_);
    const double byLaw = perRowSq_ * double(rows) * rows + show;
    return rows >= shownRows && fullMs_ >= 0 ? std::min(byLaw, fullMs_) : byLaw;
}

// The cap moves only after half a second of frames at one height: down when they are over the
// budget (at the full height for two looks running, so that a busy moment does not blur the
// picture), to the largest height that fits, or, where none fits, to whichever of the full and
// the lowest height is cheaper; up one step at a time when the next step would still be well
// within it; straight to the full height when that costs about as little as the height drawn
// (a sharp picture for the same cost); and, below it, back to the full height now and then to
// see whether it fits again, where it might (its cost is foretold poorly from low heights),
// waiting twice as long after each try that does not.
void RenderPace::frameCost(int rows, double ms, double showMs, int shownRows) {
    if (!automatic() || rows <= 0) return;
    if (rows != lastRows_ || shownRows != lastShown_) {   // a new height: its own frames only
        lastRows_ = rows;
        lastShown_ = shownRows;
        drawSum_ = showSum_ = 0;
        frames_ = 0;
        overAtFull_ = 0;
    }
    drawSum_ += std::max(0.0, ms - showMs) / (double(rows) * rows);
    showSum_ += showMs;
    if (++frames_ < kFramesPerLook) return;
    perRowSq_ = drawSum_ / frames_;
    const double shown = shownRows > 0 ? showSum_ / frames_ : 0;
    const int full = shownRows > 0 ? shownRows : 1 << 30;   // not told: never scaled up
    if (rows >= full) copyMs_ = shown;
    else scaleUpMs_ = shown;
    drawSum_ = showSum_ = 0;
    frames_ = 0;
    if (rows >= full) fullMs_ = perRowSq_ * double(rows) * rows + shown;
    const double now = foretold(rows, full);
    if (rows >= full) {
        if (trying_) {   // a try of the full height: one look decides
            trying_ = false;
            waitLooks_ = now > kBudgetMs ? std::min(2 * waitLooks_, kLongestWait) : kFirstWait;
        } else if (now > kBudgetMs && ++overAtFull_ < 2) {
            return;
        }
        sinceFull_ = 0;
    } else if (++sinceFull_ >= waitLooks_ && fullMs_ >= 0 && fullMs_ <= 1.5 * kBudgetMs) {
        trying_ = true;
        capRows_ = 1 << 30;
        return;
    }
    if (now > kBudgetMs) {
        int fit = 0;   // the largest lower height within the budget
        for (int r = std::min(rows, full) / kStepRows * kStepRows; r >= kFloorRows && !fit; r -= kStepRows)
            if (r < full && foretold(r, full) <= kBudgetMs) fit = r;
        if (fit) capRows_ = fit;
        else capRows_ = foretold(kFloorRows, full) < foretold(full, full) ? kFloorRows : 1 << 30;
    } else if (rows < full && foretold(full, full) <= 1.1 * now) {
        capRows_ = 1 << 30;
    } else if (capRows_ <= rows) {
        const int up = rows + kStepRows;
        if (foretold(up, full) < 0.8 * kBudgetMs) capRows_ = up;
    }
    if (now <= kBudgetMs) overAtFull_ = 0;
}

}  // namespace hopshot
