#include "net/turn_message.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <zlib.h>

#include <cstdio>

namespace hopshot::turn {

namespace {

constexpr uint32_t kFingerprintXor = 0x5354554E;   // "STUN", so a CRC alone does not pass
constexpr size_t kMaxUsernameBytes = 513;

uint16_t get16(std::string_view b, size_t at) { return uint16_t(uint8_t(b[at]) << 8 | uint8_t(b[at + 1])); }
uint32_t get32(std::string_view b, size_t at) { return uint32_t(get16(b, at)) << 16 | get16(b, at + 2); }
void put16(std::string& b, uint16_t v) { b += char(v >> 8); b += char(v & 0xFF); }
void put32(std::string& b, uint32_t v) { put16(b, uint16_t(v >> 16)); put16(b, uint16_t(v)); }
void set16(std::string& b, size_t at, uint16_t v) { b[at] = char(v >> 8); b[at + 1] = char(v & 0xFF); }

uint16_t messageType(uint16_t method, uint8_t cls) {
    return uint16_t((method & 0xF80) << 2 | (method & 0x070) << 1 | (method & 0x00F) |
                    (cls & 2) << 7 | (cls & 1) << 4);
}

// The 20 bytes XOR-*-ADDRESS masks its address with: the cookie, then the transaction id.
std::array<uint8_t, 16> addressMask(const TransactionId& t) {
    std::array<uint8_t, 16> mask{0x21, 0x12, 0xA4, 0x42};
    for (size_t i = 0; i < t.size(); ++i) mask[4 + i] = t[i];
    return mask;
}

void putAttribute(std::string& b, uint16_t type, std::string_view value) {
    put16(b, type);
    put16(b, uint16_t(value.size()));
    b.append(value);
    b.append((4 - value.size() % 4) % 4, '\0');
}

std::string xorAddress(const Address& a, const TransactionId& t) {
    const auto mask = addressMask(t);
    std::string v;
    v += '\0';
    v += char(a.family);
    put16(v, uint16_t(a.port ^ (kMagicCookie >> 16)));
    for (size_t i = 0; i < (a.family == 2 ? 16u : 4u); ++i) v += char(a.ip[i] ^ mask[i]);
    return v;
}

bool readXorAddress(std::string_view v, const TransactionId& t, Address& a) {
    if (v.size() < 4) return false;
    a.family = uint8_t(v[1]);
    if (!((a.family == 1 && v.size() == 8) || (a.family == 2 && v.size() == 20))) return false;
    a.port = uint16_t(get16(v, 2) ^ (kMagicCookie >> 16));
    const auto mask = addressMask(t);
    a.ip = {};
    for (size_t i = 0; i + 4 < v.size(); ++i) a.ip[i] = uint8_t(v[4 + i]) ^ mask[i];
    return true;
}

uint32_t crc(std::string_view bytes) {
    return uint32_t(crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(bytes.data()),
                          uInt(bytes.size())));
}

std::string hmacSha1(std::string_view key, std::string_view bytes) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    HMAC(EVP_sha1(), key.data(), int(key.size()), reinterpret_cast<const unsigned char*>(bytes.data()),
         bytes.size(), out, &n);
    return std::string(reinterpret_cast<const char*>(out), n);
}

// HMAC-SHA1 over the bytes before MESSAGE-INTEGRITY, with the header's length as it would be
// had the message ended just after it.
std::string integrityOver(std::string_view bytes, size_t at, std::string_view key) {
    std::string covered(bytes.substr(0, at));
    set16(covered, 2, uint16_t(at + 4 + kIntegrityBytes - kHeaderBytes));
    return hmacSha1(key, covered);
}

bool knownRequired(uint16_t type) {
    switch (type) {
    case kAttrMappedAddress: case kAttrUsername: case kAttrIntegrity: case kAttrErrorCode:
    case kAttrUnknown: case kAttrChannelNumber: case kAttrLifetime: case kAttrXorPeer:
    case kAttrData: case kAttrRealm: case kAttrNonce: case kAttrXorRelayed:
    case kAttrRequestedTransport: case kAttrXorMapped:
        return true;
    default:
        return false;
    }
}

}  // namespace

Address Address::v4(uint32_t hostOrderIp, uint16_t port) {
    Address a;
    a.family = 1;
    for (int i = 0; i < 4; ++i) a.ip[i] = uint8_t(hostOrderIp >> (24 - 8 * i));
    a.port = port;
    return a;
}

uint32_t Address::ipv4() const {
    return uint32_t(ip[0]) << 24 | uint32_t(ip[1]) << 16 | uint32_t(ip[2]) << 8 | ip[3];
}

std::string Address::text() const {
    char buf[64];
    if (family == 1) {
        std::snprintf(buf, sizeof buf, "%u.%u.%u.%u:%u", ip[0], ip[1], ip[2], ip[3], port);
        return buf;
    }
    std::string s = "[";
    for (int i = 0; i < 16; i += 2) {
        std::snprintf(buf, sizeof buf, "%s%x", i ? ":" : "", unsigned(ip[i]) << 8 | ip[i + 1]);
        s += buf;
    }
    return s + "]:" + std::to_string(port);
}

std::string longTermKey(std::string_view username, std::string_view realm, std::string_view password) {
    std::string all;
    all.append(username).append(":").append(realm).append(":").append(password);
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(all.data(), all.size(), out, &n, EVP_md5(), nullptr);
    return std::string(reinterpret_cast<const char*>(out), n);
}

std::string encode(const Message& m, std::string_view key, bool fingerprint) {
    std::string b;
    put16(b, messageType(m.method, m.cls));
    put16(b, 0);
    put32(b, kMagicCookie);
    b.append(reinterpret_cast<const char*>(m.transaction.data()), m.transaction.size());
    auto text = [](const std::string& s) { return std::string_view(s).substr(0, kMaxTextBytes); };
    if (m.username) putAttribute(b, kAttrUsername, text(*m.username).substr(0, kMaxUsernameBytes));
    if (m.realm) putAttribute(b, kAttrRealm, text(*m.realm));
    if (m.nonce) putAttribute(b, kAttrNonce, text(*m.nonce));
    if (m.software) putAttribute(b, kAttrSoftware, text(*m.software));
    if (m.errorCode) {
        std::string v(2, '\0');
        v += char(*m.errorCode / 100);
        v += char(*m.errorCode % 100);
        putAttribute(b, kAttrErrorCode, v + std::string(text(m.errorReason)));
    }
    if (m.requestedTransport)   // the protocol, then three bytes reserved
        putAttribute(b, kAttrRequestedTransport, std::string{char(*m.requestedTransport), 0, 0, 0});
    if (m.lifetime) {
        std::string v;
        put32(v, *m.lifetime);
        putAttribute(b, kAttrLifetime, v);
    }
    if (m.channel) {
        std::string v;
        put16(v, *m.channel);
        put16(v, 0);
        putAttribute(b, kAttrChannelNumber, v);
    }
    if (m.xorPeer) putAttribute(b, kAttrXorPeer, xorAddress(*m.xorPeer, m.transaction));
    if (m.xorRelayed) putAttribute(b, kAttrXorRelayed, xorAddress(*m.xorRelayed, m.transaction));
    if (m.xorMapped) putAttribute(b, kAttrXorMapped, xorAddress(*m.xorMapped, m.transaction));
    if (m.data) putAttribute(b, kAttrData, *m.data);
    if (!key.empty()) {
        const size_t at = b.size();
        putAttribute(b, kAttrIntegrity, integrityOver(b, at, key));
    }
    if (fingerprint) {
        set16(b, 2, uint16_t(b.size() + 8 - kHeaderBytes));
        std::string v;
        put32(v, crc(b) ^ kFingerprintXor);
        putAttribute(b, kAttrFingerprint, v);
    }
    set16(b, 2, uint16_t(b.size() - kHeaderBytes));
    return b;
}

bool decode(std::string_view bytes, Message& m, std::string& why) {
    m = Message{};
    if (bytes.size() < kHeaderBytes) return why = "shorter than a header", false;
    if (bytes.size() > kMaxMessageBytes) return why = "longer than any relay message", false;
    const uint16_t type = get16(bytes, 0);
    if (type & 0xC000) return why = "not a STUN message (first two bits)", false;
    if (get16(bytes, 2) != bytes.size() - kHeaderBytes) return why = "length does not match the datagram", false;
    if (bytes.size() % 4 != 0) return why = "length not a multiple of 4", false;
    if (get32(bytes, 4) != kMagicCookie) return why = "no magic cookie", false;
    m.method = uint16_t((type & 0x3E00) >> 2 | (type & 0x00E0) >> 1 | (type & 0x000F));
    m.cls = uint8_t((type & 0x0100) >> 7 | (type & 0x0010) >> 4);
    for (size_t i = 0; i < m.transaction.size(); ++i) m.transaction[i] = uint8_t(bytes[8 + i]);

    std::vector<uint16_t> seen;
    for (size_t at = kHeaderBytes; at < bytes.size();) {
        if (m.fingerprint) return why = "an attribute after FINGERPRINT", false;
        if (bytes.size() - at < 4) return why = "a cut attribute header", false;
        const uint16_t attr = get16(bytes, at);
        const size_t length = get16(bytes, at + 2);
        const size_t padded = (length + 3) / 4 * 4;
        if (padded > bytes.size() - at - 4) return why = "an attribute runs past the message", false;
        const std::string_view v = bytes.substr(at + 4, length);
        const size_t start = at;
        at += 4 + padded;

        if (attr == kAttrFingerprint) {
            if (length != 4) return why = "FINGERPRINT of a wrong length", false;
            if ((crc(bytes.substr(0, start)) ^ kFingerprintXor) != get32(v, 0))
                return why = "FINGERPRINT does not match", false;
            m.fingerprint = true;
            continue;
        }
        // After MESSAGE-INTEGRITY only FINGERPRINT counts; anything else is ignored, as a relay
        // may not add to what its integrity covers.
        if (m.integrityAt) continue;
        bool first = true;
        for (uint16_t s : seen) first = first && s != attr;
        if (!first) continue;   // only the first of a type counts
        seen.push_back(attr);

        switch (attr) {
        case kAttrIntegrity:
            if (length != kIntegrityBytes) return why = "MESSAGE-INTEGRITY of a wrong length", false;
            m.integrityAt = start;
            break;
        case kAttrXorMapped: case kAttrXorRelayed: case kAttrXorPeer: {
            Address a;
            if (!readXorAddress(v, m.transaction, a)) return why = "an address of a wrong family or length", false;
            (attr == kAttrXorMapped ? m.xorMapped : attr == kAttrXorRelayed ? m.xorRelayed : m.xorPeer) = a;
            break;
        }
        case kAttrLifetime:
            if (length != 4) return why = "LIFETIME of a wrong length", false;
            m.lifetime = get32(v, 0);
            break;
        case kAttrRequestedTransport:
            if (length != 4) return why = "REQUESTED-TRANSPORT of a wrong length", false;
            m.requestedTransport = uint8_t(v[0]);
            break;
        case kAttrChannelNumber:
            if (length != 4) return why = "CHANNEL-NUMBER of a wrong length", false;
            if (get16(v, 0) < kFirstChannel || get16(v, 0) > kLastChannel)
                return why = "a channel number out of range", false;
            m.channel = get16(v, 0);
            break;
        case kAttrErrorCode: {
            if (length < 4 || length > 4 + kMaxTextBytes) return why = "ERROR-CODE of a wrong length", false;
            const int cls = uint8_t(v[2]) & 0x07, number = uint8_t(v[3]);
            if (cls < 3 || cls > 6 || number > 99) return why = "an error code out of range", false;
            m.errorCode = cls * 100 + number;
            m.errorReason = std::string(v.substr(4));
            break;
        }
        case kAttrUsername:
            if (length > kMaxUsernameBytes) return why = "USERNAME too long", false;
            m.username = std::string(v);
            break;
        case kAttrRealm: case kAttrNonce: case kAttrSoftware:
            if (length > kMaxTextBytes) return why = "a text attribute too long", false;
            (attr == kAttrRealm ? m.realm : attr == kAttrNonce ? m.nonce : m.software) = std::string(v);
            break;
        case kAttrData:
            m.data = std::string(v);
            break;
        default:
            if (attr < 0x8000 && !knownRequired(attr)) m.unknownRequired.push_back(attr);
            break;
        }
    }
    return true;
}

bool integrityMatches(std::string_view bytes, const Message& m, std::string_view key) {
    if (m.integrityAt == 0 || m.integrityAt + 4 + kIntegrityBytes > bytes.size()) return false;
    const std::string want = integrityOver(bytes, m.integrityAt, key);
    return want.size() == kIntegrityBytes &&
           CRYPTO_memcmp(want.data(), bytes.data() + m.integrityAt + 4, kIntegrityBytes) == 0;
}

void reseal(std::string& bytes, const Message& m, std::string_view key) {
    if (m.integrityAt == 0 || m.integrityAt + 4 + kIntegrityBytes > bytes.size()) return;
    bytes.replace(m.integrityAt + 4, kIntegrityBytes, integrityOver(bytes, m.integrityAt, key));
    const size_t fp = m.integrityAt + 4 + kIntegrityBytes;
    if (m.fingerprint && fp + 8 == bytes.size()) {
        std::string v;
        put32(v, crc(std::string_view(bytes).substr(0, fp)) ^ kFingerprintXor);
        bytes.replace(fp + 4, 4, v);
    }
}

bool looksLikeChannelData(std::string_view bytes) {
    return !bytes.empty() && (uint8_t(bytes[0]) & 0xC0) == 0x40;
}

std::string encodeChannelData(uint16_t channel, std::string_view payload) {
    std::string b;
    put16(b, channel);
    put16(b, uint16_t(payload.size()));
    b.append(payload);
    b.append((4 - payload.size() % 4) % 4, '\0');
    return b;
}

bool decodeChannelData(std::string_view bytes, uint16_t& channel, std::string_view& payload) {
    if (bytes.size() < kChannelHeaderBytes) return false;
    channel = get16(bytes, 0);
    const size_t length = get16(bytes, 2);
    if (channel < kFirstChannel || channel > kLastChannel) return false;
    // Over UDP the padding may be left out, but nothing may follow it.
    if (bytes.size() < kChannelHeaderBytes + length || bytes.size() > kChannelHeaderBytes + (length + 3) / 4 * 4)
        return false;
    payload = bytes.substr(kChannelHeaderBytes, length);
    return true;
}

std::string errorText(int code) {
    const char* name = code == 300 ? "Try Alternate" : code == 400 ? "Bad Request"
                       : code == 401 ? "Unauthorized" : code == 403 ? "Forbidden"
                       : code == 420 ? "Unknown Attribute" : code == 437 ? "Allocation Mismatch"
                       : code == 438 ? "Stale Nonce" : code == 440 ? "Address Family not Supported"
                       : code == 441 ? "Wrong Credentials" : code == 442 ? "Unsupported Transport Protocol"
                       : code == 443 ? "Peer Address Family Mismatch" : code == 486 ? "Allocation Quota Reached"
                       : code == 500 ? "Server Error" : code == 508 ? "Insufficient Capacity"
                       : "error";
    return std::to_string(code) + " " + name;
}

}  // namespace hopshot::turn
