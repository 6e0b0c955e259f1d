// Picture1: the widget that shows the 3D view. The clipper binds to it and asks it for the
// renderer behind the device; Update shows the device's top 640 x 430 here, never waiting for
// the display's refresh.
#pragma once

#include "scene/scene.h"

#include <QImage>
#include <QWidget>

#include <string>

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

    // What the view shows now (tests and screenshots).
    QImage shown() const { return image_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    GlDevice* device_ = nullptr;   // the live device, owned by the game's device handle
    bool stale_ = false;           // the device has presented since the view last read it
    QImage image_;                 // what was last shown; kept when the device goes
    std::string lastFailure_;      // why the last device could not be made, once said
};

}  // namespace hopshot
