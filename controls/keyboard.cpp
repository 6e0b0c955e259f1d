// Players 1 and 2 on the keyboard. Every test runs on every event, in this order; each one that
// matches applies. A direction key sets its value whatever modifiers are held; releasing it
// clears the value only if it is still the one that key set, so the last direction pressed wins.
#include "controls/keyboard.h"

namespace hopshot {

namespace {

enum : int16_t {
    kVkEscape = 27,
    kVkLeft = 37, kVkUp = 38, kVkRight = 39, kVkDown = 40,
    kVkA = 65, kVkD = 68, kVkF = 70, kVkS = 83, kVkW = 87,
};

}  // namespace

void keyDown(World& w, int16_t key, int16_t mask) {
    if (key == kVkLeft) w.steerX[0] = -1;
    if (key == kVkRight) w.steerX[0] = 1;
    if (key == kVkUp) w.steerY[0] = -1;
    if (key == kVkDown) w.steerY[0] = 1;
    // Player 1 fires with Ctrl alone, read from the mask: Ctrl's own key-down and any key
    // pressed while only Ctrl is held. Held keys repeat, but only an idle state arms.
    if (mask == kMaskCtrl && w.fireState[0] == 0) w.fireState[0] = 1;
    if (key == kVkA) w.steerX[1] = -1;
    if (key == kVkD) w.steerX[1] = 1;
    if (key == kVkW) w.steerY[1] = -1;
    if (key == kVkS) w.steerY[1] = 1;
    if (key == kVkF && w.fireState[1] == 0) w.fireState[1] = 1;
    if (key == kVkEscape) w.running = 0;
}

void keyUp(World& w, int16_t key, int16_t mask) {
    if (key == kVkLeft && w.steerX[0] == -1) w.steerX[0] = 0;
    if (key == kVkRight && w.steerX[0] == 1) w.steerX[0] = 0;
    if (key == kVkDown && w.steerY[0] == 1) w.steerY[0] = 0;
    if (key == kVkUp && w.steerY[0] == -1) w.steerY[0] = 0;
    // Any key coming up with no modifier held releases player 1's fire control.
    if (mask == 0) w.fireState[0] = 0;
    if (key == kVkA && w.steerX[1] == -1) w.steerX[1] = 0;
    if (key == kVkD && w.steerX[1] == 1) w.steerX[1] = 0;
    if (key == kVkS && w.steerY[1] == 1) w.steerY[1] = 0;
    if (key == kVkW && w.steerY[1] == -1) w.steerY[1] = 0;
    if (key == kVkF) w.fireState[1] = 0;
}

}  // namespace hopshot
