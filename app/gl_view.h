// Picture1: the widget that shows the 3D view. The clipper binds to it and asks it for the
// renderer behind the device; Update shows the device's top 640 x 430 here, never waiting for
// the display's refresh. The device is drawn at the size the view is shown, or smaller when
// drawing that large would slow the game, and then scaled up smoothly.
//
// While a device lives and draws at the size shown, the picture goes to a GL window of the view's
// own that covers it: the device copies its target there on the GL. Drawn smaller, it is read
// back and scaled up as the view paints it. Before the first device, after a device has gone,
// and while a widget of the window is shown over the picture, the view paints the last picture
// it kept (black at first) as an ordinary widget.
#pragma once

#include "app/screen_fit.h"
#include "scene/scale_up.h"
#include "scene/scene.h"

#include <QImage>
#include <QWidget>

#include <chrono>
#include <string>

class QWindow;

namespace hopshot {

class GlDevice;

class GLView : public QWidget, public scene::Window {
    Q_OBJECT
public:
    explicit GLView(QWidget* parent = nullptr);
    ~GLView() override;

    // The context the 3D view asks for (OpenGL 3.3 core, 24-bit depth, presenting without
    // waiting for the display's refresh). Must be set before the application object exists.
    static void setDefaultSurfaceFormat();

    // An OpenGL device of its own; null when this machine has no OpenGL 3.3, and the game then
    // plays on with no picture.
    std::unique_ptr<scene::Renderer> createRenderer(int width, int height) override;

    // What the view shows now (tests and screenshots): the screen's pixels while a device's
    // picture is shown (in the GL window, or scaled up in the view), else the picture kept.
    QImage shown() const;

    // The scale the window shows the game's picture at; the device follows it, within the pace.
    void setShownScale(double scale);
    // Rows of the whole 480-row picture to draw at; 0 chooses them to keep the pace.
    void setRenderRows(int rows) { pace_ = RenderPace(rows); }
    void setCalm(bool on);
    // The scale the device draws at now (or will be made at).
    double renderScale() const;
    // Something of the window's own (the pause mark, the help) is shown over the picture: the
    // GL window would hide it, so meanwhile the view paints the picture itself, read back at each
    // present, and the widgets over it are painted on top as usual.
    void setCovered(bool on);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    bool showingOnGl() const;
    void keepPicture();   // the device's picture read back into image_
    bool drawnSmaller() const;   // the device draws smaller than the view is shown
    bool scaleIntoWindow(const QRegion& region);

    GlDevice* device_ = nullptr;   // the live device, owned by the game's device handle
    bool stale_ = false;           // the device has presented since the view last showed it
    QWindow* window_ = nullptr;    // the GL window the device shows its picture in
    QWidget* holder_ = nullptr;    // the window's place among the widgets; hidden with no device
    QImage image_;   // the picture kept (a device gone, covered, or drawn smaller than shown)
    scene::ScaleUpInTwo scaleUp_;   // the picture drawn smaller, up to the size shown
    std::string lastFailure_;      // why the last device could not be made, once said
    double shownScale_ = 1;
    RenderPace pace_;
    std::chrono::steady_clock::time_point lastFrameAt_;   // when the last fresh picture was shown
    bool calm_ = false;
    bool covered_ = false;
};

}  // namespace hopshot
