#include "game/game_routine.h"
#include "game/views.h"
#include "controls/joystick.h"
#include "hoppers/hits.h"
#include "hoppers/life_cycle.h"
#include "tanks/bomb_and_effects.h"
#include "tanks/chase_camera.h"
#include "tanks/weapons.h"

namespace hopshot {

namespace {

// A step run again from a saved state draws nothing: the views only read the state.
enum class Views { Drawn, NotDrawn };

// One taking-part player: controls, aim, fire and flight; the meeting of charged shots; the
// camera behind this player's tank; the shared effects, which so advance once per player; the
// view, drawn with the camera as the jolts left it.
void playerPass(Game& g, int p, Views views) {
    if (p >= 2) joystickStep(g.w, g.controller, g.joysticks, p);
    aimFireAndFly(g, p);
    bombTriggerTest(g, p);
    aimPose(g, p);
    chaseCamera(g, p);
    lightFlicker(g);
    damageShake(g, p);
    redFlash(g);
    bombStep(g);
    if (views == Views::Drawn) playerRender(g, p);
}

// One frame step: the hoppers move and meet what the previous step's player passes left, then
// the blood flies, then each taking-part player aims, fires, sees and is drawn; last the overview
// view when exactly three players take part with the live camera on.
void step(Game& g, Views views) {
    for (int i = 0; i < kHoppers; ++i) {
        hopperLifeStep(g, i);
        hopperHitTests(g, i);   // shells, tanks and bomb as the last player passes left them
    }
    bloodPass(g);
    for (int p = 0; p < kPlayers; ++p)
        if (g.w.playerIn[p] == 1) playerPass(g, p, views);
    if (takingPart(g.w) == 3 && g.w.liveCamera == 1) {
        if (views == Views::Drawn) overviewView(g);
        else overviewCamera(g);
    }
}

}  // namespace

void frameStep(Game& g) { step(g, Views::Drawn); }

void silentFrameStep(Game& g, SoundOut& instead) {
    SoundRedirect unheard(g, instead);
    step(g, Views::NotDrawn);
}

void silentFrameStep(Game& g) {
    MutedSound muted;
    silentFrameStep(g, muted);
}

}  // namespace hopshot
