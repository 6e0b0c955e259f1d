// UDP hole punching: two machines behind home routers, each told the other's public endpoint by
// the meeting service, send small probes to each other at once from the very socket the service
// saw. Each home's router takes its machine's outgoing probe as the start of a conversation and
// lets the other's probes in as its answers. A router that gives every destination a new port
// (a "symmetric" NAT) defeats this; then only a relay helps.
//
// A probe is 22 bytes:
//   magic   4 bytes  0x3F 0xFF 'h' 'p' (ENet never writes 0x3FFF, see meet/protocol.h; the
//                    meeting service's own magic ends in 'm')
//   version 1 byte   kPunchVersion
//   kind    1 byte   1: a probe of a round, 2: an answer to one (answers are never answered)
//   mine    8 bytes  the sender's nonce, drawn anew for each attempt, never 0
//   yours   8 bytes  the nonce last heard from the other side, 0 until one was heard
// A side is through when a datagram echoes its own nonce: the other side heard it, so the path
// works both ways, and a stranger who never saw one of its probes cannot fake that. A nonce is
// learnt only from the endpoints the side was told to try, so a stranger cannot slip its own in.
// Every probe of a round heard from those endpoints is answered at once (within a budget), also
// after this side is through: the side that gets through first still carries the other across.
//
// Nothing here knows ENet or owns a socket: the caller sends what `Send` is given and feeds back
// what arrives. `punchOnSocket` does both for a plain UDP socket.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace hopshot::net {

constexpr uint8_t kPunchVersion = 1;
constexpr size_t kPunchProbeSize = 22;   // bytes

struct PunchEndpoint {
    uint32_t address = 0;   // IPv4, host byte order
    uint16_t port = 0;
    bool operator==(const PunchEndpoint&) const = default;
};

struct PunchLimits {
    int intervalMs = 50;    // between two rounds of probes (a round: one probe to each endpoint)
    int rounds = 40;        // rounds before giving up: 2 s at the default interval
    int maxAnswers = 40;    // answers to the other side's probes, at most
    int lingerMs = 150;     // punchOnSocket: once through, answers until the other side is this
                            // long quiet
};

enum class PunchState { Trying, Through, GaveUp };

// Whether a datagram is a punching probe (its magic), whatever else it holds.
bool isPunchDatagram(std::string_view bytes);

class Puncher {
public:
    using Send = std::function<void(const PunchEndpoint& to, std::string_view bytes)>;

    // `theirs`: the other side's endpoints to try (its public one first; at most 8 are kept).
    // `nonce`: this attempt's, 0 to draw one.
    Puncher(std::vector<PunchEndpoint> theirs, Send send, PunchLimits limits = {}, uint64_t nonce = 0);

    // Sends the round of probes that is due at nowMs (a steady clock in milliseconds) and gives up
    // once every round has gone unanswered for an interval. Call at least every interval.
    void tick(int64_t nowMs);
    // A datagram from `from`: true when it was a probe (valid or not), which the caller should
    // then not read as anything else. Once given up, probes are taken and left unanswered.
    bool receive(const PunchEndpoint& from, std::string_view bytes);

    PunchState state() const { return state_; }
    // The endpoint the other side's echoing probe came from, once through.
    PunchEndpoint through() const { return through_; }
    int probesSent() const { return sent_; }     // rounds' probes and answers
    int ignored() const { return ignored_; }     // probes malformed, or from a stranger
    bool lastWasRound() const { return lastWasRound_; }   // the last probe taken was a round's
    // Milliseconds from nowMs until tick has something to do (0: now).
    int msUntilDue(int64_t nowMs) const;

private:
    void sendProbe(const PunchEndpoint& to, uint8_t kind);
    bool isTheirs(const PunchEndpoint& e) const;

    std::vector<PunchEndpoint> theirs_;
    Send send_;
    PunchLimits limits_;
    uint64_t mine_, heard_ = 0;
    PunchState state_ = PunchState::Trying;
    PunchEndpoint through_;
    int rounds_ = 0, answers_ = 0, sent_ = 0, ignored_ = 0;
    bool lastWasRound_ = false;
    int64_t nextRoundMs_ = -1;   // -1: the first tick sends the first round
};

struct PunchResult {
    PunchState state = PunchState::GaveUp;
    PunchEndpoint through;
    int probesSent = 0;
    int elapsedMs = 0;
    int strangers = 0;   // datagrams that were not the other side's probes
};

// The whole attempt on a plain, bound UDP socket: probes and answers until through (and then
// until the other side's probes have stopped for lingerMs, so that it gets through too) or until
// the limits are spent. Blocks for at most (rounds + 1) intervals plus lingerMs; takes every
// datagram that arrives on the socket in that time.
PunchResult punchOnSocket(int fd, const std::vector<PunchEndpoint>& theirs, PunchLimits limits = {});

}  // namespace hopshot::net
