// One game as a front end plays it: the setup when it begins, one frame step each time the front
// end asks, the teardown when it is over. The match owns no clock and never waits: the front end
// decides when a step runs (the window from its timer, a headless run as fast as it goes, a
// network game once a step's commands are in) and hands the game the step's commands first.
#pragma once

#include "core/game.h"

namespace hopshot {

class Match {
public:
    explicit Match(Game& g) : g_(g) {}

    // The Start command's setup: the game runs from here. False, and nothing done, while a
    // game already runs.
    bool begin();
    bool running() const { return g_.w.running != 0; }
    // One frame step. A front end with a clock notes its reading after it in the world's
    // lastTick, the one its next step is measured from.
    void step();
    // The pacing of a front end with a clock (the host's tick count): a step once the clock has
    // passed lastTick + 1, then lastTick is noted as the clock reads after it (a fresh reading,
    // so a slow step slows the game rather than being made up for) and the host told. True: a
    // step ran. Asked as often as the front end likes; a tick skipped is not made up for either.
    bool stepOnClock();
    long steps() const { return steps_; }
    void end();   // the teardown: the title picture back

private:
    Game& g_;
    long steps_ = 0;
};

}  // namespace hopshot
