// The device's drawing on this machine's OpenGL: an OpenGL context of its own, and the
// renderer's persistent target in it. The 3D view shows the target in a GL window, copied there
// on the GL: nothing goes through the CPU.
#pragma once

#include "scene/gl_renderer.h"
#include "scene/scene.h"

#include <QImage>
#include <QPointer>
#include <QWindow>

#include <functional>
#include <memory>
#include <string>
#include <utility>

class QOpenGLContext;
class QOffscreenSurface;

namespace hopshot {

class GlDevice : public scene::Renderer {
public:
    // A width x height device (the rules' pixels) drawn `scale` times larger. Null when no
    // OpenGL 3.3 context can be had; `why` then says what is missing.
    static std::unique_ptr<GlDevice> create(int width, int height, double scale, std::string& why);
    ~GlDevice() override;

    bool clear(const scene::ViewportData& viewport, scene::Color background, unsigned flags) override;
    bool render(const scene::ViewportData& viewport, const scene::FrameData& root) override;
    bool present() override;

    // The target's top rows as the player sees them, in its own pixels.
    bool readTop(int rows, QImage& out);

    // The window (an OpenGL surface) the picture is shown in. Once it is made, the context
    // draws with it current too: moving the context from one surface to another at every frame
    // would make Mesa allocate the window's buffers afresh each time.
    void setWindow(QWindow* window) { window_ = window; }
    // The target's top rows shown in that window, filling it, and its buffers swapped without
    // waiting for the display.
    bool showTop(int rows);
    // Waits until the GL has drawn everything asked of it so far.
    bool finish();

    // Draws from the next frame on at another scale (see GlRenderer::setScale).
    bool setScale(double scale);
    double scale() const;

    // Calm drawing: the red flash and the light's flicker change the picture's brightness a
    // third as much. The game's scene is untouched: only how it is drawn changes.
    void setCalm(bool on) { calm_ = on; }

    // Wall time spent in clear and render since the last take, and the presents in that time:
    // what drawing the 3D view costs, for choosing the size it is drawn at.
    struct DrawCost {
        double ms = 0;
        int presents = 0;
    };
    DrawCost takeDrawCost() { return std::exchange(cost_, DrawCost{}); }

    std::function<void()> onPresent;   // the view schedules a repaint; nothing waits
    std::function<void()> onGone;      // the view lets go of its pointer

private:
    GlDevice() = default;
    bool makeCurrent();

    std::unique_ptr<QOpenGLContext> context_;
    std::unique_ptr<QOffscreenSurface> surface_;   // current until the window is made
    QPointer<QWindow> window_;
    std::unique_ptr<scene::GlRenderer> renderer_;
    bool calm_ = false;
    glm::vec3 steadyLight_{0, 0, 1};   // the light's way when it last shone steadily
    DrawCost cost_;
};

}  // namespace hopshot
