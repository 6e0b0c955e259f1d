// The joystick module: finds a usable joystick when the window loads, takes the dead-zone
// thresholds from it, and reduces a joystick's reading to -1, 0 or 1 per axis and a button mask.
#pragma once

#include "core/joystick_seam.h"
#include "core/world.h"

#include <cstdint>
#include <string>
#include <vector>

namespace hopshot {

void detectJoystick(Controller& c, JoystickService* service, int32_t margin);
void pollJoystick(Controller& c, JoystickService* service);

// Player 3 reads joystick 0 and player 4 joystick 1, at the start of their player passes.
void joystickStep(World& w, Controller& c, JoystickService* service, int p);

// What a game's start says on standard error for a checked player 3 or 4 whose joystick is not
// there, one line each ("3P: no joystick 1"): that player would stand idle with no word why.
std::vector<std::string> missingJoysticks(bool player3, bool player4, JoystickService* service);

}  // namespace hopshot
