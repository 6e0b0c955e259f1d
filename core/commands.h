// What crosses the road into a game, one step at a time: a command per player, exactly what the
// rules read from that player's controls, and the host's commands apart. Several key events of
// one step fold into one command that does what they did one by one (controls/commands.h).
#pragma once

#include "core/world.h"

#include <array>
#include <cstdint>

namespace hopshot {

// A steering value (turn: steerX, gun: steerY) as a step's keys leave it. A key down sets its
// value; a key let go clears the value only where it still holds that key's value.
enum class Aim : uint8_t {
    Keep,         // untouched
    Minus,        // set to -1 (left; gun down)
    Zero,         // set to 0 (a key pressed and let go in the same step)
    Plus,         // set to +1 (right; gun up)
    LetGoMinus,   // back to 0 where it is -1
    LetGoPlus,    // back to 0 where it is +1
    LetGoBoth,    // back to 0 where it is -1 or +1
};
constexpr int kAims = 7;

// The fire control as a step's keys leave it: a press arms an idle control, a let-go idles it.
enum class Fire : uint8_t { Keep, Press, LetGo, LetGoThenPress };
constexpr int kFires = 4;

// A stick as the joystick module polls it (device range 0..65535, bit 0 = button 1).
struct StickReading {
    bool moved = false;   // a new reading this step; else the stick reads as before
    int32_t x = 0, y = 0;
    uint32_t buttons = 0;
    bool operator==(const StickReading&) const = default;
};

struct PlayerCommand {
    Aim turn = Aim::Keep;   // players 1 and 2: steerX
    Aim gun = Aim::Keep;    // players 1 and 2: steerY
    Fire fire = Fire::Keep; // players 1 and 2
    StickReading stick;     // players 3 and 4: their joystick (0 for player 3, 1 for player 4)
    bool empty() const { return turn == Aim::Keep && gun == Aim::Keep && fire == Fire::Keep && !stick.moved; }
    bool operator==(const PlayerCommand&) const = default;
};

// The host's commands, in the order given (a stop before the countdown's tick keeps the tick
// from counting). A menu command is kMenu plus the item's number.
enum HostCommand : uint8_t { kStop = 0, kTick = 1, kMenu = 2 };
constexpr int kMaxHostCommands = 8;   // in one step; more are not kept
constexpr int kHostCommandCodes = kMenu + 8;

struct StepCommands {
    std::array<PlayerCommand, kPlayers> players{};
    std::array<uint8_t, kMaxHostCommands> host{};
    uint8_t hostCount = 0;

    bool empty() const {
        for (const PlayerCommand& p : players)
            if (!p.empty()) return false;
        return hostCount == 0;
    }
    void addHost(uint8_t c) {
        if (hostCount < kMaxHostCommands) host[hostCount++] = c;
    }
    bool operator==(const StepCommands& o) const {
        if (players != o.players || hostCount != o.hostCount) return false;
        for (int i = 0; i < hostCount; ++i)
            if (host[size_t(i)] != o.host[size_t(i)]) return false;
        return true;
    }
};

}  // namespace hopshot
