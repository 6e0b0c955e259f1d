// Games on the LAN: the query's and the announcement's bytes, a host's answers to friends and to
// a flood, and a real host found by a real guest on loopback (the queries sent to 127.0.0.1 on
// ports of this test's own).
#include "net/lan_games.h"
#include "net/session.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <poll.h>

#include <atomic>
#include <thread>

namespace hopshot {
namespace {

constexpr uint32_t kLoopback = 0x7F000001;   // 127.0.0.1

// Ports of this test process: ctest runs tests side by side, each in a process of its own.
uint16_t testPort(int slot) { return uint16_t(61000 + (getpid() % 1000) * 4 + slot); }

std::string bytes(std::initializer_list<int> b) {
    std::string s;
    for (int c : b) s += char(c);
    return s;
}

// "hslg", version 1, name "ab", 2 machines, players 3 and 4 free, port 7310.
const std::string kGood = bytes({'h', 's', 'l', 'g', 1, 2, 'a', 'b', 2, 0x0C, 0x1C, 0x8E});

TEST(LanGames, AnAnnouncementIsReadBackAsWrittenAndEveryBadOneIsDropped) {
    const LanAnnouncement a{"ab", 2, {false, false, true, true}, 7310};
    EXPECT_EQ(encodeAnnouncement(a), kGood);
    ASSERT_TRUE(decodeAnnouncement(kGood));
    EXPECT_EQ(*decodeAnnouncement(kGood), a);

    const LanAnnouncement longest{std::string(kMaxHostName, 'x'), 4, {}, 65535};
    EXPECT_EQ(decodeAnnouncement(encodeAnnouncement(longest)), longest);
    // A name too long is cut, one not printable is masked: what goes out can always be read.
    const auto cut = decodeAnnouncement(encodeAnnouncement({std::string(300, 'y') + "\n", 1, {}, 1}));
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->hostName, std::string(kMaxHostName, 'y'));
    EXPECT_EQ(decodeAnnouncement(encodeAnnouncement({"a\tb", 1, {}, 1}))->hostName, "a?b");

    auto with = [](size_t at, int value) {
        std::string s = kGood;
        s[at] = char(value);
        return s;
    };
    const struct { const char* what; std::string bytes; } bad[] = {
        {"empty", ""},
        {"the header alone", kGood.substr(0, 5)},
        {"cut short", kGood.substr(0, kGood.size() - 1)},
        {"a byte too many", kGood + "x"},
        {"another magic", with(0, 'H')},
        {"a later version", with(4, 2)},
        {"no name", bytes({'h', 's', 'l', 'g', 1, 0, 2, 0x0C, 0x1C, 0x8E})},
        {"a name longer than the bytes", with(5, 3)},
        {"a name too long", bytes({'h', 's', 'l', 'g', 1, 64}) + std::string(64, 'n') + bytes({1, 0, 1, 1})},
        {"a control character in the name", with(6, '\n')},
        {"a byte above ASCII in the name", with(7, 0xC3)},
        {"no machine", with(8, 0)},
        {"five machines", with(8, 5)},
        {"a fifth player free", with(9, 0x10)},
        {"port 0", bytes({'h', 's', 'l', 'g', 1, 2, 'a', 'b', 2, 0x0C, 0, 0})},
        {"a TURN request", bytes({0, 1, 0, 0, 0x21, 0x12, 0xA4, 0x42, 0, 0, 0, 0})},
    };
    for (const auto& b : bad) EXPECT_FALSE(decodeAnnouncement(b.bytes)) << b.what;

    // A query is as long as the longest answer, so that answering never sends more than came.
    const std::string query = encodeQuery();
    EXPECT_TRUE(isQuery(query));
    EXPECT_EQ(encodeAnnouncement(longest).size(), query.size());
    auto queryWith = [&](size_t at, int value) {
        std::string s = query;
        s[at] = char(value);
        return s;
    };
    const struct { const char* what; std::string bytes; } badQueries[] = {
        {"empty", ""},
        {"the header alone", query.substr(0, 5)},
        {"cut short", query.substr(0, query.size() - 1)},
        {"a byte too many", query + std::string(1, '\0')},
        {"another magic", queryWith(3, 'g')},
        {"a later version", queryWith(4, 2)},
        {"padding not zero", queryWith(40, 1)},
        {"the last padding byte not zero", queryWith(query.size() - 1, 0xFF)},
        {"an announcement", encodeAnnouncement(longest)},
    };
    for (const auto& b : badQueries) EXPECT_FALSE(isQuery(b.bytes)) << b.what;
}

// A stranger's socket on loopback, bound to `port` (0: any), which receives with a bounded wait.
struct Stranger {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    explicit Stranger(uint16_t port = 0) {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(kLoopback);
        at.sin_port = htons(port);
        bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at);
    }
    ~Stranger() { close(fd); }
    void send(const sockaddr_in& to, const std::string& what) const {
        sendto(fd, what.data(), what.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    void send(uint16_t port, const std::string& what) const {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(kLoopback);
        to.sin_port = htons(port);
        send(to, what);
    }
    // The next datagram within waitMs, and who sent it; nullopt when none came.
    std::optional<std::string> receive(int waitMs, sockaddr_in* from = nullptr) const {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, waitMs) != 1) return std::nullopt;
        char buffer[4096];
        sockaddr_in f{};
        socklen_t size = sizeof f;
        const ssize_t got = recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&f), &size);
        if (got < 0) return std::nullopt;
        if (from) *from = f;
        return std::string(buffer, size_t(got));
    }
};

// A hostile "host" answers the first query with a game twice, junk and more games than are kept:
// the finder keeps one entry per game (the later word), drops the junk, keeps a bounded list, and
// asks as often as it says within its wait.
TEST(LanGames, TheFinderMergesAGameHeardTwiceDropsJunkAndKeepsABoundedList) {
    const Stranger host(testPort(0));
    int queries = 0;
    std::thread answering([&] {
        sockaddr_in finder{};
        for (auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(2500);
             std::chrono::steady_clock::now() < until;) {
            const auto got = host.receive(50, &finder);
            if (!got || !isQuery(*got) || ++queries > 1) continue;
            host.send(finder, encodeAnnouncement({"first", 1, {false, true, true, true}, 7310}));
            host.send(finder, encodeAnnouncement({"first", 2, {false, false, true, true}, 7310}));
            host.send(finder, "hslg junk");
            host.send(finder, std::string(2000, 'h'));
            for (int i = 0; i < 30; ++i) host.send(finder, encodeAnnouncement({"more", 1, {}, uint16_t(8000 + i)}));
        }
    });
    std::string error;
    const std::vector<LanGame> heard = findGames({{kLoopback, testPort(0)}}, kLanListenMs, error);
    answering.join();
    EXPECT_EQ(error, "");
    EXPECT_EQ(queries, kLanQueries);
    ASSERT_EQ(heard.size(), kMaxLanGames);
    EXPECT_EQ(heard[0].said, (LanAnnouncement{"first", 2, {false, false, true, true}, 7310}));
    EXPECT_EQ(heard[0].where(), "127.0.0.1:7310");
    EXPECT_EQ(heard[1].where(), "127.0.0.1:8000");
    EXPECT_EQ(heard.back().where(), "127.0.0.1:" + std::to_string(8000 + kMaxLanGames - 2));
}

// A host answers queries only, to the asker alone, never with more bytes than came, and at most
// kLanAnswersPerAddress times a second to one address however many it is sent.
TEST(LanGames, AHostAnswersQueriesOnlyAndBoundsItsAnswersToAFlood) {
    struct Burst {
        uint32_t atMs;
        int queries;
        std::vector<std::string> junk;
    };
    const struct { const char* what; std::vector<Burst> bursts; int answers; } rows[] = {
        {"one query", {{5000, 1, {}}}, 1},
        {"a flood within a second", {{5000, 50, {}}, {5999, 50, {}}}, kLanAnswersPerAddress},
        {"a flood over two seconds", {{5000, 50, {}}, {6000, 50, {}}}, 2 * kLanAnswersPerAddress},
        {"junk and near queries", {{5000, 0, {"", "x", std::string(2000, 0), encodeQuery() + "x",
                                            encodeQuery().substr(1), encodeAnnouncement({"h", 1, {}, 1})}}}, 0},
    };
    const LanAnnouncement said{"den", 1, {false, true, true, true}, 7310};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        LanResponder host(testPort(1));
        ASSERT_EQ(host.error(), "");
        const Stranger asker;
        int built = 0;
        for (const Burst& b : r.bursts) {
            for (const std::string& j : b.junk) asker.send(testPort(1), j);
            for (int q = 0; q < b.queries; ++q) asker.send(testPort(1), encodeQuery());
            // A flood takes more than one step: each reads a bounded number of datagrams.
            for (int s = 0; s < 4; ++s) host.step(b.atMs, [&] { return ++built, said; });
        }
        int answers = 0;
        while (const auto got = asker.receive(answers < r.answers ? 1000 : 100)) {
            ++answers;
            EXPECT_LE(got->size(), kLanQuerySize);
            EXPECT_EQ(decodeAnnouncement(*got), said);
        }
        EXPECT_EQ(answers, r.answers);
        EXPECT_EQ(host.answered(), r.answers);
        EXPECT_LE(built, int(r.bursts.size()) * 4);   // built once a step at most, only when asked
        if (r.answers == 0) {
            EXPECT_EQ(built, 0);
        }
    }
    // A port another program holds costs the finding only, and says so.
    const Stranger other(testPort(1));
    const LanResponder unfound(testPort(1));
    EXPECT_EQ(unfound.error(), "this game cannot be found on the LAN (UDP port " + std::to_string(testPort(1)) +
                                   " is taken); guests join it by address");
}

// A real host's session answering on loopback, and a guest that names neither the host nor a
// player: it hears the one game, joins it and takes the first free player.
TEST(LanGames, AGuestWithNoAddressJoinsTheOneGameHeardWithAFreePlayer) {
    const uint16_t lanPort = testPort(2), gamePort = testPort(3);
    std::string error;
    auto host = NetSession::host(gamePort, {true, false, true, false}, "v", error);
    ASSERT_TRUE(host) << error;
    auto lan = std::make_unique<LanResponder>(lanPort);
    ASSERT_EQ(lan->error(), "");
    host->answerOnLan(std::move(lan));
    std::atomic<bool> done{false};
    std::thread hosting([&] {
        while (!done) host->service(10);
    });

    std::string address, message;
    uint16_t port = 0;
    const bool found = pickLanGame({{kLoopback, lanPort}}, kLanListenMs, address, port, message);
    EXPECT_TRUE(found) << message;
    EXPECT_EQ(address + ":" + std::to_string(port), "127.0.0.1:" + std::to_string(gamePort));
    EXPECT_NE(message.find("1 machine, free players 24"), std::string::npos) << message;
    std::unique_ptr<NetSession> guest;
    if (found) guest = NetSession::join(address, port, {}, "v", 5000, error);
    for (int waited = 0; guest && guest->roster().size() < 2 && waited < 3000; waited += 10)
        guest->service(10);   // the roster follows the welcome
    done = true;
    hosting.join();
    ASSERT_TRUE(guest) << error;
    ASSERT_EQ(guest->roster().size(), 2u);
    EXPECT_EQ(guest->roster()[1].players, (Players{false, true, false, false}));
}

// With no game heard, one sentence that says what to do; with several, each on a line of its own
// and how to pick one.
TEST(LanGames, AJoiningMachineSaysWhenItHearsNoGameOrSeveral) {
    const struct { int games; const char* said; } rows[] = {
        {0, "no hosted game was heard on this LAN; to join one elsewhere, give its host's address: "
            "--join ADDRESS"},
        {2, "2 games are hosted on this LAN; join one with --join ADDRESS[:PORT]:\n"
            "  den at 127.0.0.1:7400, 1 machine, free players 234\n"
            "  den at 127.0.0.1:7401, 4 machines, free players none"},
    };
    for (const auto& r : rows) {
        // Each game on a port of its own: on loopback a query reaches one listener of a port.
        std::vector<std::unique_ptr<LanResponder>> lan;
        std::vector<LanPlace> places;
        for (int g = 0; g < 2; ++g) {
            places.push_back({kLoopback, testPort(g)});
            if (g < r.games) lan.push_back(std::make_unique<LanResponder>(testPort(g)));
        }
        std::atomic<bool> done{false};
        std::thread hosts([&] {
            for (uint32_t ms = 0; !done; ms += 10) {
                for (int g = 0; g < r.games; ++g)
                    lan[size_t(g)]->step(ms, [g] {
                        return LanAnnouncement{"den", g == 0 ? 1 : 4, {false, g == 0, g == 0, g == 0}, uint16_t(7400 + g)};
                    });
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
        std::string address, message;
        uint16_t port = 0;
        EXPECT_FALSE(pickLanGame(places, kLanListenMs, address, port, message));
        done = true;
        hosts.join();
        EXPECT_EQ(message, r.said);
        EXPECT_EQ(address, "");
    }
}

}  // namespace
}  // namespace hopshot
