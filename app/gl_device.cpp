#include "app/gl_device.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QSurfaceFormat>

#include <algorithm>

namespace hopshot {

std::unique_ptr<GlDevice> GlDevice::create(int width, int height, std::string& why) {
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
    d->renderer_ = std::make_unique<scene::GlRenderer>(width, height);
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

bool GlDevice::makeCurrent() { return context_ && surface_ && context_->makeCurrent(surface_.get()); }

bool GlDevice::clear(const scene::ViewportData& v, scene::Color bg, unsigned flags) {
    return makeCurrent() && renderer_->clear(v, bg, flags);
}

bool GlDevice::render(const scene::ViewportData& v, const scene::FrameData& root) {
    return makeCurrent() && renderer_->render(v, root);
}

bool GlDevice::present() {
    if (onPresent) onPresent();
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
