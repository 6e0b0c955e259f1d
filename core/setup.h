// The game setup: the world's start values and the whole 3D scene, made afresh for every game.
#pragma once

#include "core/game.h"

namespace hopshot {

void gameSetup(Game& g);    // builds the world and the whole 3D scene afresh; running = -1

// Mesh files, with the separator the game puts before each name.
inline constexpr const char* kMeshFiles[] = {
    "/zibzib.x", "/ground.x", "/bomb.x", "/gun.x", "/gun2.x", "/blood.x", "/tank.x", "/tank2.x"};

constexpr scene::Color kSky{0.5f, 0.5f, 0.8f};   // the scene's background colour at rest

// Out of sight: an idle thing's frame waits at x = kIdleX.
void park(const scene::Frame& f);

// The light at rest: above the near left corner, looking at the ground.
void lightAtRest(Game& g);

// "Score :" or "Time :" followed by the number as the player sees it.
std::string captionNumber(const char* prefix, long value);

}  // namespace hopshot
