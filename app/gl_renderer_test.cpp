// The OpenGL renderer on a real context (Mesa's software GL under Xvfb): what Clear and Render
// leave in the device's target, read back as the window reads it. Offscreen only: no window,
// no focus, so these tests need no hold on the X display.
#include "scene/gl_renderer.h"
#include "testing/scene_views.h"
#include "testing/gui_test_support.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QRegion>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace hopshot {
namespace {

using scene::Color;
using scene::GlRenderer;

struct Rgb {
    int r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
    bool operator<(const Rgb& o) const { return std::tie(r, g, b) < std::tie(o.r, o.g, o.b); }
};

std::ostream& operator<<(std::ostream& os, const Rgb& c) {
    return os << "(" << c.r << "," << c.g << "," << c.b << ")";
}

// Colours whose 8-bit values are exact, so that a clear reads back without rounding.
constexpr Color kSlate{0.2f, 0.4f, 0.6f};   // (51, 102, 153)
constexpr Color kAmber{1.0f, 0.8f, 0.0f};   // (255, 204, 0)
constexpr Rgb kSlateRgb{51, 102, 153};
constexpr Rgb kAmberRgb{255, 204, 0};

bool near(Rgb a, Rgb b, int tolerance = 1) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

// What readTop gave: rows from the top, as the window shows them.
struct Picture {
    int width = 0, rows = 0;
    std::vector<uint8_t> rgba;
    Rgb at(int x, int y) const {
        const uint8_t* p = rgba.data() + (size_t(y) * width + x) * 4;
        return {p[0], p[1], p[2]};
    }
    int count(QRect area, const std::function<bool(Rgb)>& test) const {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                if (test(at(x, y))) ++n;
        return n;
    }
    int count(QRect area, Rgb c) const {
        return count(area, [c](Rgb p) { return p == c; });
    }
    // With HOPSHOT_PICTURES set to a directory, the picture goes there as hopshot-gl-<name>.png.
    void save(const char* name) const {
        const char* dir = std::getenv("HOPSHOT_PICTURES");
        if (!dir || !*dir) return;
        QImage(rgba.data(), width, rows, width * 4, QImage::Format_RGBA8888)
            .save(QStringLiteral("%1/hopshot-gl-%2.png").arg(QString::fromUtf8(dir), QString::fromUtf8(name)));
    }
};

class GlRendererTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!guitest::app()) GTEST_SKIP() << "needs an X display: run under xvfb-run";
        context = std::make_unique<QOpenGLContext>();
        context->setFormat(QSurfaceFormat::defaultFormat());
        ASSERT_TRUE(context->create());
        surface = std::make_unique<QOffscreenSurface>();
        surface->setFormat(context->format());
        surface->create();
        ASSERT_TRUE(context->makeCurrent(surface.get()));
        renderer = std::make_unique<GlRenderer>(640, 480);
        ASSERT_TRUE(renderer->ok());

        rm = scene::Direct3DRMCreate(scene::CreateRoot());
        freshScene();
        device = std::make_shared<scene::DeviceData>();
        device->width = 640;
        device->height = 480;
    }

    void TearDown() override {
        if (context && surface && context->makeCurrent(surface.get())) renderer.reset();
    }

    // An empty scene with the camera at the origin, looking along +z.
    void freshScene() {
        root = scene::CreateFrame(rm, nullptr);
        camera = scene::CreateFrame(rm, root);
    }

    scene::ViewportData viewport(int left, int top, int width, int height) const {
        return scenetest::viewportOn(device, camera, left, top, width, height);
    }
    scene::ViewportData whole() const { return viewport(0, 0, 640, 480); }

    Picture read(int rows = 480) {
        Picture p;
        p.width = 640;
        p.rows = rows;
        EXPECT_TRUE(renderer->readTop(rows, p.rgba));
        EXPECT_EQ(p.rgba.size(), size_t(640) * rows * 4);
        return p;
    }

    // Clears the viewport to `background` and renders the scene into it.
    Picture draw(const scene::ViewportData& v, Color background = kSlate) {
        EXPECT_TRUE(renderer->clear(v, background, scene::kClearAll));
        EXPECT_TRUE(renderer->render(v, *root));
        return read();
    }

    // A square of side 2 * half at `centre`, facing -z: its corners run clockwise as the
    // camera at the origin sees them.
    scene::MeshBuilder square(glm::vec3 centre, float half, glm::vec3 color,
                              glm::vec3 emissive = glm::vec3(0)) {
        scene::MeshBuilder mesh = scene::CreateMeshBuilder(rm);
        const glm::vec3 tl = centre + glm::vec3(-half, half, 0), tr = centre + glm::vec3(half, half, 0),
                        br = centre + glm::vec3(half, -half, 0), bl = centre + glm::vec3(-half, -half, 0);
        const glm::vec3 n(0, 0, -1);
        for (auto [a, b, c] : {std::array{tl, tr, br}, std::array{tl, br, bl}})
            mesh->triangles.push_back({{a, b, c}, {n, n, n}, color, emissive});
        ++mesh->version;
        made.push_back(mesh);
        return mesh;
    }

    scene::Frame show(const scene::MeshBuilder& mesh) {
        scene::Frame f = scene::CreateFrame(rm, root);
        EXPECT_TRUE(scene::AddVisual(f, mesh));
        return f;
    }

    // The one white directional light, shining along `direction`.
    void sun(glm::vec3 direction) {
        scene::Frame f = scene::CreateFrame(rm, root);
        const glm::vec3 up = std::abs(direction.y) > 0.9f ? glm::vec3(0, 0, 1) : glm::vec3(0, 1, 0);
        ASSERT_TRUE(scene::SetOrientation(f, nullptr, direction.x, direction.y, direction.z,
                                          up.x, up.y, up.z));
        ASSERT_TRUE(scene::AddLight(f, scene::CreateLightRGB(rm, scene::kLightDirectional, 1, 1, 1)));
    }

    std::unique_ptr<QOpenGLContext> context;
    std::unique_ptr<QOffscreenSurface> surface;
    std::unique_ptr<GlRenderer> renderer;
    scene::RetainedMode rm;
    scene::Frame root, camera;
    scene::Device device;
    // Every mesh a test made lives as long as the test: the renderer keeps its buffers by the
    // mesh's address, and a new mesh must not take a dead one's place.
    std::vector<scene::MeshBuilder> made;
};

// A square of half-size 2 at distance 10 straight ahead: with the field 0.5 the 640-wide view
// reaches 5 to each side there, 64 pixels a unit, so the square covers (192, 112)-(448, 368).
constexpr QRect kSquareOnScreen(192, 112, 256, 256);

TEST_F(GlRendererTest, ClearPaintsTheViewportsRectangleCountedFromTheTopAndNothingElse) {
    const QRect rects[] = {{10, 20, 100, 50}, {0, 0, 320, 215}, {320, 215, 320, 215},
                           {540, 400, 100, 80}, {0, 0, 640, 480}};
    for (const QRect& r : rects) {
        SCOPED_TRACE(testing::Message() << r.x() << "," << r.y() << " " << r.width() << "x"
                                        << r.height());
        ASSERT_TRUE(renderer->clear(whole(), kSlate, scene::kClearAll));
        ASSERT_TRUE(renderer->clear(viewport(r.x(), r.y(), r.width(), r.height()), kAmber,
                                    scene::kClearAll));
        const Picture p = read();
        EXPECT_EQ(p.count(r, kAmberRgb), r.width() * r.height());
        EXPECT_EQ(p.count(QRect(0, 0, 640, 480), kSlateRgb), 640 * 480 - r.width() * r.height());
    }
}

TEST_F(GlRendererTest, TheBottomRowsAreNeverShownInTheTopRows) {
    ASSERT_TRUE(renderer->clear(whole(), kSlate, scene::kClearAll));
    ASSERT_TRUE(renderer->clear(viewport(0, 430, 640, 50), kAmber, scene::kClearAll));
    const Picture shown = read(430);
    EXPECT_EQ(shown.count(QRect(0, 0, 640, 430), kSlateRgb), 640 * 430);
    const Picture all = read(480);
    EXPECT_EQ(all.count(QRect(0, 430, 640, 50), kAmberRgb), 640 * 50);
}

// The window reads the picture as 32-bit 0xAARRGGBB values; tests read bytes R, G, B, A.
TEST_F(GlRendererTest, BothReadOrdersGiveTheSamePixels) {
    ASSERT_TRUE(renderer->clear(whole(), kSlate, scene::kClearAll));
    ASSERT_TRUE(renderer->clear(viewport(0, 0, 320, 10), kAmber, scene::kClearAll));
    std::vector<uint32_t> argb(640 * 20);
    ASSERT_TRUE(renderer->readTop(20, reinterpret_cast<uint8_t*>(argb.data()),
                                  GlRenderer::PixelOrder::Argb32));
    EXPECT_EQ(argb[0], 0xFFFFCC00u);               // amber, top left
    EXPECT_EQ(argb[9 * 640 + 319], 0xFFFFCC00u);
    EXPECT_EQ(argb[9 * 640 + 320], 0xFF336699u);   // slate
    EXPECT_EQ(argb[10 * 640], 0xFF336699u);
}

TEST_F(GlRendererTest, ALitSquareAheadShowsItsColourWhereThePerspectiveSaysAndNowhereElse) {
    sun({0, 0, 1});   // from behind the camera: full light on the square's front
    show(square({0, 0, 10}, 2, {1.0f, 0.6f, 0.2f}));
    const Picture p = draw(whole());
    p.save("lit-square");
    const Rgb lit{255, 153, 51};
    EXPECT_TRUE(near(p.at(320, 240), lit)) << p.at(320, 240);
    EXPECT_EQ(p.count(kSquareOnScreen.adjusted(1, 1, -1, -1), [&](Rgb c) { return near(c, lit); }),
              254 * 254);
    auto drawn = [](Rgb c) { return c != kSlateRgb; };
    EXPECT_EQ(p.count(QRect(0, 0, 640, 480), drawn),
              p.count(kSquareOnScreen.adjusted(-1, -1, 1, 1), drawn));
}

// Left is left and up is up: the world's x runs to the right of a camera looking along +z,
// and its y up the picture.
TEST_F(GlRendererTest, ThingsRightOfAndAboveTheCameraShowRightAndUp) {
    struct Case { glm::vec3 at; QPoint pixel; };
    const Case cases[] = {
        {{3, 2, 10}, {512, 112}},  {{-3, 2, 10}, {128, 112}},
        {{3, -2, 10}, {512, 368}}, {{-3, -2, 10}, {128, 368}},
    };
    sun({0, 0, 1});
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.at.x << "," << c.at.y);
        scene::Frame f = show(square(c.at, 0.25f, {1, 1, 1}));
        const Picture p = draw(whole());
        EXPECT_EQ(p.at(c.pixel.x(), c.pixel.y()), (Rgb{255, 255, 255}));
        EXPECT_NEAR(p.count(QRect(0, 0, 640, 480), Rgb{255, 255, 255}), 32 * 32, 66);
        root->children.erase(std::find(root->children.begin(), root->children.end(), f));
    }
}

// At unit distance the view reaches 0.5 from the centre to the edge of the wider side.
TEST_F(GlRendererTest, TheFieldReachesHalfAUnitToTheWiderEdgeAtUnitDistance) {
    struct Case { int width, height; glm::vec3 point; glm::vec3 ndc; };
    const Case cases[] = {
        {640, 430, {0.5f, 0, 1}, {1, 0, -1}},
        {640, 430, {-0.5f, 0.5f * 430 / 640, 1}, {-1, 1, -1}},
        {200, 300, {0, -0.5f, 1}, {0, -1, -1}},                 // taller than wide
        {200, 300, {0.5f * 200 / 300, 0, 1}, {1, 0, -1}},
        {320, 215, {0, 0, 1200}, {0, 0, 1}},                    // on the back clip
        {320, 215, {160, 0, 320}, {1, 0, 1 - 2 * (1200.f / 320 - 1) / 1199}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " (" << c.point.x << ","
                                        << c.point.y << "," << c.point.z << ")");
        const glm::vec4 clip = GlRenderer::projection(viewport(0, 0, c.width, c.height)) *
                               glm::vec4(c.point, 1);
        EXPECT_NEAR(clip.w, c.point.z, 1e-4);
        EXPECT_NEAR(clip.x / clip.w, c.ndc.x, 1e-4);
        EXPECT_NEAR(clip.y / clip.w, c.ndc.y, 1e-4);
        EXPECT_NEAR(clip.z / clip.w, c.ndc.z, 1e-4);
    }

    // On the picture: a square from 0.25 to 0.75 to the right at unit distance ends on the
    // viewport's right edge; the viewport's own rectangle bounds it, and the rest is untouched.
    sun({0, 0, 1});
    show(square({0.5f, 0, 1}, 0.25f, {1, 1, 1}));
    ASSERT_TRUE(renderer->clear(whole(), kAmber, scene::kClearAll));
    const Picture p = draw(viewport(100, 100, 400, 200));
    p.save("field");
    const Rgb white{255, 255, 255};
    // The view's centre is at x = 300 and its edge 200 further: 0.25 lands at 400, and the
    // square, 0.25 high at unit distance, fills the view's height.
    EXPECT_EQ(p.count(QRect(401, 101, 98, 98), white), 98 * 98);
    EXPECT_EQ(p.count(QRect(400 - 3, 101, 2, 98), kSlateRgb), 2 * 98);
    EXPECT_EQ(p.count(QRect(500, 0, 140, 480), kAmberRgb), 140 * 480);   // right of the view
    EXPECT_EQ(p.count(QRect(100, 100, 400, 200), kAmberRgb), 0);
    EXPECT_EQ(p.count(QRect(0, 0, 640, 480), kAmberRgb), 640 * 480 - 400 * 200);
}

// Visuals wholly outside the view are skipped; one that reaches in from outside, or from
// behind the camera, is drawn where it shows.
TEST_F(GlRendererTest, AVisualReachingIntoTheViewFromOutsideIsDrawn) {
    struct Case {
        const char* name;
        std::function<void()> build;
        QRect drawn;       // all of it shows the visual's colour
        QRect untouched;   // all of it keeps the clear colour
    };
    const Case cases[] = {
        // The view reaches 5 to the side at distance 10: from 4 to 9 across, 1 of it inside.
        {"past the right edge", [&] { show(square({6.5f, 0, 10}, 2.5f, {1, 1, 1})); },
         QRect(580, 200, 60, 80), QRect(0, 0, 570, 480)},
        {"past the top edge", [&] { show(square({0, 5, 10}, 2, {1, 1, 1})); },
         QRect(200, 0, 240, 40), QRect(0, 100, 640, 380)},
        // A floor from behind the camera to far ahead, its middle under the camera.
        {"from behind the camera",
         [&] {
             scene::MeshBuilder floor = scene::CreateMeshBuilder(rm);
             const glm::vec3 a(-50, -2, 50), b(50, -2, 50), c(50, -2, -50), d(-50, -2, -50);
             const glm::vec3 up(0, 1, 0);
             floor->triangles.push_back({{a, b, c}, {up, up, up}, {1, 1, 1}});
             floor->triangles.push_back({{a, c, d}, {up, up, up}, {1, 1, 1}});
             ++floor->version;
             made.push_back(floor);
             show(floor);
         },
         QRect(0, 300, 640, 180), QRect(0, 0, 640, 240)},
        {"wholly outside", [&] { show(square({9, 0, 10}, 2, {1, 1, 1})); }, QRect(),
         QRect(0, 0, 640, 480)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        freshScene();
        sun({0, -1, 1});   // lights both the squares' fronts and the floor's top
        c.build();
        const Picture p = draw(whole());
        EXPECT_EQ(p.count(c.drawn, [](Rgb x) { return x != kSlateRgb && x != Rgb{}; }),
                  c.drawn.width() * c.drawn.height());
        EXPECT_EQ(p.count(c.untouched, kSlateRgb), c.untouched.width() * c.untouched.height());
    }
}

TEST_F(GlRendererTest, OnlyFrontFacesAreDrawn) {
    struct Case { const char* name; glm::vec3 cameraAt, cameraFront; bool drawn; };
    const Case cases[] = {
        {"from the front", {0, 0, 0}, {0, 0, 1}, true},
        {"from behind", {0, 0, 20}, {0, 0, -1}, false},
    };
    sun({0, 0, 1});
    show(square({0, 0, 10}, 2, {1, 1, 1}));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(scene::SetPosition(camera, nullptr, c.cameraAt.x, c.cameraAt.y, c.cameraAt.z));
        ASSERT_TRUE(scene::SetOrientation(camera, nullptr, c.cameraFront.x, c.cameraFront.y,
                                          c.cameraFront.z, 0, 1, 0));
        const Picture p = draw(whole());
        EXPECT_EQ(p.count(kSquareOnScreen, kSlateRgb), c.drawn ? 0 : 256 * 256);
    }
}

// Only the directional light lights a face, by the cosine of its angle, in 32 shades; a face
// turned away is black unless it glows; with no light at all only what glows shows.
TEST_F(GlRendererTest, TheSunLightsFacesByTheirAngleAndGlowShowsUnlit) {
    struct Case {
        const char* name;
        bool light;
        glm::vec3 shining;
        glm::vec3 emissive;
        Rgb seen;
    };
    const Case cases[] = {
        {"full on", true, {0, 0, 1}, {0, 0, 0}, {255, 255, 255}},
        // cos = 0.6 takes shade 19 of 0..31: 19 / 31 of full (0.6 itself would be 153).
        {"at an angle", true, {0.8f, 0, 0.6f}, {0, 0, 0}, {156, 156, 156}},
        {"edge on", true, {1, 0, 0}, {0, 0, 0}, {0, 0, 0}},
        {"from behind", true, {0, 0, -1}, {0, 0, 0}, {0, 0, 0}},
        {"from behind, glowing", true, {0, 0, -1}, {0, 0.4f, 0.2f}, {0, 102, 51}},
        {"no light, glowing", false, {}, {0.8f, 0.2f, 0.4f}, {204, 51, 102}},
        {"no light", false, {}, {0, 0, 0}, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        freshScene();
        if (c.light) sun(c.shining);
        show(square({0, 0, 10}, 2, {1, 1, 1}, c.emissive));
        const Picture p = draw(whole());
        EXPECT_TRUE(near(p.at(320, 240), c.seen)) << p.at(320, 240);
        EXPECT_EQ(p.count(kSquareOnScreen.adjusted(1, 1, -1, -1), p.at(320, 240)), 254 * 254);
    }
}

TEST_F(GlRendererTest, TheWireframeDrawsOnlyTheEdges) {
    sun({0, 0, 1});
    show(square({0, 0, 10}, 2, {1, 1, 1}));
    const QRect inside = kSquareOnScreen.adjusted(8, 8, -8, -8);
    struct Case { unsigned quality; double clearInside; };
    for (const Case c : {Case{scene::kQualityWireframe, 0.9}, Case{scene::kQualityGouraud, 0.0},
                         Case{scene::kQualityFlat, 0.0}}) {
        SCOPED_TRACE(c.quality);
        device->quality = c.quality;
        const Picture p = draw(whole());
        const double clearShare = double(p.count(inside, kSlateRgb)) / (inside.width() * inside.height());
        if (c.quality == scene::kQualityWireframe) {
            p.save("wireframe");
            EXPECT_GT(clearShare, c.clearInside);
            // The outline is there: the square's edges cross the middle row and column.
            EXPECT_GT(p.count(QRect(180, 240, 280, 1), Rgb{255, 255, 255}), 1);
            EXPECT_GT(p.count(QRect(320, 100, 1, 280), Rgb{255, 255, 255}), 1);
        } else {
            EXPECT_EQ(clearShare, c.clearInside);
        }
    }
}

// Half a cylinder bulging towards the camera, in eight flat strips whose corners carry the
// cylinder's own normals: flat shading gives each strip one colour, Gouraud shading a gradient.
TEST_F(GlRendererTest, FlatShadingGivesOneColourAFaceAndGouraudAGradient) {
    sun({0, 0, 1});
    scene::MeshBuilder mesh = scene::CreateMeshBuilder(rm);
    constexpr int kStrips = 8;
    constexpr float kRadius = 3, kHalfHeight = 2;
    const glm::vec3 axis(0, 0, 12);
    auto around = [&](int i) {   // from the left edge (angle 180) over the front to the right (0)
        const float a = 3.14159265f * (1.0f - float(i) / kStrips);
        return glm::vec3(std::cos(a), 0, -std::sin(a));
    };
    for (int i = 0; i < kStrips; ++i) {
        const glm::vec3 n0 = around(i), n1 = around(i + 1);
        const glm::vec3 up(0, kHalfHeight, 0);
        const glm::vec3 tl = axis + kRadius * n0 + up, tr = axis + kRadius * n1 + up;
        const glm::vec3 bl = axis + kRadius * n0 - up, br = axis + kRadius * n1 - up;
        mesh->triangles.push_back({{tl, tr, br}, {n0, n1, n1}, {1, 1, 1}});
        mesh->triangles.push_back({{tl, br, bl}, {n0, n1, n0}, {1, 1, 1}});
    }
    ++mesh->version;
    made.push_back(mesh);
    show(mesh);

    std::map<unsigned, size_t> colours;
    for (unsigned quality : {scene::kQualityFlat, scene::kQualityGouraud}) {
        device->quality = quality;
        const Picture p = draw(whole());
        p.save(quality == scene::kQualityFlat ? "flat" : "gouraud");
        std::set<Rgb> seen;
        for (int x = 0; x < 640; ++x)
            if (p.at(x, 240) != kSlateRgb) seen.insert(p.at(x, 240));
        colours[quality] = seen.size();
    }
    // Strips mirror each other about the middle and so share their shade in pairs, and the
    // outermost pair is seen from behind: three shades.
    EXPECT_EQ(colours[scene::kQualityFlat], size_t(3));
    EXPECT_GT(colours[scene::kQualityGouraud], size_t(2 * kStrips));
}

TEST_F(GlRendererTest, NearerFacesHideFartherOnesWhateverTheOrder) {
    for (bool nearFirst : {true, false}) {
        SCOPED_TRACE(nearFirst);
        freshScene();
        const auto nearSquare = square({0, 0, 5}, 0.5f, {1, 0, 0});
        const auto farSquare = square({0, 0, 10}, 2, {0, 0, 1});
        sun({0, 0, 1});
        show(nearFirst ? nearSquare : farSquare);
        show(nearFirst ? farSquare : nearSquare);
        const Picture p = draw(whole());
        EXPECT_EQ(p.at(320, 240), (Rgb{255, 0, 0}));
        EXPECT_EQ(p.at(320, 150), (Rgb{0, 0, 255}));
    }
}

TEST_F(GlRendererTest, NothingBeyondTheBackClipIsDrawn) {
    for (float distance : {1100.0f, 1300.0f}) {
        SCOPED_TRACE(distance);
        freshScene();
        sun({0, 0, 1});
        show(square({0, 0, distance}, 200, {1, 1, 1}));
        const Picture p = draw(whole());
        EXPECT_EQ(p.at(320, 240), distance < 1200 ? (Rgb{255, 255, 255}) : kSlateRgb);
    }
}

// The game's own field: its top faces up, so it is seen from above and culled from below.
TEST_F(GlRendererTest, TheFieldMeshIsSeenFromAboveOnly) {
    const char* assets = std::getenv("HOPSHOT_ASSETS");
    if (!assets) GTEST_SKIP() << "HOPSHOT_ASSETS names the meshes' directory";
    scene::MeshBuilder ground = scene::CreateMeshBuilder(rm);
    ASSERT_TRUE(scene::LoadFromFile(ground, std::string(assets) + "/ground.x"));
    ASSERT_TRUE(scene::ScaleMesh(ground, 3, 3, 3));
    made.push_back(ground);
    show(ground);
    sun({0, -1, 0});
    for (float height : {200.0f, -200.0f}) {
        SCOPED_TRACE(height);
        ASSERT_TRUE(scene::SetPosition(camera, nullptr, 0, height, 0));
        ASSERT_TRUE(scene::SetOrientation(camera, nullptr, 0, height > 0 ? -1 : 1, 0, 0, 0, 1));
        const Picture p = draw(whole());
        if (height > 0) p.save("field-from-above");
        const int green = p.count(QRect(0, 0, 640, 480),
                                  [](Rgb c) { return c.g > c.r && c.g > c.b + 40; });
        EXPECT_EQ(green, height > 0 ? 640 * 480 : 0);
    }
}

// Each viewport cleared whole is drawn in a pane of its own where the GL can fill in place: the
// picture must be the one the whole target gives, whatever the order of clears and renders, and
// also where viewports overlap, are drawn again without a clear, or are cleared only in part. At
// 1:1 pixel for pixel; at twice the size (drawn turned over, each pane its viewport's own size) a
// few edge pixels may fall otherwise, never more.
TEST_F(GlRendererTest, PanesDrawThePictureTheWholeTargetWould) {
    for (double scale : {1.0, 2.0}) {
        SCOPED_TRACE(scale);
        GlRenderer inPanes(640, 480, scale), whole(640, 480, scale);
        ASSERT_TRUE(inPanes.ok() && whole.ok());
        whole.usePanes(false);
        freshScene();
        sun({0.3f, -0.5f, 0.8f});
        for (int i = 0; i < 12; ++i)
            show(square({(i % 4) * 1.5f - 2.2f, (i / 4) * 1.2f - 1.1f, 8.0f + i % 3}, 0.9f,
                        {0.2f + 0.06f * i, 1.0f - 0.07f * i, 0.5f}));
        struct Op {
            QRect rect;
            unsigned clear;   // flags, or 0 for none
            bool render;
        };
        const QRect q1(0, 0, 320, 215), q2(320, 0, 320, 215), q3(0, 215, 320, 215), q4(320, 215, 320, 215);
        struct Case {
            const char* name;
            std::vector<Op> ops;
        };
        const Case cases[] = {
            {"four quarters", {{q1, 7, true}, {q2, 7, true}, {q3, 7, true}, {q4, 7, true}}},
            {"two of them: the others keep their picture", {{q1, 7, true}, {q2, 7, true}}},
            {"the whole view over the quarters", {{QRect(0, 0, 640, 430), 7, true}}},
            {"quarters again, and a small view in the last", {{q1, 7, true}, {q2, 7, true}, {q3, 7, true},
                                                              {QRect(380, 245, 200, 150), 7, true}}},
            {"a view drawn twice without a clear", {{q2, 7, true}, {q2, 0, true}}},
            {"a view over part of another, drawn again", {{q1, 7, true}, {QRect(100, 50, 320, 215), 7, true},
                                                         {q1, 0, true}}},
            {"colour alone cleared, then drawn", {{q3, 1, false}, {q3, 0, true}}},
            {"depth alone cleared, then drawn", {{q4, 2, true}}},
            {"reaching out of the device", {{QRect(500, 300, 300, 300), 7, true}}},
        };
        int step = 0;
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            for (const Op& op : c.ops) {
                // A camera of its own for each drawing, so that no two views look alike.
                ++step;
                scene::SetPosition(camera, nullptr, 0.15f * (step % 5), -0.1f * (step % 3), -0.2f * (step % 4));
                const scene::ViewportData v = viewport(op.rect.x(), op.rect.y(), op.rect.width(), op.rect.height());
                const Color bg{0.1f * (step % 7), 0.4f, 0.05f * (step % 11)};
                for (GlRenderer* r : {&inPanes, &whole}) {
                    if (op.clear) {
                        ASSERT_TRUE(r->clear(v, bg, op.clear));
                    }
                    if (op.render) {
                        ASSERT_TRUE(r->render(v, *root));
                    }
                }
            }
            std::vector<uint8_t> a, b;
            ASSERT_TRUE(inPanes.readTop(inPanes.height(), a));
            ASSERT_TRUE(whole.readTop(whole.height(), b));
            ASSERT_EQ(a.size(), b.size());
            size_t differ = 0;
            for (size_t i = 0; i < a.size(); i += 4)
                if (a[i] != b[i] || a[i + 1] != b[i + 1] || a[i + 2] != b[i + 2]) ++differ;
            if (scale == 1) EXPECT_EQ(differ, 0u);
            else EXPECT_LT(differ, a.size() / 4 / 500);   // under 0.2 %
        }
    }
}

// A change of scale carries the picture over, smoothly scaled, where no view cleared since draws:
// there it is byte for byte the old picture scaled whole, whichever views were drawn again, and
// at every scale it goes to and from.
TEST_F(GlRendererTest, ANewScaleCarriesThePictureOverWhereNoViewDrawsAgain) {
    sun({0.3f, -0.5f, 0.8f});
    for (int i = 0; i < 6; ++i)
        show(square({(i % 3) * 2.0f - 2.0f, (i / 3) * 2.0f - 1.0f, 9.0f}, 1.1f, {0.9f, 0.2f + 0.1f * i, 0.4f}));
    const QRect q1(0, 0, 320, 215), q2(320, 0, 320, 215), q3(0, 215, 320, 215), q4(320, 215, 320, 215);
    struct Case {
        const char* name;
        double from, to;
        std::vector<QRect> again;   // the views cleared and drawn after the change
    };
    const Case cases[] = {
        {"larger, two views again", 1, 1.5, {q1, q4}},
        {"larger, all four again: only the unshown rows carried", 1, 2, {q1, q2, q3, q4}},
        {"smaller and turned back, one view again", 2, 1, {q2}},
        {"between two scales, a view reaching out", 1.5, 2.25, {QRect(500, 300, 300, 300)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Both draw the same picture in four views at `from`; one reads it straight after the
        // change, which scales the whole of it.
        GlRenderer carried(640, 480, c.from), whole(640, 480, c.from);
        ASSERT_TRUE(carried.ok() && whole.ok());
        int step = 0;
        for (const QRect& q : {q1, q2, q3, q4}) {
            scene::SetPosition(camera, nullptr, 0.2f * ++step, 0, 0);
            for (GlRenderer* r : {&carried, &whole}) {
                ASSERT_TRUE(r->clear(viewport(q.x(), q.y(), q.width(), q.height()), kSlate, scene::kClearAll));
                ASSERT_TRUE(r->render(viewport(q.x(), q.y(), q.width(), q.height()), *root));
            }
        }
        ASSERT_TRUE(carried.setScale(c.to) && whole.setScale(c.to));
        std::vector<uint8_t> scaledWhole, after;
        ASSERT_TRUE(whole.readTop(whole.height(), scaledWhole));
        QRegion drawn;
        for (const QRect& q : c.again) {
            scene::SetPosition(camera, nullptr, 0, 0.3f, 0);
            ASSERT_TRUE(carried.clear(viewport(q.x(), q.y(), q.width(), q.height()), kAmber, scene::kClearAll));
            ASSERT_TRUE(carried.render(viewport(q.x(), q.y(), q.width(), q.height()), *root));
            const scene::PixelRect r = scene::scaleRect(q.x(), q.y(), q.width(), q.height(), c.to);
            drawn += QRect(r.left, r.top, r.width, r.height);
        }
        ASSERT_TRUE(carried.readTop(carried.height(), after));
        ASSERT_EQ(after.size(), scaledWhole.size());
        const int w = carried.width();
        int differ = 0, kept = 0;
        for (int y = 0; y < carried.height(); ++y)
            for (int x = 0; x < w; ++x) {
                if (drawn.contains(QPoint(x, y))) continue;
                ++kept;
                const size_t at = (size_t(y) * w + x) * 4;
                if (!std::equal(&after[at], &after[at + 3], &scaledWhole[at])) ++differ;
            }
        EXPECT_GT(kept, 0);
        EXPECT_EQ(differ, 0);
    }
}

}  // namespace
}  // namespace hopshot
