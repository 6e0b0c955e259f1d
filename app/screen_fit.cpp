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
// law overshoots from low heights, where a frame's fixed costs weigh most. A lower height goes
// by the law as last seen below the full height, once it has been: a picture drawn smaller
// takes another way to the screen, and the full height's law undershoots it.
double RenderPace::foretold(int rows, int shownRows) const {
    const bool scaled = rows < shownRows;
    const double show = !scaled ? copyMs_ : (scaleUpMs_ >= 0 ? scaleUpMs_ : copyMs_);
    const double law = scaled && perRowSqScaled_ > 0 ? perRowSqScaled_ : perRowSq_;
    const double byLaw = law * double(rows) * rows + show;
    return rows >= shownRows && fullMs_ >= 0 ? std::min(byLaw, fullMs_) : byLaw;
}

// Below the full height, its cost as last seen moves with the cost of the height drawn: by as
// much as that has changed (smoothed over looks) while the height stayed the same. A new height's
// first look pays for the change and is left out.
void RenderPace::followFull(int rows, double cost) {
    if (rows != followRows_) {
        followRows_ = rows;
        followMs_ = 0;
        return;
    }
    if (followMs_ <= 0) {
        followMs_ = cost;
        return;
    }
    const double smoothed = 0.75 * followMs_ + 0.25 * cost;
    if (fullMs_ >= 0) fullMs_ *= smoothed / followMs_;
    followMs_ = smoothed;
}

// The cap moves only after half a second of frames at one height: down when they are over the
// budget (at the full height for two looks running, so that a busy moment does not blur the
// picture, unless the game fell clearly behind: that stutter is worse than a blur), to the
// largest height that fits, or, where none fits, to whichever of the full and the lowest height
// is cheaper; up one step at a time when the next step would still be well
// within it; straight to the full height when that costs about as little as the height drawn
// (a sharp picture for the same cost); and, below it, back to the full height now and then to
// see whether it fits again, where it might: where its cost as last seen, followed since by the
// cost of the height drawn, comes near the budget (the square law foretells it poorly from low
// heights), waiting twice as long after each try that does not fit, and then going back no
// higher than the height held before. A lower height the game fell behind at is not stepped up
// to again until the full height is next tried, or for 20 s: going up and down again costs the
// pace twice and shows. On the way down for falling behind, each look is short.
void RenderPace::frameCost(int rows, double ms, double showMs, int shownRows, double sinceLastMs) {
    if (!automatic() || rows <= 0) return;
    if (shownRows != lastShown_) heldRows_ = 0;   // held at another size: says nothing here
    if (rows != lastRows_ || shownRows != lastShown_) {   // a new height: its own frames only
        lastRows_ = rows;
        lastShown_ = shownRows;
        drawSum_ = showSum_ = gapSum_ = 0;
        frames_ = gaps_ = 0;
        overAtFull_ = 0;
    } else if (sinceLastMs > 0 && sinceLastMs <= kLongestGapMs) {   // the first at a height pays for the change
        gapSum_ += sinceLastMs;
        ++gaps_;
    }
    drawSum_ += std::max(0.0, ms - showMs) / (double(rows) * rows);
    showSum_ += showMs;
    if (++frames_ < (trying_ || quick_ ? kFramesPerTry : kFramesPerLook)) return;
    quick_ = false;
    perRowSq_ = drawSum_ / frames_;
    const double shown = shownRows > 0 ? showSum_ / frames_ : 0;
    const int full = shownRows > 0 ? shownRows : kNone;   // not told: never scaled up
    if (rows >= full) copyMs_ = shown;
    else scaleUpMs_ = shown;
    // Where the time between frames is told, it is the judge of this height: behind the pace,
    // the height costs more than its budget, by as much as the game is behind; on pace, it is
    // within the budget, whatever its cost foretells. The cost still foretells the other heights.
    const double behind = gaps_ > 0 ? gapSum_ / gaps_ / kStepMs : 0;
    drawSum_ = showSum_ = gapSum_ = 0;
    frames_ = gaps_ = 0;
    if (rows < full) perRowSqScaled_ = perRowSq_;
    const double cost = rows >= full ? perRowSq_ * double(rows) * rows + shown : foretold(rows, full);
    double now = cost;
    if (behind > kBehind) now = std::max(now, kBudgetMs * behind);
    else if (behind > 0) now = std::min(now, kBudgetMs);
    // Behind the pace, the lower heights are foretold dearer by as much as this one was.
    const double under = cost > 0 ? std::max(1.0, now / cost) : 1;
    // What fell behind below the full height is not stepped up to again, until the next try of
    // the full height (what fell behind may fit then, as the full height may) or for 20 s.
    auto forgetBehind = [this] {
        behindAt_ = kNone;
        behindLooks_ = 0;
    };
    if (rows < full && behind > 0 && behind <= kBehind) heldRows_ = rows;
    bool failedTry = false;
    if (rows >= full) {
        fullMs_ = now;
        followRows_ = 0;
        if (trying_) {   // a try of the full height: one look decides
            trying_ = false;
            failedTry = now > kBudgetMs;
            waitLooks_ = failedTry ? std::min(2 * waitLooks_, kLongestWait) : kFirstWait;
        } else if (now > kBudgetMs && ++overAtFull_ < 2 && behind <= kClearlyBehind) {
            return;
        }
        sinceFull_ = 0;
    } else {
        followFull(rows, cost);
        if (++sinceFull_ >= waitLooks_ && fullMs_ >= 0 && fullMs_ <= kWorthTrying * kBudgetMs) {
            trying_ = true;
            capRows_ = kNone;
            forgetBehind();
            return;
        }
    }
    if (rows < full && behind > kBehind) behindAt_ = std::min(behindAt_, rows);
    if (behindAt_ < kNone && ++behindLooks_ >= kLongestWait / 2) forgetBehind();
    if (now > kBudgetMs) {
        int fit = 0;   // the largest lower height within the budget
        for (int r = (std::min(rows, full) - 1) / kStepRows * kStepRows; r >= kFloorRows && !fit; r -= kStepRows)
            if (foretold(r, full) * under <= kBudgetMs) fit = r;
        if (fit) capRows_ = fit;
        else capRows_ = foretold(kFloorRows, full) < foretold(full, full) ? kFloorRows : kNone;
        // A try that failed goes back no higher than the height the game kept its pace at
        // before it: foretold from the full height, the heights between seem cheaper than they
        // are, and each one found behind on the way down costs the pace again.
        if (failedTry && heldRows_ > 0) capRows_ = std::min(capRows_, heldRows_);
        // Leaving a height the game fell behind at, the next one is judged sooner: on the way
        // down every look spent behind costs steps.
        quick_ = behind > kBehind && capRows_ < rows;
    } else if (rows < full && foretold(full, full) <= 1.1 * now) {
        capRows_ = kNone;
    } else if (capRows_ <= rows) {
        const int up = rows + kStepRows;
        if (up < behindAt_ && foretold(up, full) < 0.8 * kBudgetMs) capRows_ = up;
    }
    if (now <= kBudgetMs) overAtFull_ = 0;
}

}  // namespace hopshot
