// The players' views on the 640 x 430 picture: the layout, the player render and the overview.
#pragma once

#include "core/game.h"

namespace hopshot {

struct Cell { int left, top, width, height; };   // device pixels from the top left

// Player p's cell for the layout in force: its own quarter, or the whole view when n = 1.
Cell playerCell(int p, bool smallScreen);
Cell wholeViewCell(bool smallScreen);
// The overview view's cell in the free player's place: always the small-screen quarter.
Cell overviewCell(int p);

constexpr float kBackClip = 1200.0f;

void playerRender(Game& g, int p);
// The overview: its camera placed, then drawn. The camera's place is part of what the step
// leaves, so a step that draws nothing still places it.
void overviewCamera(Game& g);
void overviewView(Game& g);

}  // namespace hopshot
