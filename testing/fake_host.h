// Fakes at the device line for tests: a window with a scripted clock and a renderer that records
// what it is asked to draw.
#pragma once

#include "core/game.h"
#include "scene/scene.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace hopshot::testing {

struct DrawLog {
    struct Call {
        std::string what;   // "clear", "render", "present"
        int left = 0, top = 0, width = 0, height = 0;
        scene::Color background;
        glm::vec3 camera{0};
        float back = 0;
    };
    std::vector<Call> calls;
    int renderersMade = 0;
    int renderersAlive = 0;
};

class FakeRenderer : public scene::Renderer {
public:
    explicit FakeRenderer(std::shared_ptr<DrawLog> log) : log_(std::move(log)) { ++log_->renderersAlive; }
    ~FakeRenderer() override { --log_->renderersAlive; }
    bool clear(const scene::ViewportData& v, scene::Color bg, unsigned) override {
        log_->calls.push_back({"clear", v.left, v.top, v.width, v.height, bg, {}, v.back});
        return true;
    }
    bool render(const scene::ViewportData& v, const scene::FrameData&) override {
        glm::vec3 cam = v.camera ? scene::worldPose(*v.camera).origin : glm::vec3(0);
        log_->calls.push_back({"render", v.left, v.top, v.width, v.height, {}, cam, v.back});
        return true;
    }
    bool present() override {
        log_->calls.push_back({"present", 0, 0, 0, 0, {}, {}, 0});
        return true;
    }

private:
    std::shared_ptr<DrawLog> log_;
};

class FakeWindow : public scene::Window {
public:
    std::shared_ptr<DrawLog> log = std::make_shared<DrawLog>();
    std::unique_ptr<scene::Renderer> createRenderer(int, int) override {
        ++log->renderersMade;
        return std::make_unique<FakeRenderer>(log);
    }
};

class FakeHost : public Host {
public:
    std::map<MenuItem, bool> marks{{MenuItem::Player1, true}, {MenuItem::LiveCamera, true}};
    std::map<Label, std::string> captions;
    std::vector<std::string> log;                 // "show3D", "title", "clear", "step"
    std::function<int32_t()> clock = [] { return 0; };
    FakeWindow window;
    bool hasWindow = false;
    std::vector<RecordKind> asked;                // the record prompts opened, in order

    void play(std::initializer_list<int> players) {
        for (auto item : {MenuItem::Player1, MenuItem::Player2, MenuItem::Player3, MenuItem::Player4})
            marks[item] = false;
        const MenuItem items[] = {MenuItem::Player1, MenuItem::Player2, MenuItem::Player3,
                                  MenuItem::Player4};
        for (int p : players) marks[items[p]] = true;
    }

    bool checked(MenuItem item) const override {
        auto it = marks.find(item);
        return it != marks.end() && it->second;
    }
    void setCaption(Label l, const std::string& text) override { captions[l] = text; }
    void show3DView() override { log.push_back("show3D"); }
    void showTitle() override { log.push_back("title"); }
    void clearWindowSurface() override { log.push_back("clear"); }
    scene::Window* picture1() override { return hasWindow ? &window : nullptr; }
    int32_t tickCount() override { return clock(); }
    void stepDone() override { log.push_back("step"); }
    void askRecordName(RecordKind kind) override { asked.push_back(kind); }
};

class FakeSound : public SoundOut {
public:
    std::vector<int> played;
    void play(int bank) override { played.push_back(bank); }
};

// A game on fakes, with the meshes of the repository's assets when they are there.
struct TestGame {
    FakeHost host;
    FakeSound sound;
    Game g{host, sound, std::getenv("HOPSHOT_ASSETS") ? std::getenv("HOPSHOT_ASSETS") : "."};
};

}  // namespace hopshot::testing
