// The game setup: the world's start values and the whole 3D scene, made afresh for every game,
// step by step in a fixed order. A step that fails is skipped and the next one runs.
#include "core/setup.h"
#include "core/store16.h"
#include "records/number_text.h"

namespace hopshot {

namespace {

// A handle takes a newly made object only when it was made: a failing statement is skipped.
template <class T>
void keep(std::shared_ptr<T>& handle, std::shared_ptr<T> made) {
    if (made) handle = std::move(made);
}

// A fresh mesh builder in the scratch handle, holding the named mesh file.
void loadMesh(Game& g, const char* file) {
    keep(g.s.meshBuilder, scene::CreateMeshBuilder(g.s.d3drm));
    scene::LoadFromFile(g.s.meshBuilder, g.programDir + file);
}

// A new child of the scene root into handle, showing the mesh in the scratch handle.
void frameWithMesh(Game& g, scene::Frame& handle) {
    keep(handle, scene::CreateFrame(g.s.d3drm, g.s.sceneRoot));
    scene::AddVisual(handle, g.s.meshBuilder);
}

void setUpHopper(Game& g, int i) {
    frameWithMesh(g, g.s.hopperFrames[i]);
    park(g.s.hopperFrames[i]);
    g.w.hopperX[i] = kIdleX;
    g.w.hopperY[i] = 0;
    g.w.hopperZ[i] = 0;
}

}  // namespace

void park(const scene::Frame& f) { scene::SetPosition(f, nullptr, kIdleX, 0, 0); }

void lightAtRest(Game& g) {
    scene::SetPosition(g.s.lightFrame, nullptr, -300, 300, -300);
    scene::LookAt(g.s.lightFrame, g.s.groundFrame, nullptr, 0);
}

std::string captionNumber(const char* prefix, long value) { return prefix + signedNumber(value); }

void gameSetup(Game& g) {
    World& w = g.w;
    SceneHandles& s = g.s;
    Host& host = g.host;

    // Who plays and how the views are laid out are read once, here.
    const MenuItem players[kPlayers] = {MenuItem::Player1, MenuItem::Player2, MenuItem::Player3,
                                        MenuItem::Player4};
    for (int p = 0; p < kPlayers; ++p) w.playerIn[p] = host.checked(players[p]) ? 1 : 0;
    w.liveCamera = host.checked(MenuItem::LiveCamera) ? 1 : 0;
    w.smallScreen = host.checked(MenuItem::SmallScreen) ? 1 : 0;

    host.show3DView();
    w.score = 0;
    w.timeLeft = 60;
    host.setCaption(Label::Time, "Time : 60");
    host.setCaption(Label::Score, "Score : 0");

    // The drawing objects and the 640 x 480 device on Picture1.
    if (!s.dxRoot) s.dxRoot = scene::CreateRoot();
    keep(s.directDraw, scene::DirectDrawCreate(s.dxRoot, ""));
    keep(s.clipper, scene::CreateClipper(s.directDraw, 0));
    scene::SetHWnd(s.clipper, host.picture1());
    keep(s.d3drm, scene::Direct3DRMCreate(s.dxRoot));
    keep(s.device, scene::CreateDeviceFromClipper(s.d3drm, s.clipper, "", scene::kDeviceWidth,
                                                      scene::kDeviceHeight));

    // The wireframe option is applied last and replaces the shading choice.
    scene::SetQuality(s.device, host.checked(MenuItem::SimpleDisplay) ? scene::kQualityFlat
                                                                      : scene::kQualityGouraud);
    if (host.checked(MenuItem::Wireframe)) scene::SetQuality(s.device, scene::kQualityWireframe);
    scene::SetShades(s.device, 32);
    scene::SetDither(s.device, false);

    keep(s.sceneRoot, scene::CreateFrame(s.d3drm, nullptr));
    keep(s.cameraFrame, scene::CreateFrame(s.d3drm, s.sceneRoot));
    keep(s.lightFrame, scene::CreateFrame(s.d3drm, s.sceneRoot));
    keep(s.viewport, scene::CreateViewport(s.d3drm, s.device, s.cameraFrame, 0, 0,
                                             scene::kDeviceWidth, scene::kShownHeight));
    scene::SetSceneBackgroundRGB(s.sceneRoot, kSky.r, kSky.g, kSky.b);

    // Ordinary hoppers share one mesh; the small and the gold hopper have their own.
    loadMesh(g, "/zibzib.x");
    for (int i = 0; i < kSmallHopper; ++i) setUpHopper(g, i);
    loadMesh(g, "/zibzib.x");
    scene::SetColorRGB(s.meshBuilder, 0.5f, 1.0f, 0.5f);
    scene::ScaleMesh(s.meshBuilder, 0.5f, 0.5f, 0.5f);
    setUpHopper(g, kSmallHopper);
    loadMesh(g, "/zibzib.x");
    scene::SetColorRGB(s.meshBuilder, 1.0f, 1.0f, 1.0f);
    scene::ScaleMesh(s.meshBuilder, 1.2f, 1.2f, 1.2f);
    setUpHopper(g, kGoldHopper);

    // The sun, looking at the ground from its rest place.
    keep(s.sunLight, scene::CreateLightRGB(s.d3drm, scene::kLightDirectional, 1, 1, 1));
    scene::AddLight(s.lightFrame, s.sunLight);
    keep(s.groundFrame, scene::CreateFrame(s.d3drm, s.sceneRoot));
    loadMesh(g, "/ground.x");
    scene::ScaleMesh(s.meshBuilder, 3, 3, 3);
    scene::AddVisual(s.groundFrame, s.meshBuilder);
    lightAtRest(g);   // the light's place is its own: where the ground is made does not move it

    // No bomb.
    keep(s.bombFrame, scene::CreateFrame(s.d3drm, s.sceneRoot));
    loadMesh(g, "/bomb.x");
    scene::AddVisual(s.bombFrame, s.meshBuilder);
    park(s.bombFrame);
    w.bombX = kIdleX;
    w.bombZ = 0;
    w.bombSpin = 0;

    // A taking-part player's shell frame stays where it was made until its first flight step.
    loadMesh(g, "/gun.x");
    scene::ScaleMesh(s.meshBuilder, 0.5f, 0.5f, 0.5f);
    for (int p = 0; p < kPlayers; ++p) {
        frameWithMesh(g, s.shellFrames[p]);
        w.shellX[p] = kIdleX;
        w.shellY[p] = w.shellZ[p] = 0;
        w.shellVX[p] = w.shellVY[p] = w.shellVZ[p] = 0;
        if (w.playerIn[p] == 0) park(s.shellFrames[p]);
    }

    loadMesh(g, "/gun2.x");
    scene::ScaleMesh(s.meshBuilder, 0.5f, 0.5f, 0.5f);
    for (int p = 0; p < kPlayers; ++p) {
        frameWithMesh(g, s.heavyShellFrames[p]);
        park(s.heavyShellFrames[p]);
    }

    // The particle frames are placed by the first blood pass, not here.
    loadMesh(g, "/blood.x");
    scene::ScaleMesh(s.meshBuilder, 0.5f, 0.5f, 0.5f);
    for (int k = 0; k < kBlood; ++k) {
        frameWithMesh(g, s.bloodFrames[k]);
        w.bloodX[k] = kIdleX;
        w.bloodY[k] = w.bloodZ[k] = 0;
        w.bloodVX[k] = w.bloodVY[k] = w.bloodVZ[k] = 0;
    }

    // Every tank has mesh builders of its own.
    for (int p = 0; p < kPlayers; ++p) {
        keep(s.tankBodyFrames[p], scene::CreateFrame(s.d3drm, s.sceneRoot));
        loadMesh(g, "/tank.x");
        scene::AddVisual(s.tankBodyFrames[p], s.meshBuilder);
        keep(s.tankBaseFrames[p], scene::CreateFrame(s.d3drm, s.sceneRoot));
        loadMesh(g, "/tank2.x");
        scene::AddVisual(s.tankBaseFrames[p], s.meshBuilder);
    }

    scene::SetOrientation(s.cameraFrame, nullptr, 0, 0, 1, 0, 1, 0);

    // The tanks stand in their row; those of players not taking part are parked.
    for (int p = 0; p < kPlayers; ++p) {
        w.tankHeading[p] = 90;
        w.gunElevation[p] = 0;
        w.damageTimer[p] = 0;
        w.fireState[p] = 0;
        w.charge[p] = 0;
        scene::SetPosition(s.tankBodyFrames[p], nullptr, tankX(p), kTankY, kTankZ);
        scene::SetPosition(s.tankBaseFrames[p], nullptr, tankX(p), kTankY, kTankZ);
        if (w.playerIn[p] == 0) {
            park(s.tankBodyFrames[p]);
            park(s.tankBaseFrames[p]);
        }
    }

    w.flickerTimer = 0;
    w.flashTimer = 0;
    w.lastTick = host.tickCount();
    w.running = kRunning;
}

}  // namespace hopshot
