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

class QOpenGLContext;
class QOffscreenSurface;

namespace hopshot {

class GlDevice : public scene::Renderer {
public:
    // Null when no OpenGL 3.3 context can be had; `why` then says what is missing.
    static std::unique_ptr<GlDevice> create(int width, int height, std::string& why);
    ~GlDevice() override;

    bool clear(const scene::ViewportData& viewport, scene::Color background, unsigned flags) override;
    bool render(const scene::ViewportData& viewport, const scene::FrameData& root) override;
    bool present() override;

    // The target's top rows as the player sees them.
    bool readTop(int rows, QImage& out);

    std::function<void()> onPresent;   // the view schedules a repaint; nothing waits
    std::function<void()> onGone;      // the view lets go of its pointer

private:
    GlDevice() = default;
    bool makeCurrent();

    std::unique_ptr<QOpenGLContext> context_;
    std::unique_ptr<QOffscreenSurface> surface_;
    std::unique_ptr<scene::GlRenderer> renderer_;
};

}  // namespace hopshot
