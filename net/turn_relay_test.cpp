// The relay's client against a real relay: Debian's coturn, started on 127.0.0.1 for each test
// and stopped with it. Two ENet hosts meet only through it; failures end in one sentence.
#include "net/relay_bridge.h"
#include "net/turn_client.h"
#include "testing/process_support.h"

#include <arpa/inet.h>
#include <enet/enet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
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

// turnserver on 127.0.0.1, one allocation per name, relaying between loopback addresses.
class Coturn {
public:
    Coturn() {
        const std::string program = "/usr/bin/turnserver";
        if (!std::filesystem::exists(program)) return;
        dir_ = std::filesystem::temp_directory_path() / ("hopshot-relay-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
        {
            SilentSocket probe;   // a free port, let go just before the relay takes it
            port_ = probe.port;
        }
        const std::string port = std::to_string(port_);
        child_ = proc::start(program,
                             {"-n", "--listening-ip=127.0.0.1", "--relay-ip=127.0.0.1",
                              "--listening-port=" + port, "--use-auth-secret",
                              std::string("--static-auth-secret=") + kSecret, "--realm=hopshot",
                              "--no-tls", "--no-dtls", "--no-cli", "--no-tcp", "--allow-loopback-peers",
                              "--user-quota=1", "--pidfile=" + (dir_ / "turnserver.pid").string(),
                              "--db=" + (dir_ / "turndb").string(), "--log-file=stdout",
                              "--simple-log", "--no-software-attribute"},
                             (dir_ / "turnserver").string());
        // Ready once it answers a Binding request.
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
        for (int i = 0; i < 50 && !ready_ && child_->pid > 0; ++i) {
            ::sendto(asker.fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            char buf[1500];
            ready_ = ::recv(asker.fd, buf, sizeof buf, 0) > 0;
        }
    }
    ~Coturn() {
        if (child_) child_->killNow();
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }
    bool ready() const { return ready_; }
    Address address() const { return Address::v4(kLoopback, port_); }
    std::string log() const { return child_ ? child_->out() : ""; }

private:
    std::filesystem::path dir_;
    uint16_t port_ = 0;
    std::unique_ptr<proc::Child> child_;
    bool ready_ = false;
};

#define REQUIRE_COTURN(relay)                                                                  \
    if (!(relay).ready())                                                                      \
        GTEST_SKIP() << "turnserver (Debian's coturn) could not be started on 127.0.0.1; "     \
                        "scripts/setup installs it"

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

TEST(TurnRelay, EnetHostAndGuestMeetOnlyThroughTheRelay) {
    Coturn relay;
    REQUIRE_COTURN(relay);
    ASSERT_EQ(enet_initialize(), 0);
    std::string error;
    auto hostSide = Client::open(relay.address(), restCredentials("HOSTGAME", 600), error);
    auto guestSide = Client::open(relay.address(), restCredentials("GUEST234", 600), error);
    ASSERT_TRUE(hostSide && guestSide) << error;
    allocate({hostSide.get(), guestSide.get()}, 5000);
    ASSERT_EQ(hostSide->state(), Client::State::Ready) << hostSide->failure() << relay.log();
    ASSERT_EQ(guestSide->state(), Client::State::Ready) << guestSide->failure();
    EXPECT_EQ(hostSide->relayed().ipv4(), kLoopback);
    EXPECT_NE(hostSide->relayed(), guestSide->relayed());
    EXPECT_EQ(hostSide->mapped().ipv4(), kLoopback);

    ENetAddress local{};
    enet_address_set_host(&local, "127.0.0.1");
    local.port = 0;
    ENetHost* host = enet_host_create(&local, 4, 2, 0, 0);
    ENetHost* guest = enet_host_create(&local, 1, 2, 0, 0);
    ASSERT_TRUE(host && guest);
    RelayBridge hostBridge(*hostSide, enetPort(host));
    RelayBridge guestBridge(*guestSide, enetPort(guest));
    // Each side learns the other's relayed address (the meeting service's part in a game).
    const uint16_t guestStandIn = hostBridge.add(guestSide->relayed(), error);
    const uint16_t hostStandIn = guestBridge.add(hostSide->relayed(), error);
    ASSERT_TRUE(guestStandIn && hostStandIn) << error;
    ENetAddress to{};
    enet_address_set_host(&to, "127.0.0.1");
    to.port = hostStandIn;
    ASSERT_TRUE(enet_host_connect(guest, &to, 2, 0));

    constexpr int kPackets = 20;
    std::vector<std::string> heardByHost, heardByGuest;
    ENetPeer* guestAtHost = nullptr;
    ENetPeer* hostAtGuest = nullptr;
    int sent = 0;
    const int64_t end = nowMs() + 10000;
    while (nowMs() < end && (heardByHost.size() < kPackets || heardByGuest.size() < kPackets)) {
        hostBridge.service(nowMs());
        guestBridge.service(nowMs());
        for (ENetHost* h : {host, guest}) {
            ENetEvent e;
            while (enet_host_service(h, &e, 0) > 0) {
                if (e.type == ENET_EVENT_TYPE_CONNECT) (h == host ? guestAtHost : hostAtGuest) = e.peer;
                if (e.type != ENET_EVENT_TYPE_RECEIVE) continue;
                (h == host ? heardByHost : heardByGuest)
                    .emplace_back(reinterpret_cast<const char*>(e.packet->data), e.packet->dataLength);
                enet_packet_destroy(e.packet);
            }
        }
        if (guestAtHost && hostAtGuest && sent < kPackets) {
            const std::string a = "from the host " + std::to_string(sent);
            const std::string b = "from the guest " + std::to_string(sent);
            enet_peer_send(guestAtHost, 0, enet_packet_create(a.data(), a.size(), ENET_PACKET_FLAG_RELIABLE));
            enet_peer_send(hostAtGuest, 0, enet_packet_create(b.data(), b.size(), ENET_PACKET_FLAG_RELIABLE));
            ++sent;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_EQ(heardByHost.size(), size_t(kPackets)) << relay.log();
    ASSERT_EQ(heardByGuest.size(), size_t(kPackets));
    for (int i = 0; i < kPackets; ++i) {
        EXPECT_EQ(heardByHost[size_t(i)], "from the guest " + std::to_string(i));
        EXPECT_EQ(heardByGuest[size_t(i)], "from the host " + std::to_string(i));
    }
    // The host heard its guest at the guest's stand-in: the relay was the only way between them.
    EXPECT_EQ(guestAtHost->address.port, guestStandIn);
    EXPECT_TRUE(hostSide->channelBound(guestSide->relayed()));
    EXPECT_TRUE(guestSide->channelBound(hostSide->relayed()));

    // A stranger on this machine writing to a stand-in reaches nobody.
    const long droppedBefore = hostBridge.dropped();
    {
        SilentSocket stranger;
        sockaddr_in standIn{};
        standIn.sin_family = AF_INET;
        standIn.sin_addr.s_addr = htonl(kLoopback);
        standIn.sin_port = htons(guestStandIn);
        for (int i = 0; i < 5; ++i)
            ::sendto(stranger.fd, "hello", 5, 0, reinterpret_cast<sockaddr*>(&standIn), sizeof standIn);
        proc::waitUntil([&] { hostBridge.service(nowMs()); return hostBridge.dropped() - droppedBefore >= 5; }, 2000);
    }
    EXPECT_EQ(hostBridge.dropped() - droppedBefore, 5);

    enet_host_destroy(guest);
    enet_host_destroy(host);
    hostSide->close();
    EXPECT_EQ(hostSide->state(), Client::State::Closed);
    EXPECT_FALSE(hostSide->send(guestSide->relayed(), "late"));
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

}  // namespace
}  // namespace hopshot
