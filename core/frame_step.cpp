#include "core/game_routine.h"
#include "core/views.h"
#include "tanks/chase_camera.h"

namespace hopshot {

namespace {

// One taking-part player aims, sees and is drawn. The camera is placed behind this player's
// tank before the render, so every view shows its own tank.
void playerPass(Game& g, int p) {
    aimPose(g, p);
    chaseCamera(g, p);
    playerRender(g, p);
}

}  // namespace

// One frame step: each taking-part player, 1 to 4 in order, aims, sees and is drawn; then the
// overview view when exactly three players take part with the live camera on.
void frameStep(Game& g) {
    for (int p = 0; p < kPlayers; ++p)
        if (g.w.playerIn[p] == 1) playerPass(g, p);
    if (takingPart(g.w) == 3 && g.w.liveCamera == 1) overviewView(g);
}

}  // namespace hopshot
