// The scene graph kept as plain data: frames, mesh builders, the light, and the device whose
// drawing is left to the Renderer its window makes. Frame operations need no device, so every
// one of them works headless. Nothing here throws: a call that cannot be done returns false
// (or an empty handle) and leaves every object as it was.
#include "scene/scene.h"

#include <algorithm>
#include <cmath>

namespace scene {

DeviceData::~DeviceData() = default;   // here, where Renderer is complete

namespace {

// Below this a direction has no length worth turning into an axis, and an up this close to the
// front cannot be made orthogonal to it (both measured on unit vectors).
constexpr float kTinyLength = 1e-6f;


float clamp01(float v) { return std::clamp(v, 0.0f, 1.0f); }

// Where a frame's own position and axes are measured: the world pose of its parent, and the
// matrix that turns scene directions into that parent's coordinates. A frame without a living
// parent is a scene root, measured in scene coordinates. The axes of every frame are kept
// orthonormal, but a frame's data is open to anyone, so the inverse does not rely on it.
struct ParentSpace {
    Pose pose;
    glm::mat3 fromScene{1};
};

bool parentSpaceOf(const FrameData& frame, ParentSpace& out) {
    if (const Frame parent = frame.parent.lock()) out.pose = worldPose(*parent);
    const float det = glm::determinant(out.pose.axes);
    if (!std::isfinite(det) || std::fabs(det) < kTinyLength) return false;
    out.fromScene = glm::inverse(out.pose.axes);
    return true;
}

// Right, up, front from a front and an up that need not be unit nor orthogonal: the front is
// normalised, up loses its part along the front (Gram-Schmidt), right = up x front.
bool axesFrom(glm::vec3 front, glm::vec3 up, glm::mat3& out) {
    const float frontLength = glm::length(front);
    if (!(frontLength > kTinyLength)) return false;
    const glm::vec3 f = front / frontLength;
    const float upLength = glm::length(up);
    if (!(upLength > kTinyLength)) return false;
    const glm::vec3 ortho = up / upLength - glm::dot(up / upLength, f) * f;
    const float orthoLength = glm::length(ortho);
    if (!(orthoLength > kTinyLength)) return false;   // up along the front
    const glm::vec3 u = ortho / orthoLength;
    out = glm::mat3(glm::cross(u, f), u, f);
    return finite(out[0]) && finite(out[1]) && finite(out[2]);
}

// Any unit vector at right angles to the unit vector v: crossed with the world axis least
// along it, so the cross product is never short.
glm::vec3 anyPerpendicular(glm::vec3 v) {
    const glm::vec3 a = glm::abs(v);
    const glm::vec3 axis = a.x <= a.y && a.x <= a.z ? glm::vec3(1, 0, 0)
                         : a.y <= a.z               ? glm::vec3(0, 1, 0)
                                                    : glm::vec3(0, 0, 1);
    return glm::normalize(glm::cross(v, axis));
}

template <class T>
void addOnce(std::vector<std::shared_ptr<T>>& list, const std::shared_ptr<T>& item) {
    if (std::find(list.begin(), list.end(), item) == list.end()) list.push_back(item);
}

Pose compose(const Pose& parent, const FrameData& child) {
    return Pose{parent.origin + parent.axes * child.position, parent.axes * child.axes};
}

template <class Visit>
void walk(const FrameData& frame, const Pose& pose, const Visit& visit) {
    visit(frame, pose);
    for (const Frame& child : frame.children)
        if (child) walk(*child, compose(pose, *child), visit);
}

}  // namespace

// --- queries ---

glm::mat4 Pose::matrix() const {
    return glm::mat4(glm::vec4(axes[0], 0), glm::vec4(axes[1], 0), glm::vec4(axes[2], 0),
                     glm::vec4(origin, 1));
}

Pose worldPose(const FrameData& frame) {
    Pose pose{frame.position, frame.axes};
    for (Frame p = frame.parent.lock(); p; p = p->parent.lock()) {
        pose.origin = p->position + p->axes * pose.origin;
        pose.axes = p->axes * pose.axes;
    }
    return pose;
}

// The topmost living ancestor. Whatever a parent link reaches is also held by its own parent's
// child list or by a handle, so the reference stays good after the lock is let go.
const FrameData& sceneRootOf(const FrameData& frame) {
    const FrameData* top = &frame;
    for (Frame p = frame.parent.lock(); p; p = p->parent.lock()) top = p.get();
    return *top;
}

void forEachVisual(const FrameData& root,
                   const std::function<void(const Pose&, const MeshData&)>& fn) {
    walk(root, worldPose(root), [&](const FrameData& frame, const Pose& pose) {
        for (const MeshBuilder& mesh : frame.visuals)
            if (mesh) fn(pose, *mesh);
    });
}

void forEachLight(const FrameData& root,
                  const std::function<void(const Pose&, const LightData&)>& fn) {
    walk(root, worldPose(root), [&](const FrameData& frame, const Pose& pose) {
        for (const Light& light : frame.lights)
            if (light) fn(pose, *light);
    });
}

// --- set-up operations ---

Root CreateRoot() { return std::make_shared<RootData>(); }

DrawObject DirectDrawCreate(const Root& root, const std::string& /*deviceName*/) {
    if (!root) return nullptr;
    return std::make_shared<DrawData>();
}

Clipper CreateClipper(const DrawObject& draw, unsigned /*flags*/) {
    if (!draw) return nullptr;
    return std::make_shared<ClipperData>();
}

bool SetHWnd(const Clipper& clipper, Window* window) {
    if (!clipper || !window) return false;
    clipper->window = window;
    return true;
}

RetainedMode Direct3DRMCreate(const Root& root) {
    if (!root) return nullptr;
    return std::make_shared<RetainedData>();
}

Device CreateDeviceFromClipper(const RetainedMode& rm, const Clipper& clipper,
                               const std::string& /*driver*/, int width, int height) {
    if (!rm || !clipper || !clipper->window || width <= 0 || height <= 0) return nullptr;
    try {
        std::unique_ptr<Renderer> renderer = clipper->window->createRenderer(width, height);
        if (!renderer) return nullptr;
        auto device = std::make_shared<DeviceData>();
        device->renderer = std::move(renderer);
        device->width = width;
        device->height = height;
        return device;
    } catch (...) {
        return nullptr;   // a window that cannot make its drawing counts as one that cannot draw
    }
}

bool SetQuality(const Device& device, unsigned quality) {
    if (!device) return false;
    device->quality = quality;
    return true;
}

// A ramp needs at least one shade: the renderer divides the light into this many steps.
bool SetShades(const Device& device, unsigned shades) {
    if (!device || shades == 0) return false;
    device->shades = shades;
    return true;
}

bool SetDither(const Device& device, bool on) {
    if (!device) return false;
    device->dither = on;
    return true;
}

Frame CreateFrame(const RetainedMode& rm, const Frame& parent) {
    if (!rm) return nullptr;
    try {
        auto frame = std::make_shared<FrameData>();
        if (parent) {
            parent->children.push_back(frame);
            frame->parent = parent;
        }
        return frame;
    } catch (...) {
        return nullptr;
    }
}

// The rectangle must lie on the device: the renderer draws into it without further clipping.
Viewport CreateViewport(const RetainedMode& rm, const Device& device, const Frame& camera,
                        int left, int top, int width, int height) {
    if (!rm || !device || !camera) return nullptr;
    if (left < 0 || top < 0 || width <= 0 || height <= 0) return nullptr;
    if (left > device->width - width || top > device->height - height) return nullptr;
    try {
        auto viewport = std::make_shared<ViewportData>();
        viewport->device = device;
        viewport->camera = camera;
        viewport->left = left;
        viewport->top = top;
        viewport->width = width;
        viewport->height = height;
        return viewport;
    } catch (...) {
        return nullptr;
    }
}

bool SetBack(const Viewport& viewport, float distance) {
    if (!viewport || !finite(distance) || distance <= viewport->front) return false;
    viewport->back = distance;
    return true;
}

bool SetSceneBackgroundRGB(const Frame& root, float r, float g, float b) {
    if (!root || !finite(glm::vec3(r, g, b))) return false;
    root->background = Color{clamp01(r), clamp01(g), clamp01(b)};
    return true;
}

// The light types of the retained mode run from ambient (0) to parallel point (4); the
// renderer lights the scene with the directional ones only.
Light CreateLightRGB(const RetainedMode& rm, int type, float r, float g, float b) {
    if (!rm || type < 0 || type > 4 || !finite(glm::vec3(r, g, b))) return nullptr;
    try {
        auto light = std::make_shared<LightData>();
        light->type = type;
        light->color = Color{clamp01(r), clamp01(g), clamp01(b)};
        return light;
    } catch (...) {
        return nullptr;
    }
}

bool AddLight(const Frame& frame, const Light& light) {
    if (!frame || !light) return false;
    try {
        addOnce(frame->lights, light);
        return true;
    } catch (...) {
        return false;
    }
}

MeshBuilder CreateMeshBuilder(const RetainedMode& rm) {
    if (!rm) return nullptr;
    try {
        return std::make_shared<MeshData>();
    } catch (...) {
        return nullptr;
    }
}

// Points scale with the factors, normals with their cofactors (the inverse transpose up to
// a positive factor), then are made unit again. A mirroring scale turns the corners round so
// that the front faces still run clockwise.
bool ScaleMesh(const MeshBuilder& mesh, float sx, float sy, float sz) {
    if (!mesh || !finite(glm::vec3(sx, sy, sz))) return false;
    const glm::vec3 scale(sx, sy, sz);
    const float det = sx * sy * sz;
    const glm::vec3 normalScale = glm::vec3(sy * sz, sx * sz, sx * sy) * (det < 0 ? -1.0f : 1.0f);
    for (Triangle& t : mesh->triangles) {
        for (int k = 0; k < 3; ++k) {
            t.p[k] *= scale;
            const glm::vec3 n = t.n[k] * normalScale;
            const float length = glm::length(n);
            if (length > kTinyLength && std::isfinite(length)) t.n[k] = n / length;
        }
        if (det < 0) {
            std::swap(t.p[1], t.p[2]);
            std::swap(t.n[1], t.n[2]);
        }
    }
    ++mesh->version;
    return true;
}

bool SetColorRGB(const MeshBuilder& mesh, float r, float g, float b) {
    if (!mesh || !finite(glm::vec3(r, g, b))) return false;
    const glm::vec3 color(clamp01(r), clamp01(g), clamp01(b));
    for (Triangle& t : mesh->triangles) t.color = color;
    ++mesh->version;
    return true;
}

// The frame holds the builder itself, not a copy: a later change to the builder shows on every
// frame that shows it.
bool AddVisual(const Frame& frame, const MeshBuilder& mesh) {
    if (!frame || !mesh) return false;
    try {
        addOnce(frame->visuals, mesh);
        return true;
    } catch (...) {
        return false;
    }
}

// --- per-step operations ---

bool SetPosition(const Frame& frame, const Frame& reference, float x, float y, float z) {
    const glm::vec3 offset(x, y, z);
    if (!frame || !finite(offset)) return false;
    if (!reference) {
        frame->position = offset;
        return true;
    }
    if (reference == frame) {
        // Along the frame's own axes, which are given in its parent's coordinates like its origin.
        const glm::vec3 moved = frame->position + frame->axes * offset;
        if (!finite(moved)) return false;
        frame->position = moved;
        return true;
    }
    const Pose ref = worldPose(*reference);
    ParentSpace parent;
    if (!parentSpaceOf(*frame, parent)) return false;
    const glm::vec3 inScene = ref.origin + ref.axes * offset;
    const glm::vec3 placed = parent.fromScene * (inScene - parent.pose.origin);
    if (!finite(placed)) return false;
    frame->position = placed;
    return true;
}

bool SetOrientation(const Frame& frame, const Frame& reference,
                    float dx, float dy, float dz, float ux, float uy, float uz) {
    glm::vec3 front(dx, dy, dz), up(ux, uy, uz);
    if (!frame || !finite(front) || !finite(up)) return false;
    if (reference) {
        // The vectors are given along the reference's axes: carry them to the parent's.
        ParentSpace parent;
        if (!parentSpaceOf(*frame, parent)) return false;
        const glm::mat3 m = parent.fromScene * worldPose(*reference).axes;
        front = m * front;
        up = m * up;
    }
    glm::mat3 axes;
    if (!axesFrom(front, up, axes)) return false;
    frame->axes = axes;
    return true;
}

// Only constraint 0 (turn freely) is supported. The up kept is the reference's y axis, or the
// parent's for an empty reference; looking straight along it, the frame keeps what it can of
// its own up, and failing that takes any up at right angles to the new front.
bool LookAt(const Frame& frame, const Frame& target, const Frame& reference, int constraint) {
    if (!frame || !target || constraint != 0) return false;
    ParentSpace parent;
    if (!parentSpaceOf(*frame, parent)) return false;
    const glm::vec3 from = worldPose(*frame).origin;
    const glm::vec3 to = worldPose(*target).origin;
    const glm::vec3 direction = parent.fromScene * (to - from);
    const float length = glm::length(direction);
    const float scale = std::max({1.0f, glm::length(from), glm::length(to)});
    if (!finite(direction) || !(length > kTinyLength * scale)) return false;
    const glm::vec3 front = direction / length;

    const glm::vec3 wantedUp =
        reference ? parent.fromScene * worldPose(*reference).axes[1] : glm::vec3(0, 1, 0);
    glm::mat3 axes;
    if (!axesFrom(front, wantedUp, axes) && !axesFrom(front, frame->axes[1], axes) &&
        !axesFrom(front, frame->axes[2], axes) && !axesFrom(front, anyPerpendicular(front), axes))
        return false;
    frame->axes = axes;
    return true;
}

bool Clear(const Viewport& viewport, unsigned flags) {
    if (!viewport || !viewport->device || !viewport->device->renderer || !viewport->camera)
        return false;
    try {
        const Color background = sceneRootOf(*viewport->camera).background;
        return viewport->device->renderer->clear(*viewport, background, flags);
    } catch (...) {
        return false;
    }
}

bool Render(const Viewport& viewport, const Frame& root) {
    if (!viewport || !root || !viewport->device || !viewport->device->renderer ||
        !viewport->camera)
        return false;
    try {
        return viewport->device->renderer->render(*viewport, *root);
    } catch (...) {
        return false;
    }
}

bool Update(const Device& device) {
    if (!device || !device->renderer) return false;
    try {
        return device->renderer->present();
    } catch (...) {
        return false;
    }
}

// --- saving and putting back ---

bool SavePlacement(const Frame& frame, Placement& out) {
    if (!frame) return false;
    out.position = frame->position;
    out.axes = frame->axes;
    return true;
}

bool RestorePlacement(const Frame& frame, const Placement& saved) {
    if (!frame) return false;
    frame->position = saved.position;
    frame->axes = saved.axes;
    return true;
}

}  // namespace scene
