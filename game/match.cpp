#include "game/match.h"

#include "game/game_routine.h"

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

void Match::end() { teardown(g_); }

}  // namespace hopshot
