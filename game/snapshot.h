// A game saved between two frame steps and put back exactly as it stood, so that steps can be
// run again from there (network play corrects a prediction this way). Saved is everything a
// frame step and the events before it read and write: the world, the generator, the joystick
// module's state, and the frames the rules move with the scene's background. No rule reads a
// frame back, so the frames matter to the picture alone; but a restored game draws as it did.
// Not saved: what the rules never change in a game (meshes, lights, the frames' tree, the ground
// and the tank bases), the viewport (the drawing's own), and what lies outside the Game: the
// labels, the sounds already playing, the readings of whatever joysticks the events set. The
// world's lastTick, the frame loop's clock reading, is left as it stands by a restore.
#pragma once

#include "core/game.h"

#include <array>

namespace hopshot {

struct GameSnapshot {
    World w;
    Rng::Saved rng;
    Controller controller;

    // The frames the passes move or turn, each in its own parent's coordinates.
    scene::Placement camera;     // chase camera, jolts, the overview
    scene::Placement light;      // the flicker, the bomb's light, the light at rest
    scene::Placement bomb;       // rolls, wobbles and spins
    std::array<scene::Placement, kPlayers> tankBodies;    // the aim pose turns them
    std::array<scene::Placement, kPlayers> shells;       // flight, the charging jitter
    std::array<scene::Placement, kPlayers> heavyShells;
    std::array<scene::Placement, kHoppers> hoppers;
    std::array<scene::Placement, kBlood> blood;
    scene::Color sky;            // the scene root's background: the red flash
};

// Both reuse the snapshot's buffers: once a snapshot has been saved into, saving into it again
// allocates nothing. A snapshot belongs to the game it was saved from, between its setup and its
// teardown: the frames it puts back are the ones that game's setup made.
void save(const Game& g, GameSnapshot& out);
void restore(Game& g, const GameSnapshot& in);

}  // namespace hopshot
