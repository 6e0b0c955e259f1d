// Games on the LAN: a hosting machine says once a second, to its LAN's broadcast addresses, that
// it hosts a game; a machine that wants to join listens a moment and gathers what it hears. The
// announcements go with a time to live of 1, so no router passes them on.
//
// An announcement is one datagram of at most 73 bytes:
//   magic    4 bytes  'h' 's' 'l' 'g'
//   version  1 byte   kLanVersion
//   name     1 byte of length (1..kMaxHostName), then the host's name in printable ASCII
//   machines 1 byte   machines in the game, the host included (1..4)
//   free     1 byte   the players nobody brings yet, bit p for player p + 1 (0..15)
//   port     2 bytes  the game's port, high byte first (1..65535)
// Whatever else arrives on the port (a stranger's junk, a later version) is dropped unread.
#pragma once

#include "net/lockstep.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hopshot {

constexpr uint16_t kLanPort = 7312;        // where games are announced and heard
constexpr uint8_t kLanVersion = 1;
constexpr size_t kMaxHostName = 63;        // characters of a host's name, longer ones cut
constexpr int kAnnounceEveryMs = 1000;     // at most one announcement a second
constexpr int kLanListenMs = 1500;         // how long a joining machine listens
constexpr size_t kMaxLanGames = 16;        // games kept while listening; more are not taken
constexpr size_t kMaxLanTargets = 16;      // broadcast addresses an announcement goes to

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

// The host's voice: a UDP socket that sends the announcement to the targets on `port`, at most
// once every kAnnounceEveryMs. Failing sends are let go: no LAN, no one to hear.
class LanAnnouncer {
public:
    // No targets: the LAN's broadcast addresses, looked up again at each announcement.
    explicit LanAnnouncer(uint16_t port, std::vector<uint32_t> targets = {});
    ~LanAnnouncer();
    LanAnnouncer(const LanAnnouncer&) = delete;
    LanAnnouncer& operator=(const LanAnnouncer&) = delete;

    // Sends `a` when the last announcement is kAnnounceEveryMs old (nowMs: any clock in ms).
    void step(uint32_t nowMs, const LanAnnouncement& a);
    bool due(uint32_t nowMs) const { return !once_ || nowMs - lastMs_ >= uint32_t(kAnnounceEveryMs); }
    int sent() const { return sent_; }   // announcements sent

private:
    int fd_ = -1;
    uint16_t port_;
    std::vector<uint32_t> targets_;
    bool once_ = false;
    uint32_t lastMs_ = 0;
    int sent_ = 0;
};

// Listens on `port` (of every address) for waitMs and returns the games heard, one per address
// and port, the latest announcement of each, in the order first heard, at most kMaxLanGames.
// Empty with `error` set when the port cannot be listened on.
std::vector<LanGame> listenForGames(uint16_t port, int waitMs, std::string& error);

// What a joining machine with no address does: listens, and with exactly one game heard, sets
// `address` and `gamePort` to it and `message` to a line saying so; else `message` says what was
// heard (one clear sentence, or the games and how to pick one) and it returns false.
bool pickLanGame(uint16_t port, int waitMs, std::string& address, uint16_t& gamePort,
                 std::string& message);

}  // namespace hopshot
