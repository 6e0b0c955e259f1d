// The meeting service's protocol: small binary UDP datagrams between a game and `hopshot-meet`.
//
// A game sends and receives them on the very UDP socket its ENet host uses (through ENetHost's
// `intercept`), so the address and port the service sees are the ones a guest must reach.
//
// Every datagram starts with the same ten bytes:
//   magic   4 bytes  0x3F 0xFF 'h' 'm'
//   version 1 byte   kVersion; an answer to a request of another version is an Error
//                    (BadVersion) carrying the service's own version here
//   type    1 byte   Type below
//   nonce   4 bytes  chosen by the requester, echoed in the answer (answers that do not match
//                    a request in flight are dropped by the game); 0 in GuestComing
//
// Why the magic never looks like ENet: an ENet datagram starts with a big-endian 16-bit field of
// two flag bits, two session bits and a 12-bit peer ID. The peer ID 0xFFF means "no peer yet"
// (a connect), and ENet writes session bits only beside an assigned peer ID (below 0xFFF), so
// ENet never sends 0x3FFF (session 3 with peer 0xFFF). Should ENet itself read one of these
// datagrams, it drops it: with no peer, the first command must be a connect, and 'h' is not one.
// A game's intercept hook takes exactly the datagrams whose first four bytes are the magic.
//
// Multi-byte numbers are big-endian. An endpoint is an IPv4 address (4 bytes) and a port (2).
// A code is 8 characters of kCodeAlphabet. A TURN offer is a byte 0 (no relay) or 1 followed by
// the relay's endpoint, then a username and a password, each a length byte and its characters.
//
// Requests (game -> service), each zero-padded to at least kMinRequest bytes, so that no answer
// is larger than its request and the service cannot amplify a spoofed flood:
//   Register  LAN count (0..4), LAN endpoints; host name (length 1..32, then bytes), machines
//             (1..4), free players (a bit per player, 0..15)
//   Refresh   code, host key (8 bytes), machines, free players
//   End       code, host key
//   Lookup    code, LAN count, the guest's LAN endpoints
//   Relayed   code, the guest's relayed endpoint (its allocation at the TURN relay): sent by a
//             guest that found no other way through, so that its host opens its router to it
//   HostRelayed  code, host key, the guest's public endpoint (as GuestRelayed named it), the
//             host's own relayed endpoint, or 0.0.0.0:0 when the host has none: sent by a host
//             told of a relayed guest, so that the guest reaches it relay to relay, whatever
//             router either stands behind
// Answers (service -> game):
//   Registered  code, host key, the host's public endpoint as seen, the code's seconds to live
//               (refresh well before they run out), TURN offer
//   Refreshed   seconds to live, public endpoint as seen, TURN offer (fresh credentials)
//   Ended       nothing
//   Found       the host's public endpoint, LAN count and endpoints, the guest's own public
//               endpoint as seen, the game (host name, machines, free players), TURN offer
//   RelayNoted  nothing: the other side has been told of the relayed endpoint
//   Error       one byte, ErrorCode below
// And to the host, at the moment a guest's Lookup is answered, so both can punch at once:
//   GuestComing code, the guest's public endpoint as seen, LAN count and endpoints
// And to the host, at the moment a guest's Relayed is answered:
//   GuestRelayed code, the guest's public endpoint as seen, its relayed endpoint
// And to the guest, at the moment its host's HostRelayed is answered (only to a guest that sent
// Relayed for that code, to the endpoint it sent it from):
//   HostRelay   code, the host's relayed endpoint, or 0.0.0.0:0: the host has no relay of its own
//
// Datagrams get lost: a game repeats a request that hears no answer (a second apart is well
// within the service's budgets), and a repeated Lookup tells the host again.
//
// The TURN credentials are coturn's `use-auth-secret` kind: username "EXPIRY:CODE" (EXPIRY a
// unix time), password base64(HMAC-SHA1(secret, username)).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hopshot::meet {

constexpr std::array<uint8_t, 4> kMagic = {0x3F, 0xFF, 'h', 'm'};
constexpr uint8_t kVersion = 3;   // 2: Relayed, RelayNoted, GuestRelayed; 3: HostRelayed, HostRelay
constexpr size_t kHeaderSize = 10;          // magic, version, type, nonce
constexpr size_t kMinRequest = 192;         // bytes: requests are padded up to this
constexpr size_t kMaxDatagram = 512;        // bytes: anything longer is not ours
constexpr int kCodeLength = 8;
// No 0/O, 1/I/L or U: 30 characters, read out over a voice call without a doubt.
constexpr std::string_view kCodeAlphabet = "23456789ABCDEFGHJKMNPQRSTVWXYZ";
constexpr size_t kMaxLan = 4;               // LAN endpoints a machine names
constexpr size_t kMaxNameBytes = 32;        // host name, UTF-8
constexpr int kMaxMachines = 4;
constexpr int kAllPlayers = 0x0F;           // free players: bit p for player p + 1
constexpr size_t kMaxUsername = 32;
constexpr size_t kMaxPassword = 44;         // base64 of up to 32 bytes
constexpr int kMaxSecondsToLive = 3600;

enum class Type : uint8_t {
    Register = 1, Registered = 2, Refresh = 3, Refreshed = 4, End = 5, Ended = 6,
    Lookup = 7, Found = 8, GuestComing = 9, Relayed = 10, RelayNoted = 11, GuestRelayed = 12,
    HostRelayed = 13, HostRelay = 14, Error = 15,
};

enum class ErrorCode : uint8_t {
    UnknownCode = 1,    // no live game has this code: never was, expired or ended
    BadVersion = 2,     // the request's version is not the service's (see the header's version)
    RateLimited = 3,    // too many requests from this address: slow down
    ServiceFull = 4,    // no room for another code (on the service, or for this address)
    GameFull = 5,       // the game behind the code has no free player
};

struct Endpoint {
    uint32_t address = 0;   // IPv4, host byte order
    uint16_t port = 0;
    bool operator==(const Endpoint&) const = default;
};

struct TurnOffer {
    bool offered = false;
    Endpoint server;
    std::string username;
    std::string password;
    bool operator==(const TurnOffer&) const = default;
};

struct GameInfo {
    std::string hostName;
    uint8_t machines = 1;
    uint8_t freePlayers = 0;
    bool operator==(const GameInfo&) const = default;
};

using HostKey = std::array<uint8_t, 8>;

// One message of any type; each type uses the fields its layout above names.
struct Message {
    Type type = Type::Error;
    uint8_t version = kVersion;
    uint32_t nonce = 0;
    std::string code;
    HostKey hostKey{};
    std::vector<Endpoint> lan;   // Register: the host's; Lookup, GuestComing: the guest's; Found: the host's
    Endpoint seen;               // Registered, Refreshed, Found: the requester's public endpoint as seen
    Endpoint peer;               // Found: the host's public endpoint; GuestComing, GuestRelayed,
                                 // HostRelayed: the guest's
    Endpoint relayed;            // Relayed, GuestRelayed: the guest's relayed endpoint;
                                 // HostRelayed, HostRelay: the host's (0.0.0.0:0: none)
    GameInfo game;               // Register, Refresh (machines, free players), Found
    uint16_t secondsToLive = 0;  // Registered, Refreshed
    TurnOffer turn;              // Registered, Refreshed, Found
    ErrorCode error = ErrorCode::UnknownCode;
    size_t padTo = kMinRequest;  // requests: their size on the wire, at least kMinRequest
    bool operator==(const Message&) const = default;
};

bool isRequest(Type t);

// Whether a datagram is the meeting protocol's (its magic), whatever its version: what a game's
// ENet intercept hook takes for itself.
bool isMeetingDatagram(std::string_view bytes);

// The datagram of a message. Requests are zero-padded to max(padTo, kMinRequest).
std::string encode(const Message& m);

enum class Decoded {
    Ok,
    NotOurs,      // too short or too long, or another magic: not for the meeting protocol
    BadVersion,   // ours, of another version (m.version and m.nonce are read)
    Malformed,    // ours, with a field out of range; `why` says which
};
Decoded decode(std::string_view bytes, Message& m, std::string* why = nullptr);

// A code as a player types it: case-insensitive, spaces and dashes ignored. Empty when it is
// not a code.
std::optional<std::string> parseCode(std::string_view typed);
bool validCode(std::string_view code);

// An address a machine may name as reachable: not 0.x, loopback, multicast, reserved or
// broadcast, and a port that is not 0.
bool usableEndpoint(const Endpoint& e);

std::string toString(const Endpoint& e);                   // "192.168.1.20:7310"
std::optional<Endpoint> parseEndpoint(std::string_view s, uint16_t defaultPort);   // numeric IPv4
const char* describe(ErrorCode e);                         // one clear sentence

}  // namespace hopshot::meet
