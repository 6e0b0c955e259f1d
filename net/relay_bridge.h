// ENet through the relay, with no change to ENet: for each remote machine reached through the
// relay, a UDP socket on 127.0.0.1 stands in for it. ENet sends to that socket as if it were the
// machine and hears the machine's datagrams from it; the bridge carries them between the socket
// and the relay's allocation. A host serves every relayed guest with one allocation (a
// permission and a channel each). Only this machine's own ENet socket may use the stand-ins:
// anything else arriving on them is dropped.
#pragma once

#include "net/turn_client.h"

#include <cstdint>
#include <string>
#include <vector>

namespace hopshot {

constexpr int kReadsPerStandIn = 64;   // datagrams taken from one stand-in in one service

class RelayBridge {
public:
    // ENet's own socket is 127.0.0.1:enetPort. The relay client stays the caller's, and must
    // outlive the bridge (the bridge is its receiver until then).
    RelayBridge(turn::Client& relay, uint16_t enetPort);
    ~RelayBridge();
    RelayBridge(const RelayBridge&) = delete;
    RelayBridge& operator=(const RelayBridge&) = delete;

    // A stand-in for the machine at `peer` (its relayed address): the 127.0.0.1 port ENet
    // reaches it by. 0 with why when the relay takes no more peers or no socket can be had.
    uint16_t add(const turn::Address& peer, std::string& error);
    // The machine has left: its stand-in closes and the relay forgets it.
    void remove(const turn::Address& peer);
    // Passes what ENet sent on to the relay, then lets the relay client read and send.
    void service(int64_t nowMs);

    long dropped() const { return dropped_; }   // datagrams from strangers, or refused by the relay
    long carried() const { return carried_; }   // datagrams passed either way

private:
    struct StandIn {
        turn::Address peer;
        int socket = -1;
        uint16_t port = 0;
    };
    void arrive(const turn::Address& peer, std::string_view payload);

    turn::Client& relay_;
    uint16_t enetPort_;
    std::vector<StandIn> standIns_;
    long dropped_ = 0, carried_ = 0;
};

}  // namespace hopshot
