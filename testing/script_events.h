// Events for tests, as a script's `at` lines would give them.
#pragma once

#include "play/script.h"

namespace hopshot::testing {

inline ScriptEvent key(bool down, int code, int mask) {
    ScriptEvent e;
    e.kind = down ? ScriptEvent::Kind::KeyDown : ScriptEvent::Kind::KeyUp;
    e.keyCode = int16_t(code);
    e.mask = int16_t(mask);
    return e;
}

inline ScriptEvent eventOf(ScriptEvent::Kind kind) {
    ScriptEvent e;
    e.kind = kind;
    return e;
}

inline ScriptEvent joy(int j, int x, int y, int buttons) {
    ScriptEvent e = eventOf(ScriptEvent::Kind::Joy);
    e.joystick = j;
    e.x = x;
    e.y = y;
    e.buttons = uint32_t(buttons);
    return e;
}

}  // namespace hopshot::testing
