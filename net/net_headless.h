// Network play without a window: each machine runs its own script's events (and, on the host,
// its settings and games) through the lockstep, writing the same trace as every other machine.
#pragma once

#include "net/lan_games.h"
#include "net/session.h"
#include "play/headless.h"

#include <ostream>
#include <string>

namespace hopshot {

struct NetOptions {
    bool host = false;
    std::string address;      // guest: the host's address; empty: the one game heard on the LAN
    uint16_t port = kDefaultPort;
    uint16_t lanPort = kLanPort;         // where hosts hear the LAN's finders
    int delay = 0;            // plain lockstep delay in steps; 0: the machines predict
    int machines = 2;         // host: the machines, itself included, to wait for before game 1
    int waitMs = 30000;       // host: how long to wait for them; guest: for the host's answer
    std::string code;         // guest: the invite code to join by, instead of the address
    std::string meet;         // the meeting service's HOST[:PORT]; empty: none (by address only)
    bool meetGiven = true;    // named by the player, not the build: a host ends when it fails
};

// Returns 0 when every game ran to its end, 3 when the network ended the run or a game early
// (refused, the host gone, the machines disagreeing), else runHeadless's codes.
int runNetHeadless(const HeadlessOptions& o, const NetOptions& n, std::ostream& out,
                   std::ostream& err);

}  // namespace hopshot
