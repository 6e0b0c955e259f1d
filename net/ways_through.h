// The ways through to a game joined by its invite code, tried in order: the host's LAN
// endpoints, its public endpoint directly, hole punching (both sides at once), and the relay.
//
// Both sides speak the meeting protocol (meet/protocol.h) and the punching probes (net/punch.h)
// on the very socket their ENet host uses, so that what the service sees is what the other side
// must reach. Nothing here owns a socket or knows ENet: the caller sends what `Send` is given,
// feeds back every datagram that is not ENet's, and steps both with a steady clock in ms.
//
// How the host tells "direct" from "punched": it only answers probes for kDirectGraceMs after
// hearing a guest is coming, and sends rounds of its own after that. A guest whose probes reach
// the host before it sends any came straight through its router; one that needed the host's
// rounds came through a punched hole.
#pragma once

#include "meet/protocol.h"
#include "net/punch.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace hopshot::net {

constexpr int kMeetResendMs = 1000;    // a request unanswered for this long goes again
constexpr int kMeetSilentMs = 4000;    // ... and the service counts as silent after this
constexpr int kDirectGraceMs = 600;    // host: only answering probes, before punching itself
constexpr int kMaxComing = 4;          // host: guests being punched toward at once
constexpr size_t kMaxSideDatagrams = 64;   // datagrams taken in one step, beyond them dropped

enum class Path { None, Lan, Direct, Punched, Relayed };
const char* pathName(Path p);   // "lan", "direct", "punched", "relayed"

using SideSend = std::function<void(const meet::Endpoint& to, std::string_view bytes)>;

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

    const std::string& code() const { return code_; }   // empty until registered
    const std::string& failure() const { return failure_; }   // one sentence; empty while well
    // How a guest whose ENet connection came from `from` got through.
    Path pathOf(const meet::Endpoint& from) const;

private:
    struct Coming {
        meet::Endpoint publicEndpoint;
        std::vector<meet::Endpoint> lan;
        std::unique_ptr<Puncher> puncher;
        int64_t roundsFromMs = 0;
        bool sentRounds = false;    // this side had to punch before the guest got through
        bool throughEarly = false;  // a probe of the guest's reached this side before its rounds
    };
    void fail(const std::string& sentence);
    void guestComing(const meet::Message& m, int64_t nowMs);

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
};

// The guest: looks the code up, then tries the host's endpoints until one answers.
class GuestWays {
public:
    enum class State { Looking, Trying, Through, Failed };
    GuestWays(meet::Endpoint service, std::string code, std::vector<meet::Endpoint> lan, SideSend send,
              PunchLimits limits = {});

    void step(int64_t nowMs);
    bool take(const meet::Endpoint& from, std::string_view bytes, int64_t nowMs);

    State state() const { return state_; }
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
};

// The meeting service's endpoint from "HOST[:PORT]" (a name or numeric IPv4; the port defaults
// to the service's own). Empty with why when it cannot be found.
std::optional<meet::Endpoint> resolveMeet(const std::string& text, std::string& why);

}  // namespace hopshot::net
