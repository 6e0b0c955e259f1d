// The one translator from a machine's keys and sticks to player commands, on the machine where
// they happen. A key's event becomes what the key handlers read from it: the arrows and Ctrl are
// player 1's, A D W S F player 2's, Esc the host's stop; joystick 0 is player 3's, 1 player 4's.
// Commands of one step fold in order, so a step's keys gathered into one command do exactly
// what they did one by one.
#pragma once

#include "core/commands.h"
#include "core/world.h"

#include <array>
#include <cstdint>

namespace hopshot {

// Windows virtual-key codes and the modifier mask (1 Shift, 2 Ctrl, 4 Alt) as it stands after
// the event.
enum : int16_t {
    kVkCtrl = 17, kVkEscape = 27,
    kVkLeft = 37, kVkUp = 38, kVkRight = 39, kVkDown = 40,
    kVkA = 65, kVkD = 68, kVkF = 70, kVkS = 83, kVkW = 87,
};
constexpr int16_t kMaskShift = 1;
constexpr int16_t kMaskCtrl  = 2;
constexpr int16_t kMaskAlt   = 4;

// What `before` then `next` do, as one.
Aim followedBy(Aim before, Aim next);
Fire followedBy(Fire before, Fire next);
void followedBy(StepCommands& before, const StepCommands& next);

void addKey(StepCommands& c, bool down, int16_t keyCode, int16_t mask);
void addStick(StepCommands& c, int stick, int32_t x, int32_t y, uint32_t buttons);

// Players 1 and 2's turn, gun and fire to the world (players 3 and 4 read their sticks at their
// own passes).
void applyPlayerCommands(World& w, const StepCommands& c);

// What a machine bringing `mine` may send of a step's commands: its own players' slots, and the
// host's commands only from the host. Everything else is left out.
StepCommands ownCommands(const std::array<bool, kPlayers>& mine, bool fromHost, const StepCommands& c);

}  // namespace hopshot
