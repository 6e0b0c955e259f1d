// One Game for the life of the window: the world, the 3D handles, the random generator, and the
// window and sound it reaches through small interfaces. Every rule is a free function over Game&.
#pragma once

#include "core/host.h"
#include "core/rng.h"
#include "core/world.h"
#include "core/joystick_seam.h"
#include "scene/scene.h"

#include <array>
#include <string>

namespace hopshot {

// The window's 3D handles. The setup makes them anew for every game; the release routine lets
// go of all but tankBaseFrames, meshBuilder and dxRoot, which the next setup replaces.
struct SceneHandles {
    scene::Root dxRoot;               // made on first use, kept for the life of the window
    scene::DrawObject directDraw;
    scene::Clipper clipper;           // bound to Picture1
    scene::RetainedMode d3drm;
    scene::Device device;             // 640 x 480
    scene::Viewport viewport;         // the most recently made viewport
    scene::Frame sceneRoot;
    scene::Frame cameraFrame;         // the one camera, shared by every viewport
    scene::Frame lightFrame;          // carries sunLight
    scene::Frame groundFrame;
    scene::Frame bombFrame;
    std::array<scene::Frame, kPlayers> tankBodyFrames;    // turn with the aim ("tank.x")
    std::array<scene::Frame, kPlayers> tankBaseFrames;    // never turned ("tank2.x")
    std::array<scene::Frame, kPlayers> shellFrames;       // "gun.x"
    std::array<scene::Frame, kPlayers> heavyShellFrames;  // the charged-shot glow, "gun2.x"
    std::array<scene::Frame, kHoppers> hopperFrames;
    std::array<scene::Frame, kBlood> bloodFrames;
    scene::MeshBuilder meshBuilder;   // scratch: a new one before every mesh load
    scene::Light sunLight;
};

struct Game {
    Game(Host& host, SoundOut& sound, std::string programDir)
        : host(host), sound(&sound), programDir(std::move(programDir)) {}

    World w;
    SceneHandles s;
    Rng rng;
    Host& host;
    SoundOut* sound;          // where the rules' sounds go; never null. A silent step sends
                              // them elsewhere for its length and puts this back.
    std::string programDir;   // mesh files are loaded from here
    Controller controller;                 // the joystick module's state
    JoystickService* joysticks = nullptr;  // none: every joystick reads centred
};

// Play bank k (0 "gun.wav" .. 7 "time.wav").
inline void playBank(Game& g, int bank) { g.sound->play(bank); }

// For its lifetime the rules' sounds go to `instead`, then to the game's own sound again: steps
// run again, and the events handed to the game before them (a countdown tick sounds too), are
// not heard twice.
class SoundRedirect {
public:
    SoundRedirect(Game& g, SoundOut& instead) : g_(g), heard_(g.sound) { g.sound = &instead; }
    ~SoundRedirect() { g_.sound = heard_; }
    SoundRedirect(const SoundRedirect&) = delete;
    SoundRedirect& operator=(const SoundRedirect&) = delete;

private:
    Game& g_;
    SoundOut* heard_;
};

}  // namespace hopshot
