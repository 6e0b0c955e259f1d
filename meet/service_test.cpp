// The service's rules without a network: addresses here are only numbers in memory.
#include "meet/service.h"

#include <gtest/gtest.h>

namespace hopshot::meet {
namespace {

// Stands for "no answer came back".
Message silence() {
    Message m;
    m.type = Type::Ended;
    return m;
}

const Endpoint kHost{0xCB007107, 40001}, kGuest{0xC6336402, 50002}, kOther{0xC6336403, 50003};

struct Harness {
    Service service;
    int64_t nowMs = 1000;
    explicit Harness(Limits l = {}) : service(l, {{0xC6336401, 3478}, "secret"}) {}

    std::vector<Message> send(const Endpoint& from, Message m) {
        const std::string bytes = encode(m);
        std::vector<Message> answers;
        for (const Outgoing& o : service.take(from, bytes, nowMs, 1800000000)) {
            EXPECT_LE(o.bytes.size(), bytes.size());
            Message a;
            EXPECT_EQ(decode(o.bytes, a), Decoded::Ok);
            EXPECT_EQ(o.to, a.type == Type::GuestComing || a.type == Type::GuestRelayed ? kHost
                            : a.type == Type::HostRelay                                  ? m.peer
                                                                                         : from);
            answers.push_back(a);
        }
        return answers;
    }
    Message reg(const Endpoint& from, uint8_t freePlayers = 14) {
        Message m;
        m.type = Type::Register;
        m.game = {"alice", 1, freePlayers};
        const auto a = send(from, m);
        return a.empty() ? silence() : a[0];   // Ended: no answer at all
    }
    Message lookup(const Endpoint& from, const std::string& code) {
        Message m;
        m.type = Type::Lookup;
        m.code = code;
        m.lan = {{0xC0A80107, 7310}};
        const auto a = send(from, m);
        return a.empty() ? silence() : a[0];   // Ended: no answer at all
    }
    Message keyed(Type t, const Message& registered, uint8_t flip = 0) {
        Message m;
        m.type = t;
        m.code = registered.code;
        m.hostKey = registered.hostKey;
        m.hostKey[0] ^= flip;
        m.game = {"", 2, 12};
        const auto a = send(kHost, m);
        return a.empty() ? silence() : a[0];
    }
};

TEST(MeetService, CodesLiveWhileRefreshedAndDieWhenLeftOrEnded) {
    struct Step { int64_t advanceMs; Type send; uint8_t flip; Type answer; ErrorCode error; };
    const struct { const char* what; std::vector<Step> steps; } cases[] = {
        {"alive within its time", {{29000, Type::Lookup, 0, Type::Found, {}}}},
        {"expired", {{30000, Type::Lookup, 0, Type::Error, ErrorCode::UnknownCode}}},
        {"refreshed", {{20000, Type::Refresh, 0, Type::Refreshed, {}}, {20000, Type::Lookup, 0, Type::Found, {}}}},
        {"refresh with a wrong key", {{0, Type::Refresh, 1, Type::Error, ErrorCode::UnknownCode},
                                      {30000, Type::Lookup, 0, Type::Error, ErrorCode::UnknownCode}}},
        {"ended", {{0, Type::End, 0, Type::Ended, {}}, {0, Type::Lookup, 0, Type::Error, ErrorCode::UnknownCode}}},
        {"end with a wrong key", {{0, Type::End, 0x80, Type::Error, ErrorCode::UnknownCode},
                                  {0, Type::Lookup, 0, Type::Found, {}}}},
        {"refresh after expiry", {{31000, Type::Refresh, 0, Type::Error, ErrorCode::UnknownCode}}},
    };
    for (const auto& c : cases) {
        Harness h;
        const Message r = h.reg(kHost);
        for (const Step& s : c.steps) {
            h.nowMs += s.advanceMs;
            h.service.sweep(h.nowMs);
            const Message a = s.send == Type::Lookup ? h.lookup(kGuest, r.code) : h.keyed(s.send, r, s.flip);
            EXPECT_EQ(a.type, s.answer) << c.what;
            if (a.type == Type::Error) { EXPECT_EQ(a.error, s.error) << c.what; }
        }
    }
}

// A guest's relayed endpoint reaches the host of a live code only.
TEST(MeetService, ARelayedGuestIsToldToItsHost) {
    const struct { const char* what; bool live; std::vector<Type> answers; } cases[] = {
        {"a live code", true, {Type::RelayNoted, Type::GuestRelayed}},
        {"an unknown code", false, {Type::Error}},
    };
    for (const auto& c : cases) {
        Harness h;
        const Message r = h.reg(kHost);
        Message m;
        m.type = Type::Relayed;
        m.code = c.live ? r.code : "ABCDEFGH";
        m.relayed = {0xC6336401, 49153};
        const auto a = h.send(kGuest, m);
        ASSERT_EQ(a.size(), c.answers.size()) << c.what;
        for (size_t i = 0; i < a.size(); ++i) EXPECT_EQ(a[i].type, c.answers[i]) << c.what;
        if (c.live) {
            EXPECT_EQ(a[1].peer, kGuest);
            EXPECT_EQ(a[1].relayed, m.relayed);
        }
    }
}

// The host's own relayed endpoint (or none) reaches a guest that said it is relayed, and only
// with the host's key.
TEST(MeetService, AHostsRelayIsToldToItsRelayedGuestOnly) {
    const struct { const char* what; bool guestRelayed; uint8_t flip; Endpoint relayed; size_t answers; } cases[] = {
        {"its relayed guest", true, 0, {0xC6336401, 49160}, 2},
        {"no relay of its own", true, 0, {}, 2},
        {"a guest that never said it is relayed", false, 0, {0xC6336401, 49160}, 1},
        {"a wrong host key", true, 1, {0xC6336401, 49160}, 1},
    };
    for (const auto& c : cases) {
        Harness h;
        const Message r = h.reg(kHost);
        Message m = r;
        m.type = Type::Relayed;
        m.relayed = {0xC6336401, 49153};
        if (c.guestRelayed) {
            ASSERT_EQ(h.send(kGuest, m).size(), 2u) << c.what;
        }
        m.type = Type::HostRelayed;
        m.hostKey[3] ^= c.flip;
        m.peer = kGuest;
        m.relayed = c.relayed;
        const auto a = h.send(kHost, m);
        ASSERT_EQ(a.size(), c.answers) << c.what;
        EXPECT_EQ(a[0].type, c.flip ? Type::Error : Type::RelayNoted) << c.what;
        if (a.size() == 2) {
            EXPECT_TRUE(a[1].type == Type::HostRelay && a[1].code == r.code && a[1].relayed == c.relayed) << c.what;
        }
    }
}

TEST(MeetService, BoundsOnCodesAndFullGames) {
    Limits l;
    l.maxCodes = 3;
    l.maxCodesPerSource = 2;
    Harness h(l);
    EXPECT_EQ(h.reg(kHost).type, Type::Registered);
    EXPECT_EQ(h.reg(kHost).type, Type::Registered);
    EXPECT_EQ(h.reg(kHost).error, ErrorCode::ServiceFull);   // two from this address
    EXPECT_EQ(h.reg(kHost).type, Type::Error);
    const Message full = h.reg(kGuest, 0);
    EXPECT_EQ(full.type, Type::Registered);
    EXPECT_EQ(h.reg(kOther).error, ErrorCode::ServiceFull);  // three on the service
    EXPECT_EQ(h.lookup(kOther, full.code).error, ErrorCode::GameFull);
    EXPECT_EQ(h.service.liveCodes(), 3u);
    h.keyed(Type::End, full);
    EXPECT_EQ(h.reg(kOther).type, Type::Registered);
}

TEST(MeetService, AFloodFromOneAddressIsCutOffWhileAnotherIsServed) {
    const struct { const char* what; Type flood; size_t answersAtMost; } cases[] = {
        {"registers", Type::Register, 20 + 1},   // the request budget's burst, one refusal
        {"guessed codes", Type::Lookup, 6 + 1},  // the lookup budget's burst, one refusal
    };
    for (const auto& c : cases) {
        Harness h;
        size_t answers = 0, refusals = 0;
        for (int i = 0; i < 500; ++i) {
            const Message a = c.flood == Type::Lookup ? h.lookup(kGuest, "22222222") : h.reg(kGuest);
            answers += a.type != Type::Ended;
            refusals += a.type == Type::Error && a.error == ErrorCode::RateLimited;
        }
        EXPECT_LE(answers, c.answersAtMost) << c.what;
        EXPECT_EQ(refusals, 1u) << c.what;
        // Another port of the same address is the same source; another address is not.
        EXPECT_EQ(h.reg({kGuest.address, 1}).type, Type::Ended) << c.what;
        EXPECT_EQ(h.reg(kOther).type, Type::Registered) << c.what;
        h.nowMs += 10000;
        h.service.sweep(h.nowMs);
        EXPECT_EQ(h.lookup(kGuest, "22222222").error, ErrorCode::UnknownCode) << c.what;
    }
}

TEST(MeetService, FollowedAddressesAreBounded) {
    Limits l;
    l.maxSources = 8;
    Harness h(l);
    for (uint32_t i = 0; i < 100; ++i) h.lookup({0x0A000000 + i, 1}, "22222222");
    EXPECT_EQ(h.service.followedSources(), 8u);
    h.nowMs += 60000;
    h.service.sweep(h.nowMs);
    EXPECT_EQ(h.service.followedSources(), 0u);
    EXPECT_EQ(h.lookup(kOther, "22222222").error, ErrorCode::UnknownCode);
}

}  // namespace
}  // namespace hopshot::meet
