// The drawing behind a device, on OpenGL 3.3 core: a persistent colour and depth target of the
// device's size times the scale it is shown at, into which Clear and Render draw one viewport's
// rectangle at a time. Viewports and clears come in the rules' device coordinates and are
// multiplied by the scale here, so the picture is drawn at the size shown, not stretched. The
// caller makes a GL context current before each call; the window shows the target by copying it
// into its own framebuffer on the GL (reading it back is for tests and for keeping a picture).
//
// A software GL clears part of a target by drawing a quad over it, which costs as much as
// drawing the view itself. So where the GL can fill a rectangle of a texture in place (4.4, or
// ARB_clear_texture), a viewport cleared whole is drawn in a pane of its own: a target that
// reaches from the origin to the viewport's far corner, so that every pixel of the viewport is
// drawn exactly as in the whole target, and that no drawing of another viewport holds up (the
// fill waits for the GL to finish with what it fills). The picture is the base target with the
// panes over it in the order they were cleared; it is shown and read part by part, and the panes
// are copied into the base only when the picture is rescaled or drawn in another way.
//
// The GL keeps a target's rows bottom up in memory and a window's top down, so copying a picture
// to the window turns it over, and that takes Mesa's slow way (a drawn quad) rather than a copy of
// rows. At 1:1 the picture is drawn as the GL has it, so that every pixel stays as it was; at any
// other scale it is drawn turned over (the projection and the rows of every rectangle mirrored),
// and the window is given it by copying rows. At 1:1, where the GL reads rows top first
// (MESA_pack_invert), the picture is turned over on the way by reading its rows into a buffer and
// copying them on, which costs a fraction of the drawn quad.
#pragma once

#include "scene/device_scale.h"
#include "scene/pixel_rects.h"
#include "scene/scene.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace scene {

class GlRenderer {
public:
    // width x height: the rules' device; the target is that times `scale` in pixels. Needs a
    // current GL 3.3 core context; check ok() afterwards.
    GlRenderer(int width, int height, double scale = 1.0);
    ~GlRenderer();   // the same context must be current
    GlRenderer(const GlRenderer&) = delete;
    GlRenderer& operator=(const GlRenderer&) = delete;

    bool ok() const { return ok_; }
    // Panes are used where the GL can fill in place; off, every viewport is drawn in the base
    // target (as where it cannot). The picture is the same either way.
    void usePanes(bool on);
    bool clear(const ViewportData& viewport, Color background, unsigned flags);
    bool render(const ViewportData& viewport, const FrameData& root);
    // The target's top `rows` rows, top row first, 4 bytes a pixel (RGBA).
    bool readTop(int rows, std::vector<uint8_t>& rgba);
    // The same into width * rows * 4 bytes at `out`, as bytes R, G, B, A or as one 32-bit
    // 0xAARRGGBB value a pixel in the machine's own byte order (QImage's RGB32).
    enum class PixelOrder { Rgba, Argb32 };
    bool readTop(int rows, uint8_t* out, PixelOrder order);

    // The target's top `rows` rows into framebuffer `into` (a window's own), filling its
    // width x height pixels: pixel for pixel when the target is as wide as that, smoothly scaled
    // up when it is narrower. Nothing is read back to the CPU.
    bool showTop(int rows, unsigned into, int width, int height);

    // The target's size in pixels, and the scale from device coordinates to them.
    int width() const { return width_; }
    int height() const { return height_; }
    double scale() const { return scale_; }
    // Draws from now on at another scale. What the target shows is carried over, smoothly
    // scaled, so a part no viewport draws again keeps its picture. False (and the old target
    // kept) when the new one cannot be made.
    bool setScale(double scale);

    // Calm drawing: each face lit by a light along `flickerDir` (a flickering light) is drawn
    // only `change` of the way from how the light along `steadyDir` lights it. change = 1 (the
    // default) draws every light as it is.
    void setLightChange(glm::vec3 steadyDir, float change) {
        steadyDir_ = steadyDir;
        lightChange_ = change;
    }

    // The camera's projection for a viewport: perspective with the front and back clip, the
    // field reaching `field` from the centre to the wider side at unit distance. Left-handed
    // view coordinates (z forward) in, GL clip coordinates out.
    static glm::mat4 projection(const ViewportData& viewport);
    // How far the view reaches from its centre at unit distance, across and up.
    static void halfExtents(const ViewportData& viewport, float& halfW, float& halfH);

    // A mesh's bounding sphere, in its own coordinates.
    struct Bounds {
        glm::vec3 centre{0};
        float radius = 0;
    };

private:
    // What the renderer keeps of a mesh, by its id: the bounds for every render, the
    // vertex buffers once it is drawn. Each is made again when the mesh's version moves on.
    // One way of drawing a mesh: each distinct corner once, and the triangles as indices into
    // them, so that the GL shades a corner the triangles share only once.
    struct Corners {
        unsigned vao = 0, vbo = 0, ibo = 0;
        int indices = 0;
        uint64_t version = ~uint64_t{0};        // of the mesh they were made from
    };
    struct MeshBuffers {
        Corners smooth, flat;   // shaded by the corners' normals, or by the faces'
        Bounds bounds;
        uint64_t boundsVersion = ~uint64_t{0};
    };
    MeshBuffers& entryFor(const MeshData& mesh);
    static void upload(const MeshData& mesh, bool flat, Corners& c);
    static void dropCorners(Corners& c);
    // A colour and depth target; all zero when none is made.
    struct Target {
        unsigned fbo = 0, colour = 0, depth = 0;
        int width = 0, height = 0;
    };
    // A viewport's own target, for drawing it while the others' drawing goes on. At 1:1 it
    // reaches from the target's origin to the rectangle's far corner, so that the GL draws each
    // pixel as in the whole target, and is filled in place; turned over (where the picture is
    // not kept pixel for pixel anyway) it is the rectangle's own size and cleared whole, which the
    // GL does on its drawing threads.
    struct Pane {
        PixelRect rect;          // in the target's pixels, from the top left
        int dx = 0, dy = 0;      // the rectangle's place in the pane is its place in the target less these
        Target target;
        Target spare;            // the other of two, taken in turn
        bool showing = false;    // holds the picture and depth of its rect, over the base
    };
    static constexpr size_t kMaxPanes = 8;

    static bool makeTarget(int width, int height, Target& t);
    static void dropTarget(Target& t);
    void setRect(const ViewportData& viewport, int dx = 0, int dy = 0);
    PixelRect pixelRect(const ViewportData& viewport) const;
    void useViewsWay() const;
    void warmDrawing();
    void warmSmoothCopy();
    // The GL row of a rectangle's lowest row in the target (GL counts rows from the bottom), and
    // the rows a pane needs from the target's first GL row to hold the rectangle.
    static int glRowIn(bool turned, int height, const PixelRect& r) {
        return turned ? r.top : height - bottomOf(r);
    }
    int glRow(const PixelRect& r) const { return glRowIn(turned_, height_, r); }
    int paneRows(const PixelRect& r) const { return turned_ ? bottomOf(r) : height_ - r.top; }
    Pane* paneFor(const PixelRect& rect);
    const Pane* drawPaneFor(const PixelRect& rect);   // null: the base
    void flatten();
    void carryOver();
    std::vector<PixelRect> showingRects() const;
    static void dropPanes(std::vector<Pane>& panes);
    static void copyRect(const Target& from, int dx, int dy, const PixelRect& r, int y, unsigned into,
                         unsigned buffers);
    void showRect(const Target& from, int dx, int dy, const PixelRect& r, unsigned window, int windowHeight);
    void forEachShownPart(int rows,
                          const std::function<void(const Target&, int, int, const PixelRect&)>& use) const;
    void readParts(int rows, unsigned format, unsigned type, uint8_t* into);
    bool showByRows(int height, unsigned window, int windowHeight);
    bool pictureOfSize(int width, int height);

    int deviceWidth_, deviceHeight_;   // the rules' device
    double scale_;
    int width_, height_;               // the target, in pixels
    bool turned_ = false;              // drawn turned over: the top row first in memory
    glm::vec3 steadyDir_{0, 0, 1};
    float lightChange_ = 1;
    bool ok_ = false;
    bool canUsePanes_ = false;   // the GL fills a rectangle of a texture (4.4, or ARB_clear_texture)
    bool usePanes_ = false;
    Target base_;
    Target picture_;   // a picture turned over for the window: what showByRows copies
    unsigned rowBuffer_ = 0;   // the GL's buffer showByRows reads rows into
    size_t rowBufferBytes_ = 0;
    bool readsTopFirst_ = false;   // MESA_pack_invert
    std::vector<Pane> panes_;   // oldest cleared first: a later one lies over an earlier one
    // The picture as it was before the last change of scale: its base and panes, as they lay.
    // It is scaled into the new base only when the base is next drawn into or shown, and only
    // where the panes cleared since leave the base to show: where they cover it all, the scaling
    // (the dearest thing a software GL does here) is never done.
    struct Before {
        Target base;
        std::vector<Pane> panes;
        int width = 0, height = 0;
        bool turned = false;
    };
    Before before_;   // no base: nothing waits to be carried over
    unsigned program_ = 0;
    int uModel_ = -1, uViewProj_ = -1, uLightDir_ = -1, uLightColor_ = -1, uFlat_ = -1, uShades_ = -1;
    int uSteadyDir_ = -1, uLightChange_ = -1;
    std::map<uint64_t, MeshBuffers> meshes_;   // by mesh id
    std::vector<uint8_t> bottomUp_;   // the read-back rows as GL gives them
};

}  // namespace scene
