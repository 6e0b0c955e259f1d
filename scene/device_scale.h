// The rules draw on a 640 x 480 device; the window shows it at any size. The renderer draws at
// the size shown: every device rectangle (a viewport, a clear) is multiplied by the scale, each
// edge rounded to a whole pixel on its own, so rectangles that meet on the device still meet on
// the screen with no gap and no overlap.
#pragma once

#include <cmath>

namespace scene {

struct PixelRect {
    int left = 0, top = 0, width = 0, height = 0;
    bool operator==(const PixelRect&) const = default;
};

// The pixel edge of a device coordinate at a scale.
inline int scaledEdge(int deviceCoord, double scale) {
    return int(std::lround(deviceCoord * scale));
}

// A device rectangle (from the top left) in pixels at a scale: its edges scaled, not its size.
inline PixelRect scaleRect(int left, int top, int width, int height, double scale) {
    const int l = scaledEdge(left, scale), t = scaledEdge(top, scale);
    return {l, t, scaledEdge(left + width, scale) - l, scaledEdge(top + height, scale) - t};
}

}  // namespace scene
