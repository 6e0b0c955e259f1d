// The ways through between a host and a guest behind modelled routers, with the meeting
// service's own state in between: every datagram goes through a small network that lets in only
// what its router would.
#include "meet/service.h"
#include "net/ways_through.h"

#include <gtest/gtest.h>

#include <deque>
#include <set>

namespace hopshot::net {
namespace {

using meet::Endpoint;

constexpr Endpoint kService{0xCB00710A, 7311};
constexpr Endpoint kHostLan{0xC0A80102, 7310}, kHostPublic{0xCB007101, 40001};
constexpr Endpoint kGuestLan{0xC0A80103, 50000}, kGuestPublic{0xCB007102, 40002};
constexpr Endpoint kRelay{0xCB00710A, 3478}, kGuestRelayed{0xCB00710A, 49152}, kHostRelayed{0xCB00710A, 49153};

enum class Router { Open, Restricted, Closed };

struct Net {
    Router host = Router::Restricted, guest = Router::Restricted;
    bool sameLan = false;
    bool serviceUp = true;
    meet::Service service;
    explicit Net(bool relay = false)
        : service(meet::Limits{}, relay ? meet::TurnServer{kRelay, "lab secret"} : meet::TurnServer{}) {}
    int openers = 0;   // datagrams the host sent toward the guest's relay
    struct Datagram {
        bool toHost;
        Endpoint from;
        std::string bytes;
    };
    std::deque<Datagram> air;
    std::set<std::pair<bool, uint64_t>> sentTo;   // (host side, endpoint) each side's router saw go out
    int64_t now = 0;

    static uint64_t key(const Endpoint& e) { return uint64_t(e.address) << 16 | e.port; }
    bool lets(bool toHost, const Endpoint& from) const {
        const Router r = toHost ? host : guest;
        return r == Router::Open || (r == Router::Restricted && sentTo.count({toHost, key(from)}));
    }
    void send(bool fromHost, const Endpoint& to, std::string_view bytes) {
        const Endpoint self = fromHost ? kHostPublic : kGuestPublic;
        if (to == kService) {
            if (!serviceUp) return;
            for (const meet::Outgoing& o : service.take(self, bytes, now, 1800000000))
                if (o.to == kHostPublic || o.to == kGuestPublic)
                    air.push_back({o.to == kHostPublic, kService, o.bytes});
            return;
        }
        const Endpoint lan = fromHost ? kHostLan : kGuestLan;
        if (sameLan && to == (fromHost ? kGuestLan : kHostLan)) {
            air.push_back({!fromHost, lan, std::string(bytes)});
            return;
        }
        sentTo.insert({fromHost, key(to)});
        if (fromHost && to == kGuestRelayed) ++openers;
        if (to == (fromHost ? kGuestPublic : kHostPublic) && lets(!fromHost, self))
            air.push_back({!fromHost, self, std::string(bytes)});
    }
};

struct Outcome {
    GuestWays::State state;
    Endpoint through;
    Path guestPath, hostPath;
    std::string failure;
    int64_t ms;
};

// The host's own allocation, when it wants one, is made (hostRelays) or fails.
Outcome run(Net& net, const std::string& typedCode = "", bool hostRelays = true) {
    HostWays host(kService, {kHostLan}, {"home", 1, 14}, [&](const Endpoint& to, std::string_view b) { net.send(true, to, b); });
    for (; host.code().empty() && net.now < 5000; net.now += 10) {
        host.step(net.now);
        while (!net.air.empty()) {
            auto d = net.air.front();
            net.air.pop_front();
            if (d.toHost) host.take(d.from, d.bytes, net.now);
        }
    }
    const int64_t start = net.now;
    GuestWays guest(kService, typedCode.empty() ? host.code() : typedCode, {kGuestLan},
                    [&](const Endpoint& to, std::string_view b) { net.send(false, to, b); });
    for (; net.now - start < 20000; net.now += 10) {
        host.step(net.now);
        guest.step(net.now);
        if (guest.state() == GuestWays::State::Relaying) guest.relayReady(kGuestRelayed, net.now);
        if (host.relayWanted()) {
            if (hostRelays) host.relayReady(kHostRelayed);
            else host.relayFailed();
        }
        for (size_t n = net.air.size(); n > 0 && !net.air.empty(); --n) {
            auto d = net.air.front();
            net.air.pop_front();
            if (d.toHost) host.take(d.from, d.bytes, net.now);
            else guest.take(d.from, d.bytes, net.now);
        }
        if (guest.state() == GuestWays::State::Through || guest.state() == GuestWays::State::Failed) break;
    }
    const Endpoint seenByHost = guest.through() == kHostLan                ? kGuestLan
                                : guest.path() == Path::Relayed ? kGuestRelayed
                                                                : kGuestPublic;
    return {guest.state(), guest.through(), guest.path(), host.pathOf(seenByHost), guest.failure(), net.now - start};
}

TEST(WaysThrough, EachPairOfRoutersGetsTheFirstPathThatWorks) {
    const struct Row {
        const char* what;
        Router host, guest;
        bool sameLan, relay, hostRelays;
        GuestWays::State state;
        Path path;
        Endpoint through;   // where the guest reaches its host
        int64_t withinMs;
    } rows[] = {
        {"one LAN", Router::Restricted, Router::Restricted, true, false, false, GuestWays::State::Through, Path::Lan, kHostLan, 100},
        {"host's port open", Router::Open, Router::Restricted, false, false, false, GuestWays::State::Through, Path::Direct, kHostPublic, 100},
        {"two home routers", Router::Restricted, Router::Restricted, false, false, false, GuestWays::State::Through, Path::Punched, kHostPublic, 1000},
        {"a guest's router opens to its host", Router::Restricted, Router::Open, false, false, false, GuestWays::State::Through, Path::Punched, kHostPublic, 1000},
        {"nothing passes but the relay: relay to relay", Router::Closed, Router::Restricted, false, true, true, GuestWays::State::Through, Path::Relayed, kHostRelayed, 3000},
        {"the host's own allocation fails: its opened router", Router::Closed, Router::Restricted, false, true, false, GuestWays::State::Through, Path::Relayed, kHostPublic, 3000},
        {"nothing passes", Router::Closed, Router::Restricted, false, false, false, GuestWays::State::Failed, Path::None, {}, 4000},
    };
    for (const Row& r : rows) {
        Net net(r.relay);
        net.host = r.host;
        net.guest = r.guest;
        net.sameLan = r.sameLan;
        const Outcome o = run(net, "", r.hostRelays);
        EXPECT_EQ(o.through, r.through) << r.what;
        EXPECT_EQ(o.state, r.state) << r.what << ": " << o.failure;
        EXPECT_STREQ(pathName(o.guestPath), pathName(r.path)) << r.what;
        if (r.state == GuestWays::State::Through) EXPECT_STREQ(pathName(o.hostPath), pathName(r.path)) << r.what;
        else EXPECT_NE(o.failure.find("No way through"), std::string::npos) << o.failure;
        EXPECT_LE(o.ms, r.withinMs) << r.what;
        EXPECT_EQ(net.openers, r.path == Path::Relayed ? kOpeners : 0) << r.what;
    }
}

TEST(WaysThrough, AGuestThatCannotMeetItsHostSaysWhyWithinSeconds) {
    const struct Row {
        const char* what;
        bool serviceUp;
        std::string code;
        const char* says;
    } rows[] = {
        {"an unknown code", true, "ABCDEFGH", "unknown or has expired"},
        {"a silent service", false, "ABCDEFGH", "does not answer"},
    };
    for (const Row& r : rows) {
        Net net;
        net.serviceUp = r.serviceUp;
        const Outcome o = run(net, r.code);
        EXPECT_EQ(o.state, GuestWays::State::Failed) << r.what;
        EXPECT_NE(o.failure.find(r.says), std::string::npos) << r.what << ": " << o.failure;
        EXPECT_LE(o.ms, kMeetSilentMs + 100) << r.what;
    }
}

// A code lives while its host hosts, however long past the service's 30 seconds, and dies with
// its End.
TEST(WaysThrough, TheHostKeepsItsCodeAliveAndEndsIt) {
    for (const bool ended : {false, true}) {
        Net net;
        HostWays host(kService, {kHostLan}, {"home", 1, 14}, [&](const Endpoint& to, std::string_view b) { net.send(true, to, b); });
        for (; net.now < 95000; net.now += 50) {
            host.step(net.now);
            net.service.sweep(net.now);
            for (; !net.air.empty(); net.air.pop_front())
                if (net.air.front().toHost) host.take(net.air.front().from, net.air.front().bytes, net.now);
        }
        ASSERT_TRUE(meet::validCode(host.code()));
        const std::string code = host.code();
        if (ended) host.end();
        GuestWays guest(kService, code, {}, [&](const Endpoint& to, std::string_view b) { net.send(false, to, b); });
        guest.step(net.now);
        for (; !net.air.empty(); net.air.pop_front())
            if (!net.air.front().toHost) guest.take(net.air.front().from, net.air.front().bytes, net.now);
        EXPECT_EQ(guest.state() == GuestWays::State::Failed, ended) << guest.failure();
        EXPECT_TRUE(host.failure().empty()) << host.failure();
    }
}

// What only the service may say is taken from nobody else, and an answer to no request of ours
// changes nothing.
TEST(WaysThrough, MeetingDatagramsFromStrangersOrWithOtherNoncesAreIgnored) {
    std::vector<std::string> sent;
    GuestWays guest(kService, "ABCDEFGH", {}, [&](const Endpoint&, std::string_view b) { sent.emplace_back(b); });
    guest.step(0);
    ASSERT_EQ(sent.size(), 1u);
    meet::Message lookup;
    ASSERT_EQ(meet::decode(sent[0], lookup), meet::Decoded::Ok);
    meet::Message error;
    error.type = meet::Type::Error;
    error.error = meet::ErrorCode::UnknownCode;
    const struct { Endpoint from; uint32_t nonce; bool fails; } rows[] = {
        {{0x01020304, 7311}, lookup.nonce, false},   // a stranger
        {kService, lookup.nonce + 1, false},         // no request of ours
        {kService, lookup.nonce, true},
    };
    for (const auto& r : rows) {
        error.nonce = r.nonce;
        EXPECT_TRUE(guest.take(r.from, meet::encode(error), 10));
        EXPECT_EQ(guest.state() == GuestWays::State::Failed, r.fails);
    }
    EXPECT_FALSE(guest.take(kService, "an ENet datagram", 10));
}

}  // namespace
}  // namespace hopshot::net
