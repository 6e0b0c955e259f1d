// The ways through to a game joined by its invite code, tried in order: the host's LAN
// endpoints, its public endpoint directly, hole punching (both sides at once), and the relay.
//
// Both sides speak the meeting protocol (meet/protocol.h) and the punching probes (net/punch.h)
// on the very socket their ENet host uses, so that what the service sees is what the other side
// must reach. HostWays and GuestWays own no socket and know no ENet: the caller sends what
// `SideSend` is given, feeds back every datagram that is not ENet's, and steps both with a steady
// clock in ms. HostRelayPump, RelayPump and joinByCode put them to work on real sockets.
//
// How the host tells "direct" from "punched": it only answers probes for kDirectGraceMs after
// hearing a guest is coming, and sends rounds of its own after that. A guest whose probes reach
// the host before it sends any came straight through its router; one that needed the host's
// rounds came through a punched hole.
#pragma once

#include "meet/protocol.h"
#include "net/punch.h"
#include "net/lockstep.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace hopshot {
class NetSession;
class RelayBridge;
namespace turn { class Client; }
}

namespace hopshot::net {

constexpr int kMeetResendMs = 1000;    // a request unanswered for this long goes again
constexpr int kMeetSilentMs = 4000;    // ... and the service counts as silent after this
constexpr int kDirectGraceMs = 600;    // host: only answering probes, before punching itself
constexpr int kMaxComing = 4;          // host: guests being punched toward at once
constexpr int kOpeners = 3;            // host: datagrams toward a relayed guest, to open its router
constexpr int kAllocateMs = 3000;      // the relay's allocation, at most
constexpr int kHostRelayWaitMs = 2000; // guest: waiting for the host's own relayed endpoint
constexpr int kHostRelayAskMs = 700;   // ... and asking again after this

enum class Path { None, Lan, Direct, Punched, Relayed };
const char* pathName(Path p);   // "lan", "direct", "punched", "relayed"

using SideSend = std::function<void(const meet::Endpoint& to, std::string_view bytes)>;
// Asked at every turn of a wait that a player may call off; empty: never.
using Cancelled = std::function<bool()>;

// The endpoints of this machine's own IPv4 interfaces (loopback left out) at `port`, at most
// meet::kMaxLan.
std::vector<meet::Endpoint> lanEndpoints(uint16_t port);

// One request to the service, sent again until answered or given up.
class MeetRequest {
public:
    void begin(const meet::Message& request, int64_t nowMs);
    // Sends it when due; false once the service has been silent for kMeetSilentMs.
    bool step(int64_t nowMs, const meet::Endpoint& service, const SideSend& send);
    bool waiting() const { return waiting_; }
    bool answers(const meet::Message& m) const { return waiting_ && m.nonce == request_.nonce; }
    void done() { waiting_ = false; }

private:
    meet::Message request_;
    bool waiting_ = false;
    int64_t firstMs_ = 0, nextMs_ = 0;
};

// The host: registers its game, keeps the code alive, ends it, and punches toward each guest the
// service says is coming.
class HostWays {
public:
    HostWays(meet::Endpoint service, std::vector<meet::Endpoint> lan, meet::GameInfo game, SideSend send);

    void step(int64_t nowMs);
    // A datagram from `from`: true when it was the meeting protocol's or a probe (taken).
    bool take(const meet::Endpoint& from, std::string_view bytes, int64_t nowMs);
    // The game's machines or free players changed: the next refresh says so.
    void setGame(uint8_t machines, uint8_t freePlayers);
    // Ends the code at the service (one End, not waited for).
    void end();

    // The host's own allocation, for guests that came through no other way: wanted once a
    // relayed guest waits for it and the service offers a relay (relayOffer()). The caller
    // allocates and says relayReady or relayFailed; each relayed guest then hears, through the
    // service, where to reach this host relay to relay (or that it has no relay of its own).
    bool relayWanted() const;
    const meet::TurnOffer& relayOffer() const { return turn_; }
    void relayReady(const meet::Endpoint& relayed);
    void relayFailed();
    // The relayed endpoints of the guests that said they are relayed, for the host's relay.
    std::vector<meet::Endpoint> relayedGuests() const;

    const std::string& code() const { return code_; }   // empty until registered
    const std::string& failure() const { return failure_; }   // one sentence; empty while well
    // How a guest whose ENet connection came from `from` got through.
    Path pathOf(const meet::Endpoint& from) const;

private:
    struct Coming {
        meet::Endpoint publicEndpoint;
        std::vector<meet::Endpoint> lan;
        meet::Endpoint relayed;     // its allocation at the relay, once it says so
        std::unique_ptr<Puncher> puncher;
        int64_t roundsFromMs = 0;
        bool sentRounds = false;    // this side had to punch before the guest got through
        bool throughEarly = false;  // a probe of the guest's reached this side before its rounds
        int openers = 0;            // datagrams sent toward its relay
        bool awaitsRelay = false;   // told relayed; not yet told of this host's relay
    };
    void fail(const std::string& sentence);
    void guestComing(const meet::Message& m, int64_t nowMs);
    void tellRelay(Coming& c);

    meet::Endpoint service_;
    std::vector<meet::Endpoint> lan_;
    meet::GameInfo game_;
    SideSend send_;
    MeetRequest request_;
    meet::Type asked_ = meet::Type::Register;
    std::string code_, failure_;
    meet::HostKey key_{};
    int64_t refreshAtMs_ = -1;
    uint32_t nonce_;
    std::vector<Coming> coming_;
    meet::TurnOffer turn_;          // the latest the service offered
    enum class Relay { None, Ready, Failed } relay_ = Relay::None;
    meet::Endpoint relayed_;        // this host's own, once Ready
};

// The guest: looks the code up, then tries the host's endpoints until one answers.
class GuestWays {
public:
    // Relaying: punching gave up and the service offers a relay: the caller allocates there
    // (found().turn) and says relayReady or relayFailed. Telling: the host is being told.
    // Awaiting: the host is told, and its own relayed endpoint may come; without one the host
    // is reached at its public endpoint, its router opened toward this side's relay.
    enum class State { Looking, Trying, Relaying, Telling, Awaiting, Through, Failed };
    GuestWays(meet::Endpoint service, std::string code, std::vector<meet::Endpoint> lan, SideSend send,
              PunchLimits limits = {});

    void step(int64_t nowMs);
    bool take(const meet::Endpoint& from, std::string_view bytes, int64_t nowMs);

    void relayReady(const meet::Endpoint& relayed, int64_t nowMs);
    void relayFailed(const std::string& why);

    State state() const { return state_; }
    bool busy() const { return state_ != State::Through && state_ != State::Failed; }
    const std::string& failure() const { return failure_; }
    Path path() const { return path_; }
    meet::Endpoint through() const { return through_; }   // where the host is reached, once Through
    const meet::Message& found() const { return found_; }

private:
    void fail(const std::string& sentence);

    meet::Endpoint service_;
    std::string code_;
    std::vector<meet::Endpoint> lan_;
    SideSend send_;
    PunchLimits limits_;
    MeetRequest request_;
    State state_ = State::Looking;
    std::string failure_;
    meet::Message found_;
    std::unique_ptr<Puncher> puncher_;
    bool heardHostRound_ = false;
    Path path_ = Path::None;
    meet::Endpoint through_;
    meet::Message relayedRequest_;
    int64_t awaitUntilMs_ = 0, askAgainMs_ = 0;
};

// The host's side of the relay on real sockets: its own allocation, made on a thread of its own
// once a relayed guest needs it (the game's loop never waits for the relay), and a stand-in on
// 127.0.0.1 for each relayed guest, which ENet hears the guest from.
class HostRelayPump {
public:
    explicit HostRelayPump(uint16_t enetPort);
    ~HostRelayPump();
    // Starts the allocation when `ways` want one, tells them how it went, and carries each of
    // their relayed guests.
    void step(HostWays& ways);
    // Whether ENet hears a machine from `from` through this relay.
    bool standsIn(const meet::Endpoint& from) const;

private:
    void run(meet::TurnOffer offer);

    uint16_t enetPort_;
    std::thread worker_;
    std::atomic<bool> stop_{false};
    std::atomic<int> state_{0};   // 0 idle, 1 allocating, 2 ready, 3 failed
    bool told_ = false;
    mutable std::mutex lock_;     // the client and the bridge, shared with the worker
    std::unique_ptr<turn::Client> client_;
    std::unique_ptr<RelayBridge> bridge_;
    std::vector<meet::Endpoint> carried_;
    std::vector<uint16_t> standIns_;
};

// The guest's side of the relay on real sockets: an allocation at the offered TURN relay and a
// stand-in on 127.0.0.1 that ENet reaches the host by. A thread of its own carries datagrams
// between them at once, whatever the game's loop is busy with.
class RelayPump {
public:
    // Allocates for the ENet socket on `enetPort`: blocks at most kAllocateMs, or until
    // `cancelled`. Null with why.
    static std::unique_ptr<RelayPump> allocate(const meet::TurnOffer& offer, uint16_t enetPort, std::string& why,
                                               const Cancelled& cancelled = {});
    ~RelayPump();
    meet::Endpoint relayed() const;
    // The 127.0.0.1 port that stands in for `host`; carrying starts. 0 with why.
    uint16_t carryTo(const meet::Endpoint& host, std::string& why);

private:
    RelayPump() = default;
    std::unique_ptr<turn::Client> client_;
    std::unique_ptr<RelayBridge> bridge_;
    std::thread carrier_;
    std::atomic<bool> stop_{false};
};

// Guest: the host behind an invite code, found through the service at `meetService` (HOST[:PORT];
// empty: none named), its way through tried and joined; `path` says which. Blocks for at most
// the service's silence, the punching's rounds, the relay's allocation and `waitMs`, and ends
// within a few tens of ms of `cancelled` in each of them (then null, `problem` saying so). The
// relay's part, when it comes to that, goes to `relay`, which must outlive the session. Null
// with what the player should read.
std::unique_ptr<NetSession> joinByCode(const std::string& meetService, const std::string& code, const Players& own,
                                       int waitMs, std::unique_ptr<RelayPump>& relay, Path& path, std::string& problem,
                                       const Cancelled& cancelled = {});

// The host's side of a game by invite code, on its session's socket: its ways through
// (registration, punching) and its own relay, stepped on every datagram that is not ENet's and
// at every step(). Ends the code and lets the socket go when it goes.
class HostMeeting {
public:
    HostMeeting(NetSession& s, const meet::Endpoint& service, const meet::GameInfo& game);
    ~HostMeeting();
    void step();
    HostWays& ways() { return *ways_; }
    const HostWays& ways() const { return *ways_; }
    // How the guest whose ENet connection came from `from` got through: relayed when this
    // host's own relay carries it.
    Path pathOf(const meet::Endpoint& from) const;

private:
    NetSession& s_;
    std::unique_ptr<HostWays> ways_;
    std::unique_ptr<HostRelayPump> relay_;   // after the ways: it goes first
};

// The meeting service's endpoint from "HOST[:PORT]" (a name or numeric IPv4; the port defaults
// to the service's own). Empty with why when it cannot be found.
std::optional<meet::Endpoint> resolveMeet(const std::string& text, std::string& why);

}  // namespace hopshot::net
