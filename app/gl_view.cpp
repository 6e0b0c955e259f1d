#include "app/gl_view.h"

#include "app/gl_device.h"

#include <QPainter>
#include <QSurfaceFormat>

#include <cstdio>

namespace hopshot {

namespace {
}

GLView::GLView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    image_ = QImage(scene::kDeviceWidth, scene::kShownHeight, QImage::Format_RGB32);
    image_.fill(Qt::black);
}

GLView::~GLView() {
    if (device_) device_->onGone = nullptr;
}

void GLView::setDefaultSurfaceFormat() {
    QSurfaceFormat format;
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    format.setDepthBufferSize(24);
    format.setSwapInterval(0);
    QSurfaceFormat::setDefaultFormat(format);
}

std::unique_ptr<scene::Renderer> GLView::createRenderer(int width, int height) {
    std::string why;
    std::unique_ptr<GlDevice> d = GlDevice::create(width, height, why);
    if (!d) {
        // The game plays on with no picture; the player is told once why.
        if (why != lastFailure_)
            std::fprintf(stderr, "hopshot: no 3D picture: %s; the game plays on without one\n",
                         why.c_str());
        lastFailure_ = why;
        return nullptr;
    }
    if (device_) device_->onGone = nullptr;
    device_ = d.get();
    d->onPresent = [this] {
        stale_ = true;
        update();   // painted at the next yield; nothing waits for the display
    };
    d->onGone = [this] {
        // Keep the last picture: the view shows it until the title picture covers it.
        if (stale_ && device_) device_->readTop(scene::kShownHeight, image_);
        device_ = nullptr;
        stale_ = false;
    };
    return d;
}

// The device's pixels fill the widget's physical pixels, whatever the screen's scale.
void GLView::paintEvent(QPaintEvent*) {
    if (stale_ && device_) {
        device_->readTop(scene::kShownHeight, image_);
        stale_ = false;
    }
    QPainter painter(this);
    painter.drawImage(rect(), image_);
}

}  // namespace hopshot
