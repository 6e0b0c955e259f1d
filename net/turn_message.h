// The relay's messages: STUN's message format (a 20-byte header, then attributes padded to 4)
// with the attributes a TURN client over UDP needs, and TURN's ChannelData framing. Everything
// read is checked: the header, the magic cookie, every attribute's length against the message and
// against what its type allows, the padding, and FINGERPRINT where one is present. A message
// that fails is refused whole; MESSAGE-INTEGRITY is checked apart, by the one who holds the key.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hopshot::turn {

constexpr uint32_t kMagicCookie = 0x2112A442;
constexpr size_t kHeaderBytes = 20;
constexpr size_t kMaxMessageBytes = 1500;     // a relay's message over UDP never needs more
constexpr size_t kMaxTextBytes = 763;         // USERNAME, REALM, NONCE, reason phrases: RFC 8489's bound
constexpr uint16_t kFirstChannel = 0x4000;    // ChannelData's channel numbers, both ends included
constexpr uint16_t kLastChannel = 0x4FFF;
constexpr size_t kChannelHeaderBytes = 4;
constexpr size_t kIntegrityBytes = 20;        // HMAC-SHA1
constexpr uint8_t kTransportUdp = 17;         // REQUESTED-TRANSPORT's protocol number

enum Method : uint16_t {
    kBinding = 0x001, kAllocate = 0x003, kRefresh = 0x004, kSend = 0x006, kData = 0x007,
    kCreatePermission = 0x008, kChannelBind = 0x009,
};
enum Class : uint8_t { kRequest = 0, kIndication = 1, kSuccess = 2, kError = 3 };

enum Attribute : uint16_t {
    kAttrMappedAddress = 0x0001, kAttrUsername = 0x0006, kAttrIntegrity = 0x0008,
    kAttrErrorCode = 0x0009, kAttrUnknown = 0x000A, kAttrChannelNumber = 0x000C,
    kAttrLifetime = 0x000D, kAttrXorPeer = 0x0012, kAttrData = 0x0013, kAttrRealm = 0x0014,
    kAttrNonce = 0x0015, kAttrXorRelayed = 0x0016, kAttrRequestedTransport = 0x0019,
    kAttrXorMapped = 0x0020, kAttrSoftware = 0x8022, kAttrFingerprint = 0x8028,
};

using TransactionId = std::array<uint8_t, 12>;

// An address as the relay's XOR-*-ADDRESS attributes carry it, in the clear.
struct Address {
    uint8_t family = 1;                  // 1 IPv4, 2 IPv6
    std::array<uint8_t, 16> ip{};        // network order; IPv4 in the first 4 bytes
    uint16_t port = 0;
    static Address v4(uint32_t hostOrderIp, uint16_t port);
    uint32_t ipv4() const;               // host order; meaningful for family 1
    std::string text() const;            // 192.0.2.1:3478, [2001:db8::1]:3478
    bool operator==(const Address& o) const {
        return family == o.family && port == o.port && ip == o.ip;
    }
    bool operator<(const Address& o) const {
        return family != o.family ? family < o.family : ip != o.ip ? ip < o.ip : port < o.port;
    }
};

struct Message {
    uint16_t method = kBinding;          // 12 bits
    uint8_t cls = kRequest;
    TransactionId transaction{};
    std::optional<Address> xorMapped, xorRelayed, xorPeer;
    std::optional<uint32_t> lifetime;              // seconds
    std::optional<uint8_t> requestedTransport;
    std::optional<uint16_t> channel;               // kFirstChannel..kLastChannel
    std::optional<std::string> data, username, realm, nonce, software;
    std::optional<int> errorCode;                  // 300..699
    std::string errorReason;
    std::vector<uint16_t> unknownRequired;         // comprehension-required types we do not read
    // Where MESSAGE-INTEGRITY's attribute starts in the bytes read, 0 when there is none.
    size_t integrityAt = 0;
    bool fingerprint = false;                      // one was present (and it checked)
};

// The long-term credential key: MD5(username ":" realm ":" password).
std::string longTermKey(std::string_view username, std::string_view realm, std::string_view password);

// The message as bytes; with a key, MESSAGE-INTEGRITY over it; with `fingerprint`, FINGERPRINT
// last. Attributes go in a fixed order; texts longer than kMaxTextBytes are cut.
std::string encode(const Message& m, std::string_view key = {}, bool fingerprint = true);

// Reads one message; false with the reason when it breaks any rule of the format.
bool decode(std::string_view bytes, Message& m, std::string& why);

// True when the message read from `bytes` carries MESSAGE-INTEGRITY and it matches `key`.
bool integrityMatches(std::string_view bytes, const Message& m, std::string_view key);

// Writes MESSAGE-INTEGRITY (at integrityAt) and FINGERPRINT (when one follows it) again over
// bytes that were read, for a key: what a relay holding that key would have sent.
void reseal(std::string& bytes, const Message& m, std::string_view key);

// True when the first byte says ChannelData (0b01) rather than a STUN message (0b00).
bool looksLikeChannelData(std::string_view bytes);
std::string encodeChannelData(uint16_t channel, std::string_view payload);
// Reads a ChannelData frame: the channel in range, the length within the datagram and any
// padding no more than to the next multiple of 4.
bool decodeChannelData(std::string_view bytes, uint16_t& channel, std::string_view& payload);

std::string errorText(int code);   // "401 Unauthorized" and the like, for messages to the player

}  // namespace hopshot::turn
