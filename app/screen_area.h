// The window's client area: black, holding the game's 640 x 480 picture (the labels, the 3D
// view, the title picture) as one picture scaled to the largest size that fits, centred, with
// black bars where the area's shape differs. Each part is placed by its rectangle on the 640 x
// 480 picture and follows the scale: labels by their font, the title by the picture that suits
// the size, the 3D view by the size it is drawn at.
#pragma once

#include "app/screen_fit.h"

#include <QPixmap>
#include <QRect>
#include <QWidget>

#include <functional>
#include <vector>

class QLabel;
class QPainter;

namespace hopshot {

class GLView;

class ScreenArea : public QWidget {
    Q_OBJECT
public:
    explicit ScreenArea(QWidget* parent = nullptr);

    // The 640 x 480 picture's own widget: the parts are its children.
    QWidget* picture() const { return picture_; }

    // How a label's text is kept inside its place at every size: not at all, by a smaller font
    // (every line, in width and in height), or by narrower letters (its one line, in width,
    // leaving a space's width free at the right so that the next label's text stays apart).
    enum class Fit { None, Shrink, Narrow };

    void place(QWidget* part, QRect onPicture);
    // Its font's size is the 1:1 one.
    void placeLabel(QLabel* label, QRect onPicture, Fit fit = Fit::None);
    // The label's text has changed: its font is fitted to it again.
    void refit(QLabel* label);
    void placeView(GLView* view, QRect onPicture);
    // The title picture at 640 x 480, and one for large screens (may be null): shown as it is at
    // 1:1, otherwise the one that suits scaled smoothly to the size shown.
    void placeTitle(QLabel* image, const QPixmap& small, const QPixmap& large);
    // Paints over both title pictures; the painter's units are the 640 x 480 picture's pixels.
    void paintOverTitle(const std::function<void(QPainter&)>& paint);

    // The area's size at a scale, for opening the window that large.
    void setStartScale(double scale);
    QSize sizeHint() const override;

    const PictureFit& fit() const { return fit_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Part {
        QWidget* widget;
        QRect onPicture;
        double pointSize = 0;   // a label's font at 1:1
        Fit fit = Fit::None;
    };
    void fitFont(const Part& part);
    void layOut();
    void showTitle();

    QWidget* picture_;
    std::vector<Part> parts_;
    GLView* view_ = nullptr;
    QLabel* title_ = nullptr;
    QPixmap smallTitle_, largeTitle_;
    double startScale_ = 1;
    PictureFit fit_;
};

}  // namespace hopshot
