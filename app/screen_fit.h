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
// automatic: the full shown height while drawing keeps within its share of the 20 ms step, and
// the largest height that does when it does not (the view is then scaled up smoothly). The
// automatic choice never goes below the rules' own 480 rows.
class RenderPace {
public:
    static constexpr double kBudgetMs = 12;     // of a 20 ms step: the game, the window and the
                                                // display's copy need the rest
    static constexpr int kStepRows = 48;        // the automatic height moves in tenths of 480
    static constexpr int kFramesPerLook = 25;   // half a second of steps between choices
    static constexpr int kFloorRows = 480;

    explicit RenderPace(int fixedRows = 0) : fixedRows_(fixedRows) {}

    // The rows to draw when the picture is shown `shownRows` high.
    int rows(int shownRows) const;

    // One presented frame drawn at `rows` cost `ms` (drawing, read-back and painting).
    void frameCost(int rows, double ms);

    bool automatic() const { return fixedRows_ <= 0; }

private:
    int fixedRows_;
    int capRows_ = 1 << 30;    // the automatic cap; none until drawing has been too slow
    double costSum_ = 0;       // per row squared, over the frames since the last choice
    int frames_ = 0;
    int lastRows_ = 0;
};

}  // namespace hopshot
