// The relay's client against a real relay: Debian's coturn, started on 127.0.0.1 for each test
// and stopped with it. Two ENet hosts meet only through it; failures end in one sentence.
#include "net/relay_bridge.h"
#include "net/turn_client.h"
#include "testing/process_support.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <enet/enet.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>



namespace hopshot {
namespace {

using turn::Address;
using turn::Client;
constexpr uint32_t kLoopback = 0x7F000001;
const char* const kSecret = "relay-test-secret";

int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// A UDP socket on a port of 127.0.0.1 the system chose; it never answers anything.
struct SilentSocket {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    uint16_t port = 0;
    SilentSocket() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(kLoopback);
        socklen_t n = sizeof a;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n) == 0)
            port = ntohs(a.sin_port);
    }
    ~SilentSocket() { ::close(fd); }
};

// coturn's REST credentials: "EXPIRY:NAME", and base64 of HMAC-SHA1(secret, that name).
turn::Credentials restCredentials(const std::string& name, long validSeconds, const std::string& secret = kSecret) {
    turn::Credentials c;
    c.username = std::to_string(long(std::time(nullptr)) + validSeconds) + ":" + name;
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    HMAC(EVP_sha1(), secret.data(), int(secret.size()),
         reinterpret_cast<const unsigned char*>(c.username.data()), c.username.size(), mac, &n);
    unsigned char text[64];
    EVP_EncodeBlock(text, mac, int(n));
    c.password = reinterpret_cast<const char*>(text);
    return c;
}

// turnserver on 127.0.0.1, one allocation per name, relaying between loopback addresses. A port
// another program took between the choice and the start costs a second try on another.
class Coturn {
public:
    explicit Coturn(const std::vector<std::string>& extra = {}) {
        installed_ = std::filesystem::exists(kProgram);
        if (!installed_) return;
        dir_ = std::filesystem::temp_directory_path() / ("hopshot-relay-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
        for (int attempt = 0; attempt < 3 && !ready_; ++attempt) {
            if (child_) child_->killNow();
            {
                SilentSocket probe;   // a free port, let go just before the relay takes it
                port_ = probe.port;
            }
            std::vector<std::string> args = {
                "-n", "--listening-ip=127.0.0.1", "--relay-ip=127.0.0.1",
                "--listening-port=" + std::to_string(port_), "--use-auth-secret",
                std::string("--static-auth-secret=") + kSecret, "--realm=hopshot", "--no-tls", "--no-dtls",
                "--no-cli", "--no-tcp", "--allow-loopback-peers", "--user-quota=1",
                "--pidfile=" + (dir_ / "turnserver.pid").string(), "--db=" + (dir_ / "turndb").string(),
                "--log-file=stdout", "--simple-log", "--no-software-attribute"};
            args.insert(args.end(), extra.begin(), extra.end());
            child_ = proc::start(kProgram, args, (dir_ / "turnserver").string());
            ready_ = child_->pid > 0 && answers(5000);
        }
    }
    ~Coturn() {
        if (child_) child_->killNow();
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }
    bool installed() const { return installed_; }
    bool ready() const { return ready_; }
    Address address() const { return Address::v4(kLoopback, port_); }
    std::string log() const { return child_ ? child_->out() + child_->err() : ""; }

private:
    static constexpr const char* kProgram = "/usr/bin/turnserver";

    // True once it answers a Binding request, asked every 100 ms.
    bool answers(int timeoutMs) const {
        SilentSocket asker;
        timeval wait{0, 100000};
        setsockopt(asker.fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(kLoopback);
        to.sin_port = htons(port_);
        turn::Message binding;
        binding.transaction = {7, 7, 7};
        const std::string request = turn::encode(binding);
        for (int waited = 0; waited < timeoutMs; waited += 100) {
            ::sendto(asker.fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            char buf[1500];
            if (::recv(asker.fd, buf, sizeof buf, 0) > 0) return true;
        }
        return false;
    }

    bool installed_ = false;
    std::filesystem::path dir_;
    uint16_t port_ = 0;
    std::unique_ptr<proc::Child> child_;
    bool ready_ = false;
};

// Skipped only where there is no coturn at all; one that is there must start and answer.
#define REQUIRE_COTURN(relay)                                                                       \
    if (!(relay).installed())                                                                       \
        GTEST_SKIP() << "turnserver (Debian's coturn) is not installed; scripts/setup installs it"; \
    ASSERT_TRUE((relay).ready()) << "turnserver did not answer on 127.0.0.1:\n" << (relay).log()

// Services the clients until none is still allocating, for at most timeoutMs.
void allocate(const std::vector<Client*>& clients, int timeoutMs) {
    const int64_t end = nowMs() + timeoutMs;
    for (;;) {
        bool waiting = false;
        for (Client* c : clients) {
            c->service(nowMs());
            waiting = waiting || c->state() == Client::State::Allocating;
        }
        if (!waiting || nowMs() > end) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

uint16_t enetPort(ENetHost* h) {
    ENetAddress a{};
    enet_socket_get_address(h->socket, &a);
    return a.port;
}

// A host and two guests, each an ENet host of its own: the guests reach the host only through
// their stand-ins, and the host serves both with one allocation. The relay grants 3-second
// allocations, and the exchange lasts 7 s: without refreshes it would stop halfway.
TEST(TurnRelay, EnetHostAndGuestsMeetOnlyThroughTheRelay) {
    Coturn relay({"--max-allocate-lifetime=3"});
    REQUIRE_COTURN(relay);
    ASSERT_EQ(enet_initialize(), 0);
    constexpr int kGuests = 2;
    std::string error;
    std::vector<std::unique_ptr<Client>> relays;   // the host's first, then each guest's
    for (const char* name : {"HOSTGAME", "GUEST234", "GUEST567"}) {
        relays.push_back(Client::open(relay.address(), restCredentials(name, 600), error));
        ASSERT_TRUE(relays.back()) << error;
        // HOPSHOT_CAPTURE_TURN=DIR/seed keeps what the relay sent each client as fuzz seeds.
        if (const char* seeds = std::getenv("HOPSHOT_CAPTURE_TURN"))
            relays.back()->captureTo(std::string(seeds) + "." + std::to_string(relays.size()));
    }
    allocate({relays[0].get(), relays[1].get(), relays[2].get()}, 5000);
    for (const auto& r : relays) {
        ASSERT_EQ(r->state(), Client::State::Ready) << r->failure() << relay.log();
        EXPECT_EQ(r->relayed().ipv4(), kLoopback);
        EXPECT_EQ(r->mapped().ipv4(), kLoopback);
    }
    EXPECT_NE(relays[1]->relayed(), relays[2]->relayed());

    ENetAddress local{};
    enet_address_set_host(&local, "127.0.0.1");
    std::vector<ENetHost*> enets;   // the same order
    std::vector<std::unique_ptr<RelayBridge>> bridges;
    for (int m = 0; m <= kGuests; ++m) {
        enets.push_back(enet_host_create(&local, m == 0 ? 4 : 1, 2, 0, 0));
        ASSERT_TRUE(enets.back());
        bridges.push_back(std::make_unique<RelayBridge>(*relays[size_t(m)], enetPort(enets.back())));
    }
    // Each side learns the other's relayed address (the meeting service's part in a game).
    std::vector<uint16_t> standInAtHost;
    for (int g = 1; g <= kGuests; ++g) {
        standInAtHost.push_back(bridges[0]->add(relays[size_t(g)]->relayed(), error));
        ENetAddress to{};
        enet_address_set_host(&to, "127.0.0.1");
        to.port = bridges[size_t(g)]->add(relays[0]->relayed(), error);
        ASSERT_TRUE(to.port && standInAtHost.back()) << error;
        ASSERT_TRUE(enet_host_connect(enets[size_t(g)], &to, 2, 0));
    }

    // Each guest and the host send each other a packet every 100 ms for 7 s, past two lifetimes.
    constexpr int kPackets = 70;
    std::vector<ENetPeer*> peerAtHost(kGuests + 1), hostAtGuest(kGuests + 1);
    std::vector<std::vector<std::string>> heardByHost(kGuests + 1), heardByGuest(kGuests + 1);
    int sent = 0;
    int64_t nextSend = 0;
    const int64_t end = nowMs() + 15000;
    auto heardAll = [&] {
        for (int g = 1; g <= kGuests; ++g)
            if (heardByHost[size_t(g)].size() < kPackets || heardByGuest[size_t(g)].size() < kPackets) return false;
        return true;
    };
    while (nowMs() < end && !heardAll()) {
        for (auto& b : bridges) b->service(nowMs());
        for (int m = 0; m <= kGuests; ++m) {
            ENetEvent e;
            while (enet_host_service(enets[size_t(m)], &e, 0) > 0) {
                int g = m;
                for (int k = 1; m == 0 && k <= kGuests; ++k)
                    if (e.peer->address.port == standInAtHost[size_t(k - 1)]) g = k;
                if (e.type == ENET_EVENT_TYPE_CONNECT) (m == 0 ? peerAtHost : hostAtGuest)[size_t(g)] = e.peer;
                if (e.type != ENET_EVENT_TYPE_RECEIVE) continue;
                (m == 0 ? heardByHost : heardByGuest)[size_t(g)].emplace_back(
                    reinterpret_cast<const char*>(e.packet->data), e.packet->dataLength);
                enet_packet_destroy(e.packet);
            }
        }
        bool connected = true;
        for (int g = 1; g <= kGuests; ++g) connected = connected && peerAtHost[size_t(g)] && hostAtGuest[size_t(g)];
        if (connected && sent < kPackets && nowMs() >= nextSend) {
            for (int g = 1; g <= kGuests; ++g) {
                const std::string a = "host to " + std::to_string(g) + ": " + std::to_string(sent);
                const std::string b = "guest " + std::to_string(g) + ": " + std::to_string(sent);
                enet_peer_send(peerAtHost[size_t(g)], 0, enet_packet_create(a.data(), a.size(), ENET_PACKET_FLAG_RELIABLE));
                enet_peer_send(hostAtGuest[size_t(g)], 0, enet_packet_create(b.data(), b.size(), ENET_PACKET_FLAG_RELIABLE));
            }
            ++sent;
            nextSend = nowMs() + 100;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    for (int g = 1; g <= kGuests; ++g) {
        SCOPED_TRACE("guest " + std::to_string(g));
        ASSERT_EQ(heardByHost[size_t(g)].size(), size_t(kPackets)) << relay.log();
        ASSERT_EQ(heardByGuest[size_t(g)].size(), size_t(kPackets));
        for (int i = 0; i < kPackets; ++i) {
            EXPECT_EQ(heardByHost[size_t(g)][size_t(i)], "guest " + std::to_string(g) + ": " + std::to_string(i));
            EXPECT_EQ(heardByGuest[size_t(g)][size_t(i)], "host to " + std::to_string(g) + ": " + std::to_string(i));
        }
        EXPECT_TRUE(relays[0]->channelBound(relays[size_t(g)]->relayed()));
        EXPECT_TRUE(relays[size_t(g)]->channelBound(relays[0]->relayed()));
    }
    for (const auto& r : relays) EXPECT_EQ(r->state(), Client::State::Ready) << r->failure();

    // A stranger on this machine writing to a stand-in reaches nobody.
    const long droppedBefore = bridges[0]->dropped();
    {
        SilentSocket stranger;
        sockaddr_in standIn{};
        standIn.sin_family = AF_INET;
        standIn.sin_addr.s_addr = htonl(kLoopback);
        standIn.sin_port = htons(standInAtHost[0]);
        for (int i = 0; i < 5; ++i)
            ::sendto(stranger.fd, "hello", 5, 0, reinterpret_cast<sockaddr*>(&standIn), sizeof standIn);
        proc::waitUntil([&] { bridges[0]->service(nowMs()); return bridges[0]->dropped() - droppedBefore >= 5; }, 2000);
    }
    EXPECT_EQ(bridges[0]->dropped() - droppedBefore, 5);

    // A guest that leaves is forgotten, and its place taken; no more than kMaxPeers at once.
    bridges[0]->remove(relays[2]->relayed());
    EXPECT_FALSE(relays[0]->send(relays[2]->relayed(), "gone"));
    int machines = 1;   // guest 1 stays
    for (uint16_t port = 1; port <= turn::kMaxPeers + 1 && bridges[0]->add(Address::v4(kLoopback, port), error); ++port)
        ++machines;
    EXPECT_EQ(machines, turn::kMaxPeers);
    EXPECT_EQ(error, "One relayed address serves at most 8 machines at once.");

    bridges.clear();
    for (ENetHost* h : enets) enet_host_destroy(h);
    relays[0]->close();
    EXPECT_EQ(relays[0]->state(), Client::State::Closed);
    EXPECT_FALSE(relays[0]->send(relays[1]->relayed(), "late"));
}

TEST(TurnRelay, AllocationFailuresEndInOneSentenceWithinTheirTime) {
    Coturn relay;
    REQUIRE_COTURN(relay);
    SilentSocket silent;
    std::string error;
    // An allocation the quota case's second one collides with.
    auto first = Client::open(relay.address(), restCredentials("TAKEN234", 600), error);
    allocate({first.get()}, 5000);
    ASSERT_EQ(first->state(), Client::State::Ready) << first->failure();
    struct Case {
        const char* name;
        Address server;
        turn::Credentials credentials;
        std::string sentence;      // the failure starts with this
        int atLeastMs, atMostMs;
    };
    const std::string at = "The relay at " + relay.address().text();
    const std::vector<Case> cases = {
        {"wrong secret", relay.address(), restCredentials("WRONGKEY", 600, "another secret"),
         at + " refused this machine's credentials (401", 0, 3000},
        {"expired credentials", relay.address(), restCredentials("EXPIRED2", -60),
         at + " refused this machine's credentials (401", 0, 3000},
        {"a second allocation of one name", relay.address(), restCredentials("TAKEN234", 600),
         at + " allows this machine no more relayed addresses (486", 0, 3000},
        {"a relay that never answers", Address::v4(kLoopback, silent.port), restCredentials("NOBODY23", 600),
         "The relay at 127.0.0.1:" + std::to_string(silent.port) + " does not answer.",
         turn::kTransactionMs, turn::kTransactionMs + 2000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto client = Client::open(c.server, c.credentials, error);
        ASSERT_TRUE(client) << error;
        const int64_t start = nowMs();
        allocate({client.get()}, 10000);
        const int64_t took = nowMs() - start;
        ASSERT_EQ(client->state(), Client::State::Failed);
        EXPECT_EQ(client->failure().rfind(c.sentence, 0), 0u) << client->failure();
        EXPECT_EQ(client->failure().back(), '.');
        EXPECT_EQ(client->failure().find('\n'), std::string::npos);
        EXPECT_GE(took, c.atLeastMs);
        EXPECT_LE(took, c.atMostMs);
    }
}


namespace hostile {

const turn::Credentials kCredentials{"1:FAKE2345", "pw"};
const std::string kKey = turn::longTermKey(kCredentials.username, "fake", "pw");

// An answer to `request` of class `cls`, filled by `fill`, signed with `key` when one is given.
std::string answer(const turn::Message& request, uint8_t cls, const std::function<void(turn::Message&)>& fill,
                   const std::string& key = kKey) {
    turn::Message r;
    r.method = request.method;
    r.cls = cls;
    r.transaction = request.transaction;
    fill(r);
    return turn::encode(r, key);
}

// What coturn says to a request without credentials.
std::string challenge(const turn::Message& request, const char* nonce = "n1") {
    return answer(request, turn::kError, [&](turn::Message& r) {
        r.errorCode = 401;
        r.realm = "fake";
        r.nonce = nonce;
    }, "");
}

std::string relayed(const turn::Message& request, const std::string& key = kKey) {
    return answer(request, turn::kSuccess, [](turn::Message& r) {
        r.xorRelayed = Address::v4(kLoopback, 50000);
        r.lifetime = 600;
    }, key);
}

}  // namespace hostile

// A relay of the test's own on a loopback socket, answering as each case says: what a relay
// may send is outside input, and no answer of it may crash, hang or fool the client.
TEST(TurnRelay, AHostileRelayEndsInOneSentenceOrIsIgnored) {
    using namespace hostile;
    // Answers to one request, given how many requests with credentials came before it.
    using Answer = std::function<std::vector<std::string>(const turn::Message&, int)>;
    struct Case {
        const char* name;
        Answer answers;
        std::string sentence;   // how the failure starts; empty: the allocation is made
        int allocates;          // Allocate requests the relay hears
    };
    const std::string at = "The relay at 127.0.0.1:";
    const std::vector<Case> cases = {
        {"508 at once", [](const turn::Message& q, int) {
             return std::vector<std::string>{answer(q, turn::kError, [](turn::Message& r) { r.errorCode = 508; }, "")};
         }, " has no room for another relayed address (508 Insufficient Capacity).", 1},
        {"no relayed address", [](const turn::Message& q, int) {
             return std::vector<std::string>{q.username ? answer(q, turn::kSuccess, [](turn::Message& r) { r.lifetime = 600; })
                                                        : challenge(q)};
         }, " gave no usable relayed address.", 2},
        {"an IPv6 relayed address", [](const turn::Message& q, int) {
             return std::vector<std::string>{q.username ? answer(q, turn::kSuccess, [](turn::Message& r) {
                 r.xorRelayed = Address{2, {0x20, 0x01, 0x0d, 0xb8}, 50000};
                 r.lifetime = 600;
             }) : challenge(q)};
         }, " gave no usable relayed address.", 2},
        {"stale nonces without end", [](const turn::Message& q, int n) {
             return std::vector<std::string>{q.username ? answer(q, turn::kError, [&](turn::Message& r) {
                 r.errorCode = 438;
                 r.nonce = "n" + std::to_string(n + 2);
             }, "") : challenge(q)};
         }, " keeps refusing this machine's nonce.", 2 + turn::kMaxNonceRetries},
        {"a reason phrase with escapes", [](const turn::Message& q, int) {
             return std::vector<std::string>{answer(q, turn::kError, [](turn::Message& r) {
                 r.errorCode = 403;
                 r.errorReason = "\x1b[2Jgo\naway" + std::string(500, '!');
             }, "")};
         }, " refused a relayed address (403 [2Jgoaway!!!!!", 1},
        {"forged and foreign answers only", [](const turn::Message& q, int) {
             turn::Message other = q;
             other.transaction[0] ^= 1;
             return q.username ? std::vector<std::string>{relayed(q, "a wrong key"), relayed(other), relayed(q, "")}
                               : std::vector<std::string>{challenge(q)};
         }, " does not answer.", 2},
        {"one stale nonce, then an allocation", [](const turn::Message& q, int n) {
             if (!q.username) return std::vector<std::string>{challenge(q)};
             if (n > 0) return std::vector<std::string>{relayed(q)};
             return std::vector<std::string>{answer(q, turn::kError, [](turn::Message& r) {
                 r.errorCode = 438;
                 r.nonce = "n2";
             }, "")};
         }, "", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SilentSocket fake;
        std::string error;
        auto client = Client::open(Address::v4(kLoopback, fake.port), kCredentials, error);
        ASSERT_TRUE(client) << error;
        int allocates = 0, signedSoFar = 0;
        const int64_t end = nowMs() + turn::kTransactionMs + 2000;
        while (client->state() == Client::State::Allocating && nowMs() < end) {
            client->service(nowMs());
            char buf[1500];
            sockaddr_in from{};
            socklen_t n = sizeof from;
            for (ssize_t got; (got = ::recvfrom(fake.fd, buf, sizeof buf, MSG_DONTWAIT,
                                                reinterpret_cast<sockaddr*>(&from), &n)) > 0;) {
                turn::Message q;
                std::string why;
                ASSERT_TRUE(turn::decode(std::string_view(buf, size_t(got)), q, why)) << why;
                allocates += q.method == turn::kAllocate;
                for (const std::string& a : c.answers(q, signedSoFar))
                    ::sendto(fake.fd, a.data(), a.size(), 0, reinterpret_cast<sockaddr*>(&from), n);
                signedSoFar += q.username.has_value();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (c.sentence.empty()) {
            EXPECT_EQ(client->state(), Client::State::Ready) << client->failure();
            EXPECT_EQ(client->relayed().text(), "127.0.0.1:50000");
        } else {
            EXPECT_EQ(client->state(), Client::State::Failed);
            EXPECT_EQ(client->failure().rfind(at + std::to_string(fake.port) + c.sentence, 0), 0u) << client->failure();
            EXPECT_LE(client->failure().size(), 160u);
            for (char ch : client->failure()) EXPECT_GE(uint8_t(ch), 0x20) << client->failure();
        }
        // Resends of one request count once: the relay answers each, and the client takes one.
        EXPECT_EQ(allocates, c.allocates + (c.sentence == " does not answer." ? 4 : 0));
    }
}

}  // namespace
}  // namespace hopshot
