// One machine's network session over ENet: the host listens and takes up to three guests; a
// guest joins one host. Guests talk only to the host, which passes each guest's steps on to the
// others. The session's own messages (join, roster, start, leaving) are reliable and in order;
// the steps go unreliably, each packet repeating every step its peer has not yet confirmed, so
// that a lost packet is made good by the next one instead of by a late resend. A session
// outlives its games.
//
// Under it is one link (net/link.h: pacing, the steps' history and confirmations, budgets);
// over it, the host's or the guest's machine, each with its states and moves in one table
// (net/session_states.h): the host in host_session.cpp, the guest in guest_session.cpp.
#pragma once

#include "net/link.h"
#include "net/lockstep.h"
#include "net/messages.h"
#include "net/session_states.h"
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
// ... within kHeldBackWindowMs (net/link.h) is dropped
constexpr int kPausedHostMs = 15000;  // guest: a paused host that says nothing this long has gone
constexpr int kServiceEvents = 200;   // network events taken in one service() at most
constexpr int kServiceMs = 4;         // ... and its time for them
constexpr size_t kNoticesKept = 64;   // notices waiting to be read, at most
constexpr long kStepWindow = 24;      // steps a machine may send beyond this machine's own
constexpr int kRefusalsTolerated = 20;   // messages that fail their checks, before a machine goes
constexpr size_t kEarlyPackets = 64;     // guest: packets of a game it has not yet begun
constexpr int kGoodbyeMs = 5000;   // host: the longest it waits for its guests' goodbyes

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
    using SideReader = SessionLink::SideReader;
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
    bool gameOn() const;
    void gameOver();                            // this machine's game has ended
    // Guest: the first step of this game where this machine's world differs from the host's.
    long desyncStep() const;
    int autoDelay() const;                      // D from the measured round trip

    // This machine's players change: the host takes them unless another machine brings one
    // (returns why not); a guest asks the host, whose roster answers.
    std::string setOwnPlayers(const Players& wanted);

    void finish();            // host: no more games; guests end their runs
    bool over() const;                          // guest: the host finished or left
    bool hostLeft() const { return guest_.end == GuestEnd::HostLeft; }
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
    uint64_t payloadSent() const { return link_.payloadSent(); }

    // --- the machines ---
    HostState hostState() const { return host_; }
    GuestState guestState() const { return guest_.state; }
    // The last moves of this end's machine ("joined -> in a game on start"), oldest first.
    const std::vector<std::string>& moves() const { return moves_; }
    // What a detached session would have sent, oldest first.
    const std::vector<std::string>& sentDetached() const { return link_.sentDetached(); }

private:
    NetSession() = default;
    // --- both ends (session.cpp) ---
    void handle(LinkPeer& from, const std::string& bytes);
    bool takeSteps(LinkPeer& from, const std::string& bytes, bool& fresh);
    void refuse(LinkPeer& from);
    bool withinBudget(LinkPeer& from, Budget b, size_t bytes);
    void letGo(LinkPeer& from, const std::string& why);
    void dropPeer(ENetPeer* peer, const std::string& why = "");
    void note(const std::string& text);
    void logMove(const char* from, const char* event, const char* to);

    // --- the host's machine (host_session.cpp) ---
    void moveHost(HostEvent e);
    void hostService(uint32_t now);
    Budget guestsBudget(const LinkPeer& from, bool known, MsgKind kind) const;
    bool hostMessage(LinkPeer& from, MsgKind kind, const std::string& bytes);
    void hostHello(LinkPeer& from, const HelloMessage& hello, bool read);
    void limitStrangers(uint32_t now);
    void guestGone(const LinkPeer& gone, const std::string& why);
    void expel(ENetPeer* peer, const std::string& reason);   // tells a guest why, drops it
    void sendRoster();
    void checkDesync();
    void hostProgress(uint32_t now);
    bool heldBackTooLong(LinkPeer& p, uint32_t now, bool holding);
    bool goodbyesDone() const;

    // --- the guest's machine (guest_session.cpp) ---
    void moveGuest(GuestEvent e);
    Budget hostsBudget(bool known, MsgKind kind) const;
    bool guestMessage(MsgKind kind, const std::string& bytes);
    void guestProgress(uint32_t now);
    void sendHello();

    SessionLink link_;
    bool host_side_ = false;
    HostState host_ = HostState::Waiting;
    GuestMove guest_{GuestState::Open, GuestEnd::None};
    std::vector<std::string> moves_;   // the last moves of this end's machine, oldest first
    int self_ = 0;
    std::string version_;
    Players own_{};
    std::vector<Machine> roster_;
    Lockstep lockstep_;
    bool paused_ = false;
    std::vector<std::string> notices_;

    // Host
    std::map<ENetPeer*, uint32_t> handshakes_;   // connections in ENet's handshake, since
    std::map<ENetPeer*, uint32_t> leaving_;      // let go with a goodbye, since
    std::string rosterSent_;         // the last roster that went out
    long stepLimit_ = 0;             // when this game ends
    int nextId_ = 1;
    bool endsDiffered_ = false;
    uint32_t finishingSince_ = 0;    // the goodbye's wait, and its last "over" sent unreliably
    uint32_t overSentAt_ = 0;
    uint32_t lastShort_ = 0;         // ... and when a guest last lacked steps of the last game
    std::unique_ptr<LanResponder> lan_;   // what answers the LAN's finders

    // Guest
    std::string expelled_;
    std::string refusal_;            // the host's reason, while joining
    uint32_t hostStepsAt_ = 0;       // when the host's steps last moved on
    long hostHave_ = 0;
    uint32_t helloAt_ = 0;           // when the hello last went, unreliably
    std::vector<StartMessage> starts_;
    std::vector<std::string> early_;       // packets of a game not yet begun
    std::vector<LeftMessage> earlyLeft_;   // machines let go in a game not yet begun
};

}  // namespace hopshot
