// The device's drawing on this machine's OpenGL: an OpenGL context of its own on an offscreen
// surface, and the renderer's persistent target in it. The 3D view reads the target back to
// show it.
#pragma once

#include "scene/gl_renderer.h"
#include "scene/scene.h"

#include <QImage>

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
    std::unique_ptr<QOffscreenSurface> surface_;
    std::unique_ptr<scene::GlRenderer> renderer_;
    bool calm_ = false;
    glm::vec3 steadyLight_{0, 0, 1};   // the light's way when it last shone steadily
    DrawCost cost_;
};

}  // namespace hopshot
