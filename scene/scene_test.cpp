#include "scene/scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace scene {
namespace {

constexpr float kTol = 1e-4f;

void expectNear(glm::vec3 actual, glm::vec3 expected) {
    EXPECT_NEAR(actual.x, expected.x, kTol);
    EXPECT_NEAR(actual.y, expected.y, kTol);
    EXPECT_NEAR(actual.z, expected.z, kTol);
}

// Unit axes at right angles with right = up x front, the scene's own handedness.
void expectProperAxes(const glm::mat3& axes) {
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(glm::length(axes[i]), 1.0f, kTol) << "axis " << i;
    EXPECT_NEAR(glm::dot(axes[1], axes[2]), 0.0f, kTol);
    expectNear(glm::cross(axes[1], axes[2]), axes[0]);
}

struct SceneFixture {
    RetainedMode rm = Direct3DRMCreate(CreateRoot());
    Frame root = CreateFrame(rm, nullptr);

    Frame frameAt(const Frame& parent, glm::vec3 at, glm::vec3 front = {0, 0, 1}) {
        Frame f = CreateFrame(rm, parent);
        SetPosition(f, nullptr, at.x, at.y, at.z);
        SetOrientation(f, nullptr, front.x, front.y, front.z, 0, 1, 0);
        return f;
    }
};

TEST(SceneFrames, NewFrameHangsUnderItsParentAndAnEmptyParentMakesARoot) {
    SceneFixture s;
    EXPECT_TRUE(s.root->parent.expired());
    Frame child = CreateFrame(s.rm, s.root);
    EXPECT_EQ(child->parent.lock(), s.root);
    EXPECT_EQ(s.root->children, std::vector<Frame>{child});
    EXPECT_EQ(&sceneRootOf(*child), s.root.get());
}

TEST(SceneFrames, WorldPoseAndItsMatrixComposeUpTheChain) {
    SceneFixture s;
    SetPosition(s.root, nullptr, 0, 0, 50);
    Frame turned = s.frameAt(s.root, {10, 0, 0}, {1, 0, 0});   // its right is now -z
    const Pose pose = worldPose(*s.frameAt(turned, {2, 3, 5}));
    expectNear(pose.origin, {15, 3, 48});
    expectNear(pose.axes[0], {0, 0, -1});
    expectNear(glm::vec3(pose.matrix() * glm::vec4(0, 0, 1, 1)), {16, 3, 48});
    expectNear(glm::vec3(pose.matrix() * glm::vec4(0, 1, 0, 0)), {0, 1, 0});   // not moved
}

// The moved frame hangs under a parent at (5, 0, 0) that faces -x, so a parent-relative
// (x, y, z) lands at (5 - z, y, x) in the scene; its own front is the parent's +x.
struct PositionCase {
    const char* name;
    enum { Parent, Self, Other } reference;
    glm::vec3 offset;
    glm::vec3 sceneOrigin;
};

void PrintTo(const PositionCase& c, std::ostream* os) { *os << c.name; }

class SetPositionTest : public ::testing::TestWithParam<PositionCase> {};

TEST_P(SetPositionTest, PlacesTheOriginAsTheReferenceSays) {
    const PositionCase& c = GetParam();
    SceneFixture s;
    Frame frame = s.frameAt(s.frameAt(s.root, {5, 0, 0}, {-1, 0, 0}), {1, 2, 3}, {1, 0, 0});
    // The other frame sits at (100, 0, 0) facing -z (its right is -x), under a turned holder.
    Frame other = s.frameAt(s.frameAt(s.root, {0, 0, 40}, {-1, 0, 0}), {-40, 0, -100}, {-1, 0, 0});
    const glm::mat3 axesBefore = frame->axes;
    const Frame reference = c.reference == PositionCase::Parent ? nullptr
                          : c.reference == PositionCase::Self   ? frame
                                                                : other;
    ASSERT_TRUE(SetPosition(frame, reference, c.offset.x, c.offset.y, c.offset.z));
    expectNear(worldPose(*frame).origin, c.sceneOrigin);
    EXPECT_EQ(frame->axes, axesBefore);
}

INSTANTIATE_TEST_SUITE_P(
    SceneFrames, SetPositionTest,
    ::testing::Values(
        PositionCase{"RelativeToTheParent", PositionCase::Parent, {7, 8, 9}, {-4, 8, 7}},
        // from (1, 2, 3) by 1 right (-z), 2 up, 3 front (+x): (4, 4, 2) in the parent
        PositionCase{"AlongItsOwnTurnedAxes", PositionCase::Self, {1, 2, 3}, {3, 4, 4}},
        PositionCase{"OnAnotherFramesOrigin", PositionCase::Other, {0, 0, 0}, {100, 0, 0}},
        PositionCase{"AlongAnotherFramesAxes", PositionCase::Other, {1, 2, 10}, {99, 2, -10}}),
    [](const auto& info) { return std::string(info.param.name); });

// The gun's aim hands over a front whose y is the elevation in radians: not unit, and not at
// right angles to the up (0, 1, 0) that comes with it.
class TiltedFrontTest : public ::testing::TestWithParam<float> {};

TEST_P(TiltedFrontTest, NonUnitFrontIsNormalisedAndUpKeptNearTheGivenUp) {
    const float a = GetParam();
    SceneFixture s;
    Frame tank = s.frameAt(s.root, {-300, 0, -400});
    const glm::vec3 front(std::cos(a), a, std::sin(a));
    ASSERT_TRUE(SetOrientation(tank, nullptr, front.x, front.y, front.z, 0, 1, 0));
    expectProperAxes(tank->axes);
    expectNear(tank->axes[2], front / glm::length(front));
    EXPECT_GT(tank->axes[1].y, 0.0f);             // up is still up
    EXPECT_NEAR(tank->axes[0].y, 0.0f, kTol);     // no roll: right stays level
}

INSTANTIATE_TEST_SUITE_P(SceneFrames, TiltedFrontTest,
                         ::testing::Values(0.0f, 0.5f, 1.4f, 3.14f, 4.7f, 6.28f));

TEST(SceneFrames, SetOrientationAlongAnotherFrameTakesThatFramesAxes) {
    SceneFixture s;
    Frame frame = s.frameAt(s.frameAt(s.root, {0, 0, 0}, {0, 0, -1}), {1, 1, 1});
    Frame other = s.frameAt(s.root, {9, 9, 9});
    SetOrientation(other, nullptr, 1, 1, 0, 0, 0, 1);
    ASSERT_TRUE(SetOrientation(frame, other, 0, 0, 1, 0, 1, 0));
    for (int i = 0; i < 3; ++i) expectNear(worldPose(*frame).axes[i], worldPose(*other).axes[i]);
}

TEST(SceneFrames, SetOrientationRefusesAFrontWithoutLengthOrAnUpAlongIt) {
    const struct { glm::vec3 front, up; } refused[] = {
        {{0, 0, 0}, {0, 1, 0}}, {{0, 0, 1}, {0, 0, 5}},   {{0, 2, 0}, {0, -1, 0}},
        {{1, 0, 0}, {0, 0, 0}}, {{NAN, 0, 1}, {0, 1, 0}},
    };
    SceneFixture s;
    Frame frame = s.frameAt(s.root, {1, 2, 3}, {1, 0, 1});
    const glm::mat3 before = frame->axes;
    for (const auto& r : refused)
        EXPECT_FALSE(SetOrientation(frame, nullptr, r.front.x, r.front.y, r.front.z, r.up.x,
                                    r.up.y, r.up.z));
    EXPECT_EQ(frame->axes, before);
}

TEST(SceneFrames, ChaseCameraLooksAtTheTankWithItsUpNearlyUp) {
    SceneFixture s;
    Frame tank = s.frameAt(s.root, {-300, 20, -400}, {0, 0.3f, 1});
    Frame camera = s.frameAt(s.root, {-300.16f, 65, -600});
    ASSERT_TRUE(LookAt(camera, tank, nullptr, 0));
    expectProperAxes(camera->axes);
    expectNear(camera->axes[2], glm::normalize(glm::vec3(0.16f, -45, 200)));
    EXPECT_GT(camera->axes[1].y, 0.97f);
    EXPECT_NEAR(camera->axes[0].y, 0.0f, kTol);
    expectNear(camera->position, {-300.16f, 65, -600});   // only turned
}

TEST(SceneFrames, LookAtWorksInSceneCoordinatesAndFollowsTheReferencesUp) {
    SceneFixture s;
    Frame eye = s.frameAt(s.frameAt(s.root, {50, 0, 0}, {1, 0, 1}), {0, 10, 0});
    Frame target = s.frameAt(s.root, {-20, 5, 70});
    ASSERT_TRUE(LookAt(eye, target, nullptr, 0));
    const Pose pose = worldPose(*eye);
    expectNear(pose.axes[2], glm::normalize(glm::vec3(-20, 5, 70) - pose.origin));

    Frame leaning = s.frameAt(s.root, {0, 0, 0});
    SetOrientation(leaning, nullptr, 0, 0, 1, 1, 1, 0);   // its up leans to +x
    Frame camera = s.frameAt(s.root, {-20, 5, -100});
    ASSERT_TRUE(LookAt(camera, target, leaning, 0));
    expectNear(camera->axes[1], glm::normalize(glm::vec3(1, 1, 0)));
}

TEST(SceneFrames, LookingStraightUpOrDownStillFindsAnUp) {
    SceneFixture s;
    Frame camera = s.frameAt(s.root, {0, 0, 0});
    SetOrientation(camera, nullptr, 0, 0.8f, 0.6f, 0, 0.6f, -0.8f);   // tilted back
    ASSERT_TRUE(LookAt(camera, s.frameAt(s.root, {0, 500, 0}), nullptr, 0));
    expectProperAxes(camera->axes);
    expectNear(camera->axes[2], {0, 1, 0});
    expectNear(camera->axes[1], {0, 0, -1});   // what was left of its own up

    // From the rest pose its own up runs along the look as well.
    Frame still = s.frameAt(s.root, {0, 0, 0});
    ASSERT_TRUE(LookAt(still, s.frameAt(s.root, {0, -50, 0}), nullptr, 0));
    expectProperAxes(still->axes);
    expectNear(still->axes[2], {0, -1, 0});
}

TEST(SceneFrames, LookAtFailsWithoutAWayToLook) {
    SceneFixture s;
    Frame camera = s.frameAt(s.root, {1, 2, 3}, {1, 1, 0});
    Frame elsewhere = s.frameAt(s.root, {9, 9, 9});
    const glm::mat3 before = camera->axes;
    EXPECT_FALSE(LookAt(camera, s.frameAt(s.root, {1, 2, 3}), nullptr, 0));   // same spot
    EXPECT_FALSE(LookAt(camera, nullptr, nullptr, 0));
    EXPECT_FALSE(LookAt(camera, elsewhere, nullptr, 1));   // only "no constraint" is known
    EXPECT_EQ(camera->axes, before);
}

// The game lets its handles go in an order of its own; a frame whose root went first is a
// scene root itself from then on, and everything under it keeps working.
TEST(SceneFrames, FramesUnderAReleasedRootKeepWorking) {
    SceneFixture s;
    SetPosition(s.root, nullptr, 1000, 0, 0);
    Frame tank = s.frameAt(s.root, {10, 0, 0});
    Frame gun = s.frameAt(tank, {0, 5, 0});
    s.root.reset();
    EXPECT_EQ(&sceneRootOf(*gun), tank.get());
    expectNear(worldPose(*gun).origin, {10, 5, 0});
    EXPECT_TRUE(SetPosition(tank, nullptr, 20, 0, 0));
    EXPECT_TRUE(SetPosition(gun, tank, 0, 0, 3));
    EXPECT_TRUE(LookAt(tank, gun, nullptr, 0));
    expectNear(worldPose(*gun).origin, {20, 0, 3});
}

TEST(SceneFrames, EmptyHandlesFailAndChangeNothing) {
    SceneFixture s;
    Frame frame = s.frameAt(s.root, {1, 2, 3}, {0, 1, 1});
    const Pose before = worldPose(*frame);
    MeshBuilder mesh = CreateMeshBuilder(s.rm);
    const Frame none;
    const std::function<bool()> calls[] = {
        [&] { return SetPosition(none, frame, 1, 1, 1); },
        [&] { return SetOrientation(none, frame, 0, 0, 1, 0, 1, 0); },
        [&] { return LookAt(none, frame, none, 0); },
        [&] { return AddVisual(frame, nullptr) || AddVisual(none, mesh); },
        [&] { return AddLight(frame, nullptr); },
        [&] { return SetSceneBackgroundRGB(none, 1, 0, 0); },
        [&] { return bool(CreateFrame(nullptr, frame)); },
        [&] { return CreateMeshBuilder(nullptr) || CreateLightRGB(nullptr, 3, 1, 1, 1); },
        [&] { return ScaleMesh(nullptr, 2, 2, 2) || SetColorRGB(nullptr, 1, 0, 0); },
        [&] { return Clear(nullptr, kClearAll) || Update(nullptr) || SetBack(nullptr, 1200); },
    };
    for (std::size_t i = 0; i < std::size(calls); ++i) EXPECT_FALSE(calls[i]()) << "call " << i;
    expectNear(frame->position, {1, 2, 3});
    EXPECT_EQ(worldPose(*frame).axes, before.axes);
    EXPECT_TRUE(frame->children.empty() && frame->visuals.empty() && frame->lights.empty());
    EXPECT_EQ(mesh->version, 0u);
}

// A tilted triangle with its face normal at every corner: after any scale, mirroring ones too,
// the corner normals must still stand square on the face, on the side its corners call front.
TEST(SceneMeshes, ScaleMeshKeepsNormalsSquareOnTheFaces) {
    const glm::vec3 scales[] = {{2, 2, 2}, {3, 1, 0.5f}, {0.5f, 4, 1}, {-1, 1, 1}, {2, -3, 1}};
    SceneFixture s;
    for (glm::vec3 k : scales) {
        MeshBuilder mesh = CreateMeshBuilder(s.rm);
        Triangle t;
        t.p[0] = {0, 0, 0};
        t.p[1] = {1, 2, 0.5f};
        t.p[2] = {2, 0, 1};
        for (glm::vec3& n : t.n) n = glm::normalize(glm::cross(t.p[1] - t.p[0], t.p[2] - t.p[0]));
        mesh->triangles = {t};
        ASSERT_TRUE(ScaleMesh(mesh, k.x, k.y, k.z));
        const Triangle& u = mesh->triangles[0];
        for (const glm::vec3& c : t.p) {   // the same three points, scaled, in some order
            auto isScaledCorner = [&](glm::vec3 p) { return glm::length(p - c * k) < kTol; };
            EXPECT_TRUE(std::any_of(std::begin(u.p), std::end(u.p), isScaledCorner));
        }
        const glm::vec3 front = glm::normalize(glm::cross(u.p[1] - u.p[0], u.p[2] - u.p[0]));
        for (const glm::vec3& n : u.n) expectNear(n, front);
        EXPECT_EQ(mesh->version, 1u);
    }
}

TEST(SceneMeshes, SetColorPaintsEveryTriangleAndKeepsTheGlow) {
    SceneFixture s;
    MeshBuilder mesh = CreateMeshBuilder(s.rm);
    mesh->triangles.resize(3);
    mesh->triangles[1].emissive = {0.5f, 0.5f, 0};
    ASSERT_TRUE(SetColorRGB(mesh, 0.5f, 1.0f, 0.5f));
    for (const Triangle& t : mesh->triangles) expectNear(t.color, {0.5f, 1.0f, 0.5f});
    expectNear(mesh->triangles[1].emissive, {0.5f, 0.5f, 0});
    EXPECT_EQ(mesh->version, 1u);
}

TEST(SceneMeshes, FramesShareABuilderAndSeeItsLaterChanges) {
    SceneFixture s;
    MeshBuilder hopperMesh = CreateMeshBuilder(s.rm);
    hopperMesh->triangles.resize(1);
    hopperMesh->triangles[0].p[1] = {1, 0, 0};
    Frame a = s.frameAt(s.root, {1, 0, 0});
    Frame b = s.frameAt(s.root, {2, 0, 0});
    ASSERT_TRUE(AddVisual(a, hopperMesh));
    ASSERT_TRUE(AddVisual(b, hopperMesh));
    ASSERT_TRUE(AddVisual(b, hopperMesh));   // shown once however often it is added
    ScaleMesh(hopperMesh, 3, 3, 3);

    std::vector<std::pair<float, float>> seen;   // (frame x, mesh's corner x)
    forEachVisual(*s.root, [&](const Pose& pose, const MeshData& mesh) {
        seen.emplace_back(pose.origin.x, mesh.triangles[0].p[1].x);
    });
    EXPECT_EQ(seen, (std::vector<std::pair<float, float>>{{1.0f, 3.0f}, {2.0f, 3.0f}}));
}

TEST(SceneQueries, VisualsAndLightsAreVisitedDepthFirstWithScenePoses) {
    SceneFixture s;
    SetPosition(s.root, nullptr, 100, 0, 0);
    auto tagged = [&](std::size_t tag) {   // the tag is the number of triangles
        MeshBuilder m = CreateMeshBuilder(s.rm);
        m->triangles.resize(tag);
        return m;
    };
    Frame first = s.frameAt(s.root, {10, 0, 0});
    Frame second = s.frameAt(s.root, {20, 0, 0});
    Frame firstChild = s.frameAt(first, {0, 5, 0});
    AddVisual(second, tagged(4));
    AddVisual(firstChild, tagged(3));
    AddVisual(first, tagged(2));
    AddVisual(s.root, tagged(1));
    AddLight(firstChild, CreateLightRGB(s.rm, kLightDirectional, 1, 0.5f, 0.25f));

    std::vector<std::size_t> order;
    std::vector<glm::vec3> places;
    forEachVisual(*s.root, [&](const Pose& pose, const MeshData& mesh) {
        order.push_back(mesh.triangles.size());
        places.push_back(pose.origin);
    });
    EXPECT_EQ(order, (std::vector<std::size_t>{1, 2, 3, 4}));
    ASSERT_EQ(places.size(), 4u);
    expectNear(places[2], {110, 5, 0});

    std::vector<glm::vec3> lights;
    forEachLight(*s.root,
                 [&](const Pose& pose, const LightData&) { lights.push_back(pose.origin); });
    ASSERT_EQ(lights.size(), 1u);
    expectNear(lights[0], {110, 5, 0});
}

// --- the device, through a renderer that writes down what it is asked ---

struct Calls {
    std::vector<std::string> log;
    Color clearedWith{-1, -1, -1};
    int left = -1;
    const FrameData* renderedRoot = nullptr;
    bool fail = false;
};

class RecordingRenderer : public Renderer {
public:
    explicit RecordingRenderer(Calls& calls) : calls_(calls) {}
    bool clear(const ViewportData& v, Color background, unsigned flags) override {
        calls_.log.push_back("clear " + std::to_string(flags));
        calls_.clearedWith = background;
        calls_.left = v.left;
        return !calls_.fail;
    }
    bool render(const ViewportData&, const FrameData& root) override {
        calls_.log.push_back("render");
        calls_.renderedRoot = &root;
        return !calls_.fail;
    }
    bool present() override {
        calls_.log.push_back("present");
        return !calls_.fail;
    }

private:
    Calls& calls_;
};

class FakePicture : public Window {
public:
    explicit FakePicture(Calls* calls) : calls_(calls) {}   // null: a window that cannot draw
    std::unique_ptr<Renderer> createRenderer(int width, int height) override {
        asked.emplace_back(width, height);
        return calls_ ? std::make_unique<RecordingRenderer>(*calls_) : nullptr;
    }
    std::vector<std::pair<int, int>> asked;

private:
    Calls* calls_;
};

// The game's set-up order, up to the device.
Device deviceOn(const RetainedMode& rm, Window* window) {
    Clipper clipper = CreateClipper(DirectDrawCreate(CreateRoot(), ""), 0);
    SetHWnd(clipper, window);
    return CreateDeviceFromClipper(rm, clipper, "", 640, 480);
}

TEST(SceneDevice, DeviceNeedsAWindowThatMakesARenderer) {
    SceneFixture s;
    Calls calls;
    FakePicture picture(&calls), cannotDraw(nullptr);
    Device device = deviceOn(s.rm, &picture);
    ASSERT_TRUE(device);
    EXPECT_EQ(picture.asked, (std::vector<std::pair<int, int>>{{640, 480}}));
    EXPECT_TRUE(SetQuality(device, kQualityWireframe) && SetShades(device, 32) &&
                SetDither(device, false));
    EXPECT_EQ(device->quality, kQualityWireframe);
    EXPECT_EQ(device->shades, 32u);
    EXPECT_FALSE(device->dither);

    EXPECT_FALSE(deviceOn(s.rm, &cannotDraw));
    EXPECT_EQ(cannotDraw.asked.size(), 1u);
    EXPECT_FALSE(deviceOn(s.rm, nullptr));   // the clipper stays unbound
}

TEST(SceneDevice, ViewportMustLieOnTheDevice) {
    SceneFixture s;
    Calls calls;
    FakePicture picture(&calls);
    Device device = deviceOn(s.rm, &picture);
    Frame camera = CreateFrame(s.rm, s.root);
    const struct { int left, top, width, height; bool made; } rects[] = {
        {0, 0, 640, 430, true}, {380, 245, 200, 150, true}, {320, 215, 320, 215, true},
        {0, 0, 640, 481, false}, {1, 0, 640, 10, false}, {-1, 0, 10, 10, false},
        {10, 10, 0, 10, false},
    };
    for (const auto& r : rects) {
        Viewport v = CreateViewport(s.rm, device, camera, r.left, r.top, r.width, r.height);
        EXPECT_EQ(bool(v), r.made) << r.left << "," << r.top << " " << r.width << "x" << r.height;
        if (v) {
            EXPECT_TRUE(SetBack(v, 1200));
            EXPECT_EQ(v->back, 1200);
            EXPECT_EQ(v->width, r.width);
        }
    }
}

TEST(SceneDevice, ClearRenderUpdateReachTheRendererInOrder) {
    SceneFixture s;
    Calls calls;
    FakePicture picture(&calls);
    Device device = deviceOn(s.rm, &picture);
    Frame tank = CreateFrame(s.rm, s.root);
    Frame camera = CreateFrame(s.rm, tank);   // two levels down: the background is the root's
    SetSceneBackgroundRGB(s.root, 0.5f, 0.5f, 0.8f);
    SetSceneBackgroundRGB(tank, 1, 0, 0);     // not a scene root: no say
    Viewport v = CreateViewport(s.rm, device, camera, 320, 215, 320, 215);

    EXPECT_TRUE(Clear(v, kClearAll));
    EXPECT_TRUE(Render(v, s.root));
    EXPECT_TRUE(Update(device));
    EXPECT_FALSE(Render(v, nullptr));
    EXPECT_EQ(calls.log, (std::vector<std::string>{"clear 7", "render", "present"}));
    expectNear({calls.clearedWith.r, calls.clearedWith.g, calls.clearedWith.b}, {0.5f, 0.5f, 0.8f});
    EXPECT_EQ(calls.left, 320);
    EXPECT_EQ(calls.renderedRoot, s.root.get());

    calls.fail = true;   // the renderer's own failure comes back
    EXPECT_FALSE(Clear(v, kClearAll));
    EXPECT_FALSE(Render(v, s.root));
    EXPECT_FALSE(Update(device));
}

}  // namespace
}  // namespace scene
