// The link under a session, host or guest alike: one ENet socket and its peers, what each peer
// may send in a second, the keep-alives, and the steps: a history of those sent and not yet
// confirmed, sent again at a steady pace in every packet until the peer says it holds them.
// What the messages mean is the session's (net/session.h); the link only carries and counts.
#pragma once

#include "net/lockstep.h"
#include "net/wire.h"

#include <array>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

typedef struct _ENetHost ENetHost;
typedef struct _ENetPeer ENetPeer;

namespace hopshot {

constexpr int kHeldBackWindowMs = 10000;   // the window the held-back rule looks over
constexpr long kHeldSteps = 256;           // steps of one machine kept for peers that lag
constexpr size_t kPacketBudget = 1200;     // bytes of steps in one packet, at most

// What a machine may send in a second, by kind, counted before it is handled (steps only when
// they bring nothing new: the window of steps bounds the rest).
enum Budget { OldSteps, Alives, Hellos, PlayerChanges, Endings, HostNews, HostOther, kBudgets };

// One peer of the link: what the link keeps of it, and what the session judges it by.
struct LinkPeer {
    ENetPeer* peer = nullptr;   // null on a link with no network under it
    int id = -1;                // its machine: -1 until welcomed
    Players players{};
    uint32_t heard = 0;         // when a packet last came from it (ENet's clock, ms)
    uint32_t bytesIn = 0;       // ENet's count of what came from it, at the last look
    uint32_t connectedAt = 0;
    uint32_t saidAt = 0;        // when a message last came from it
    bool ackDue = false;        // it sent steps that it has not yet heard were taken
    std::map<int, long> fingerprintSent;   // by machine: the last step a fingerprint went with
    // Its messages counted in the current second, by budget and in bytes; and those that failed
    // their checks, with the kinds of fault already named (one bit each).
    uint32_t countedFrom = 0;
    std::array<int, kBudgets> counted{};
    uint32_t bytesCounted = 0;
    int refused = 0;
    uint32_t namedFaults = 0;
    // The session's judgement of it in a game: its last step held and when that last changed,
    // whether its steps hold this machine up, and the game it held back, in tenths of a second
    // over the last 10 s (ms counted per slot).
    long lastHave = 0;
    uint32_t progressAt = 0;
    bool holding = false;
    std::array<uint16_t, kHeldBackWindowMs / 100> heldBack{};
    std::array<uint32_t, kHeldBackWindowMs / 100> heldBackSlot{};
    uint32_t holdingFrom = 0, holdCheckedAt = 0;
    // Host: when its change of players was last answered, one waiting for the second to pass,
    // and whether it said it ends its games elsewhere.
    uint32_t answeredAt = 0;
    bool answerDue = false;
    bool saidEnds = false;
};

// A step of a machine as this one keeps it to send: its commands and the fingerprint it carries.
struct HeldStep {
    StepCommands commands;
    bool hasFingerprint = false;
    uint32_t fingerprint = 0;
    uint32_t madeAt = 0;   // when it was made (ENet's clock)
};

uint32_t linkTime();   // ENet's clock, ms
// ENet's own time-out is left long: a link is judged by its silence, so that a burst of lost
// packets under heavy loss does not end it; pings keep a quiet link measured.
void tunePeer(ENetPeer* p);
std::string machineName(int id);   // "the host", "machine 2", ...

class SessionLink {
public:
    using SideReader = std::function<bool(uint32_t address, uint16_t port, std::string_view bytes)>;

    SessionLink() = default;
    SessionLink(const SessionLink&) = delete;
    SessionLink& operator=(const SessionLink&) = delete;
    // Says goodbye to every peer still there (a second at most), then closes the socket.
    ~SessionLink();
    // The socket: on `port` of every address for `peers` peers (a host), or on any port for one
    // (a guest). False when it cannot be had (or the network library cannot start).
    bool listen(uint16_t port, size_t peers);
    bool openOne();
    bool hasSocket() const { return enet_ != nullptr; }
    ENetHost* enet() const { return enet_; }
    // ENet's connect to address:port; null when it cannot be sent.
    ENetPeer* connect(uint32_t address, uint16_t port);
    // The host relays: it passes each guest's steps on, and confirms to each guest its own.
    void setHub(bool hub) { hub_ = hub; }
    void setDetachedRoundTrip(int ms) { detachedRoundTrip_ = ms; }

    // Datagrams on the socket that are not ENet's go to the side reader first.
    void setSideReader(SideReader take);
    void sendSide(uint32_t address, uint16_t port, std::string_view bytes);
    uint16_t localPort() const;
    int socket() const;
    bool socketHoldsData() const;

    // --- peers ---
    std::list<LinkPeer>& peers() { return peers_; }
    const std::list<LinkPeer>& peers() const { return peers_; }
    LinkPeer* find(ENetPeer* peer);
    LinkPeer* findMachine(int id);
    // A peer leaves the list; it stays readable (it may be in use) until clearGone().
    const LinkPeer* bury(ENetPeer* peer);
    const LinkPeer* bury(const LinkPeer& p);
    void clearGone() { gone_.clear(); }
    static bool connected(const LinkPeer& p);
    // Any datagram from a peer counts as hearing it, ENet's own acknowledgements and pings too.
    void noteHeard(uint32_t now);

    // --- sending ---
    void send(ENetPeer* peer, const std::string& bytes);        // reliable, in order
    void sendQuick(ENetPeer* peer, const std::string& bytes);   // unreliable, unsequenced
    void flush();
    // A small unreliable packet on every link now and then, unless packets of steps say the same.
    void sendAlive();
    // What a peer sent, counted per second by kind and in bytes before it is handled (Budget
    // kBudgets: by its bytes alone). False: over a budget, named in `what`.
    bool withinBudget(LinkPeer& from, Budget b, size_t bytes, std::string& what);
    // Messages that went out on a link with no network under it, oldest first (a few hundred).
    const std::vector<std::string>& sentDetached() const { return sentDetached_; }

    // --- steps ---
    // Who plays a game whose steps are kept (the hub sends each peer only its games' steps).
    void playing(int game, const std::vector<int>& machines) { gameMachines_[game] = machines; }
    HeldStep& keep(int game, int machine, long step) { return history_[game][machine][step]; }
    // The peer's packets are of `game` now (an older game's say nothing more).
    void moveOn(int peerId, int game);
    int peerGame(int peerId) const;
    // What a peer says it holds of `game`: `machine`'s steps up to `step` (`fresh` set when that
    // is news). False: it names more machines than a game has.
    bool confirm(int peerId, int game, int machine, long step, bool& fresh);
    void forget(int peerId) { peerHas_.erase(peerId); }
    // Steps every peer that needs them has confirmed are let go of.
    void pruneHistory(int currentGame);
    // A packet of steps is due at the steady pace, or sooner while a step is likely lost.
    bool stepsDue(const Lockstep& game, int self) const;
    // Every peer gets the steps it has not confirmed and what this machine holds of its game.
    void sendSteps(const Lockstep& game, int self);
    bool holdsUnconfirmed() const { return !history_.empty(); }
    // Whether the peer has confirmed every step of `game` kept for it here.
    bool confirmedAll(int peerId, int game) const;

    // --- measures ---
    int roundTripMs(bool joinedOnly) const;
    uint64_t bytesSent() const;
    uint64_t bytesReceived() const;
    uint64_t payloadSent() const { return payloadOut_; }

private:
    struct PeerSteps {   // a peer's latest game and, of that game, each machine's last step
        int game = 0;
        std::map<int, long> steps;
    };
    bool playsIn(int game, int machine) const;
    void limitPackets();

    ENetHost* enet_ = nullptr;
    SideReader side_;
    bool hub_ = false;
    std::list<LinkPeer> peers_;   // host: its guests and strangers; guest: the host
    std::list<LinkPeer> gone_;    // let go while in use: freed at the next clearGone()
    // Step blocks not yet confirmed by every peer that needs them: game -> machine -> step.
    std::map<int, std::map<int, std::map<long, HeldStep>>> history_;
    std::map<int, PeerSteps> peerHas_;               // by peer machine id
    std::map<int, std::vector<int>> gameMachines_;   // who plays each game in history_
    uint32_t lastSteps_ = 0;
    uint32_t lastAlive_ = 0;
    uint64_t payloadOut_ = 0;
    int detachedRoundTrip_ = 0;
    std::vector<std::string> sentDetached_;
};

}  // namespace hopshot
