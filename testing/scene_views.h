// A viewport of the tests' own: a rectangle of a device seen through a camera, with the game's
// back clip, for tests that draw without the game's setup.
#pragma once

#include "scene/scene.h"

#include <memory>

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

// A scene with a camera and a 640 x 480 device's data, made afresh for each test.
struct Scene {
    scene::RetainedMode rm;
    scene::Frame root, camera;
    scene::Device deviceData;

    void make() {
        rm = scene::Direct3DRMCreate(scene::CreateRoot());
        root = scene::CreateFrame(rm, nullptr);
        camera = scene::CreateFrame(rm, root);
        deviceData = std::make_shared<scene::DeviceData>();
        deviceData->width = scene::kDeviceWidth;
        deviceData->height = scene::kDeviceHeight;
    }
};

}  // namespace hopshot::scenetest
