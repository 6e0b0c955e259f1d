// The meeting service's state: live codes and per-address budgets, nothing else. It takes one
// datagram at a time and says what to send back; the program around it owns the socket and
// the clock, so tests and the fuzz target drive it without a network.
#pragma once

#include "meet/protocol.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace hopshot::meet {

struct Limits {
    int codeSeconds = 30;             // a code lives this long after its last register or refresh
    int credentialSeconds = 600;      // TURN credentials expire this long after they are handed out
    size_t maxCodes = 10000;          // live codes on the service
    size_t maxCodesPerSource = 4;     // live codes registered from one address
    size_t maxSources = 8192;         // addresses whose budgets are followed at once
    double sourceRate = 10;           // requests a second from one address ...
    double sourceBurst = 20;          // ... and how many may come at once
    double lookupRate = 2;            // lookups a second from one address: guessing codes is slow
    double lookupBurst = 6;
    double globalRate = 2000;         // requests a second on the whole service
    double globalBurst = 4000;
};

constexpr size_t kMaxRelayedGuests = 4;   // per code; the oldest is forgotten first

struct TurnServer {
    Endpoint server;
    std::string secret;
};

struct Outgoing {
    Endpoint to;
    std::string bytes;
};

// Fills bytes with randomness; the program's draws from the OS (getrandom).
using RandomFill = std::function<void(uint8_t*, size_t)>;
void osRandom(uint8_t* bytes, size_t n);

class Service {
public:
    // Without a relay (turn.server.port == 0) answers offer none.
    Service(Limits limits, TurnServer turn, RandomFill random = osRandom);

    // One datagram from `from`; `nowMs` a monotonic clock, `unixNow` the wall clock (seconds,
    // for the credentials' expiry). What to send, each no larger than the datagram taken.
    std::vector<Outgoing> take(const Endpoint& from, std::string_view bytes, int64_t nowMs, int64_t unixNow);

    // Drops the codes whose time ran out and forgets addresses whose budgets are full again.
    void sweep(int64_t nowMs);

    size_t liveCodes() const { return games_.size(); }
    size_t followedSources() const { return sources_.size(); }

private:
    struct Bucket {
        double tokens = 0;
        int64_t lastMs = 0;
        bool spend(double rate, double burst, int64_t nowMs);
        bool full(double rate, double burst, int64_t nowMs) const;
    };
    struct Source {
        Bucket requests, lookups;
        int64_t lastRefusalMs = -1000000;
        size_t codes = 0;
    };
    struct Game {
        HostKey key{};
        Endpoint host;               // public, as last seen
        std::vector<Endpoint> lan;
        GameInfo info;
        uint64_t owner = 0;          // the source that registered it, for its count of codes
        std::vector<Endpoint> relayedGuests;   // who sent Relayed: the only ones told HostRelay
        int64_t expiresMs = 0;
    };

    uint64_t sourceKey(const Endpoint& from) const;
    Source* source(uint64_t key, int64_t nowMs);
    std::string newCode();
    TurnOffer offer(std::string_view code, int64_t unixNow) const;
    void drop(std::unordered_map<std::string, Game>::iterator it);

    Limits limits_;
    TurnServer turn_;
    RandomFill random_;
    Bucket global_;
    std::unordered_map<uint64_t, Source> sources_;
    std::unordered_map<std::string, Game> games_;
};

}  // namespace hopshot::meet
