// Players 1 and 2 on the keyboard: each handler is the translator applied at once, so a key does
// the same on one keyboard as it does as a command.
#include "controls/keyboard.h"

namespace hopshot {

namespace {

void applyKey(World& w, bool down, int16_t key, int16_t mask) {
    StepCommands c;
    addKey(c, down, key, mask);
    applyPlayerCommands(w, c);
    if (c.hostCount > 0) w.running = 0;   // Esc: the only host command a key gives
}

}  // namespace

void keyDown(World& w, int16_t key, int16_t mask) { applyKey(w, true, key, mask); }
void keyUp(World& w, int16_t key, int16_t mask) { applyKey(w, false, key, mask); }

}  // namespace hopshot
