// Games on the LAN: a machine that wants to join asks its LAN's broadcast addresses (TTL 1, so
// no router passes it on) whether a game is hosted; each hosting machine listens on kLanPort and
// answers the asking machine alone with its announcement. A host never speaks unasked.
//
// A query is one datagram of exactly kLanQuerySize bytes:
//   magic    4 bytes  'h' 's' 'l' 'q'
//   version  1 byte   kLanVersion
//   padding  zero bytes to kLanQuerySize, so that no answer is larger than the query it answers
// An announcement (the answer) is one datagram of at most kLanQuerySize bytes:
//   magic    4 bytes  'h' 's' 'l' 'g'
//   version  1 byte   kLanVersion
//   name     1 byte of length (1..kMaxHostName), then the host's name in printable ASCII
//   machines 1 byte   machines in the game, the host included (1..4)
//   free     1 byte   the players nobody brings yet, bit p for player p + 1 (0..15)
//   port     2 bytes  the game's port, high byte first (1..65535)
// Whatever else arrives (a stranger's junk, a later version) is dropped unread.
#pragma once

#include "net/lockstep.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace hopshot {

constexpr uint16_t kLanPort = 7312;        // where hosts listen for the finders' queries
constexpr uint8_t kLanVersion = 1;
constexpr size_t kMaxHostName = 63;        // characters of a host's name, longer ones cut
constexpr size_t kLanQuerySize = 4 + 1 + 1 + kMaxHostName + 1 + 1 + 2;   // the longest answer
constexpr int kLanListenMs = 1500;         // how long a finder gathers answers
constexpr int kLanQueries = 3;             // queries a finder sends, spread over its wait
constexpr size_t kMaxLanGames = 16;        // games a finder keeps; more are not taken
constexpr size_t kMaxLanTargets = 16;      // broadcast addresses a query goes to
constexpr int kLanAnswersPerAddress = 4;   // answers a second to one address at most
constexpr int kLanAnswersPerSecond = 20;   // answers a second in all at most
constexpr int kLanReadsPerStep = 64;       // datagrams read in one step at most

struct LanAnnouncement {
    std::string hostName;
    int machines = 1;
    Players free{};
    uint16_t port = 0;
    bool operator==(const LanAnnouncement&) const = default;
};

std::string encodeAnnouncement(const LanAnnouncement& a);
// Null when the bytes are not a whole, valid announcement.
std::optional<LanAnnouncement> decodeAnnouncement(const std::string& bytes);
std::string encodeQuery();
bool isQuery(const std::string& bytes);   // exactly a query of this version, padding and all

// Where a datagram goes: an IPv4 address and a port, both in host byte order.
struct LanPlace {
    uint32_t address = 0;
    uint16_t port = 0;
};

// A game heard: the announcement and where it came from.
struct LanGame {
    LanAnnouncement said;
    uint32_t address = 0;   // IPv4, host byte order
    std::string where() const;   // "ADDRESS:PORT", to join
};

// This machine's host name, cut to what an announcement carries.
std::string lanHostName();

// The LAN's broadcast addresses: 255.255.255.255 and each up interface's own (host byte order).
std::vector<uint32_t> lanBroadcastAddresses();
// Where a finder asks: each of the LAN's broadcast addresses, on `port`.
std::vector<LanPlace> lanQueryPlaces(uint16_t port);

// The host's ear: a UDP socket on `port` of every address (SO_REUSEADDR, so that several hosts
// on one computer all hear a broadcast query) that answers each query with the announcement,
// to the asking address and port alone. Answers are limited per address and in all, each second;
// junk is dropped. When the port cannot be had, error() says so and the game goes on unfound.
class LanResponder {
public:
    explicit LanResponder(uint16_t port);
    ~LanResponder();
    LanResponder(const LanResponder&) = delete;
    LanResponder& operator=(const LanResponder&) = delete;

    const std::string& error() const { return error_; }
    // Reads what has come (at most kLanReadsPerStep datagrams) and answers the queries among it
    // with what `say` builds, called once at most (nowMs: any clock in ms).
    void step(uint32_t nowMs, const std::function<LanAnnouncement()>& say);
    int answered() const { return answered_; }

private:
    bool mayAnswer(uint32_t nowMs, uint32_t address);

    int fd_ = -1;
    std::string error_;
    uint32_t secondStart_ = 0;
    int thisSecond_ = 0;                                  // answers in the current second
    std::vector<std::pair<uint32_t, int>> perAddress_;   // answers to each address this second
    int answered_ = 0;
};

// Asks at `to` kLanQueries times within waitMs and returns the games that answer, one per address
// and port, the latest answer of each, in the order first heard, at most kMaxLanGames.
// Empty with `error` set when no socket can be had.
std::vector<LanGame> findGames(const std::vector<LanPlace>& to, int waitMs, std::string& error);

// What a joining machine with no address does: asks, and with exactly one game answering, sets
// `address` and `gamePort` to it and `message` to a line saying so; else `message` says what was
// heard (one clear sentence, or the games and how to pick one) and it returns false.
bool pickLanGame(const std::vector<LanPlace>& to, int waitMs, std::string& address, uint16_t& gamePort,
                 std::string& message);

}  // namespace hopshot
