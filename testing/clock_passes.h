// A front end's clock in a test, as the window runs one: every pass of its event loop steps the
// match when the host's clock says so, then runs what the window's handlers would run before the
// next pass (keys, the countdown), until the game stops; then the teardown, unless the program
// ended in those handlers.
#pragma once

#include "game/match.h"
#include "testing/fake_host.h"

#include <functional>

namespace hopshot::testing {

struct Passes {
    std::function<void()> between;   // the handlers after each pass; logged as "pass"
    bool programEnded = false;       // set by them: the program ends, with no teardown
};

// One game from its Start: false when a game already ran (nothing done).
inline bool playPasses(TestGame& t, Passes& p) {
    Match m(t.g);
    if (!m.begin()) return false;
    while (m.running()) {
        m.stepOnClock();
        t.host.log.push_back("pass");
        if (p.between) p.between();
        if (p.programEnded) return true;
    }
    m.end();
    return true;
}

}  // namespace hopshot::testing
