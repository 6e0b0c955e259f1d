#include "meet/protocol.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <charconv>

namespace hopshot::meet {

namespace {

struct Writer {
    std::string out;
    void u8(uint8_t v) { out.push_back(char(v)); }
    void u16(uint16_t v) { u8(uint8_t(v >> 8)); u8(uint8_t(v)); }
    void u32(uint32_t v) { u16(uint16_t(v >> 16)); u16(uint16_t(v)); }
    void bytes(std::string_view s) { out.append(s); }
    void endpoint(const Endpoint& e) { u32(e.address); u16(e.port); }
    void text(std::string_view s) { u8(uint8_t(s.size())); bytes(s); }
    void lan(const std::vector<Endpoint>& l) {
        u8(uint8_t(l.size()));
        for (const Endpoint& e : l) endpoint(e);
    }
    void turn(const TurnOffer& t) {
        u8(t.offered ? 1 : 0);
        if (!t.offered) return;
        endpoint(t.server);
        text(t.username);
        text(t.password);
    }
};

// Reads fields in order; the first one out of range stops it and says why.
struct Reader {
    std::string_view in;
    size_t at = 0;
    const char* why = nullptr;

    bool fail(const char* what) {
        if (!why) why = what;
        return false;
    }
    bool take(size_t n, const char* what) { return at + n <= in.size() ? true : fail(what); }
    uint8_t u8(const char* what) { return take(1, what) ? uint8_t(in[at++]) : 0; }
    uint16_t u16(const char* what) { const uint16_t hi = u8(what); return uint16_t(hi << 8 | u8(what)); }
    uint32_t u32(const char* what) { const uint32_t hi = u16(what); return hi << 16 | u16(what); }

    Endpoint endpoint(const char* what) {
        Endpoint e;
        e.address = u32(what);
        e.port = u16(what);
        if (!why && !usableEndpoint(e)) fail(what);
        return e;
    }
    // A relayed endpoint, or 0.0.0.0:0 for none.
    Endpoint relayOrNone(const char* what) {
        Endpoint e;
        e.address = u32(what);
        e.port = u16(what);
        if (!why && !(e == Endpoint{}) && !usableEndpoint(e)) fail(what);
        return e;
    }
    // A public endpoint as the service saw it: any address, but a port.
    Endpoint seenEndpoint(const char* what) {
        Endpoint e;
        e.address = u32(what);
        e.port = u16(what);
        if (!why && e.port == 0) fail(what);
        return e;
    }
    std::string code() {
        if (!take(kCodeLength, "code cut short")) return {};
        std::string c(in.substr(at, kCodeLength));
        at += kCodeLength;
        if (!validCode(c)) fail("code holds a character outside the alphabet");
        return c;
    }
    HostKey hostKey() {
        HostKey k{};
        for (uint8_t& b : k) b = u8("host key cut short");
        return k;
    }
    std::vector<Endpoint> lan() {
        const uint8_t n = u8("LAN count missing");
        if (n > kMaxLan) fail("LAN count out of range");
        std::vector<Endpoint> l;
        for (uint8_t i = 0; i < n && !why; ++i) l.push_back(endpoint("LAN endpoint unusable"));
        return l;
    }
    // A length byte of 1..max, then characters each accepted by `ok`.
    std::string text(size_t max, bool (*ok)(uint8_t), const char* what) {
        const uint8_t n = u8(what);
        if (n == 0 || n > max || !take(n, what)) {
            fail(what);
            return {};
        }
        std::string s(in.substr(at, n));
        at += n;
        if (!std::all_of(s.begin(), s.end(), [ok](char c) { return ok(uint8_t(c)); })) fail(what);
        return s;
    }
    void players(GameInfo& g) {
        g.machines = u8("machines missing");
        if (g.machines < 1 || g.machines > kMaxMachines) fail("machines out of range");
        g.freePlayers = u8("free players missing");
        if (g.freePlayers > kAllPlayers) fail("free players out of range");
    }
    void game(GameInfo& g) {
        // UTF-8 passes; control characters do not.
        g.hostName = text(kMaxNameBytes, [](uint8_t c) { return c >= 0x20 && c != 0x7F; },
                          "host name out of range");
        players(g);
    }
    TurnOffer turn() {
        TurnOffer t;
        const uint8_t flag = u8("relay flag missing");
        if (flag > 1) fail("relay flag out of range");
        if (flag != 1) return t;
        t.offered = true;
        t.server = endpoint("relay endpoint unusable");
        t.username = text(kMaxUsername, [](uint8_t c) { return c > 0x20 && c < 0x7F; },
                          "relay username out of range");
        t.password = text(kMaxPassword, [](uint8_t c) {
            return std::isalnum(c) || c == '+' || c == '/' || c == '='; }, "relay password out of range");
        return t;
    }
    uint16_t secondsToLive() {
        const uint16_t s = u16("seconds to live missing");
        if (s < 1 || s > kMaxSecondsToLive) fail("seconds to live out of range");
        return s;
    }
};

}  // namespace

bool isRequest(Type t) {
    return t == Type::Register || t == Type::Refresh || t == Type::End || t == Type::Lookup ||
           t == Type::Relayed || t == Type::HostRelayed;
}

bool isMeetingDatagram(std::string_view bytes) {
    return bytes.size() >= kMagic.size() && std::equal(kMagic.begin(), kMagic.end(), bytes.begin(),
                                                       [](uint8_t a, char b) { return a == uint8_t(b); });
}

std::string encode(const Message& m) {
    Writer w;
    for (uint8_t b : kMagic) w.u8(b);
    w.u8(m.version);
    w.u8(uint8_t(m.type));
    w.u32(m.nonce);
    switch (m.type) {
    case Type::Register:
        w.lan(m.lan);
        w.text(m.game.hostName);
        w.u8(m.game.machines);
        w.u8(m.game.freePlayers);
        break;
    case Type::Refresh:
        w.bytes(m.code);
        w.bytes(std::string_view(reinterpret_cast<const char*>(m.hostKey.data()), m.hostKey.size()));
        w.u8(m.game.machines);
        w.u8(m.game.freePlayers);
        break;
    case Type::End:
        w.bytes(m.code);
        w.bytes(std::string_view(reinterpret_cast<const char*>(m.hostKey.data()), m.hostKey.size()));
        break;
    case Type::Lookup:
        w.bytes(m.code);
        w.lan(m.lan);
        break;
    case Type::Registered:
        w.bytes(m.code);
        w.bytes(std::string_view(reinterpret_cast<const char*>(m.hostKey.data()), m.hostKey.size()));
        w.endpoint(m.seen);
        w.u16(m.secondsToLive);
        w.turn(m.turn);
        break;
    case Type::Refreshed:
        w.u16(m.secondsToLive);
        w.endpoint(m.seen);
        w.turn(m.turn);
        break;
    case Type::Ended:
        break;
    case Type::Found:
        w.endpoint(m.peer);
        w.lan(m.lan);
        w.endpoint(m.seen);
        w.text(m.game.hostName);
        w.u8(m.game.machines);
        w.u8(m.game.freePlayers);
        w.turn(m.turn);
        break;
    case Type::GuestComing:
        w.bytes(m.code);
        w.endpoint(m.peer);
        w.lan(m.lan);
        break;
    case Type::Relayed:
        w.bytes(m.code);
        w.endpoint(m.relayed);
        break;
    case Type::RelayNoted:
        break;
    case Type::GuestRelayed:
        w.bytes(m.code);
        w.endpoint(m.peer);
        w.endpoint(m.relayed);
        break;
    case Type::HostRelayed:
        w.bytes(m.code);
        w.bytes(std::string_view(reinterpret_cast<const char*>(m.hostKey.data()), m.hostKey.size()));
        w.endpoint(m.peer);
        w.endpoint(m.relayed);
        break;
    case Type::HostRelay:
        w.bytes(m.code);
        w.endpoint(m.relayed);
        break;
    case Type::Error:
        w.u8(uint8_t(m.error));
        break;
    }
    if (isRequest(m.type)) w.out.resize(std::max({w.out.size(), m.padTo, kMinRequest}), '\0');
    return w.out;
}

Decoded decode(std::string_view bytes, Message& m, std::string* why) {
    m = Message{};
    auto refuse = [&](Decoded d, const char* what) {
        if (why) *why = what;
        return d;
    };
    if (bytes.size() < kHeaderSize || bytes.size() > kMaxDatagram || !isMeetingDatagram(bytes))
        return refuse(Decoded::NotOurs, "not a meeting datagram");
    Reader r{bytes, kMagic.size()};
    m.version = r.u8("");
    const uint8_t type = r.u8("");
    m.nonce = r.u32("");
    if (m.version != kVersion) return refuse(Decoded::BadVersion, "another version");
    m.type = Type(type);
    m.padTo = bytes.size();
    switch (m.type) {
    case Type::Register:
        m.lan = r.lan();
        r.game(m.game);
        break;
    case Type::Refresh:
        m.code = r.code();
        m.hostKey = r.hostKey();
        r.players(m.game);
        break;
    case Type::End:
        m.code = r.code();
        m.hostKey = r.hostKey();
        break;
    case Type::Lookup:
        m.code = r.code();
        m.lan = r.lan();
        break;
    case Type::Registered:
        m.code = r.code();
        m.hostKey = r.hostKey();
        m.seen = r.seenEndpoint("public endpoint has no port");
        m.secondsToLive = r.secondsToLive();
        m.turn = r.turn();
        break;
    case Type::Refreshed:
        m.secondsToLive = r.secondsToLive();
        m.seen = r.seenEndpoint("public endpoint has no port");
        m.turn = r.turn();
        break;
    case Type::Ended:
        break;
    case Type::Found:
        m.peer = r.seenEndpoint("host's public endpoint has no port");
        m.lan = r.lan();
        m.seen = r.seenEndpoint("public endpoint has no port");
        r.game(m.game);
        m.turn = r.turn();
        break;
    case Type::GuestComing:
        m.code = r.code();
        m.peer = r.seenEndpoint("guest's public endpoint has no port");
        m.lan = r.lan();
        break;
    case Type::Relayed:
        m.code = r.code();
        m.relayed = r.endpoint("relayed endpoint unusable");
        break;
    case Type::RelayNoted:
        break;
    case Type::GuestRelayed:
        m.code = r.code();
        m.peer = r.seenEndpoint("guest's public endpoint has no port");
        m.relayed = r.endpoint("relayed endpoint unusable");
        break;
    case Type::HostRelayed:
        m.code = r.code();
        m.hostKey = r.hostKey();
        m.peer = r.seenEndpoint("guest's public endpoint has no port");
        m.relayed = r.relayOrNone("relayed endpoint unusable");
        break;
    case Type::HostRelay:
        m.code = r.code();
        m.relayed = r.relayOrNone("relayed endpoint unusable");
        break;
    case Type::Error: {
        const uint8_t e = r.u8("error missing");
        if (e < uint8_t(ErrorCode::UnknownCode) || e > uint8_t(ErrorCode::GameFull)) r.fail("error out of range");
        m.error = ErrorCode(e);
        break;
    }
    default:
        return refuse(Decoded::Malformed, "unknown type");
    }
    if (r.why) return refuse(Decoded::Malformed, r.why);
    if (isRequest(m.type)) {
        if (bytes.size() < kMinRequest) return refuse(Decoded::Malformed, "request not padded");
        if (bytes.find_first_not_of('\0', r.at) != std::string_view::npos)
            return refuse(Decoded::Malformed, "padding not zero");
    } else if (r.at != bytes.size()) {
        return refuse(Decoded::Malformed, "bytes after the last field");
    }
    return Decoded::Ok;
}

bool validCode(std::string_view code) {
    return code.size() == size_t(kCodeLength) &&
           std::all_of(code.begin(), code.end(),
                       [](char c) { return c != '\0' && kCodeAlphabet.find(c) != std::string_view::npos; });
}

std::optional<std::string> parseCode(std::string_view typed) {
    std::string code;
    for (char c : typed) {
        if (c == ' ' || c == '-') continue;
        if (code.size() == size_t(kCodeLength)) return std::nullopt;
        code.push_back(char(std::toupper(uint8_t(c))));
    }
    if (!validCode(code)) return std::nullopt;
    return code;
}

bool usableEndpoint(const Endpoint& e) {
    const uint8_t first = uint8_t(e.address >> 24);
    return e.port != 0 && first != 0 && first != 127 && first < 224;
}

std::string toString(const Endpoint& e) {
    char text[INET_ADDRSTRLEN] = {};
    const in_addr a{htonl(e.address)};
    inet_ntop(AF_INET, &a, text, sizeof text);
    return std::string(text) + ":" + std::to_string(e.port);
}

std::optional<Endpoint> parseEndpoint(std::string_view s, uint16_t defaultPort) {
    const size_t colon = s.rfind(':');
    const std::string host(s.substr(0, colon));
    Endpoint e{0, defaultPort};
    if (colon != std::string_view::npos) {
        const std::string_view port = s.substr(colon + 1);
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (ec != std::errc() || end != port.data() + port.size() || port.empty() || value > 65535)
            return std::nullopt;
        e.port = uint16_t(value);
    }
    in_addr a{};
    if (host.empty() || inet_pton(AF_INET, host.c_str(), &a) != 1) return std::nullopt;
    e.address = ntohl(a.s_addr);
    return e;
}

const char* describe(ErrorCode e) {
    switch (e) {
    case ErrorCode::UnknownCode: return "This code is unknown or has expired.";
    case ErrorCode::BadVersion: return "The meeting service speaks another version of its protocol.";
    case ErrorCode::RateLimited: return "The meeting service is refusing requests this fast from this address.";
    case ErrorCode::ServiceFull: return "The meeting service has no room for another game.";
    case ErrorCode::GameFull: return "The game behind this code has no free player.";
    }
    return "The meeting service answered with an unknown error.";
}

}  // namespace hopshot::meet
