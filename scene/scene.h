// The 3D scene services: a retained-mode scene graph kept as plain data (frames with a parent, a
// place and three axes; mesh builders with their triangles; one directional light), and a device
// whose drawing is done by a Renderer that the window supplies. Every frame operation works
// without a device, so the game and its tests run with no picture at all.
//
// Coordinates are left-handed, y up, z forward: a frame's z axis is its front, y its up, x its
// right. Handles are reference-counted (std::shared_ptr) and let go by setting them empty.
// Every operation returns false and changes nothing when a handle it needs is empty or the
// operation cannot be done; nothing throws.
#pragma once

#include <glm/glm.hpp>

#include <cmath>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace scene {

// The device the game draws on, in its own pixels, and the rows of it that Picture1 shows.
constexpr int kDeviceWidth = 640;
constexpr int kDeviceHeight = 480;
constexpr int kShownHeight = 430;   // the bottom 50 rows are drawn but never shown

// Every number of a position, a direction or a colour is a real number (no NaN, no infinity).
inline bool finite(float v) { return std::isfinite(v); }
inline bool finite(glm::vec3 v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

struct FrameData;
struct MeshData;
struct LightData;
struct DeviceData;
struct ViewportData;
struct ClipperData;
struct DrawData;
struct RetainedData;
struct RootData;

using Frame       = std::shared_ptr<FrameData>;
using MeshBuilder = std::shared_ptr<MeshData>;
using Light       = std::shared_ptr<LightData>;
using Device      = std::shared_ptr<DeviceData>;
using Viewport    = std::shared_ptr<ViewportData>;
using Clipper     = std::shared_ptr<ClipperData>;
using DrawObject  = std::shared_ptr<DrawData>;
using RetainedMode = std::shared_ptr<RetainedData>;
using Root        = std::shared_ptr<RootData>;

struct Color { float r = 0, g = 0, b = 0; };

// Device qualities the game uses.
constexpr unsigned kQualityGouraud   = 137;  // Gouraud shading, lights on, solid fill
constexpr unsigned kQualityFlat      = 136;  // flat shading, lights on, solid fill
constexpr unsigned kQualityWireframe = 64;   // wireframe fill
constexpr unsigned kClearAll = 7;            // Clear: target, depth buffer and dirty rectangles
constexpr int kLightDirectional = 3;

// One triangle of a mesh, in the mesh's own coordinates. Corners run clockwise seen from the
// front (left-handed, as the .x file has them).
struct Triangle {
    glm::vec3 p[3];
    glm::vec3 n[3];          // corner normals (Gouraud); the face normal is worked out when needed
    glm::vec3 color;         // diffuse colour 0..1
    glm::vec3 emissive{0};   // light of its own (a glowing orb)
};

struct MeshData {
    std::vector<Triangle> triangles;
    uint64_t version = 0;    // raised by every change, so a renderer knows when to upload again
    // Unique for the life of the program, so a renderer never mistakes a new mesh for one
    // that stood at the same address before.
    const uint64_t id = nextId();

private:
    static uint64_t nextId() {
        static uint64_t last = 0;
        return ++last;
    }
};

struct LightData {
    int type = kLightDirectional;
    Color color{1, 1, 1};
};

struct FrameData {
    std::weak_ptr<FrameData> parent;
    std::vector<Frame> children;           // a parent holds its children
    glm::vec3 position{0};                 // origin, in the parent's coordinates
    glm::mat3 axes{1};                     // columns: right, up, front, in the parent's coordinates
    std::vector<MeshBuilder> visuals;
    std::vector<Light> lights;
    Color background{0, 0, 0};             // only a scene root's counts: what a Clear paints
};

class Renderer;

// What a clipper is bound to: the window that shows the 3D view (the game's Picture1). It makes
// the renderer behind a device; a window that cannot draw returns null.
class Window {
public:
    virtual ~Window() = default;
    virtual std::unique_ptr<Renderer> createRenderer(int width, int height) = 0;
};

struct DeviceData {
    std::unique_ptr<Renderer> renderer;    // never null in a device that was made
    int width = 0, height = 0;
    unsigned quality = kQualityGouraud;
    unsigned shades = 32;
    bool dither = true;
    ~DeviceData();
};

struct ViewportData {
    Device device;
    Frame camera;
    int left = 0, top = 0, width = 0, height = 0;   // device pixels from the top left
    float front = 1.0f;                             // clipping planes along the camera's front
    float back = 100.0f;
    float field = 0.5f;    // at unit distance the view reaches this far from centre to the wider edge
};

struct ClipperData { Window* window = nullptr; };
struct DrawData {};
struct RetainedData {};
struct RootData {};

// The drawing behind a device: a persistent width x height colour and depth target. Clear and
// render touch the viewport's rectangle only; present shows the target in the window.
class Renderer {
public:
    virtual ~Renderer() = default;
    virtual bool clear(const ViewportData& viewport, Color background, unsigned flags) = 0;
    virtual bool render(const ViewportData& viewport, const FrameData& root) = 0;
    virtual bool present() = 0;
};

// --- set-up operations ---
// DirectDrawCreate, CreateClipper and Direct3DRMCreate make empty tags: the game's setup makes and
// releases these objects by name and in a fixed order, and a failure of any of them skips its
// step, so they exist to keep that sequence whole; the device and the renderer do the work.
Root CreateRoot();
DrawObject DirectDrawCreate(const Root& root, const std::string& deviceName);
Clipper CreateClipper(const DrawObject& draw, unsigned flags);
bool SetHWnd(const Clipper& clipper, Window* window);          // fails for a null window
RetainedMode Direct3DRMCreate(const Root& root);
Device CreateDeviceFromClipper(const RetainedMode& rm, const Clipper& clipper,
                               const std::string& driver, int width, int height);
bool SetQuality(const Device& device, unsigned quality);
bool SetShades(const Device& device, unsigned shades);
bool SetDither(const Device& device, bool on);
Frame CreateFrame(const RetainedMode& rm, const Frame& parent);   // empty parent: a scene root
Viewport CreateViewport(const RetainedMode& rm, const Device& device, const Frame& camera,
                        int left, int top, int width, int height);
bool SetBack(const Viewport& viewport, float distance);
bool SetSceneBackgroundRGB(const Frame& root, float r, float g, float b);
Light CreateLightRGB(const RetainedMode& rm, int type, float r, float g, float b);
bool AddLight(const Frame& frame, const Light& light);
MeshBuilder CreateMeshBuilder(const RetainedMode& rm);
// A DirectX .x file. Each file is read once a run and kept: a later load of the same path
// (unchanged on disk) takes the kept mesh, and a file that cannot be used is named on standard
// error once, with why, and leaves the builder as it was. A missing file says nothing.
bool LoadFromFile(const MeshBuilder& mesh, const std::string& path);
bool ScaleMesh(const MeshBuilder& mesh, float sx, float sy, float sz);
bool SetColorRGB(const MeshBuilder& mesh, float r, float g, float b);
bool AddVisual(const Frame& frame, const MeshBuilder& mesh);

// The mesh of an .x file held in memory, as LoadFromFile reads it: checked first (sizes,
// counts, indices), then read by Assimp and flattened. False with why when it is not usable.
bool ParseMeshFile(std::string_view bytes, std::vector<Triangle>& out, std::string& problem);

// --- per-step operations ---
// reference empty: relative to the frame's parent; the frame itself: moved along its own axes;
// another frame: placed at that frame's origin moved along that frame's axes.
bool SetPosition(const Frame& frame, const Frame& reference, float x, float y, float z);
// Front and up are normalised and up is made orthogonal to front; a zero front, or an up along
// the front, fails.
bool SetOrientation(const Frame& frame, const Frame& reference,
                    float dx, float dy, float dz, float ux, float uy, float uz);
// Turns the frame's z axis to the target's origin, keeping its y axis as near the reference's
// up as it can.
bool LookAt(const Frame& frame, const Frame& target, const Frame& reference, int constraint);
bool Clear(const Viewport& viewport, unsigned flags);
bool Render(const Viewport& viewport, const Frame& root);
bool Update(const Device& device);

// --- saving and putting back, for a game run again from a saved step ---
// What the per-step operations change in a frame: its origin and its axes, in its parent's
// coordinates. Put back, a placement is exactly what was saved: nothing is normalised again.
struct Placement {
    glm::vec3 position{0};
    glm::mat3 axes{1};
};
bool SavePlacement(const Frame& frame, Placement& out);          // false for an empty handle
bool RestorePlacement(const Frame& frame, const Placement& saved);

// --- queries, for the renderer and the tests ---
// A frame's place and axes in the coordinates of its scene root.
struct Pose {
    glm::vec3 origin{0};
    glm::mat3 axes{1};          // columns right, up, front
    glm::mat4 matrix() const;   // local point -> scene point
};
Pose worldPose(const FrameData& frame);
const FrameData& sceneRootOf(const FrameData& frame);
// Calls fn for every visual under root (root included), with the pose of the frame showing it.
void forEachVisual(const FrameData& root, const std::function<void(const Pose&, const MeshData&)>& fn);
// Calls fn for every light under root, with the pose of the frame carrying it.
void forEachLight(const FrameData& root, const std::function<void(const Pose&, const LightData&)>& fn);

}  // namespace scene
