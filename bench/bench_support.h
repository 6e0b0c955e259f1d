// What the benchmarks share: where the meshes are, the process's CPU time, a game with no picture.
#pragma once

#include "core/host.h"

#include <cstdlib>
#include <ctime>
#include <string>

namespace hopshot::bench {

// The repository's assets, or HOPSHOT_ASSETS when set.
inline std::string assetsDir() {
    const char* dir = std::getenv("HOPSHOT_ASSETS");
    return dir && *dir ? dir : HOPSHOT_ASSETS_DIR;
}

// CPU time of the whole process, Mesa's drawing threads included.
inline double processCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// The game with no picture: the clipper has no window, so no device is made and every render is
// skipped. What is left is the rules and the scene graph. Four players and the live camera.
class NoPicture : public Host {
public:
    bool checked(MenuItem item) const override {
        return item == MenuItem::Player1 || item == MenuItem::Player2 ||
               item == MenuItem::Player3 || item == MenuItem::Player4 ||
               item == MenuItem::LiveCamera;
    }
    void setCaption(Label, const std::string&) override {}
    void show3DView() override {}
    void showTitle() override {}
    void clearWindowSurface() override {}
    scene::Window* picture1() override { return nullptr; }
    int32_t tickCount() override { return 0; }
    void askRecordName(RecordKind) override {}
};

}  // namespace hopshot::bench
