// A game fed by events, saved between two frame steps and put back whole: the game's own
// snapshot and what its scripted joysticks report, which the events set and the passes of
// players 3 and 4 read. Saved after step k, it stands before the events for step k + 1.
#pragma once

#include "game/snapshot.h"
#include "play/feed.h"

namespace hopshot {

struct FedGameSnapshot {
    GameSnapshot game;
    ScriptJoysticks::Readings joysticks{};
};

inline void save(const Game& g, const ScriptJoysticks& joysticks, FedGameSnapshot& out) {
    save(g, out.game);
    out.joysticks = joysticks.readings();
}

inline void restore(Game& g, ScriptJoysticks& joysticks, const FedGameSnapshot& in) {
    restore(g, in.game);
    joysticks.setReadings(in.joysticks);
}

}  // namespace hopshot
