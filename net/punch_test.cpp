// Hole punching between two sides on a simulated link that loses what a table says, and what a
// stranger's datagrams do to one side (real sockets across real routers: home_lab_test.cpp).
#include "net/punch.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>

namespace hopshot::net {
namespace {

constexpr PunchEndpoint kSide[2] = {{0xCB007101, 40000}, {0xCB007102, 50000}};
constexpr int kLinkMs = 15;   // one way

// Two punchers on a link that passes the n-th datagram from side s when pass(s, n) says so,
// stepped a millisecond at a time for up to 4 seconds.
struct Link {
    struct Flight { int to; std::string bytes; int64_t at; };
    std::function<bool(int side, int n)> pass;
    std::deque<Flight> flights;
    int64_t now = 0;
    int sent[2] = {0, 0};
    std::unique_ptr<Puncher> side[2];
    int64_t throughAt[2] = {-1, -1};

    explicit Link(std::function<bool(int, int)> p, PunchLimits limits = {}) : pass(std::move(p)) {
        for (int s = 0; s < 2; ++s)
            side[s] = std::make_unique<Puncher>(std::vector<PunchEndpoint>{kSide[1 - s]},
                [this, s](const PunchEndpoint& to, std::string_view bytes) {
                    EXPECT_EQ(to, kSide[1 - s]);
                    if (pass(s, sent[s]++)) flights.push_back({1 - s, std::string(bytes), now + kLinkMs});
                }, limits);
    }
    void run(int64_t untilMs = 4000) {
        for (; now < untilMs; ++now) {
            while (!flights.empty() && flights.front().at <= now) {
                const Flight f = flights.front();
                flights.pop_front();
                EXPECT_TRUE(side[f.to]->receive(kSide[1 - f.to], f.bytes));
            }
            for (int s = 0; s < 2; ++s) {
                side[s]->tick(now);
                if (throughAt[s] < 0 && side[s]->state() == PunchState::Through) throughAt[s] = now;
            }
        }
    }
};

TEST(HolePunching, BothSidesGetThroughWhenTheLinkPassesEitherWayAtSomePoint) {
    const struct {
        const char* what;
        std::function<bool(int, int)> pass;
        bool through;
        int64_t atMs = 0;    // when it arrives: after the last round's interval, too late
    } cases[] = {
        {"a clean link", [](int, int) { return true; }, true},
        // The other router drops what arrives before its own home sent anything.
        {"side 0's first five lost", [](int s, int n) { return s == 1 || n >= 5; }, true},
        {"every other datagram lost", [](int, int n) { return n % 2 == 1; }, true},
        {"side 1's first thirty lost", [](int s, int n) { return s == 0 || n >= 30; }, true},
        {"side 1 never heard", [](int s, int) { return s == 0; }, false},
        {"nothing passes", [](int, int) { return false; }, false},
    };
    const PunchLimits limits;
    for (const auto& c : cases) {
        Link link(c.pass);
        link.run();
        for (int s = 0; s < 2; ++s) {
            EXPECT_EQ(link.side[s]->state(), c.through ? PunchState::Through : PunchState::GaveUp) << c.what << ", side " << s;
            if (c.through) {
                EXPECT_EQ(link.side[s]->through(), kSide[1 - s]) << c.what;
            }
            // Bounded whatever happens: the rounds, and answers.
            EXPECT_LE(link.side[s]->probesSent(), limits.rounds + limits.maxAnswers) << c.what;
            if (!c.through) {
                EXPECT_GE(link.side[s]->probesSent(), limits.rounds) << c.what;
            }
        }
        if (c.through) {
            // Once through, a side stops its rounds: a clean link takes a round trip or two.
            EXPECT_LE(std::max(link.throughAt[0], link.throughAt[1]),
                      std::string(c.what) == "a clean link" ? 4 * kLinkMs : 3000) << c.what;
            EXPECT_LT(link.side[0]->probesSent(), limits.rounds) << c.what;
        }
    }
}

std::string probe(uint8_t version, uint8_t kind, uint64_t mine, uint64_t yours, size_t size = kPunchProbeSize) {
    std::string b = {'\x3F', '\xFF', 'h', 'p', char(version), char(kind)};
    for (uint64_t v : {mine, yours})
        for (int shift = 56; shift >= 0; shift -= 8) b.push_back(char(uint8_t(v >> shift)));
    b.resize(size, '\0');
    return b;
}

TEST(HolePunching, AStrangersDatagramsAreNotTakenForTheOtherSide) {
    constexpr uint64_t kMine = 0x1122334455667788;
    const PunchEndpoint stranger{0xCB007163, 40000};
    const struct {
        const char* what;
        PunchEndpoint from;
        std::string bytes;
        bool taken;          // read as a probe at all
        bool answered;
        bool through;
        int64_t atMs = 0;    // when it arrives: after the last round's interval, too late
    } cases[] = {
        {"the other side, echoing", kSide[1], probe(1, 1, 99, kMine), true, true, true},
        {"the other side's answer, echoing", kSide[1], probe(1, 2, 99, kMine), true, false, true},
        {"the other side, not yet hearing", kSide[1], probe(1, 1, 99, 0), true, true, false},
        {"the other side, a wrong echo", kSide[1], probe(1, 1, 99, kMine + 1), true, true, false},
        {"a stranger's probe", stranger, probe(1, 1, 99, 0), true, false, false},
        {"a stranger guessing the echo", stranger, probe(1, 1, 99, kMine ^ 1), true, false, false},
        {"another version", kSide[1], probe(2, 1, 99, kMine), true, false, false},
        {"an unknown kind", kSide[1], probe(1, 3, 99, kMine), true, false, false},
        {"no nonce", kSide[1], probe(1, 1, 0, kMine), true, false, false},
        {"too short", kSide[1], probe(1, 1, 99, kMine, kPunchProbeSize - 1), true, false, false},
        {"too long", kSide[1], probe(1, 1, 99, kMine, kPunchProbeSize + 1), true, false, false},
        {"not a probe", kSide[1], std::string("\x3F\xFFhm", 4) + std::string(18, '\1'), false, false, false},
        {"the other side echoing, after giving up", kSide[1], probe(1, 1, 99, kMine), true, false, false, 5000},
    };
    for (const auto& c : cases) {
        std::vector<std::string> out;
        Puncher p({kSide[1]}, [&](const PunchEndpoint&, std::string_view b) { out.emplace_back(b); }, {}, kMine);
        for (int64_t now = 0; now <= c.atMs; now += 10) p.tick(now);
        const size_t before = out.size();
        ASSERT_GE(before, 1u);
        EXPECT_EQ(p.receive(c.from, c.bytes), c.taken) << c.what;
        EXPECT_EQ(out.size(), before + (c.answered ? 1 : 0)) << c.what;
        EXPECT_EQ(p.state() == PunchState::Through, c.through) << c.what;
        // An answer carries back the nonce heard: the other side's proof.
        if (c.answered) {
            EXPECT_EQ(out.back(), probe(1, 2, kMine, 99)) << c.what;
        }
    }
}

}  // namespace
}  // namespace hopshot::net
