// The lockstep exchange of one network game, apart from the wire: every machine's commands for
// each frame step, merged once all are in, and the fingerprints of the world after each step,
// compared across machines.
#pragma once

#include "core/commands.h"
#include "core/world.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hopshot {

using Players = std::array<bool, kPlayers>;   // players 1..4 a machine brings

constexpr int kMaxMachines = 4;                // host included
constexpr int kMaxDelay = 10;                  // input delay in steps, at most
constexpr long kMaxStepLimit = 1000000000;     // the largest step limit a start may carry
// A machine that predicts runs at most this many steps beyond the last step whose commands from
// every machine it holds; its fingerprints name the step this far behind the one it runs.
constexpr long kRunAhead = 8;

std::string playersDigits(const Players& p);                 // "1010"
std::string playersList(const Players& p);                   // "1 3"

// The commands that let go of a machine's players' controls when it leaves: steering and fire let
// go, sticks centred with no buttons.
StepCommands releaseCommands(const Players& p);

class Lockstep {
public:
    // A game begins: its number, the input delay D in steps and its machines, host first, then
    // the guests in join order, with the players each brings. Steps 1..D hold no commands. With
    // `predicts`, machines run ahead of the others (see kRunAhead).
    void begin(int game, int delay, const std::vector<int>& machines,
               const std::vector<Players>& players, bool predicts = false);
    int game() const { return game_; }
    int delay() const { return delay_; }
    bool predicts() const { return predicts_; }
    // A step sent carries the fingerprint of the step this many before it.
    long fingerprintLag() const { return delay_ + 1 + (predicts_ ? kRunAhead : 0); }
    const std::vector<int>& machines() const { return machines_; }
    bool inGame(int machine) const;

    // A machine's commands for one step; steps come in order from each machine.
    void put(int machine, long step, const StepCommands& commands);
    long have(int machine) const;   // the last step held from that machine

    // A machine has left: its commands for `from` are `release`, none after; its steps before
    // `from` are still taken as they come. Its fingerprints count no more.
    void drop(int machine, long from, const StepCommands& release);
    bool dropped(int machine) const;

    bool ready(long step) const;             // every machine's commands for the step are in
    // Every machine's own players' slots, and the host's commands from the host; a slot of a
    // player another machine brings, or host commands from a guest, are dropped.
    StepCommands take(long step);
    // The same from what is held so far, nothing let go of: a machine whose commands for the step
    // are not in adds none (its players' controls stay as they are, its joystick where it was).
    StepCommands peek(long step) const;
    long refused(int machine) const;         // slots of that machine dropped so far
    std::vector<std::string> takeNotices();  // the first refused slot of each machine, named

    // The world's fingerprint after `step` on a machine. The host's is the reference: a machine
    // whose fingerprint differs from the host's for the same step disagrees from that step on.
    void fingerprint(int machine, long step, uint64_t hash);
    long disagreesAfter(int machine) const;   // the first such step; 0: none found
    // What a machine said of the world after `step`, while not every machine has.
    std::optional<uint64_t> fingerprintOf(int machine, long step) const;
    std::vector<int> disagreeing() const;     // the machines that disagree with the host

private:
    struct Stream {
        std::map<long, StepCommands> bundles;
        long have = 0;
        long droppedFrom = 0;   // 0: still playing
        Players players{};
        long refused = 0;
        long disagrees = 0;     // the first step its fingerprint differed from the host's
    };
    const Stream* stream(int machine) const;
    // Adds the slots of `s`'s bundle for `step` that are its own to `merged`; what is not, to
    // `foreign` (its first player, or -1 for the host's commands), when asked.
    static void merge(const Stream& s, bool fromHost, const StepCommands& bundle, StepCommands& merged,
                      std::vector<int>* foreign);

    int game_ = 0;
    int delay_ = 1;
    bool predicts_ = false;
    std::vector<int> machines_;
    std::map<int, Stream> streams_;
    std::map<long, std::map<int, uint64_t>> hashes_;   // step -> machine -> fingerprint
    std::vector<std::string> notices_;
};

}  // namespace hopshot
