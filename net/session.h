// One machine's network session over ENet: the host listens and takes up to three guests; a
// guest joins one host. Guests talk only to the host, which passes each guest's steps on to the
// others. The session's own messages (join, roster, start, leaving) are reliable and in order;
// the steps go unreliably, each packet repeating every step its peer has not yet confirmed, so
// that a lost packet is made good by the next one instead of by a late resend. A session
// outlives its games.
#pragma once

#include "net/lockstep.h"
#include "net/messages.h"
#include "net/wire.h"

#include <array>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

typedef struct _ENetHost ENetHost;
typedef struct _ENetPeer ENetPeer;

namespace hopshot {

class LanResponder;

constexpr uint16_t kDefaultPort = 7310;
constexpr int kSilenceMs = 3000;   // a machine not heard from for this long is dropped
constexpr int kNoStepsMs = 3000;   // in a game: a machine whose steps hold the others up this long
constexpr int kStartWaitMs = 10000;   // ... or that has not sent its first step of a game
constexpr int kHostStepsMs = 15000;   // guest: the host's steps held up this long end the game
constexpr int kHelloWaitMs = 2000;    // a connection that says no valid hello is let go after this
constexpr int kHandshakeMs = 5000;    // ... and one still in ENet's handshake, after this
constexpr int kStrangers = 12;        // connections not yet joined kept at once, the oldest go
constexpr int kHeldBackMs = 3000;     // a machine that held the game back this long ...
constexpr int kHeldBackWindowMs = 10000;   // ... within this long is dropped
constexpr int kPausedHostMs = 15000;  // guest: a paused host that says nothing this long has gone
constexpr int kServiceEvents = 200;   // network events taken in one service() at most
constexpr int kServiceMs = 4;         // ... and its time for them
constexpr size_t kNoticesKept = 64;   // notices waiting to be read, at most
constexpr long kStepWindow = 24;      // steps a machine may send beyond this machine's own
constexpr long kHeldSteps = 256;      // steps of one machine kept for peers that lag
constexpr int kRefusalsTolerated = 20;   // messages that fail their checks, before a machine goes
constexpr size_t kEarlyPackets = 64;     // guest: packets of a game it has not yet begun
constexpr size_t kPacketBudget = 1200;   // bytes of steps in one packet, at most

// This program's version as machines compare it when one joins another.
std::string programVersion();

struct Machine {
    int id = 0;        // 0 the host; guests 1, 2, ... in join order
    Players players{};
};

class NetSession {
public:
    ~NetSession();
    // Listens on `port` of every address. Null with the reason when the port cannot be had.
    static std::unique_ptr<NetSession> host(uint16_t port, const Players& own,
                                            const std::string& version, std::string& error);
    // Joins the host at address:port: waits up to timeoutMs for its welcome, or until `cancelled`
    // says so (asked every 20 ms). Null with what the player should read when it refuses or does
    // not answer.
    using Cancelled = std::function<bool()>;
    static std::unique_ptr<NetSession> join(const std::string& address, uint16_t port,
                                            const Players& own, const std::string& version,
                                            int timeoutMs, std::string& error, const Cancelled& cancelled = {});

    // Guest: a session with its socket open and no host yet, so that the ways through may use
    // that socket first; joinHost then joins from it.
    static std::unique_ptr<NetSession> openGuest(const Players& own, const std::string& version,
                                                 std::string& error);
    bool joinHost(const std::string& address, uint16_t port, int timeoutMs, std::string& error,
                  const Cancelled& cancelled = {});

    // Datagrams on this session's socket that are not ENet's (the meeting service's, punching
    // probes): each goes to `take` first (IPv4 address and port in host byte order), and those
    // it takes ENet never sees.
    using SideReader = std::function<bool(uint32_t address, uint16_t port, std::string_view bytes)>;
    void setSideReader(SideReader take);
    void sendSide(uint32_t address, uint16_t port, std::string_view bytes);
    uint16_t localPort() const;
    // Where a machine's packets come from; false when it is not connected here.
    bool machineAddress(int id, uint32_t& address, uint16_t& port) const;

    // A session with no network under it, for feeding it messages (fuzzing): one peer, a guest
    // that has not yet said hello (host side) or the host that has welcomed it (guest side).
    // What it would send goes nowhere. It stands for a link of `roundTripMs` (what the delay
    // and a predicting game's reach ahead are worked out from).
    static std::unique_ptr<NetSession> detached(bool host, int roundTripMs = 0);
    // A datagram as it would come from peers_[peer].
    void receive(size_t peer, const std::string& bytes);

    bool isHost() const { return host_side_; }
    int self() const { return self_; }
    const std::vector<Machine>& roster() const { return roster_; }   // in join order
    Players everyonesPlayers() const;
    int socket() const;   // to wake a window's event loop when a packet comes

    // Sends and receives whatever is due; waits up to waitMs for the first packet.
    void service(int waitMs);
    // Host: answers the LAN's finders through `lan` from now until finish().
    void answerOnLan(std::unique_ptr<LanResponder> lan);

    // --- games ---
    void startGame(const StartMessage& m);      // host: tells every machine, then begins
    bool takeStart(StartMessage& m);            // guest: the host has started a game
    void sendStep(long step, const StepCommands& commands, long hashStep, uint64_t hash);
    Lockstep& lockstep() { return lockstep_; }
    bool gameOn() const { return gameOn_; }
    void gameOver() { gameOn_ = false; }        // this machine's game has ended
    // Guest: the first step of this game where this machine's world differs from the host's.
    long desyncStep() const;
    int autoDelay() const;                      // D from the measured round trip

    // This machine's players change: the host takes them unless another machine brings one
    // (returns why not); a guest asks the host, whose roster answers.
    std::string setOwnPlayers(const Players& wanted);

    void finish();            // host: no more games; guests end their runs
    bool over() const { return over_; }         // guest: the host finished or left
    bool hostLeft() const { return hostLeft_; }
    // Guest: why the host dropped this machine (empty: it did not).
    const std::string& expelled() const { return expelled_; }
    // Guest: this machine ends its games after `own` steps, the host's start says `host`; it
    // tells the host so and leaves.
    void leaveForStepLimit(long own, long host);
    // The host holds every machine's game, or lets it go on; no machine is judged by its steps
    // while held. A guest learns it from the host.
    void setPaused(bool on);
    bool paused() const { return paused_; }
    // Host: a machine left because it ends its games at another step than this one.
    bool endsDiffered() const { return endsDiffered_; }

    // Things the player should hear of ("machine 2 (players 2) left"), oldest first.
    std::vector<std::string> takeNotices();

    // --- measures ---
    int roundTripMs() const;   // the slowest peer's mean round trip
    uint64_t bytesSent() const;
    uint64_t bytesReceived() const;
    // What this machine's own messages came to, ENet's headers, acknowledgements and pings not
    // counted (the benchmark's measure of ENet's share).
    uint64_t payloadSent() const { return payloadOut_; }

private:
    // What a machine may send in a second, counted before it is handled (steps only when they
    // bring nothing new: the window of steps bounds the rest).
    enum Budget { OldSteps, Alives, Hellos, PlayerChanges, Endings, HostNews, HostOther, kBudgets };
    struct Peer {
        ENetPeer* peer = nullptr;
        int id = -1;           // -1 until welcomed
        Players players{};
        uint32_t heard = 0;    // when a packet last came from it (ENet's clock, ms)
        uint32_t bytesIn = 0;  // ENet's count of what came from it, at the last look
        bool ackDue = false;   // it sent steps that it has not yet heard were taken
        long lastHave = 0;     // in a game: its last step held, and when that last changed
        uint32_t progressAt = 0;
        bool holding = false;  // its steps hold this machine up
        uint32_t connectedAt = 0;
        int refused = 0;       // its messages that failed their checks
        std::map<int, long> fingerprintSent;   // by machine: the last step a fingerprint went with
        uint32_t countedFrom = 0;              // the second its messages are counted in
        std::array<int, kBudgets> counted{};
        uint32_t bytesCounted = 0;
        uint32_t saidAt = 0;                   // when a message last came from it
        uint32_t answeredAt = 0;               // host: when its change of players was last answered
        bool answerDue = false;                // ... and one is waiting for the second to pass
        bool saidEnds = false;
        uint32_t namedFaults = 0;              // kinds of fault already named, one bit each
        // The game it held back, in tenths of a second over the last 10 s: ms counted per slot.
        std::array<uint16_t, kHeldBackWindowMs / 100> heldBack{};
        std::array<uint32_t, kHeldBackWindowMs / 100> heldBackSlot{};
        uint32_t holdingFrom = 0, holdCheckedAt = 0;
    };
    // A step of a machine as this one keeps it to send: its commands and the fingerprint it carries.
    struct Held {
        StepCommands commands;
        bool hasFingerprint = false;
        uint32_t fingerprint = 0;
        uint32_t madeAt = 0;   // when it was made (ENet's clock)
    };
    // What a peer has confirmed holding: its latest game and, of that game, each machine's last
    // step.
    struct PeerSteps {
        int game = 0;
        std::map<int, long> steps;
    };

    NetSession() = default;
    void handle(Peer& from, const std::string& bytes);
    bool hostMessage(Peer& from, MsgKind kind, const std::string& bytes);
    bool guestMessage(MsgKind kind, const std::string& bytes);
    void hostHello(Peer& from, const HelloMessage& hello, bool read);
    void refuse(Peer& from);
    bool withinBudget(Peer& from, Budget b, size_t bytes);
    void letGo(Peer& from, const std::string& why);
    void note(const std::string& text);
    bool heldBackTooLong(Peer& p, uint32_t now, bool holding);
    void limitStrangers(uint32_t now);
    bool socketHoldsData() const;
    void limitPackets();
    static bool connected(const Peer& p);
    void flush();
    void dropPeer(ENetPeer* peer, const std::string& why = "");
    void expel(ENetPeer* peer, const std::string& reason);   // host: tells a guest why, drops it
    void checkProgress(uint32_t now);
    void send(ENetPeer* peer, const std::string& text);
    void sendRoster();
    void checkDesync();
    void sendSteps();
    bool stepsDue() const;
    void sendAlive();
    bool takeSteps(Peer& from, const std::string& bytes, bool& fresh);
    void pruneHistory();
    bool playsIn(int game, int machine) const;

    ENetHost* enet_ = nullptr;
    SideReader side_;
    bool host_side_ = false;
    int self_ = 0;
    std::string version_;
    Players own_{};
    std::list<Peer> peers_;          // host: its guests; guest: the host
    // Peers let go while one of their messages was being handled: freed at the next service().
    std::list<Peer> gone_;
    std::map<ENetPeer*, uint32_t> handshakes_;   // host: connections in ENet's handshake, since
    std::map<ENetPeer*, uint32_t> leaving_;      // host: let go with a goodbye, since
    std::string rosterSent_;         // host: the last roster that went out
    long stepLimit_ = 0;             // host: when this game ends
    std::vector<Machine> roster_;
    int nextId_ = 1;

    Lockstep lockstep_;
    bool gameOn_ = false;
    std::string expelled_;
    bool endsDiffered_ = false;
    bool paused_ = false;
    uint32_t hostStepsAt_ = 0;       // guest: when the host's steps last moved on
    uint32_t pausedAt_ = 0;          // guest: when the host's pause came
    long hostHave_ = 0;
    std::vector<StartMessage> starts_;
    std::vector<std::string> early_;
    std::vector<LeftMessage> earlyLeft_;   // guest: machines let go in a game not yet begun
    // Step blocks not yet confirmed by every peer that needs them: game -> machine -> step.
    std::map<int, std::map<int, std::map<long, Held>>> history_;
    std::map<int, PeerSteps> peerHas_;   // by peer machine id
    std::map<int, std::vector<int>> gameMachines_;   // host: who plays each game in history_
    uint32_t lastSteps_ = 0;   // guest: steps of a game whose start is not yet taken
    bool over_ = false;
    bool hostLeft_ = false;
    std::vector<std::string> notices_;
    std::string refusal_;            // guest: the host's reason, while joining
    bool welcomed_ = false;
    int detachedRoundTrip_ = 0;      // a detached session's link, in ms
    uint64_t payloadOut_ = 0;
    uint32_t lastAlive_ = 0;
    std::unique_ptr<LanResponder> lan_;   // host: what answers the LAN's finders
};

}  // namespace hopshot
