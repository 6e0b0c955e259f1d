// Games on the LAN: the announcement's bytes, and a real host heard by a real guest on loopback
// (the announcements sent to 127.0.0.1 on a port of this test's own).
#include "net/lan_games.h"
#include "net/session.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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
}

// A stranger's socket on loopback that sends whatever it is given to the listening port.
void sendTo(uint16_t port, const std::string& what) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(kLoopback);
    to.sin_port = htons(port);
    sendto(fd, what.data(), what.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    close(fd);
}

TEST(LanGames, TheListenerMergesAGameHeardTwiceDropsJunkAndKeepsABoundedList) {
    const uint16_t port = testPort(0);
    std::vector<LanGame> heard;
    std::string error;
    std::thread listener([&] { heard = listenForGames(port, 1500, error); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // One game twice (the later word wins), junk, then more games than are kept.
    sendTo(port, encodeAnnouncement({"first", 1, {false, true, true, true}, 7310}));
    sendTo(port, encodeAnnouncement({"first", 2, {false, false, true, true}, 7310}));
    sendTo(port, "hslg junk");
    sendTo(port, std::string(2000, 'h'));
    for (int i = 0; i < 30; ++i) sendTo(port, encodeAnnouncement({"more", 1, {}, uint16_t(8000 + i)}));
    listener.join();
    EXPECT_EQ(error, "");
    ASSERT_EQ(heard.size(), kMaxLanGames);
    EXPECT_EQ(heard[0].said, (LanAnnouncement{"first", 2, {false, false, true, true}, 7310}));
    EXPECT_EQ(heard[0].where(), "127.0.0.1:7310");
    EXPECT_EQ(heard[1].where(), "127.0.0.1:8000");
    EXPECT_EQ(heard.back().where(), "127.0.0.1:" + std::to_string(8000 + kMaxLanGames - 2));
}

TEST(LanGames, TheAnnouncerSaysItAtMostOnceASecond) {
    LanAnnouncer lan(testPort(1), {kLoopback});
    const LanAnnouncement a{"h", 1, {}, 7310};
    for (uint32_t ms : {5000u, 5001u, 5999u, 6000u, 6500u, 7000u, 7001u}) lan.step(ms, a);
    EXPECT_EQ(lan.sent(), 3);   // at 5000, 6000 and 7000
}

// A real host's session announcing on loopback, and a guest that names neither the host nor a
// player: it hears the one game, joins it and takes the first free player.
TEST(LanGames, AGuestWithNoAddressJoinsTheOneGameHeardWithAFreePlayer) {
    const uint16_t lanPort = testPort(2), gamePort = testPort(3);
    std::string error;
    auto host = NetSession::host(gamePort, {true, false, true, false}, "v", error);
    ASSERT_TRUE(host) << error;
    host->announceOnLan(std::make_unique<LanAnnouncer>(lanPort, std::vector<uint32_t>{kLoopback}));
    std::atomic<bool> done{false};
    std::thread hosting([&] {
        while (!done) host->service(10);
    });

    std::string address, message;
    uint16_t port = 0;
    const bool found = pickLanGame(lanPort, kLanListenMs, address, port, message);
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
        const uint16_t lanPort = testPort(r.games);
        std::atomic<bool> done{false};
        std::thread hosts([&] {
            std::vector<std::unique_ptr<LanAnnouncer>> lan;
            for (int g = 0; g < r.games; ++g)
                lan.push_back(std::make_unique<LanAnnouncer>(lanPort, std::vector<uint32_t>{kLoopback}));
            for (uint32_t ms = 0; !done; ms += 10) {
                for (int g = 0; g < r.games; ++g)
                    lan[size_t(g)]->step(ms, {"den", g == 0 ? 1 : 4, {false, g == 0, g == 0, g == 0}, uint16_t(7400 + g)});
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
        std::string address, message;
        uint16_t port = 0;
        EXPECT_FALSE(pickLanGame(lanPort, kLanListenMs, address, port, message));
        done = true;
        hosts.join();
        EXPECT_EQ(message, r.said);
        EXPECT_EQ(address, "");
    }
}

}  // namespace
}  // namespace hopshot
