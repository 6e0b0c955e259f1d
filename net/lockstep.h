// The lockstep exchange of one network game, apart from the wire: every machine's events for each
// frame step, merged in a fixed order once all are in, and the fingerprints of the world after
// each step, compared across machines.
#pragma once

#include "core/world.h"
#include "replay/script.h"

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace hopshot {

using Players = std::array<bool, kPlayers>;   // players 1..4 a machine brings

constexpr int kMaxMachines = 4;                // host included
constexpr int kMaxDelay = 10;                  // input delay in steps, at most
constexpr long kMaxStepLimit = 1000000000;     // the largest step limit a start may carry

std::string playersDigits(const Players& p);                 // "1010"
bool parsePlayersDigits(std::string_view s, Players& p);
std::string playersList(const Players& p);                   // "1 3"

// The events that let go of a machine's players' controls when it leaves: steering 0 and fire up.
// Player 2's key-ups carry Shift, so that they do not also let go of player 1's fire.
std::vector<ScriptEvent> releaseEvents(const Players& p);

// Whether an event read on a machine bringing `mine` goes to the game, made to touch only those
// players: the arrows, Ctrl and other keys are player 1's, A D W S F player 2's, joystick 0
// player 3's and joystick 1 player 4's. A machine without player 1 sends its keys without Ctrl
// and its key-ups with Shift, so they neither arm nor release player 1's fire.
bool ownEvent(const Players& mine, ScriptEvent& e);

// The rule where steps are merged, the same on every machine: whether an event from a machine
// bringing `brings` counts. Keys count when every player they move, as the key handlers read
// them with their modifier mask, is the machine's own (a player 2 key let go with no modifier
// counts for player 2, as in one window, though it lets go of player 1's fire too); a joystick's reading when the player
// that reads it (3 for joystick 0, 4 for joystick 1) is; Esc, countdown ticks and menu commands
// only from the host.
bool counts(const Players& brings, bool fromHost, const ScriptEvent& e);

class Lockstep {
public:
    // A game begins: its number, the input delay D in steps and its machines, host first, then
    // the guests in join order, with the players each brings. Steps 1..D hold no events.
    void begin(int game, int delay, const std::vector<int>& machines,
               const std::vector<Players>& players);
    int game() const { return game_; }
    int delay() const { return delay_; }
    const std::vector<int>& machines() const { return machines_; }
    bool inGame(int machine) const;

    // A machine's events for one step; steps come in order from each machine.
    void put(int machine, long step, std::vector<ScriptEvent> events);
    long have(int machine) const;   // the last step held from that machine

    // A machine has left: its events for `from` are `release`, none after; its steps before
    // `from` are still taken as they come. Its fingerprints count no more.
    void drop(int machine, long from, std::vector<ScriptEvent> release);
    bool dropped(int machine) const;

    bool ready(long step) const;             // every machine's events for the step are in
    // Merged in machine order, each step tagged; what does not count (see counts()) is dropped.
    std::vector<ScriptEvent> take(long step);
    long refused(int machine) const;         // events of that machine dropped so far
    std::vector<std::string> takeNotices();  // the first refused event of each machine, named

    // The world's fingerprint after `step` on a machine. The host's is the reference: a machine
    // whose fingerprint differs from the host's for the same step disagrees from that step on.
    void fingerprint(int machine, long step, uint64_t hash);
    long disagreesAfter(int machine) const;   // the first such step; 0: none found
    std::vector<int> disagreeing() const;     // the machines that disagree with the host

private:
    struct Stream {
        std::map<long, std::vector<ScriptEvent>> bundles;
        long have = 0;
        long droppedFrom = 0;   // 0: still playing
        Players players{};
        long refused = 0;
        long disagrees = 0;     // the first step its fingerprint differed from the host's
    };
    const Stream* stream(int machine) const;

    int game_ = 0;
    int delay_ = 1;
    std::vector<int> machines_;
    std::map<int, Stream> streams_;
    std::map<long, std::map<int, uint64_t>> hashes_;   // step -> machine -> fingerprint
    std::vector<std::string> notices_;
};

}  // namespace hopshot
