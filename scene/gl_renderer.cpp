#include "scene/gl_renderer.h"

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#ifndef GL_PACK_INVERT_MESA
#define GL_PACK_INVERT_MESA 0x8758
#endif

#include <glm/gtc/matrix_transform.hpp>
#include <glm/gtc/type_ptr.hpp>

#include "scene/device_scale.h"
#include "scene/pixel_rects.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <unordered_map>

namespace scene {

namespace {

// Per corner: position, Gouraud normal, face normal, diffuse colour, emissive colour.
struct Vertex {
    glm::vec3 pos, normal, faceNormal, color, emissive;
};

// Only the one directional light lights the scene: faces turned away from it are dark. Its
// intensity takes one of `shades` steps, as the device's colour ramp has it.
const char* kVertexShader = R"(#version 330 core
layout(location = 0) in vec3 pos;
layout(location = 1) in vec3 normal;
layout(location = 2) in vec3 faceNormal;
layout(location = 3) in vec3 color;
layout(location = 4) in vec3 emissive;
uniform mat4 model;
uniform mat4 viewProj;
uniform vec3 lightDir;     // the way the light shines, in scene coordinates
uniform vec3 lightColor;   // black when the scene has no light
uniform int flatShading;
uniform float shades;
uniform vec3 steadyDir;      // calm drawing: the light the flicker is measured from
uniform float lightChange;   // 1: the light as it is; below 1, that share of its change
out vec3 shade;
void main() {
    vec3 n = normalize(mat3(model) * (flatShading == 1 ? faceNormal : normal));
    float lit = max(dot(n, -lightDir), 0.0);
    if (lightChange < 1.0) {
        float steady = max(dot(n, -steadyDir), 0.0);
        lit = steady + (lit - steady) * lightChange;
    }
    lit = floor(lit * (shades - 1.0) + 0.5) / (shades - 1.0);
    shade = min(color * lightColor * lit + emissive, vec3(1.0));
    gl_Position = viewProj * model * vec4(pos, 1.0);
}
)";

// The shader's inputs in the bound vertex buffer, corner by corner.
void pointAttributes() {
    const GLsizei stride = sizeof(Vertex);
    const size_t offsets[] = {offsetof(Vertex, pos), offsetof(Vertex, normal),
                              offsetof(Vertex, faceNormal), offsetof(Vertex, color),
                              offsetof(Vertex, emissive)};
    for (GLuint a = 0; a < 5; ++a) {
        glEnableVertexAttribArray(a);
        glVertexAttribPointer(a, 3, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<const void*>(offsets[a]));
    }
}

const char* kFragmentShader = R"(#version 330 core
in vec3 shade;
out vec4 fragColor;
void main() { fragColor = vec4(shade, 1.0); }
)";

unsigned compile(GLenum kind, const char* source) {
    const GLuint s = glCreateShader(kind);
    glShaderSource(s, 1, &source, nullptr);
    glCompileShader(s);
    GLint ok = 0;
    glGetShaderiv(s, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        glDeleteShader(s);
        return 0;
    }
    return s;
}

using Bounds = GlRenderer::Bounds;

Bounds boundsOf(const MeshData& mesh) {
    glm::vec3 lo(1e30f), hi(-1e30f);
    for (const Triangle& t : mesh.triangles)
        for (const glm::vec3& p : t.p) {
            lo = glm::min(lo, p);
            hi = glm::max(hi, p);
        }
    Bounds b;
    if (mesh.triangles.empty()) return b;
    b.centre = (lo + hi) * 0.5f;
    b.radius = glm::length(hi - b.centre);
    return b;
}

// The view's six planes, for telling whether a visual can show at all. Parked entities stand far
// to the side, and a player's camera sees a part of the field only: a visual whose bounding
// sphere lies wholly beyond one plane would be clipped away to the last triangle, so skipping it
// changes no pixel and spares the GL its vertices.
struct ViewVolume {
    float halfW, halfH;         // the view's half extents at unit distance
    float slackW, slackH;       // how far a side plane's test moves for a sphere of radius 1
    float front, back;

    explicit ViewVolume(const ViewportData& v) : front(v.front), back(v.back) {
        GlRenderer::halfExtents(v, halfW, halfH);
        slackW = std::sqrt(1 + halfW * halfW);
        slackH = std::sqrt(1 + halfH * halfH);
    }

    // c: the sphere's centre in view coordinates (x right, y up, z forward).
    bool mayShow(glm::vec3 c, float radius) const {
        return c.z + radius >= front && c.z - radius <= back &&
               std::abs(c.x) - halfW * c.z <= radius * slackW &&
               std::abs(c.y) - halfH * c.z <= radius * slackH;
    }
};

bool hasExtension(const char* name) {
    GLint n = 0;
    glGetIntegerv(GL_NUM_EXTENSIONS, &n);
    for (GLint i = 0; i < n; ++i)
        if (const GLubyte* e = glGetStringi(GL_EXTENSIONS, GLuint(i)))
            if (std::strcmp(reinterpret_cast<const char*>(e), name) == 0) return true;
    return false;
}

}  // namespace

// A colour and depth target of that many pixels, bound; false if the GL cannot complete it.
// Textures rather than renderbuffers, so that a rectangle of them can be filled in place.
bool GlRenderer::makeTarget(int width, int height, Target& t) {
    t.width = width;
    t.height = height;
    glGenFramebuffers(1, &t.fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, t.fbo);
    glGenTextures(1, &t.colour);
    glBindTexture(GL_TEXTURE_2D, t.colour);
    // Unsized, with the window's own byte order given: the GL then keeps it in that order, and
    // copies to the window and reads of the picture need no reordering of the bytes.
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, t.colour, 0);
    glGenTextures(1, &t.depth);
    glBindTexture(GL_TEXTURE_2D, t.depth);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT24, width, height, 0, GL_DEPTH_COMPONENT,
                 GL_UNSIGNED_INT, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D, t.depth, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE) return true;
    dropTarget(t);
    return false;
}

void GlRenderer::dropTarget(Target& t) {
    glDeleteTextures(1, &t.depth);
    glDeleteTextures(1, &t.colour);
    glDeleteFramebuffers(1, &t.fbo);
    t = Target{};
}

GlRenderer::GlRenderer(int width, int height, double scale)
    : deviceWidth_(width), deviceHeight_(height), scale_(scale),
      width_(scaledEdge(width, scale)), height_(scaledEdge(height, scale)) {
    turned_ = scale != 1;
    if (width_ < 1 || height_ < 1 || !makeTarget(width_, height_, base_)) return;

    // A new device shows black until its viewports are drawn.
    glDisable(GL_SCISSOR_TEST);
    glClearColor(0, 0, 0, 1);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    const GLuint vs = compile(GL_VERTEX_SHADER, kVertexShader);
    const GLuint fs = compile(GL_FRAGMENT_SHADER, kFragmentShader);
    if (!vs || !fs) return;
    program_ = glCreateProgram();
    glAttachShader(program_, vs);
    glAttachShader(program_, fs);
    glLinkProgram(program_);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint linked = 0;
    glGetProgramiv(program_, GL_LINK_STATUS, &linked);
    if (!linked) return;
    uModel_ = glGetUniformLocation(program_, "model");
    uViewProj_ = glGetUniformLocation(program_, "viewProj");
    uLightDir_ = glGetUniformLocation(program_, "lightDir");
    uLightColor_ = glGetUniformLocation(program_, "lightColor");
    uFlat_ = glGetUniformLocation(program_, "flatShading");
    uShades_ = glGetUniformLocation(program_, "shades");
    uSteadyDir_ = glGetUniformLocation(program_, "steadyDir");
    uLightChange_ = glGetUniformLocation(program_, "lightChange");
    GLint major = 0, minor = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    canUsePanes_ = major * 10 + minor >= 44 || hasExtension("GL_ARB_clear_texture");
    readsTopFirst_ = hasExtension("GL_MESA_pack_invert");
    usePanes_ = canUsePanes_;
    warmDrawing();
    if (scale != 1) warmSmoothCopy();
    ok_ = glGetError() == GL_NO_ERROR;
}

// A software GL builds its code for a way of drawing the first time it draws that way: some
// 30 ms in the first frame of a game, a stutter as it starts. The views' way of drawing (a
// viewport's rectangle, depth, faces one way round, the shader and its corners) is done once
// here as the device is made, into a small target of its own: no pixel of the picture is touched.
void GlRenderer::warmDrawing() {
    Target t;
    if (makeTarget(8, 8, t)) {
        glViewport(0, 0, 8, 8);
        glScissor(0, 0, 8, 8);
        glEnable(GL_SCISSOR_TEST);
        glClearColor(0, 0, 0, 1);
        glClearDepth(1.0);
        glDepthMask(GL_TRUE);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        useViewsWay();
        glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
        glUseProgram(program_);
        const glm::mat4 one(1.0f);
        glUniformMatrix4fv(uViewProj_, 1, GL_FALSE, glm::value_ptr(one));
        glUniformMatrix4fv(uModel_, 1, GL_FALSE, glm::value_ptr(one));
        // One triangle each way round, over the whole target: one of them faces the front.
        const glm::vec3 n(0, 0, -1), c(1), none(0);
        const Vertex corners[] = {{{-1, -1, 0}, n, n, c, none}, {{3, -1, 0}, n, n, c, none}, {{-1, 3, 0}, n, n, c, none}};
        const uint32_t indices[] = {0, 1, 2, 0, 2, 1};
        GLuint vao = 0, buffers[2] = {0, 0};
        glGenVertexArrays(1, &vao);
        glGenBuffers(2, buffers);
        glBindVertexArray(vao);
        glBindBuffer(GL_ARRAY_BUFFER, buffers[0]);
        glBufferData(GL_ARRAY_BUFFER, sizeof corners, corners, GL_STATIC_DRAW);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers[1]);
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, sizeof indices, indices, GL_STATIC_DRAW);
        pointAttributes();
        glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_INT, nullptr);
        glFinish();
        glBindVertexArray(0);
        glDeleteBuffers(2, buffers);
        glDeleteVertexArrays(1, &vao);
    }
    dropTarget(t);
    glBindFramebuffer(GL_FRAMEBUFFER, base_.fbo);
}

// Depth, front faces only, no dither: how every view is drawn.
void GlRenderer::useViewsWay() const {
    glDisable(GL_DITHER);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glDepthMask(GL_TRUE);
    glEnable(GL_CULL_FACE);
    glFrontFace(turned_ ? GL_CCW : GL_CW);   // turned over, clockwise corners wind the other way
    glCullFace(GL_BACK);
}

// A software GL makes its smooth scaled copy the first time one is asked for, which takes a good
// part of a second's tenth: a device drawn scaled may change its scale in play, and pays that
// here, as it is made, rather than in the middle of a game. Two small targets of its own: no
// pixel of the picture is touched.
void GlRenderer::warmSmoothCopy() {
    Target a, b;   // not a power of two wide or high, as no picture is
    if (makeTarget(5, 3, a) && makeTarget(7, 5, b)) {
        glDisable(GL_SCISSOR_TEST);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, a.fbo);
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, b.fbo);
        glBlitFramebuffer(0, 0, 5, 3, 0, 5, 7, 0, GL_COLOR_BUFFER_BIT, GL_LINEAR);
        glFinish();
    }
    dropTarget(a);
    dropTarget(b);
    glBindFramebuffer(GL_FRAMEBUFFER, base_.fbo);
}

GlRenderer::~GlRenderer() {
    for (auto& [mesh, b] : meshes_) {
        dropCorners(b.smooth);
        dropCorners(b.flat);
    }
    if (program_) glDeleteProgram(program_);
    dropPanes(panes_);
    dropPanes(before_.panes);
    dropTarget(before_.base);
    dropTarget(base_);
    dropTarget(picture_);
    glDeleteBuffers(1, &rowBuffer_);
}

bool GlRenderer::setScale(double scale) {
    if (!ok_) return false;
    const int w = scaledEdge(deviceWidth_, scale), h = scaledEdge(deviceHeight_, scale);
    const bool turned = scale != 1;
    if (w == width_ && h == height_ && turned == turned_) {
        scale_ = scale;
        return true;
    }
    carryOver();   // a picture from a change before, not yet carried over, goes in first
    Target t;
    if (w < 1 || h < 1 || !makeTarget(w, h, t)) {
        glBindFramebuffer(GL_FRAMEBUFFER, base_.fbo);
        return false;
    }
    // The depth starts afresh (every render clears it first); the old picture is carried over
    // when the new base is next used.
    glDisable(GL_SCISSOR_TEST);
    glClearDepth(1.0);
    glClear(GL_DEPTH_BUFFER_BIT);
    before_.base = base_;
    before_.panes = std::move(panes_);
    before_.width = width_;
    before_.height = height_;
    before_.turned = turned_;
    panes_.clear();
    base_ = t;
    glBindFramebuffer(GL_FRAMEBUFFER, base_.fbo);
    scale_ = scale;
    width_ = w;
    height_ = h;
    turned_ = turned;
    return glGetError() == GL_NO_ERROR;
}

// The picture from before the change of scale, smoothly scaled (and turned over if the new one
// lies the other way up), into the parts of the new base that no pane cleared since covers: the
// same pixels there as scaling the whole, since only the scissor limits it. Its panes go into its
// base first, by colour alone (its depth is not carried over).
void GlRenderer::carryOver() {
    if (!before_.base.fbo) return;
    const std::vector<PixelRect> parts = uncoveredParts({0, 0, width_, height_}, showingRects());
    const int w = before_.width, h = before_.height;
    if (!parts.empty()) {
        glDisable(GL_SCISSOR_TEST);
        for (const Pane& p : before_.panes)
            if (p.showing)
                copyRect(p.target, p.dx, p.dy, p.rect, glRowIn(before_.turned, h, p.rect),
                         before_.base.fbo, GL_COLOR_BUFFER_BIT);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, before_.base.fbo);
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, base_.fbo);
        const bool turn = before_.turned != turned_;
        glEnable(GL_SCISSOR_TEST);
        for (const PixelRect& part : parts) {
            glScissor(part.left, glRow(part), part.width, part.height);
            glBlitFramebuffer(0, 0, w, h, 0, turn ? height_ : 0, width_, turn ? 0 : height_,
                              GL_COLOR_BUFFER_BIT, w == width_ && h == height_ ? GL_NEAREST : GL_LINEAR);
        }
        glDisable(GL_SCISSOR_TEST);
    }
    dropPanes(before_.panes);
    dropTarget(before_.base);
    glBindFramebuffer(GL_FRAMEBUFFER, base_.fbo);
}

// The rectangles of the panes that show over the base.
std::vector<PixelRect> GlRenderer::showingRects() const {
    std::vector<PixelRect> over;
    for (const Pane& p : panes_)
        if (p.showing) over.push_back(p.rect);
    return over;
}

void GlRenderer::dropPanes(std::vector<Pane>& panes) {
    for (Pane& p : panes) {
        dropTarget(p.target);
        dropTarget(p.spare);
    }
    panes.clear();
}

// Half extents at unit distance: `field` on the wider side.
void GlRenderer::halfExtents(const ViewportData& v, float& halfW, float& halfH) {
    const float aspect = float(v.width) / float(std::max(v.height, 1));
    halfW = aspect >= 1 ? v.field : v.field * aspect;
    halfH = aspect >= 1 ? v.field / aspect : v.field;
}

glm::mat4 GlRenderer::projection(const ViewportData& v) {
    const float n = v.front, f = v.back;
    float halfW, halfH;
    halfExtents(v, halfW, halfH);
    glm::mat4 m(0.0f);
    m[0][0] = 1.0f / halfW;
    m[1][1] = 1.0f / halfH;
    m[2][2] = (f + n) / (f - n);         // z = n -> -1, z = f -> +1 (z forward, left-handed)
    m[3][2] = -2.0f * f * n / (f - n);
    m[2][3] = 1.0f;                      // w = z
    return m;
}

// dx, dy: the shift from the target's pixels to those of the pane drawn into.
void GlRenderer::setRect(const ViewportData& v, int dx, int dy) {
    // Device coordinates to the target's pixels. GL counts rows from the bottom; viewports are
    // given from the top left.
    const PixelRect r = scaleRect(v.left, v.top, v.width, v.height, scale_);
    const int x = r.left - dx, y = glRow(r) - dy;
    glViewport(x, y, r.width, r.height);
    glScissor(x, y, r.width, r.height);
    glEnable(GL_SCISSOR_TEST);
}

void GlRenderer::usePanes(bool on) {
    if (!on) flatten();
    usePanes_ = on && canUsePanes_;
}

// The viewport's rectangle in the target's pixels, cut to the target.
PixelRect GlRenderer::pixelRect(const ViewportData& v) const {
    return intersection(scaleRect(v.left, v.top, v.width, v.height, scale_), {0, 0, width_, height_});
}

// The pane for a rectangle about to be cleared whole, made if need be, and now the last: it lies
// over every other. Null when no pane can be made.
GlRenderer::Pane* GlRenderer::paneFor(const PixelRect& r) {
    Pane pane;
    auto same = std::find_if(panes_.begin(), panes_.end(), [&](const Pane& p) { return p.rect == r; });
    if (same != panes_.end()) {
        // Drawn into its other target this time: the GL may still hold the last one (Mesa
        // counts a target as in use until its drawing's records are reused), and filling it
        // would wait for all the drawing under way.
        if (!same->spare.fbo && !makeTarget(same->target.width, same->target.height, same->spare))
            return nullptr;
        pane = *same;
        std::swap(pane.target, pane.spare);
        panes_.erase(same);
    } else {
        if (panes_.size() >= kMaxPanes) {
            flatten();
            dropTarget(panes_.front().target);
            dropTarget(panes_.front().spare);
            panes_.erase(panes_.begin());
        }
        pane.rect = r;
        if (turned_) {
            pane.dx = r.left;
            pane.dy = glRow(r);
        }
        if (!makeTarget(turned_ ? r.width : rightOf(r), turned_ ? r.height : paneRows(r), pane.target))
            return nullptr;
    }
    // Panes wholly under this one show nothing of themselves any more.
    for (Pane& p : panes_)
        if (covers(r, p.rect)) p.showing = false;
    pane.showing = true;
    panes_.push_back(pane);
    return &panes_.back();
}

// Where a render into a rectangle goes: its own pane while that is the top of everything in the
// rectangle, else the base, with the panes copied into it first.
const GlRenderer::Pane* GlRenderer::drawPaneFor(const PixelRect& r) {
    for (auto p = panes_.rbegin(); p != panes_.rend(); ++p) {
        if (!p->showing || !overlaps(p->rect, r)) continue;
        if (p->rect == r) return &*p;
        flatten();
        break;
    }
    return nullptr;
}

// Copies a rectangle from one of the renderer's targets into another (they lie the same way up),
// its lowest row at GL row `y`. dx, dy: where the source is a pane, the shift from the target's
// pixels to the pane's.
void GlRenderer::copyRect(const Target& from, int dx, int dy, const PixelRect& r, int y, unsigned into,
                          unsigned buffers) {
    glBindFramebuffer(GL_READ_FRAMEBUFFER, from.fbo);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, into);
    glBlitFramebuffer(r.left - dx, y - dy, rightOf(r) - dx, y + r.height - dy, r.left, y, rightOf(r),
                      y + r.height, buffers, GL_NEAREST);
}

// Copies a rectangle of the picture into a window's framebuffer, `windowHeight` high, each row
// at its place from the top. From a target drawn turned over the GL turns it back, which is a
// plain copy of rows in memory.
void GlRenderer::showRect(const Target& from, int dx, int dy, const PixelRect& r, unsigned window,
                          int windowHeight) {
    const int y = glRow(r) - dy, top = windowHeight - r.top, bottom = windowHeight - bottomOf(r);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, from.fbo);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, window);
    glBlitFramebuffer(r.left - dx, y, rightOf(r) - dx, y + r.height, r.left, turned_ ? top : bottom,
                      rightOf(r), turned_ ? bottom : top, GL_COLOR_BUFFER_BIT, GL_NEAREST);
}

// The panes that show, colour and depth, into the base in their order: the base alone is then
// the device's picture.
void GlRenderer::flatten() {
    carryOver();
    glDisable(GL_SCISSOR_TEST);
    for (Pane& p : panes_) {
        if (!p.showing) continue;
        copyRect(p.target, p.dx, p.dy, p.rect, glRow(p.rect), base_.fbo, GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        p.showing = false;
    }
    glBindFramebuffer(GL_FRAMEBUFFER, base_.fbo);
}

bool GlRenderer::clear(const ViewportData& v, Color bg, unsigned flags) {
    if (!ok_) return false;
    const PixelRect r = pixelRect(v);
    if (usePanes_ && (flags & 3) == 3 && !isEmpty(r)) {
        if (Pane* pane = paneFor(r)) {
            if (turned_) {   // the pane is the rectangle: cleared whole, on the GL's threads
                glBindFramebuffer(GL_FRAMEBUFFER, pane->target.fbo);
                glDisable(GL_SCISSOR_TEST);
                glClearColor(bg.r, bg.g, bg.b, 1.0f);
                glClearDepth(1.0);
                glDepthMask(GL_TRUE);
                glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
                return glGetError() == GL_NO_ERROR;
            }
            const float rgba[4] = {bg.r, bg.g, bg.b, 1.0f}, far = 1.0f;
            const int y = glRow(r);   // the pane's rows are the target's
            glClearTexSubImage(pane->target.colour, 0, r.left, y, 0, r.width, r.height, 1, GL_RGBA,
                               GL_FLOAT, rgba);
            glClearTexSubImage(pane->target.depth, 0, r.left, y, 0, r.width, r.height, 1,
                               GL_DEPTH_COMPONENT, GL_FLOAT, &far);
            return glGetError() == GL_NO_ERROR;
        }
    }
    flatten();
    setRect(v);
    glDisable(GL_DITHER);
    GLbitfield mask = 0;
    if (flags & 1) mask |= GL_COLOR_BUFFER_BIT;
    if (flags & 2) mask |= GL_DEPTH_BUFFER_BIT;
    glClearColor(bg.r, bg.g, bg.b, 1.0f);
    glClearDepth(1.0);
    glDepthMask(GL_TRUE);
    glClear(mask);
    return glGetError() == GL_NO_ERROR;
}

// The mesh's entry, its bounds up to date; its buffers are made or filled only when it is drawn.
GlRenderer::MeshBuffers& GlRenderer::entryFor(const MeshData& mesh) {
    MeshBuffers& b = meshes_[mesh.id];
    if (b.boundsVersion != mesh.version) {
        b.bounds = boundsOf(mesh);
        b.boundsVersion = mesh.version;
    }
    return b;
}

// The corners of a mesh for one way of shading. A corner carries both normals and the shader
// takes the one the quality asks for; the other is set equal to it here, so that corners alike
// in everything the shader uses are one corner. The shader then gives every corner exactly what
// it gave the same corner of each triangle drawn alone.
void GlRenderer::upload(const MeshData& mesh, bool flat, Corners& c) {
    if (c.vao && c.version == mesh.version) return;
    std::vector<Vertex> corners;
    std::vector<uint32_t> indices;
    indices.reserve(mesh.triangles.size() * 3);
    std::unordered_map<std::string, uint32_t> seen;
    for (const Triangle& t : mesh.triangles) {
        // Corners run clockwise seen from the front, so in left-handed coordinates
        // (p1 - p0) x (p2 - p0) points out of the front.
        glm::vec3 face = glm::cross(t.p[1] - t.p[0], t.p[2] - t.p[0]);
        const float len = glm::length(face);
        face = len > 0 ? face / len : t.n[0];
        for (int k = 0; k < 3; ++k) {
            const glm::vec3 n = flat ? face : t.n[k];
            const Vertex v{t.p[k], n, n, t.color, t.emissive};
            const std::string key(reinterpret_cast<const char*>(&v), sizeof v);   // bit for bit
            const auto [at, added] = seen.try_emplace(key, uint32_t(corners.size()));
            if (added) corners.push_back(v);
            indices.push_back(at->second);
        }
    }
    if (!c.vao) {
        glGenVertexArrays(1, &c.vao);
        glGenBuffers(1, &c.vbo);
        glGenBuffers(1, &c.ibo);
    }
    glBindVertexArray(c.vao);
    glBindBuffer(GL_ARRAY_BUFFER, c.vbo);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(corners.size() * sizeof(Vertex)), corners.data(),
                 GL_STATIC_DRAW);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, c.ibo);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(indices.size() * sizeof(uint32_t)),
                 indices.data(), GL_STATIC_DRAW);
    pointAttributes();
    c.indices = int(indices.size());
    c.version = mesh.version;
}

void GlRenderer::dropCorners(Corners& c) {
    glDeleteBuffers(1, &c.ibo);
    glDeleteBuffers(1, &c.vbo);
    glDeleteVertexArrays(1, &c.vao);
    c = Corners{};
}

bool GlRenderer::render(const ViewportData& v, const FrameData& root) {
    if (!ok_ || !v.camera || !v.device) return false;
    const Pane* pane = drawPaneFor(pixelRect(v));
    if (!pane) carryOver();   // drawn into the base: over the picture carried over
    glBindFramebuffer(GL_FRAMEBUFFER, pane ? pane->target.fbo : base_.fbo);
    setRect(v, pane ? pane->dx : 0, pane ? pane->dy : 0);
    useViewsWay();
    const unsigned quality = v.device->quality;
    const bool wire = (quality & 0xC0) == kQualityWireframe;
    glPolygonMode(GL_FRONT_AND_BACK, wire ? GL_LINE : GL_FILL);

    // The camera: scene -> view is the inverse of the camera frame's pose.
    const Pose cam = worldPose(*v.camera);
    const glm::mat4 view = glm::inverse(cam.matrix());
    const glm::mat4 turn = glm::scale(glm::mat4(1.0f), glm::vec3(1.0f, turned_ ? -1.0f : 1.0f, 1.0f));
    const glm::mat4 viewProj = turn * projection(v) * view;

    // The first light found lights the scene; it shines along its frame's front.
    glm::vec3 lightDir(0, 0, 1), lightColor(0);
    bool haveLight = false;
    forEachLight(root, [&](const Pose& p, const LightData& l) {
        if (haveLight || l.type != kLightDirectional) return;
        haveLight = true;
        lightDir = glm::normalize(p.axes[2]);
        lightColor = {l.color.r, l.color.g, l.color.b};
    });

    glUseProgram(program_);
    glUniformMatrix4fv(uViewProj_, 1, GL_FALSE, glm::value_ptr(viewProj));
    glUniform3fv(uLightDir_, 1, glm::value_ptr(lightDir));
    glUniform3fv(uLightColor_, 1, glm::value_ptr(lightColor));
    const bool flat = (quality & 0x7) == 0;   // 136 flat, 137 Gouraud
    glUniform1i(uFlat_, flat ? 1 : 0);
    glUniform1f(uShades_, float(std::max(2u, v.device->shades)));
    glUniform3fv(uSteadyDir_, 1, glm::value_ptr(steadyDir_));
    glUniform1f(uLightChange_, lightChange_);

    const ViewVolume volume(v);
    forEachVisual(root, [&](const Pose& p, const MeshData& mesh) {
        if (mesh.triangles.empty()) return;
        MeshBuffers& b = entryFor(mesh);
        const glm::mat4 model = p.matrix();
        // The game keeps a frame's axes of unit length; a stretched frame stretches the sphere.
        const float stretch = std::max({1.0f, glm::length(p.axes[0]), glm::length(p.axes[1]),
                                        glm::length(p.axes[2])});
        const glm::vec3 centre = glm::vec3(view * model * glm::vec4(b.bounds.centre, 1.0f));
        if (!volume.mayShow(centre, b.bounds.radius * stretch)) return;
        Corners& corners = flat ? b.flat : b.smooth;
        upload(mesh, flat, corners);
        glUniformMatrix4fv(uModel_, 1, GL_FALSE, glm::value_ptr(model));
        glBindVertexArray(corners.vao);
        glDrawElements(GL_TRIANGLES, corners.indices, GL_UNSIGNED_INT, nullptr);
    });
    glBindVertexArray(0);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    // Send this viewport's drawing on now: a software GL draws it on its own threads while the
    // game goes on with the next player's pass, instead of drawing every view at the read-back.
    glFlush();
    return glGetError() == GL_NO_ERROR;
}

bool GlRenderer::showTop(int rows, unsigned into, int width, int height) {
    if (!ok_) return false;
    rows = std::clamp(rows, 0, height_);
    carryOver();
    glDisable(GL_SCISSOR_TEST);   // it clips blits too; every clear and render sets it again
    if (width == width_) {
        // Drawn at the scale shown: pixel for pixel, the base where no pane shows and the panes
        // over it. At a fractional scale the window may have a row fewer than the target (its
        // last row is left out) or one more (the last row is shown twice).
        const int n = std::min(rows, height);
        if (turned_ || !readsTopFirst_ || !showByRows(n, into, height))
            forEachShownPart(n, [&](const Target& from, int dx, int dy, const PixelRect& part) {
                showRect(from, dx, dy, part, into, height);
            });
        if (height > n) {   // the window's own last row of the picture, once more below it
            glBindFramebuffer(GL_READ_FRAMEBUFFER, into);
            glBindFramebuffer(GL_DRAW_FRAMEBUFFER, into);
            glBlitFramebuffer(0, height - n, width, height - n + 1, 0, 0, width, height - n,
                              GL_COLOR_BUFFER_BIT, GL_NEAREST);
        }
    } else {   // drawn smaller than shown: scaled up smoothly
        flatten();
        glBindFramebuffer(GL_READ_FRAMEBUFFER, base_.fbo);
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, into);
        const int y = glRow({0, 0, width_, rows});   // the shown rows, in GL rows of the base
        glBlitFramebuffer(0, y, width_, y + rows, 0, turned_ ? height : 0, width,
                          turned_ ? 0 : height, GL_COLOR_BUFFER_BIT, GL_LINEAR);
    }
    glBindFramebuffer(GL_FRAMEBUFFER, base_.fbo);
    return glGetError() == GL_NO_ERROR;
}

// The top `rows` rows of the picture part by part, in their order: the base where no pane
// shows, then each pane that shows over it.
void GlRenderer::forEachShownPart(int rows,
                                  const std::function<void(const Target&, int, int, const PixelRect&)>& use) const {
    const PixelRect shown{0, 0, width_, rows};
    for (const PixelRect& part : uncoveredParts(shown, showingRects())) use(base_, 0, 0, part);
    for (const Pane& p : panes_)
        if (p.showing && overlaps(p.rect, shown)) use(p.target, p.dx, p.dy, intersection(p.rect, shown));
}

// The top `rows` rows read part by part, each straight to its place at `into` (an offset into
// the bound pixel buffer, where one is), top row first: a target drawn turned over gives its top row first, and
// else Mesa turns the rows over as it reads them (the caller has seen that it can).
void GlRenderer::readParts(int rows, unsigned format, unsigned type, uint8_t* into) {
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ROW_LENGTH, width_);
    if (!turned_) glPixelStorei(GL_PACK_INVERT_MESA, GL_TRUE);
    forEachShownPart(rows, [&](const Target& from, int dx, int dy, const PixelRect& part) {
        glBindFramebuffer(GL_READ_FRAMEBUFFER, from.fbo);
        const uintptr_t at = reinterpret_cast<uintptr_t>(into) + (size_t(part.top) * width_ + part.left) * 4;
        glReadPixels(part.left - dx, glRow(part) - dy, part.width, part.height, format, type,
                     reinterpret_cast<void*>(at));
    });
    glPixelStorei(GL_PACK_INVERT_MESA, GL_FALSE);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
}

bool GlRenderer::pictureOfSize(int width, int height) {
    if (width < 1 || height < 1) return false;
    if (picture_.width == width && picture_.height == height) return true;
    dropTarget(picture_);
    return makeTarget(width, height, picture_);
}

// The top `height` rows of the picture (the base where no pane shows, the panes over it) read
// top row first into the GL's own buffer, each part at its place, then into the picture texture
// as they lie, and from there into the top of the window, `windowHeight` high, turned back:
// three copies of rows, all the GL's.
bool GlRenderer::showByRows(int height, unsigned window, int windowHeight) {
    if (!pictureOfSize(width_, height)) return false;
    const size_t bytes = size_t(width_) * height * 4;
    if (!rowBuffer_) glGenBuffers(1, &rowBuffer_);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, rowBuffer_);
    if (rowBufferBytes_ != bytes) {
        glBufferData(GL_PIXEL_PACK_BUFFER, GLsizeiptr(bytes), nullptr, GL_STREAM_COPY);
        rowBufferBytes_ = bytes;
    }
    readParts(height, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);   // at offset 0 of the buffer
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, rowBuffer_);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glBindTexture(GL_TEXTURE_2D, picture_.colour);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width_, height, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    glBindTexture(GL_TEXTURE_2D, 0);
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, picture_.fbo);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, window);
    glBlitFramebuffer(0, 0, width_, height, 0, windowHeight, width_, windowHeight - height,
                      GL_COLOR_BUFFER_BIT, GL_NEAREST);
    return true;
}

bool GlRenderer::readTop(int rows, std::vector<uint8_t>& rgba) {
    rows = std::clamp(rows, 0, height_);
    rgba.resize(size_t(width_) * rows * 4);
    return readTop(rows, rgba.data(), PixelOrder::Rgba);
}

// Each part read where it lies: folding the panes into the base first would copy the whole
// picture and its depth once more at every read. Where Mesa cannot turn the rows over as it
// reads them (and the target lies bottom up), they are read bottom first into a buffer kept
// between reads and turned over from there.
bool GlRenderer::readTop(int rows, uint8_t* out, PixelOrder order) {
    if (!ok_) return false;
    carryOver();
    rows = std::clamp(rows, 0, height_);
    const GLenum format = order == PixelOrder::Argb32 ? GL_BGRA : GL_RGBA;
    const GLenum type = order == PixelOrder::Argb32 ? GL_UNSIGNED_INT_8_8_8_8_REV : GL_UNSIGNED_BYTE;
    if (turned_ || readsTopFirst_) {
        readParts(rows, format, type, out);
        glBindFramebuffer(GL_FRAMEBUFFER, base_.fbo);
        return glGetError() == GL_NO_ERROR;
    }
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    flatten();
    const size_t line = size_t(width_) * 4;
    bottomUp_.resize(line * rows);
    glReadPixels(0, glRow({0, 0, width_, rows}), width_, rows, format, type, bottomUp_.data());
    for (int r = 0; r < rows; ++r)
        std::copy_n(bottomUp_.data() + size_t(rows - 1 - r) * line, line, out + size_t(r) * line);
    return glGetError() == GL_NO_ERROR;
}

}  // namespace scene
