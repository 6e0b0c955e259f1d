#include "app/screen_area.h"

#include "app/gl_view.h"
#include "scene/device_scale.h"
#include "scene/scene.h"

#include <QLabel>
#include <QPainter>
#include <QResizeEvent>

#include <algorithm>
#include <cmath>

namespace hopshot {

namespace {

void paintBlack(QWidget* w) {
    w->setAutoFillBackground(true);
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, Qt::black);
    w->setPalette(pal);
}

}  // namespace

ScreenArea::ScreenArea(QWidget* parent) : QWidget(parent), picture_(new QWidget(this)) {
    setObjectName("screen");
    picture_->setObjectName("client");
    paintBlack(this);
    paintBlack(picture_);
    setMinimumSize(scene::kDeviceWidth / 4, scene::kDeviceHeight / 4);
    fit_ = fitPicture(scene::kDeviceWidth, scene::kDeviceHeight);
    picture_->setGeometry(0, 0, scene::kDeviceWidth, scene::kDeviceHeight);
}

void ScreenArea::place(QWidget* part, QRect onPicture) {
    parts_.push_back({part, onPicture});
    layOut();
}

void ScreenArea::placeLabel(QLabel* label, QRect onPicture, Fit fit) {
    parts_.push_back({label, onPicture, label->font().pointSizeF(), fit});
    layOut();
}

void ScreenArea::refit(QLabel* label) {
    for (const Part& p : parts_)
        if (p.widget == label) fitFont(p);
}

// The label's font at the scale shown, then smaller or narrower until its text fits.
void ScreenArea::fitFont(const Part& part) {
    auto* label = static_cast<QLabel*>(part.widget);
    QFont font = label->font();
    font.setPointSizeF(part.pointSize * fit_.scale);
    font.setStretch(QFont::AnyStretch);   // as the label was made: its font's own width
    const int margin = label->margin();
    const QSize room = label->contentsRect().marginsRemoved(QMargins(margin, margin, margin, margin)).size();
    const QStringList lines = label->text().split(QLatin1Char('\n'));
    auto overflow = [&](const QFont& f) {
        const QFontMetricsF m(f);
        double wide = 0;
        for (const QString& line : lines) wide = std::max(wide, m.horizontalAdvance(line));
        if (part.fit == Fit::Narrow) wide += m.horizontalAdvance(QLatin1Char(' '));
        const double high = part.fit == Fit::Shrink ? m.lineSpacing() * lines.size() : 0;
        return std::max(wide / room.width(), high / room.height());
    };
    // A first guess from the overflow, then small steps: hinting makes widths not quite linear.
    for (int tries = 0; tries < 40 && room.width() > 0 && room.height() > 0; ++tries) {
        const double over = overflow(font);
        if (over <= 1) break;
        const double by = tries == 0 ? 1 / over : 0.97;
        if (part.fit == Fit::Shrink) {
            if (font.pointSizeF() <= 2) break;
            font.setPointSizeF(std::max(2.0, font.pointSizeF() * by));
        } else if (part.fit == Fit::Narrow) {
            const int now = font.stretch() == QFont::AnyStretch ? QFont::Unstretched : font.stretch();
            if (now <= 25) break;
            font.setStretch(std::max(25, int(now * by)));
        } else {
            break;
        }
    }
    label->setFont(font);
}

void ScreenArea::placeView(GLView* view, QRect onPicture) {
    view_ = view;
    place(view, onPicture);
}

void ScreenArea::placeTitle(QLabel* image, const QPixmap& small, const QPixmap& large) {
    title_ = image;
    smallTitle_ = small;
    largeTitle_ = large;
    place(image, QRect(0, 0, scene::kDeviceWidth, scene::kDeviceHeight));
}

void ScreenArea::paintOverTitle(const std::function<void(QPainter&)>& paint) {
    for (QPixmap* title : {&smallTitle_, &largeTitle_}) {
        if (title->isNull()) continue;
        QPainter p(title);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        p.scale(double(title->width()) / scene::kDeviceWidth,
                double(title->height()) / scene::kDeviceHeight);
        paint(p);
    }
    if (title_) title_->setProperty("titleFrom", QVariant());
    showTitle();
}

void ScreenArea::setStartScale(double scale) {
    startScale_ = scale;
    updateGeometry();
}

QSize ScreenArea::sizeHint() const {
    return {scene::scaledEdge(scene::kDeviceWidth, startScale_),
            scene::scaledEdge(scene::kDeviceHeight, startScale_)};
}

void ScreenArea::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layOut();
}

void ScreenArea::layOut() {
    fit_ = fitPicture(width(), height());
    const double s = fit_.scale;
    picture_->setGeometry(fit_.left, fit_.top, fit_.width, fit_.height);
    for (const Part& p : parts_) {
        const scene::PixelRect r =
            scene::scaleRect(p.onPicture.x(), p.onPicture.y(), p.onPicture.width(),
                             p.onPicture.height(), s);
        p.widget->setGeometry(r.left, r.top, r.width, r.height);
        // Drawn at the scaled size, not magnified: the glyphs stay sharp.
        if (p.pointSize > 0) fitFont(p);
    }
    if (view_) view_->setShownScale(s);
    showTitle();
}

void ScreenArea::showTitle() {
    if (!title_) return;
    const QSize size = title_->size();
    if (smallTitle_.isNull() || size == smallTitle_.size()) {
        title_->setPixmap(smallTitle_);   // 1:1, as it is (or none)
        return;
    }
    const QPixmap& from = size.width() > smallTitle_.width() && !largeTitle_.isNull()
                              ? largeTitle_ : smallTitle_;
    if (title_->pixmap().size() == size && title_->property("titleFrom").toLongLong() == from.cacheKey())
        return;
    title_->setPixmap(from.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    title_->setProperty("titleFrom", from.cacheKey());
}

}  // namespace hopshot
