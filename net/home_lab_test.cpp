// Network play's ways through, tried in the home lab (scripts/homelab): two homes behind NAT
// routers and a public network, in network namespaces. Every machine here is a real UDP socket
// inside its home; the meeting service and coturn run as real processes on the public network.
// Without root, network namespaces or iptables the tests skip, saying why.
#include "meet/protocol.h"
#include "meet/turn_credentials.h"
#include "net/punch.h"
#include "testing/headless_test_support.h"
#include "testing/home_lab.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <future>
#include <regex>
#include <thread>

namespace hopshot::net {
namespace {

using meet::Endpoint;
using meet::Message;
using meet::Type;

#define NEED_HOME_LAB()                                                              \
    if (!lab::whyNoLab().empty()) GTEST_SKIP() << "no home lab here: " << lab::whyNoLab()

constexpr char kSecret[] = "lab-relay-secret-7";

// A machine in a home: its socket, speaking the meeting protocol with the service in net.
struct Machine {
    int fd = -1;

    void send(const Endpoint& to, const std::string& bytes) const {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(to.address);
        a.sin_port = htons(to.port);
        sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    // The next meeting message within timeoutMs; type Ended with nonce 0 when none came.
    Message receive(int timeoutMs = 2000) const {
        Message m;
        m.type = Type::Ended;
        for (int waited = 0; waited < timeoutMs; waited += 100) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 100) != 1) continue;
            char buffer[meet::kMaxDatagram];
            const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
            if (got > 0 && meet::decode(std::string_view(buffer, size_t(got)), m) == meet::Decoded::Ok) return m;
        }
        return m;
    }
    Message ask(Message request) const {
        static uint32_t nonce = 0x4C414200;
        request.nonce = ++nonce;
        send({lab::kPublicServer, lab::kMeetPort}, meet::encode(request));
        return receive();
    }
};

// What the host and the guest learnt from the service.
struct Met {
    Message registered, found, coming;
};

// The host behind router 1 registers, the guest behind router 2 looks its code up, and the host
// hears the guest is coming.
Met meetThroughService(const Machine& host, const Machine& guest) {
    Met m;
    Message r;
    r.type = Type::Register;
    r.lan = {{0xC6336402, 7310}};
    r.game = {"home one", 1, 14};
    m.registered = host.ask(r);
    Message lookup;
    lookup.type = Type::Lookup;
    lookup.code = m.registered.code;
    lookup.lan = {{0xC6336482, 7310}};
    m.found = guest.ask(lookup);
    m.coming = host.receive();
    return m;
}

TEST(HomeLab, HostAndGuestBehindRoutersLearnEachOthersPublicEndpoints) {
    NEED_HOME_LAB();
    lab::HomeLab lab(0);
    ASSERT_TRUE(lab.ok()) << lab.error();
    ASSERT_NE(lab.startMeet(HOPSHOT_MEET_BINARY), nullptr);
    const Machine host{lab.udpSocket("h1")}, guest{lab.udpSocket("h2")};
    ASSERT_GE(host.fd, 0);
    ASSERT_GE(guest.fd, 0);
    const Met m = meetThroughService(host, guest);

    ASSERT_EQ(m.registered.type, Type::Registered);
    EXPECT_TRUE(meet::validCode(m.registered.code)) << m.registered.code;
    // The service sees the routers, never the homes' own addresses.
    EXPECT_EQ(m.registered.seen.address, lab::kRouter1) << meet::toString(m.registered.seen);
    ASSERT_EQ(m.found.type, Type::Found) << int(m.found.error);
    EXPECT_EQ(m.found.peer, m.registered.seen);
    EXPECT_EQ(m.found.seen.address, lab::kRouter2) << meet::toString(m.found.seen);
    EXPECT_EQ(m.found.game.hostName, "home one");
    ASSERT_EQ(m.coming.type, Type::GuestComing);
    EXPECT_EQ(m.coming.code, m.registered.code);
    EXPECT_EQ(m.coming.peer, m.found.seen);
}

std::vector<PunchEndpoint> punchTo(const Endpoint& e) { return {{e.address, e.port}}; }

const char* named(PunchState s) {
    return s == PunchState::Through ? "through" : s == PunchState::GaveUp ? "gave up" : "trying";
}

TEST(HomeLab, HolePunchingPassesTwoOrdinaryRoutersButNotASymmetricOne) {
    NEED_HOME_LAB();
    const struct { bool symmetric; PunchState expected; } cases[] = {
        {false, PunchState::Through},
        {true, PunchState::GaveUp},
    };
    const PunchLimits limits;
    for (const auto& c : cases) {
        lab::HomeLab lab(c.symmetric);
        ASSERT_TRUE(lab.ok()) << lab.error();
        ASSERT_NE(lab.startMeet(HOPSHOT_MEET_BINARY), nullptr);
        const Machine host{lab.udpSocket("h1")}, guest{lab.udpSocket("h2")};
        const Met m = meetThroughService(host, guest);
        ASSERT_EQ(m.found.type, Type::Found);
        ASSERT_EQ(m.coming.type, Type::GuestComing);

        // Both at once, from the sockets the service saw, to the endpoints it told.
        auto fromGuest = std::async(std::launch::async, [&] { return punchOnSocket(guest.fd, punchTo(m.found.peer), limits); });
        const PunchResult fromHost = punchOnSocket(host.fd, punchTo(m.coming.peer), limits);
        const PunchResult guestSide = fromGuest.get();
        for (const PunchResult& r : {fromHost, guestSide}) {
            EXPECT_STREQ(named(r.state), named(c.expected)) << (c.symmetric ? "symmetric" : "ordinary");
            EXPECT_LE(r.probesSent, limits.rounds + limits.maxAnswers);
            EXPECT_LE(r.elapsedMs, (limits.rounds + 1) * limits.intervalMs + limits.lingerMs + 500);
            EXPECT_EQ(r.strangers, 0);
        }
        if (c.expected == PunchState::Through) {
            EXPECT_EQ(fromHost.through, punchTo(m.coming.peer)[0]);
            EXPECT_EQ(guestSide.through, punchTo(m.found.peer)[0]);
            // Through in a round trip or two, then a short wait for the other side.
            EXPECT_LT(std::max(fromHost.elapsedMs, guestSide.elapsedMs), 1500);
        }
    }
}

TEST(HomeLab, TheRelayCarriesAGuestBehindASymmetricRouterToTheOtherHome) {
    NEED_HOME_LAB();
    const std::string uclient = lab::findProgram("turnutils_uclient");
    if (lab::findProgram("turnserver").empty() || uclient.empty())
        GTEST_SKIP() << "no TURN relay here: coturn is missing (apt-get install coturn)";
    lab::HomeLab lab(1);
    ASSERT_TRUE(lab.ok()) << lab.error();
    ASSERT_TRUE(lab.startRelay(kSecret)) << lab.relayLog().substr(0, 4000);
    const std::filesystem::path secretFile = lab.dir() / "turn-secret";
    {
        std::ofstream(secretFile) << kSecret << "\n";
        std::filesystem::permissions(secretFile, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    }
    ASSERT_NE(lab.startMeet(HOPSHOT_MEET_BINARY, {"--turn", "203.0.113.10:3478", "--turn-secret-file",
                                                  secretFile.string()}), nullptr);
    const Machine host{lab.udpSocket("h1")}, guest{lab.udpSocket("h2")};
    const Met m = meetThroughService(host, guest);
    ASSERT_EQ(m.found.type, Type::Found);
    ASSERT_TRUE(m.found.turn.offered);
    EXPECT_EQ(m.found.turn.server, (Endpoint{lab::kPublicServer, lab::kTurnPort}));

    const int64_t inTenMinutes = int64_t(std::time(nullptr)) + 600;
    const struct {
        const char* what;
        std::string username, password;
        bool relayed;
    } cases[] = {
        {"the service's credentials", m.found.turn.username, m.found.turn.password, true},
        {"made with another secret", meet::turnCredentials("another secret", inTenMinutes, m.registered.code).username,
         meet::turnCredentials("another secret", inTenMinutes, m.registered.code).password, false},
        {"expired", meet::turnCredentials(kSecret, inTenMinutes - 1200, m.registered.code).username,
         meet::turnCredentials(kSecret, inTenMinutes - 1200, m.registered.code).password, false},
    };
    for (const auto& c : cases) {
        // The host sends a datagram to each of the relay's ports, so that its router lets the
        // relay's answers in: a host behind a router hears a relayed guest no other way.
        for (int port = lab::kRelayFirstPort; port <= lab::kRelayLastPort; ++port)
            host.send({lab::kPublicServer, uint16_t(port)}, "open");
        // The guest, behind the symmetric router, allocates a relay and sends five messages
        // through it to the host's public endpoint; the host echoes them.
        proc::Child& client = lab.run("h2", uclient,
            {"-u", c.username, "-w", c.password, "-e", lab::addressText(m.registered.seen.address),
             "-r", std::to_string(m.registered.seen.port), "-n", "5", "-m", "1", "-c", "-X", "-z", "50",
             lab::addressText(lab::kPublicServer)},
            "uclient");
        int relayed = 0;
        bool ended = false;   // once reaped, a child's pid is no longer its own to wait for
        for (int waited = 0; waited < 8000 && !(ended = client.waitEnd(0)); waited += 50) {
            pollfd p{host.fd, POLLIN, 0};
            if (poll(&p, 1, 50) != 1) continue;
            char buffer[2048];
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t got = recvfrom(host.fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
            const uint16_t port = ntohs(from.sin_port);
            if (got <= 0 || ntohl(from.sin_addr.s_addr) != lab::kPublicServer || port < lab::kRelayFirstPort ||
                port > lab::kRelayLastPort)
                continue;
            ++relayed;
            sendto(host.fd, buffer, size_t(got), 0, reinterpret_cast<sockaddr*>(&from), length);
        }
        ASSERT_TRUE(ended || client.waitEnd(2000)) << c.what << ": " << client.out() << client.err();
        const std::string said = client.out() + client.err();
        std::smatch counts;
        const bool finished = std::regex_search(said, counts, std::regex("start_mclient: tot_send_msgs=([0-9]+), tot_recv_msgs=([0-9]+)"));
        if (c.relayed) {
            EXPECT_EQ(relayed, 5) << c.what << "\n" << said << lab.relayLog().substr(0, 4000);
            ASSERT_TRUE(finished) << said;
            EXPECT_EQ(counts[2].str(), "5") << c.what << ": the echoes came back through the relay";
        } else {
            EXPECT_EQ(relayed, 0) << c.what;
            EXPECT_NE(said.find("Cannot complete Allocation"), std::string::npos) << c.what << "\n" << said;
        }
    }
}

// Two real headless machines, on one LAN or one in each home, by invite code: the host prints its code, the
// guest joins by it alone, and both say which way they came through. Each plays its own keys;
// both write the trace of one machine playing the merged keys (a guest's own key let go says so
// with its Shift, as the host replays it; the host's timer ticks are its own), one step after the
// key as the prediction runs it. Behind two symmetric routers both sides meet relay to relay.
// The long game outlives 10-second relay credentials: its host waits for a third machine (on
// its LAN, taking player 3) until they expired, and the relay, granting 4-second allocations with
// nonces stale every 3 s, refreshes both allocations all along.
TEST(HomeLab, TwoHomesPlayByInviteCodeThroughTheFirstWayThatWorks) {
    NEED_HOME_LAB();
    constexpr long kSteps = 300;
    constexpr int kCredentialSeconds = 10;
    const std::string host = "players 1 0 0 0\ngame\nat 10 key down 37 0\nat 51 tick\nat 60 key down 17 2\n"
                             "at 90 key up 17 0\nat 101 tick\nat 140 key up 37 0\nat 151 tick\nat 201 tick\nat 251 tick\n";
    const std::string guest = "players 0 1 0 0\ngame\nat 20 key down 65 0\nat 70 key up 65 0\nat 150 key down 87 0\n";
    const std::string keys = "game\nat 11 key down 37 0\nat 21 key down 65 0\n"
                             "at 52 tick\nat 61 key down 17 2\nat 71 key up 65 1\nat 91 key up 17 0\nat 102 tick\n"
                             "at 141 key up 37 0\nat 151 key down 87 0\nat 152 tick\nat 202 tick\nat 252 tick\n";
    const struct {
        int symmetric;   // routers: 0 none, 1 router 2, 2 both
        const char* guestPlace;
        const char* path;
        long connectMs;
        bool longGame;   // short credentials, and a third machine after they expired
    } cases[] = {
        {0, "h1b", "lan", 3000, false},
        {0, "h2", "punched", 3000, false},
        {1, "h2", "relayed", 5000, false},
        {2, "h2", "relayed", 5000, false},
        {1, "h2", "relayed", 5000, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " behind " + std::to_string(c.symmetric) + " symmetric routers" +
                     (c.longGame ? ", past the credentials" : ""));
        if (c.symmetric && lab::findProgram("turnserver").empty()) {
            std::printf("no TURN relay here (apt-get install coturn): the relayed game is not tried\n");
            continue;
        }
        const testing::RunResult one =
            testing::runScript(std::string("joysticks 2\nplayers 1 1 ") + (c.longGame ? "1" : "0") + " 0\n" + keys, kSteps);
        ASSERT_EQ(one.code, 0) << one.err;
        lab::HomeLab lab(c.symmetric);
        ASSERT_TRUE(lab.ok()) << lab.error();
        std::vector<std::string> meetArgs;
        if (c.symmetric) {
            const std::vector<std::string> shortLived{"--max-allocate-lifetime=4", "--stale-nonce=3", "--verbose"};
            ASSERT_TRUE(lab.startRelay(kSecret, c.longGame ? shortLived : std::vector<std::string>{}))
                << lab.relayLog().substr(0, 4000);
            const std::filesystem::path secretFile = lab.dir() / "turn-secret";
            std::ofstream(secretFile) << kSecret << "\n";
            std::filesystem::permissions(secretFile, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
            meetArgs = {"--turn", "203.0.113.10:3478", "--turn-secret-file", secretFile.string()};
            if (c.longGame) meetArgs.insert(meetArgs.end(), {"--credential-seconds", std::to_string(kCredentialSeconds)});
        }
        ASSERT_NE(lab.startMeet(HOPSHOT_MEET_BINARY, meetArgs), nullptr);
        auto machine = [&](const std::string& place, const std::string& script, std::vector<std::string> role) -> proc::Child& {
            const std::filesystem::path d = lab.dir() / place;
            std::filesystem::create_directories(d);
            std::ofstream(d / "script") << script;
            std::vector<std::string> args{"--headless", (d / "script").string(), "--trace", (d / "trace").string(),
                                          "--dir", d.string(), "--steps", std::to_string(kSteps), "--meet", "203.0.113.10"};
            args.insert(args.end(), role.begin(), role.end());
            return lab.run(place, HOPSHOT_BINARY, args, place + "-run");
        };
        proc::Child& h = machine("h1", host, {"--host", "--machines", c.longGame ? "3" : "2"});
        std::smatch code;
        std::string said;
        ASSERT_TRUE(proc::waitUntil([&] { said = h.out();
            return std::regex_search(said, code, std::regex("invite code: ([2-9A-Z]{8})\n")); }, 5000)) << h.err();
        const std::string invite = code[1];
        const auto start = std::chrono::steady_clock::now();
        proc::Child& g = machine(c.guestPlace, guest, {"--join", invite});
        ASSERT_TRUE(proc::waitUntil([&] { return g.out().find("path: ") != std::string::npos; }, 10000)) << g.err();
        const long connectMs = long(std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start).count());
        EXPECT_NE(g.out().find(std::string("path: ") + c.path + "\n"), std::string::npos) << g.out() << g.err();
        EXPECT_LE(connectMs, c.connectMs);
        std::vector<std::pair<const char*, proc::Child*>> machines{{"h1", &h}, {c.guestPlace, &g}};
        if (c.longGame) {
            std::this_thread::sleep_until(start + std::chrono::seconds(kCredentialSeconds + 3));
            machines.push_back({"h1b", &machine("h1b", "game\n", {"--join", invite})});
        }
        for (auto& [place, m] : machines) {
            ASSERT_TRUE(m->waitEnd(30000)) << place;
            EXPECT_EQ(m->exitCode(), 0) << place << ": " << m->err();
        }
        EXPECT_NE(h.out().find(std::string("path: ") + c.path + " (machine 2)\n"), std::string::npos) << h.out();
        for (auto& [place, m] : machines)
            EXPECT_TRUE(proc::slurp((lab.dir() / place / "trace").string()) == one.traceText) << place << "'s trace differs";
        if (c.longGame) {
            const std::string log = lab.relayLog();
            size_t refreshes = 0;
            for (size_t at = 0; (at = log.find("REFRESH processed, success", at)) != std::string::npos; ++at) ++refreshes;
            EXPECT_GE(refreshes, size_t(2 * kCredentialSeconds / 2)) << log.substr(log.size() > 4000 ? log.size() - 4000 : 0);
        }
    }
}

TEST(HomeLab, ABroadcastReachesTheMachinesOfItsOwnLanOnly) {
    NEED_HOME_LAB();
    lab::HomeLab lab(0);
    ASSERT_TRUE(lab.ok()) << lab.error();
    constexpr uint16_t kPort = 7312;
    const int sender = lab.udpSocket("h1", 0, true);
    const struct { const char* place; bool hears; } listeners[] = {
        {"h1b", true}, {"h2", false}, {"net", false}, {"r2", false},
    };
    std::vector<int> fds;
    for (const auto& l : listeners) fds.push_back(lab.udpSocket(l.place, kPort));
    for (uint32_t to : {lab::kHome1Broadcast, uint32_t(INADDR_BROADCAST)}) {
        const std::string hello = "a game on this LAN " + lab::addressText(to);
        Machine{sender}.send({to, kPort}, hello);
        for (size_t i = 0; i < fds.size(); ++i) {
            ASSERT_GE(fds[i], 0) << listeners[i].place;
            pollfd p{fds[i], POLLIN, 0};
            std::string heard;
            if (poll(&p, 1, listeners[i].hears ? 1000 : 200) == 1) {
                char buffer[128];
                const ssize_t got = recv(fds[i], buffer, sizeof buffer, 0);
                heard.assign(buffer, size_t(std::max<ssize_t>(got, 0)));
            }
            EXPECT_EQ(heard, listeners[i].hears ? hello : "") << listeners[i].place << " from " << lab::addressText(to);
        }
    }
}

}  // namespace
}  // namespace hopshot::net
