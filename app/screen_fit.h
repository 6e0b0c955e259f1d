// How the window shows the game's 640 x 480 picture at any size, in plain arithmetic (no Qt), so
// that it is tested without a display: the fit into the client area with black bars, and the
// height the 3D view is drawn at so that the game keeps its 50 steps a second.
#pragma once

namespace hopshot {

// The largest 640 x 480 picture that fits an area, centred; what is left are black bars.
struct PictureFit {
    double scale = 1;                        // picture pixels per device pixel
    int left = 0, top = 0, width = 0, height = 0;
};
PictureFit fitPicture(int areaWidth, int areaHeight);

// The height, in rows of the whole 480-row picture, that the 3D view is drawn at. Never more
// than it is shown at; with a fixed height asked for, that (at most the shown height). Otherwise
// automatic: the full shown height while drawing and showing keep within their share of the
// 20 ms step, and the largest height that does when they do not (the view is then scaled up
// smoothly). The automatic choice never goes below the rules' own 480 rows.
//
// Drawing costs about as much as the pixels drawn, and the pace foretells one height's cost from
// another's by the square of their ratio. Showing is reckoned apart, when it is told: a picture
// drawn at the size shown is copied to the window, one drawn smaller is scaled up, and with a
// software GL scaling up can cost more than the drawing it saves; so a smaller height is chosen
// only where its drawing and its scaling together are cheaper.
class RenderPace {
public:
    static constexpr double kBudgetMs = 16;     // of a 20 ms step: the game and the window need
                                                // the rest
    static constexpr int kStepRows = 48;        // the automatic height moves in tenths of 480
    static constexpr int kFramesPerLook = 25;   // half a second of steps between choices
    static constexpr int kFloorRows = 480;
    static constexpr double kStepMs = 20;        // frames on pace are this far apart
    static constexpr double kBehind = 1.02;      // frames further apart on average: falling behind
    static constexpr double kClearlyBehind = 1.1;   // ... and further still: a stutter a player sees
    static constexpr double kLongestGapMs = 250; // longer between frames: a pause, not a frame
    static constexpr int kFramesPerTry = 10;     // a try of the full height decides sooner

    explicit RenderPace(int fixedRows = 0) : fixedRows_(fixedRows) {}

    // The rows to draw when the picture is shown `shownRows` high.
    int rows(int shownRows) const;

    // One presented frame drawn at `rows` cost `ms` of the main thread, `showMs` of it in showing
    // the picture, which was shown `shownRows` high (0: not told; all of `ms` counts as drawing).
    // `sinceLastMs`: the wall time since the frame before was shown (0: not told). The frame's
    // own cost leaves out what the frames pay elsewhere (the game, the window system, the cores
    // shared with the GL's threads and the X server); frames further apart than a step on
    // average show the game falling behind its 50 steps a second, whatever their cost says.
    void frameCost(int rows, double ms, double showMs = 0, int shownRows = 0, double sinceLastMs = 0);

    bool automatic() const { return fixedRows_ <= 0; }

private:
    double foretold(int rows, int shownRows) const;
    void followFull(int rows, double cost);

    static constexpr int kNone = 1 << 30;   // a height above every picture: no cap, none seen

    int fixedRows_;
    int capRows_ = kNone;      // the automatic cap; none until drawing has been too slow
    double drawSum_ = 0;       // drawing's cost per row squared, over the frames since the last choice
    double showSum_ = 0;       // showing's cost, over the same frames
    double gapSum_ = 0;        // the time between frames, over those of them told it
    int gaps_ = 0;
    int frames_ = 0;
    int lastRows_ = 0, lastShown_ = 0;
    double perRowSq_ = 0;      // drawing's cost per row squared, as last seen
    double perRowSqScaled_ = 0;   // the same, as last seen below the full height; 0 until seen
    double copyMs_ = 0;        // showing a picture drawn at the size shown, as last seen
    double scaleUpMs_ = -1;    // showing one drawn smaller; below 0 until seen
    double fullMs_ = -1;       // a whole frame at the full height, as last seen and followed
                               // since; below 0 until seen
    int followRows_ = 0;       // the height whose cost the full height's follows
    double followMs_ = 0;      // that height's cost, smoothed; 0 until a look past its first
    // The full height is tried again only where its cost comes within this much of the budget:
    // a try costs the game a stutter, and one foretold to fail is not worth it.
    static constexpr double kWorthTrying = 1.1;
    int overAtFull_ = 0;       // looks running over the budget at the full height
    static constexpr int kFirstWait = 20;     // looks below the full height before trying it
    static constexpr int kLongestWait = 80;   // again (10 s), doubled after each failed try up to 40 s
    int waitLooks_ = kFirstWait;
    int sinceFull_ = 0;        // looks since the full height was last drawn
    int behindAt_ = kNone;     // the lowest height below the full one the game fell behind at,
                               // since the full height was last tried
    int behindLooks_ = 0;      // looks since then
    bool trying_ = false;      // the full height is being tried again
    bool quick_ = false;       // the height was left for falling behind: the next look is short
    int heldRows_ = 0;         // the last height below the full one the game kept its pace at
};

}  // namespace hopshot
