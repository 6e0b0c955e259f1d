// The window's key-down and key-up handlers: Windows virtual-key codes and the modifier mask
// (1 Shift, 2 Ctrl, 4 Alt) as it stands after the event.
#pragma once

#include "controls/commands.h"
#include "core/world.h"

#include <cstdint>

namespace hopshot {

void keyDown(World& w, int16_t keyCode, int16_t mask);
void keyUp(World& w, int16_t keyCode, int16_t mask);

}  // namespace hopshot
