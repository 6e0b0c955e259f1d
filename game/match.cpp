#include "game/match.h"

#include "game/game_routine.h"

#include <cstdint>

namespace hopshot {

bool Match::begin() {
    if (running()) return false;
    gameSetup(g_);
    steps_ = 0;
    return true;
}

void Match::step() {
    frameStep(g_);
    ++steps_;
}

bool Match::stepOnClock() {
    World& w = g_.w;
    if (!running() || g_.host.tickCount() < int64_t{w.lastTick} + 1) return false;
    step();
    w.lastTick = g_.host.tickCount();
    g_.host.stepDone();
    return true;
}

void Match::end() { teardown(g_); }

}  // namespace hopshot
