#include "app/gl_view.h"

#include "app/gl_device.h"
#include "scene/device_scale.h"

#include <QBackingStore>
#include <QExposeEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QSurfaceFormat>
#include <QWindow>

#include <chrono>
#include <cmath>
#include <cstdio>

namespace hopshot {

namespace {

int shownRows(double scale) { return scene::scaledEdge(scene::kDeviceHeight, scale); }

// The GL window over the view. It takes neither keys nor clicks (they go on to the game's window
// as before), and when the X server shows it again (mapped, uncovered, resized) the view shows
// the device's picture there again.
class PictureWindow : public QWindow {
public:
    explicit PictureWindow(QWidget* view) : view_(view) {
        setSurfaceType(QSurface::OpenGLSurface);
        setFlags(Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus);
    }

protected:
    void exposeEvent(QExposeEvent*) override {
        if (isExposed()) view_->update();
    }

private:
    QWidget* view_;
};

}  // namespace

GLView::GLView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    image_ = QImage(scene::kDeviceWidth, scene::kShownHeight, QImage::Format_RGB32);
    image_.fill(Qt::black);
    window_ = new PictureWindow(this);
    holder_ = QWidget::createWindowContainer(window_, this);
    holder_->setObjectName("Picture1GL");
    holder_->setFocusPolicy(Qt::NoFocus);
    holder_->hide();   // made and shown at a device's first picture: no GL window without GL
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
    std::unique_ptr<GlDevice> d = GlDevice::create(width, height, renderScale(), why);
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
    d->setCalm(calm_);
    d->setWindow(window_);
    d->onPresent = [this] {
        if (covered_) {
            keepPicture();
        } else {
            stale_ = true;
            const bool onGl = !drawnSmaller();
            if (holder_->isVisibleTo(this) != onGl) holder_->setVisible(onGl);
        }
        update();   // painted when Qt's loop next comes round; nothing waits for the display
    };
    d->onGone = [this] {
        // Keep the last picture: the view paints it until the title picture covers it.
        if (device_ && holder_->isVisibleTo(this)) keepPicture();
        holder_->hide();
        device_ = nullptr;
        stale_ = false;
    };
    return d;
}

QImage GLView::shown() const {
    if (showingOnGl())
        return window_->screen()->grabWindow(window_->winId()).toImage().convertToFormat(QImage::Format_RGB32);
    if (!device_ || covered_ || !drawnSmaller()) return image_;
    // Scaled up as it is painted: the screen's pixels where the view is.
    const QPoint at = mapTo(window(), QPoint(0, 0));
    return screen()->grabWindow(window()->winId(), at.x(), at.y(), width(), height())
        .toImage().convertToFormat(QImage::Format_RGB32);
}

bool GLView::showingOnGl() const {
    return device_ && holder_->isVisibleTo(this) && window_->isExposed();
}

// Drawn at the full height, the device takes the shown scale itself: rows / 480 can differ from
// it where 480 times the scale is not a whole number (full screen at 1920 x 1080), and the device
// would then be a pixel wider than the view and have to be rescaled to fit it.
double GLView::renderScale() const {
    const int shown = shownRows(shownScale_), rows = pace_.rows(shown);
    return rows >= shown ? shownScale_ : double(rows) / scene::kDeviceHeight;
}

void GLView::setShownScale(double scale) {
    shownScale_ = scale;
    if (device_ && device_->scale() != renderScale()) device_->setScale(renderScale());
}

void GLView::keepPicture() {
    device_->readTop(scene::scaledEdge(scene::kShownHeight, device_->scale()), image_);
}

void GLView::setCovered(bool on) {
    if (on == covered_) return;
    covered_ = on;
    if (!device_) return;
    if (on) {
        if (holder_->isVisibleTo(this)) keepPicture();
        holder_->hide();
    } else {
        stale_ = true;
        holder_->show();
    }
    update();
}

void GLView::setCalm(bool on) {
    calm_ = on;
    if (device_) device_->setCalm(on);
}

void GLView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    holder_->setGeometry(rect());
}

// The kept picture scaled up straight into the window's pixels where it paints them (its backing
// store, an image in memory on X11): no copy of the large picture between. Only the region being
// painted is written, as a painter would be clipped to it. False where the window's pixels are
// not such an image; the view then paints through Qt.
bool GLView::scaleIntoWindow(const QRegion& region) {
    QBackingStore* store = backingStore();
    QPaintDevice* device = store ? store->paintDevice() : nullptr;
    if (!device || device->devType() != QInternal::Image || image_.isNull()) return false;
    auto* pixels = static_cast<QImage*>(device);
    const QImage::Format f = pixels->format();
    if (f != QImage::Format_RGB32 && f != QImage::Format_ARGB32_Premultiplied &&
        f != QImage::Format_ARGB32)
        return false;
    if (!pixels->isDetached()) return false;   // writing would make it a copy of its own
    const qreal ratio = pixels->devicePixelRatio();
    auto physical = [ratio](const QRect& r) {
        const int l = int(std::lround(r.left() * ratio)), t = int(std::lround(r.top() * ratio));
        return QRect(l, t, int(std::lround((r.left() + r.width()) * ratio)) - l,
                     int(std::lround((r.top() + r.height()) * ratio)) - t);
    };
    const QPoint at = mapTo(window(), QPoint(0, 0));
    const QRect view = physical(QRect(at, size()));
    if (view.isEmpty() || !pixels->rect().contains(view)) return false;
    const int stride = int(pixels->bytesPerLine() / 4);
    const scene::PixelsIn from{reinterpret_cast<const uint32_t*>(image_.constBits()), image_.width(),
                               image_.height(), int(image_.bytesPerLine() / 4)};
    const scene::PixelsOut to{reinterpret_cast<uint32_t*>(pixels->bits()) + size_t(view.top()) * stride +
                                  view.left(),
                              view.width(), view.height(), stride};
    for (const QRect& r : region) {
        const QRect part = physical(r.translated(at)).intersected(view).translated(-view.topLeft());
        if (!part.isEmpty()) scaleUp_(from, to, {part.left(), part.top(), part.width(), part.height()});
    }
    return true;
}

bool GLView::drawnSmaller() const { return device_ && device_->scale() < shownScale_; }

// The device's pixels fill the view's physical pixels, whatever the screen's scale; a device
// drawn smaller than shown is scaled up smoothly.
void GLView::paintEvent(QPaintEvent* event) {
    using Clock = std::chrono::steady_clock;
    const auto t0 = Clock::now();
    const bool live = device_ && !covered_ && (drawnSmaller() || showingOnGl());
    if (!live) {
        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, image_.size() != size());
        painter.drawImage(rect(), image_);
        return;
    }
    const bool fresh = stale_;
    stale_ = false;
    // What this step's picture cost: the drawing of its views since the last paint (a step
    // presents once a view), the wait for the GL to finish them, and showing them. Too much
    // and the next ones are drawn smaller, where that costs less.
    if (fresh) device_->finish();
    const auto t1 = Clock::now();
    if (drawnSmaller()) {
        // Read back and scaled up smoothly as it is painted, straight into the window's own
        // pixels: Mesa's software GL scales up by drawing, which costs several times as much,
        // and handing the scaled picture to the GL window costs two more copies of it.
        if (fresh) keepPicture();
        if (!scaleIntoWindow(event->region())) {
            QPainter painter(this);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(rect(), image_);
        }
    } else {
        device_->showTop(scene::scaledEdge(scene::kShownHeight, device_->scale()));
    }
    if (fresh) {
        using Ms = std::chrono::duration<double, std::milli>;
        const auto t2 = Clock::now();
        const double ms = Ms(t2 - t0).count() + device_->takeDrawCost().ms;
        const int rows = scene::scaledEdge(scene::kDeviceHeight, device_->scale());
        const int shown = shownRows(shownScale_);
        const double sinceLast = lastFrameAt_ == Clock::time_point{} ? 0 : Ms(t0 - lastFrameAt_).count();
        lastFrameAt_ = t0;
        pace_.frameCost(rows, ms, Ms(t2 - t1).count(), shown, sinceLast);
        if (pace_.rows(shown) != rows) device_->setScale(renderScale());
    }
}

}  // namespace hopshot
