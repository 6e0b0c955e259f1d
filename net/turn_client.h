// A TURN client over UDP for one relay (coturn): it allocates a relayed address with long-term
// credentials, keeps it refreshed, opens a permission and binds a channel for each peer, and
// carries datagrams to and from them (ChannelData once the channel is bound, Send and Data
// indications before). It never blocks: the game's loop calls service(nowMs) and every wait is
// measured against that clock. What the relay sends is outside input: a response counts only if
// it answers a request of ours and its integrity checks with our key.
#pragma once

#include "net/turn_message.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace hopshot::turn {

constexpr int kFirstResendMs = 250;           // a request is sent again after 250, 500, 1000, 2000 ms
constexpr int kTransactionMs = 4000;          // ... and the relay counts as silent after this
constexpr int64_t kPermissionRenewMs = 240000;   // permissions last 5 minutes; renewed after 4
constexpr int64_t kChannelRenewMs = 480000;      // channels last 10 minutes; bound again after 8
constexpr int kMaxPeers = 8;                  // peers one allocation serves at once
constexpr size_t kMaxPayloadBytes = 1400;     // a datagram to or from a peer (ENet's MTU)
constexpr size_t kMaxHeldDatagrams = 32;      // per peer, while its permission is being opened
constexpr size_t kMaxHeldBytes = 32768;       // ... and their bytes
constexpr int kMaxNonceRetries = 3;           // 438 Stale Nonce answered in a row for one request
// Asked on every Allocate and Refresh: the default lifetime, named so that the relay's own cap
// (coturn's max-allocate-lifetime) applies to refreshes as it does to the allocation.
constexpr uint32_t kAskedLifetime = 600;

struct Credentials {
    std::string username;   // coturn's REST form: "EXPIRY:NAME"
    std::string password;
};

class Client {
public:
    enum class State { Allocating, Ready, Failed, Closed };
    using Receiver = std::function<void(const Address& peer, std::string_view payload)>;

    // A UDP socket of its own, for the relay at `server` (IPv4). Null with why when the socket
    // cannot be had. Allocating starts at the first service().
    static std::unique_ptr<Client> open(const Address& server, const Credentials& credentials,
                                        std::string& error);
    // No socket: what it sends goes nowhere and take() is the only input; transaction ids come
    // from a fixed seed. For feeding it datagrams (fuzzing).
    static std::unique_ptr<Client> detached(const Address& server, const Credentials& credentials);
    // Writes what the relay sends into `path`, framed as the fuzz target reads it, with
    // transaction ids from the detached client's fixed seed: a real relay's answers become
    // seeds. Call before the first service().
    void captureTo(const std::string& path);
    ~Client();

    // Reads what waits on the socket, then sends what is due: the first request, resends,
    // refreshes, permissions and channels.
    void service(int64_t nowMs);
    // One datagram from the relay.
    void take(std::string_view datagram, int64_t nowMs);

    State state() const { return state_; }
    const std::string& failure() const { return failure_; }   // one sentence, once Failed
    const Address& relayed() const { return relayed_; }       // once Ready
    const Address& mapped() const { return mapped_; }         // this machine as the relay sees it
    const Address& server() const { return server_; }
    int socket() const { return socket_; }

    // A peer (its address as the relay reaches it): permission and channel follow once
    // allocated. False when it cannot be one (not IPv4, or kMaxPeers already).
    bool addPeer(const Address& peer);
    // Forgets a peer: its permission and channel are let expire at the relay, and its channel
    // number is never used again by this allocation (a relay keeps it a while).
    void removePeer(const Address& peer);
    // False when the datagram is dropped: unknown peer, too large, a failed or closed
    // allocation, or the peer's held datagrams full.
    bool send(const Address& peer, std::string_view payload);
    void setReceiver(Receiver r) { receiver_ = std::move(r); }
    bool channelBound(const Address& peer) const;
    // Ends the allocation: a Refresh with lifetime 0, sent once.
    void close();

    // Transaction ids of the requests waiting for an answer, oldest first.
    std::vector<TransactionId> outstanding() const;
    const std::string& key() const { return key_; }
    size_t heldBytes() const;

private:
    enum class Kind { Allocate, Refresh, Permission, Bind };
    struct Pending {
        TransactionId id{};
        Kind kind = Kind::Allocate;
        Address peer;
        bool signed_ = false;       // sent with credentials
        int staleRetries = 0;
        std::string bytes;
        int64_t firstSent = 0, nextSend = 0;
        int resendMs = kFirstResendMs;
    };
    struct Peer {
        Address address;
        uint16_t channel = 0;
        bool permitted = false, bound = false;
        bool asking = false, binding = false;   // a request of each kind is out
        int64_t permissionDue = 0, bindDue = 0;
        std::deque<std::string> held;
        size_t heldBytes = 0;
    };

    Client(const Address& server, const Credentials& credentials, uint64_t seed);
    void request(Kind kind, const Peer* peer, int staleRetries = 0);
    void transmit(const std::string& bytes);
    void answer(const Message& m, std::string_view bytes);
    void answerAllocate(const Pending& p, const Message& m);
    void fail(const std::string& sentence);
    void deliver(Peer& peer, std::string_view payload);
    void flush(Peer& peer);
    Peer* findPeer(const Address& a);
    void capture(uint8_t control, std::string_view bytes);

    Address server_;
    Credentials credentials_;
    int socket_ = -1;
    std::mt19937_64 ids_;
    State state_ = State::Allocating;
    std::string failure_;
    std::string realm_, nonce_, key_;
    Address relayed_, mapped_;
    bool started_ = false;
    int64_t now_ = 0;
    int64_t refreshDue_ = 0;
    bool refreshing_ = false;
    std::vector<Pending> pending_;
    std::vector<Peer> peers_;
    uint16_t nextChannel_ = kFirstChannel;
    Receiver receiver_;
    std::string capturePath_;   // tests: what the relay sends, as fuzz seeds
    int64_t capturedAt_ = -1;
};

}  // namespace hopshot::turn
