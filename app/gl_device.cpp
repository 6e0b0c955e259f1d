#include "app/gl_device.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QSurfaceFormat>
#include <QWindow>

#include "core/setup.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace hopshot {

namespace {

using Clock = std::chrono::steady_clock;

// Calm drawing keeps a third of each change in brightness.
constexpr float kCalmChange = 1.0f / 3.0f;

// The red flash is the only change of the sky: calm, it goes a third of the way to its red.
scene::Color calmSky(scene::Color c) {
    const scene::Color rest = kSky;
    return {rest.r + (c.r - rest.r) * kCalmChange, rest.g + (c.g - rest.g) * kCalmChange,
            rest.b + (c.b - rest.b) * kCalmChange};
}

// The flicker throws the light straight up or straight down; its steady places (at rest,
// behind the bomb) never shine along the vertical.
bool flickering(glm::vec3 way) { return std::abs(way.x) < 1e-6f && std::abs(way.z) < 1e-6f; }

}  // namespace

std::unique_ptr<GlDevice> GlDevice::create(int width, int height, double scale, std::string& why) {
    std::unique_ptr<GlDevice> d(new GlDevice);
    d->context_ = std::make_unique<QOpenGLContext>();
    d->context_->setFormat(QSurfaceFormat::defaultFormat());
    if (!d->context_->create()) {
        why = "no OpenGL context can be made";
        return nullptr;
    }
    const QSurfaceFormat got = d->context_->format();
    if (got.majorVersion() * 10 + got.minorVersion() < 33) {
        why = "OpenGL " + std::to_string(got.majorVersion()) + "." +
              std::to_string(got.minorVersion()) + " is here, and the 3D view needs 3.3";
        return nullptr;
    }
    d->surface_ = std::make_unique<QOffscreenSurface>();
    d->surface_->setFormat(got);
    d->surface_->create();
    if (!d->surface_->isValid() || !d->makeCurrent()) {
        why = "the OpenGL context cannot be made current on an offscreen surface";
        return nullptr;
    }
    d->renderer_ = std::make_unique<scene::GlRenderer>(width, height, scale);
    if (!d->renderer_->ok()) {
        why = "the OpenGL drawing target or its shaders cannot be made";
        return nullptr;
    }
    return d;
}

GlDevice::~GlDevice() {
    if (onGone) onGone();
    if (renderer_ && makeCurrent()) renderer_.reset();   // GL objects go with their context
    if (context_) context_->doneCurrent();
}

bool GlDevice::makeCurrent() {
    if (!context_) return false;
    if (window_ && window_->handle()) return context_->makeCurrent(window_);
    return surface_ && context_->makeCurrent(surface_.get());
}

bool GlDevice::clear(const scene::ViewportData& v, scene::Color bg, unsigned flags) {
    const auto t0 = Clock::now();
    const bool done = makeCurrent() && renderer_->clear(v, calm_ ? calmSky(bg) : bg, flags);
    cost_.ms += std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    return done;
}

bool GlDevice::render(const scene::ViewportData& v, const scene::FrameData& root) {
    const auto t0 = Clock::now();
    if (!makeCurrent()) return false;
    if (calm_) {
        bool found = false;
        scene::forEachLight(root, [&](const scene::Pose& p, const scene::LightData& l) {
            if (found || l.type != scene::kLightDirectional) return;
            found = true;
            const glm::vec3 way = glm::normalize(p.axes[2]);
            if (!flickering(way)) steadyLight_ = way;
            renderer_->setLightChange(steadyLight_, flickering(way) ? kCalmChange : 1.0f);
        });
    } else {
        renderer_->setLightChange(steadyLight_, 1.0f);
    }
    const bool done = renderer_->render(v, root);
    cost_.ms += std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    return done;
}

bool GlDevice::present() {
    ++cost_.presents;
    if (onPresent) onPresent();
    return true;
}

bool GlDevice::setScale(double scale) { return makeCurrent() && renderer_->setScale(scale); }

double GlDevice::scale() const { return renderer_ ? renderer_->scale() : 1.0; }

bool GlDevice::showTop(int rows) {
    if (!renderer_ || !window_ || !window_->handle() || !makeCurrent()) return false;
    const qreal ratio = window_->devicePixelRatio();
    const bool done = renderer_->showTop(rows, context_->defaultFramebufferObject(),
                                         int(std::lround(window_->width() * ratio)),
                                         int(std::lround(window_->height() * ratio)));
    context_->swapBuffers(window_);
    return done;
}

bool GlDevice::finish() {
    if (!makeCurrent()) return false;
    context_->functions()->glFinish();
    return true;
}

// Read straight into the picture's own pixels, in its own byte order: the view reads the whole
// picture at every paint, so nothing is made afresh or converted on the way.
bool GlDevice::readTop(int rows, QImage& out) {
    if (!makeCurrent()) return false;
    const int w = renderer_->width();
    rows = std::clamp(rows, 0, renderer_->height());
    if (out.size() != QSize(w, rows) || out.format() != QImage::Format_RGB32 ||
        out.bytesPerLine() != w * 4)
        out = QImage(w, rows, QImage::Format_RGB32);
    if (out.isNull()) return false;
    return renderer_->readTop(rows, out.bits(), scene::GlRenderer::PixelOrder::Argb32);
}

}  // namespace hopshot
