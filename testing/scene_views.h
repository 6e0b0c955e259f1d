// A viewport of the tests' own: a rectangle of a device seen through a camera, with the game's
// back clip, for tests that draw without the game's setup.
#pragma once

#include "scene/scene.h"

#include <array>
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

    // A white square 4 across facing the camera, 10 ahead: a frame of its own under the root.
    scene::Frame whiteSquare(scene::MeshBuilder& mesh) {
        mesh = scene::CreateMeshBuilder(rm);
        const glm::vec3 n(0, 0, -1), c(0, 0, 10);
        const glm::vec3 tl = c + glm::vec3(-2, 2, 0), tr = c + glm::vec3(2, 2, 0),
                        br = c + glm::vec3(2, -2, 0), bl = c + glm::vec3(-2, -2, 0);
        for (auto [a, b, d] : {std::array{tl, tr, br}, std::array{tl, br, bl}})
            mesh->triangles.push_back({{a, b, d}, {n, n, n}, glm::vec3(1), glm::vec3(0)});
        ++mesh->version;
        scene::Frame f = scene::CreateFrame(rm, root);
        scene::AddVisual(f, mesh);
        return f;
    }
};

}  // namespace hopshot::scenetest
