// A viewport of the tests' own: a rectangle of a device seen through a camera, with the game's
// back clip, for tests that draw without the game's setup.
#pragma once

#include "scene/scene.h"

namespace hopshot::scenetest {

inline scene::ViewportData viewportOn(const scene::Device& device, const scene::Frame& camera,
                                      int left, int top, int width, int height) {
    scene::ViewportData v;
    v.device = device;
    v.camera = camera;
    v.left = left;
    v.top = top;
    v.width = width;
    v.height = height;
    v.back = 1200;
    return v;
}

}  // namespace hopshot::scenetest
