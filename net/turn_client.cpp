#include "net/turn_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace hopshot::turn {

namespace {

constexpr int kMaxResendMs = 2000;
constexpr int kReadsPerService = 256;        // datagrams read from the relay in one service
constexpr size_t kMaxReasonChars = 80;       // of the relay's reason phrase, in a failure

// Seconds of a granted lifetime before it is refreshed: a minute early, or halfway for short ones.
int64_t refreshInMs(uint32_t lifetime) {
    const int64_t s = std::min<uint32_t>(lifetime, 3600);
    return (s > 120 ? s - 60 : std::max<int64_t>(s / 2, 1)) * 1000;
}

// The relay's reason phrase as a player may read it: printable ASCII, short.
std::string tame(const std::string& reason) {
    std::string out;
    for (char c : reason)
        if (c >= 0x20 && c < 0x7F && out.size() < kMaxReasonChars) out += c;
    return out;
}

std::string codeText(const Message& m) {
    const int code = m.errorCode.value_or(0);
    const std::string reason = tame(m.errorReason);
    return std::to_string(code) + " " + (reason.empty() ? errorText(code).substr(4) : reason);
}

}  // namespace

Client::Client(const Address& server, const Credentials& credentials, uint64_t seed)
    : server_(server), credentials_(credentials), ids_(seed) {}

std::unique_ptr<Client> Client::open(const Address& server, const Credentials& credentials,
                                     std::string& error) {
    if (server.family != 1) {
        error = "The relay's address " + server.text() + " is not an IPv4 address.";
        return nullptr;
    }
    std::random_device rd;
    std::unique_ptr<Client> c(new Client(server, credentials, uint64_t(rd()) << 32 | rd()));
    c->socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (c->socket_ < 0) {
        error = std::string("No UDP socket for the relay: ") + std::strerror(errno) + ".";
        return nullptr;
    }
    return c;
}

void Client::captureTo(const std::string& path) {
    capturePath_ = path;
    ids_.seed(1);
}

std::unique_ptr<Client> Client::detached(const Address& server, const Credentials& credentials) {
    return std::unique_ptr<Client>(new Client(server, credentials, 1));
}

Client::~Client() {
    close();
    if (socket_ >= 0) ::close(socket_);
}

void Client::capture(uint8_t control, std::string_view bytes) {
    if (capturePath_.empty()) return;
    if (FILE* f = std::fopen(capturePath_.c_str(), "ab")) {
        // Time since the last record first, so the replay's clock moves as this one did.
        const int64_t gap = capturedAt_ < 0 ? 0 : std::min<int64_t>(now_ - capturedAt_, 0xFFFF);
        capturedAt_ = now_;
        if (gap > 0) std::fputc(0x40, f), std::fputc(int(gap & 0xFF), f), std::fputc(int(gap >> 8), f);
        std::fputc(control, f);
        std::fputc(int(bytes.size() & 0xFF), f);
        std::fputc(int(bytes.size() >> 8 & 0xFF), f);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
}

void Client::transmit(const std::string& bytes) {
    if (socket_ < 0) return;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(server_.ipv4());
    to.sin_port = htons(server_.port);
    // A full socket buffer loses the datagram, as the network may: resends make it good.
    (void)::sendto(socket_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

void Client::fail(const std::string& sentence) {
    if (state_ == State::Failed || state_ == State::Closed) return;
    state_ = State::Failed;
    failure_ = sentence;
    pending_.clear();
    for (Peer& p : peers_) p.held.clear(), p.heldBytes = 0;
}

Client::Peer* Client::findPeer(const Address& a) {
    for (Peer& p : peers_)
        if (p.address == a) return &p;
    return nullptr;
}

void Client::request(Kind kind, const Peer* peer, int staleRetries) {
    Pending p;
    for (auto& b : p.id) b = uint8_t(ids_());
    p.kind = kind;
    p.staleRetries = staleRetries;
    Message m;
    m.cls = kRequest;
    m.transaction = p.id;
    switch (kind) {
    case Kind::Allocate:
        m.method = kAllocate;
        m.requestedTransport = kTransportUdp;
        m.lifetime = kAskedLifetime;
        break;
    case Kind::Refresh:
        m.method = kRefresh;
        m.lifetime = kAskedLifetime;
        break;
    case Kind::Permission:
    case Kind::Bind:
        m.method = kind == Kind::Permission ? kCreatePermission : kChannelBind;
        m.xorPeer = peer->address;
        if (kind == Kind::Bind) m.channel = peer->channel;
        p.peer = peer->address;
        break;
    }
    if (!key_.empty()) {
        m.username = credentials_.username;
        m.realm = realm_;
        m.nonce = nonce_;
        p.signed_ = true;
    }
    p.bytes = encode(m, key_);
    p.firstSent = now_;
    p.nextSend = now_ + p.resendMs;
    transmit(p.bytes);
    pending_.push_back(std::move(p));
}

void Client::service(int64_t nowMs) {
    now_ = std::max(now_, nowMs);   // the clock only goes forward
    if (socket_ >= 0) {
        char buf[kMaxMessageBytes + 1];
        for (int i = 0; i < kReadsPerService; ++i) {
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n = ::recvfrom(socket_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n < 0) break;
            // Only the relay speaks on this socket; a datagram larger than any it sends is cut
            // here and refused by its length.
            if (from.sin_family != AF_INET || ntohl(from.sin_addr.s_addr) != server_.ipv4() ||
                ntohs(from.sin_port) != server_.port)
                continue;
            take(std::string_view(buf, size_t(n)), nowMs);
        }
    }
    if (state_ == State::Failed || state_ == State::Closed) return;
    if (!started_) {
        started_ = true;
        request(Kind::Allocate, nullptr);
    }
    for (Pending& p : pending_) {
        if (now_ < p.nextSend) continue;
        if (now_ - p.firstSent >= kTransactionMs) {
            fail("The relay at " + server_.text() + " does not answer.");
            return;
        }
        transmit(p.bytes);
        p.resendMs = std::min(p.resendMs * 2, kMaxResendMs);
        p.nextSend = std::min<int64_t>(now_ + p.resendMs, p.firstSent + kTransactionMs);
    }
    if (state_ != State::Ready) return;
    if (!refreshing_ && now_ >= refreshDue_) {
        refreshing_ = true;
        request(Kind::Refresh, nullptr);
    }
    for (Peer& p : peers_) {
        if (!p.asking && now_ >= p.permissionDue) {
            p.asking = true;
            request(Kind::Permission, &p);
        }
        if (!p.binding && now_ >= p.bindDue) {
            p.binding = true;
            request(Kind::Bind, &p);
        }
    }
}

void Client::take(std::string_view datagram, int64_t nowMs) {
    now_ = std::max(now_, nowMs);
    if (state_ == State::Failed || state_ == State::Closed) return;
    if (looksLikeChannelData(datagram)) {
        capture(3, datagram);
        uint16_t channel = 0;
        std::string_view payload;
        if (!decodeChannelData(datagram, channel, payload) || payload.size() > kMaxPayloadBytes) return;
        for (Peer& p : peers_)
            if (p.channel == channel && (p.bound || p.binding)) return deliver(p, payload);
        return;
    }
    Message m;
    std::string why;
    const bool read = decode(datagram, m, why);
    if (!capturePath_.empty()) {
        uint8_t slot = 3;
        for (size_t i = 0; i < pending_.size() && i < 3; ++i)
            if (read && pending_[i].id == m.transaction) slot = uint8_t(i);
        capture(uint8_t(slot | (read && m.integrityAt ? 4 : 0)), datagram);
    }
    if (!read) return;
    if (m.cls == kIndication) {
        // Data from a peer before its channel is bound: only from a peer this machine asked for.
        if (m.method != kData || !m.xorPeer || !m.data || m.data->size() > kMaxPayloadBytes) return;
        if (Peer* p = findPeer(*m.xorPeer)) deliver(*p, *m.data);
        return;
    }
    if (m.cls == kSuccess || m.cls == kError) answer(m, datagram);
}

void Client::deliver(Peer& peer, std::string_view payload) {
    if (receiver_) receiver_(peer.address, payload);
}

void Client::answer(const Message& m, std::string_view bytes) {
    auto it = std::find_if(pending_.begin(), pending_.end(),
                           [&](const Pending& p) { return p.id == m.transaction; });
    if (it == pending_.end()) return;
    // What answers a request with credentials proves it knows them: a success must carry
    // integrity that checks, an error may carry none (401, 438) but never one that fails.
    if (it->signed_) {
        if (m.integrityAt ? !integrityMatches(bytes, m, key_) : m.cls == kSuccess) return;
    }
    const uint16_t want = it->kind == Kind::Allocate ? kAllocate : it->kind == Kind::Refresh ? kRefresh
                          : it->kind == Kind::Permission ? kCreatePermission : kChannelBind;
    if (m.method != want) return;
    if (m.cls == kSuccess && !m.unknownRequired.empty()) return;
    const Pending p = std::move(*it);
    pending_.erase(it);

    if (m.cls == kError && m.errorCode == 438) {
        // A stale nonce: the same request again with the new one, a few times at most.
        if (!m.nonce || m.nonce->empty() || p.staleRetries >= kMaxNonceRetries || key_.empty()) {
            fail("The relay at " + server_.text() + " keeps refusing this machine's nonce.");
            return;
        }
        nonce_ = *m.nonce;
        const Peer* peer = findPeer(p.peer);
        if ((p.kind == Kind::Permission || p.kind == Kind::Bind) && !peer) return;
        request(p.kind, peer, p.staleRetries + 1);
        return;
    }
    if (p.kind == Kind::Allocate) return answerAllocate(p, m);
    if (p.kind == Kind::Refresh) {
        refreshing_ = false;
        if (m.cls == kError) {
            fail("The relay at " + server_.text() + " ended this machine's allocation (" + codeText(m) + ").");
            return;
        }
        if (m.lifetime == 0u) {
            state_ = State::Closed;
            return;
        }
        refreshDue_ = now_ + refreshInMs(m.lifetime.value_or(600));
        return;
    }
    Peer* peer = findPeer(p.peer);
    if (!peer) return;
    if (m.cls == kError) {
        fail("The relay at " + server_.text() + " refused to reach " + peer->address.text() + " (" +
             codeText(m) + ").");
        return;
    }
    // A bound channel also opens the permission (the relay installs one with it).
    peer->permitted = true;
    if (p.kind == Kind::Permission) {
        peer->asking = false;
        peer->permissionDue = now_ + kPermissionRenewMs;
    } else {
        peer->binding = false;
        peer->bound = true;
        peer->bindDue = now_ + kChannelRenewMs;
    }
    flush(*peer);
}

void Client::answerAllocate(const Pending& p, const Message& m) {
    const std::string relay = "The relay at " + server_.text();
    if (m.cls == kSuccess) {
        if (!m.xorRelayed || m.xorRelayed->family != 1 || !m.lifetime || *m.lifetime == 0) {
            fail(relay + " gave no usable relayed address.");
            return;
        }
        relayed_ = *m.xorRelayed;
        if (m.xorMapped) mapped_ = *m.xorMapped;
        state_ = State::Ready;
        refreshDue_ = now_ + refreshInMs(*m.lifetime);
        return;
    }
    const int code = m.errorCode.value_or(0);
    if (code == 401 && !p.signed_ && m.realm && m.nonce && !m.realm->empty() && !m.nonce->empty()) {
        realm_ = *m.realm;
        nonce_ = *m.nonce;
        key_ = longTermKey(credentials_.username, realm_, credentials_.password);
        request(Kind::Allocate, nullptr);
        return;
    }
    if (code == 401 || code == 441)
        fail(relay + " refused this machine's credentials (" + codeText(m) + ").");
    else if (code == 486)
        fail(relay + " allows this machine no more relayed addresses (" + codeText(m) + ").");
    else if (code == 508)
        fail(relay + " has no room for another relayed address (" + codeText(m) + ").");
    else
        fail(relay + " refused a relayed address (" + codeText(m) + ").");
}

bool Client::addPeer(const Address& peer) {
    if (findPeer(peer)) return true;
    if (peer.family != 1 || peers_.size() >= size_t(kMaxPeers) || nextChannel_ > kLastChannel) return false;
    Peer p;
    p.address = peer;
    p.channel = nextChannel_++;
    peers_.push_back(std::move(p));
    if (!capturePath_.empty()) {
        std::string a(6, '\0');
        for (int i = 0; i < 4; ++i) a[size_t(i)] = char(peer.ip[size_t(i)]);
        a[4] = char(peer.port >> 8), a[5] = char(peer.port & 0xFF);
        capture(0x80, a);
    }
    return true;
}

void Client::removePeer(const Address& peer) {
    // Answers still due for it find no peer and are dropped.
    peers_.erase(std::remove_if(peers_.begin(), peers_.end(), [&](const Peer& p) { return p.address == peer; }),
                 peers_.end());
}

bool Client::send(const Address& peer, std::string_view payload) {
    Peer* p = findPeer(peer);
    if (!p || payload.size() > kMaxPayloadBytes || state_ == State::Failed || state_ == State::Closed)
        return false;
    if (!p->permitted) {
        if (p->held.size() >= kMaxHeldDatagrams || p->heldBytes + payload.size() > kMaxHeldBytes) return false;
        p->held.emplace_back(payload);
        p->heldBytes += payload.size();
        return true;
    }
    if (p->bound) {
        transmit(encodeChannelData(p->channel, payload));
        return true;
    }
    Message m;
    m.method = kSend;
    m.cls = kIndication;
    for (auto& b : m.transaction) b = uint8_t(ids_());
    m.xorPeer = p->address;
    m.data = std::string(payload);
    transmit(encode(m));
    return true;
}

void Client::flush(Peer& peer) {
    std::deque<std::string> held;
    held.swap(peer.held);
    peer.heldBytes = 0;
    for (const std::string& d : held) send(peer.address, d);
}

bool Client::channelBound(const Address& peer) const {
    for (const Peer& p : peers_)
        if (p.address == peer) return p.bound;
    return false;
}

void Client::close() {
    if (state_ != State::Ready) {
        if (state_ == State::Allocating) state_ = State::Closed;
        return;
    }
    Message m;
    m.method = kRefresh;
    m.cls = kRequest;
    for (auto& b : m.transaction) b = uint8_t(ids_());
    m.lifetime = 0;
    m.username = credentials_.username;
    m.realm = realm_;
    m.nonce = nonce_;
    transmit(encode(m, key_));
    state_ = State::Closed;
    pending_.clear();
}

std::vector<TransactionId> Client::outstanding() const {
    std::vector<TransactionId> ids;
    for (const Pending& p : pending_) ids.push_back(p.id);
    return ids;
}

size_t Client::heldBytes() const {
    size_t n = 0;
    for (const Peer& p : peers_) n += p.heldBytes;
    return n;
}

}  // namespace hopshot::turn
