// The game routine that the Start command runs: setup, frame loop, teardown.
#pragma once

#include "core/game.h"

namespace hopshot {

// The Start command: nothing while a game runs (running is non-zero), else one whole game.
// Returns when that game has ended, or at once when the program ended inside a yield.
void startCommand(Game& g);

void runGame(Game& g);      // setup, then the frame loop
void gameSetup(Game& g);    // builds the world and the whole 3D scene afresh; running = -1
void frameLoop(Game& g);    // one frame step per tick until running drops, then the teardown
void frameStep(Game& g);    // one step: hopper pass, blood pass, player passes, overview view
void teardown(Game& g);     // running = 0, release, title picture back

// Lets go of the 3D scene in the window's fixed order. Safe on empty handles.
void releaseScene(Game& g);

// Mesh files, with the separator the game puts before each name.
inline constexpr const char* kMeshFiles[] = {
    "/zibzib.x", "/ground.x", "/bomb.x", "/gun.x", "/gun2.x", "/blood.x", "/tank.x", "/tank2.x"};

// A number as the player sees it: a leading space when it is not negative, else its minus sign.
std::string signedNumber(long value);
// "Score :" or "Time :" followed by the number so written.
std::string captionNumber(const char* prefix, long value);

}  // namespace hopshot
