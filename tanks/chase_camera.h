// The tank's aim pose and the chase camera behind it, placed afresh in every player pass.
#pragma once

#include "core/game.h"

namespace hopshot {

void aimPose(Game& g, int p);
void chaseCamera(Game& g, int p);

}  // namespace hopshot
