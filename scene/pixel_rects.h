// Rectangles of the target's pixels, as the renderer keeps its picture in parts: whether one
// lies over another, and what part of an area a set of them leaves uncovered.
#pragma once

#include "scene/device_scale.h"

#include <algorithm>
#include <vector>

namespace scene {

inline int rightOf(const PixelRect& r) { return r.left + r.width; }
inline int bottomOf(const PixelRect& r) { return r.top + r.height; }

inline bool isEmpty(const PixelRect& r) { return r.width <= 0 || r.height <= 0; }

inline PixelRect intersection(const PixelRect& a, const PixelRect& b) {
    const int l = std::max(a.left, b.left), t = std::max(a.top, b.top);
    const int r = std::min(rightOf(a), rightOf(b)), bo = std::min(bottomOf(a), bottomOf(b));
    if (r <= l || bo <= t) return {};
    return {l, t, r - l, bo - t};
}

inline bool overlaps(const PixelRect& a, const PixelRect& b) { return !isEmpty(intersection(a, b)); }

inline bool covers(const PixelRect& outer, const PixelRect& inner) {
    return outer.left <= inner.left && outer.top <= inner.top &&
           rightOf(inner) <= rightOf(outer) && bottomOf(inner) <= bottomOf(outer);
}

// The parts of `area` that none of `over` covers, as rectangles that do not overlap: the area is
// cut along every edge of `over`, and the uncovered cells of a row are joined where they meet.
inline std::vector<PixelRect> uncoveredParts(const PixelRect& area, const std::vector<PixelRect>& over) {
    std::vector<int> xs{area.left, rightOf(area)}, ys{area.top, bottomOf(area)};
    for (const PixelRect& r : over) {
        const PixelRect c = intersection(area, r);
        if (isEmpty(c)) continue;
        xs.insert(xs.end(), {c.left, rightOf(c)});
        ys.insert(ys.end(), {c.top, bottomOf(c)});
    }
    std::sort(xs.begin(), xs.end());
    xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
    std::sort(ys.begin(), ys.end());
    ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
    std::vector<PixelRect> parts;
    for (size_t j = 0; j + 1 < ys.size(); ++j) {
        bool joining = false;
        for (size_t i = 0; i + 1 < xs.size(); ++i) {
            const PixelRect cell{xs[i], ys[j], xs[i + 1] - xs[i], ys[j + 1] - ys[j]};
            const bool covered = std::any_of(over.begin(), over.end(),
                                             [&](const PixelRect& r) { return covers(r, cell); });
            if (covered) {
                joining = false;
            } else if (joining) {
                parts.back().width += cell.width;
            } else {
                parts.push_back(cell);
                joining = true;
            }
        }
    }
    return parts;
}

}  // namespace scene
