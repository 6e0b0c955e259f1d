// The session over ENet. The host keeps the roster (who is connected and which players each
// brings) and is the only one that starts games; every machine keeps the lockstep of the game it
// plays. Nothing here blocks except join(), which waits for the host's answer.
#include "net/session.h"

#include "net/lan_games.h"
#include "net/wire.h"

#include <enet/enet.h>
#include <enet/time.h>

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <iterator>
#include <limits>

namespace hopshot {

namespace {

constexpr int kPingMs = 500;   // keeps a quiet link measured and its silence noticed
// Room for the guests, for connections that have not joined yet (kStrangers at most), and to
// refuse a fifth machine politely: a real guest always finds a free one.
constexpr int kPeerCount = 20;

// What one machine may send in a second: a few times what an honest machine sends in a game.
// On the host, from a guest: steps that bring nothing new, keep-alives, hellos, changes of
// players and "ends"; on a guest, from the host: notices, rosters, pauses and leavings, and each
// other kind.
constexpr int kBudget[] = {250, 50, 30, 10, 2, 20, 10};
constexpr const char* kBudgetNames[] = {"packets of steps that bring nothing new", "keep-alives",
                                        "hellos", "\"players\" messages", "\"ends\" messages",
                                        "notices", "messages"};
constexpr uint32_t kBytesBudget = 256 * 1024;   // bytes a second from one machine, all kinds

constexpr uint32_t kHelloGraceMs = 1000;   // a new connection's time to say hello, spared meanwhile

// Faults named once per machine, one bit each.
constexpr uint32_t kNamedNonsense = 1;

bool enetReady() {
    static const bool ok = [] {
        if (enet_initialize() != 0) return false;
        std::atexit(enet_deinitialize);
        return true;
    }();
    return ok;
}

std::string machineName(int id) { return id == 0 ? "the host" : "machine " + std::to_string(id + 1); }

// ENet's own time-out is left long: a link is judged by its silence (kSilenceMs), so that a burst
// of lost packets under heavy loss does not end it.
void tunePeer(ENetPeer* p) {
    enet_peer_ping_interval(p, kPingMs);
    enet_peer_timeout(p, 0, 60000, 60000);
    // Never thin out the unreliable "alive" packets below, whatever the round trip does.
    enet_peer_throttle_configure(p, 5000, 2, 0);
}

// Between two machines steps go out in a packet every step; with three or four, whose host passes
// each guest's steps on to the others, every other step (a step with commands at once): the host
// stays under 4 KB a second. Those not yet confirmed go again at the same pace while nothing new
// goes, so a lost packet is made good by the next.
constexpr int kSendMs = 15;        // every step (a step is 20 ms)
constexpr int kSendManyMs = 35;    // every other step
constexpr int kAliveMs = 200;   // a reliable packet held back by repeated loss must not look like silence

}  // namespace

namespace {

// The sessions whose sockets have a side reader, by ENet host: ENet's intercept names only the host.
std::mutex sidesLock;
std::map<ENetHost*, NetSession::SideReader*> sides;

int ENET_CALLBACK interceptSide(ENetHost* host, ENetEvent*) {
    NetSession::SideReader* take = nullptr;
    {
        std::lock_guard<std::mutex> hold(sidesLock);
        auto it = sides.find(host);
        if (it != sides.end()) take = it->second;
    }
    if (!take || !*take || host->receivedDataLength == 0) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(host->receivedData), host->receivedDataLength);
    return (*take)(ENET_NET_TO_HOST_32(host->receivedAddress.host), host->receivedAddress.port, bytes) ? 1 : 0;
}

void forgetSide(ENetHost* host) {
    std::lock_guard<std::mutex> hold(sidesLock);
    sides.erase(host);
}

}  // namespace

std::string programVersion() {
    return "hopshot " HOPSHOT_VERSION " net 4";
}

NetSession::~NetSession() {
    if (!enet_) return;
    forgetSide(enet_);
    // A goodbye the others hear at once (a second at most), else they find out by the silence.
    for (Peer& p : peers_) enet_peer_disconnect_later(p.peer, 0);   // after what is still queued
    ENetEvent e;
    for (const enet_uint32 until = enet_time_get() + 1000;
         !peers_.empty() && ENET_TIME_LESS(enet_time_get(), until);) {
        if (enet_host_service(enet_, &e, 20) <= 0) continue;
        if (e.type == ENET_EVENT_TYPE_RECEIVE) enet_packet_destroy(e.packet);
        if (e.type == ENET_EVENT_TYPE_DISCONNECT)
            peers_.remove_if([&](const Peer& p) { return p.peer == e.peer; });
    }
    for (Peer& p : peers_) enet_peer_disconnect_now(p.peer, 0);
    enet_host_flush(enet_);
    enet_host_destroy(enet_);
}

std::unique_ptr<NetSession> NetSession::host(uint16_t port, const Players& own,
                                             const std::string& version, std::string& error) {
    if (!enetReady()) {
        error = "the network library could not start";
        return nullptr;
    }
    ENetAddress address{};
    address.host = ENET_HOST_ANY;
    address.port = port;
    std::unique_ptr<NetSession> s(new NetSession);
    s->enet_ = enet_host_create(&address, kPeerCount, 1, 0, 0);
    if (!s->enet_) {
        error = "cannot open UDP port " + std::to_string(port) + " (is another game hosting there?)";
        return nullptr;
    }
    // The same patience while a guest's handshake is still under way (a connection that says no
    // hello is let go sooner, see service()).
    for (size_t i = 0; i < s->enet_->peerCount; ++i) enet_peer_timeout(&s->enet_->peers[i], 0, 60000, 60000);
    s->limitPackets();
    s->host_side_ = true;
    s->version_ = version;
    s->own_ = own;
    s->roster_.push_back({0, own});
    return s;
}

std::unique_ptr<NetSession> NetSession::join(const std::string& address, uint16_t port,
                                             const Players& own, const std::string& version,
                                             int timeoutMs, std::string& error, const Cancelled& cancelled) {
    auto s = openGuest(own, version, error);
    if (!s || !s->joinHost(address, port, timeoutMs, error, cancelled)) return nullptr;
    return s;
}

std::unique_ptr<NetSession> NetSession::openGuest(const Players& own, const std::string& version,
                                                  std::string& error) {
    if (!enetReady()) {
        error = "the network library could not start";
        return nullptr;
    }
    std::unique_ptr<NetSession> s(new NetSession);
    // Bound at once (any port), so that its port is known before anything is sent from it.
    ENetAddress any{};
    any.host = ENET_HOST_ANY;
    any.port = 0;
    s->enet_ = enet_host_create(&any, 1, 1, 0, 0);
    if (!s->enet_) {
        error = "cannot open a UDP socket";
        return nullptr;
    }
    s->limitPackets();
    s->version_ = version;
    s->own_ = own;
    return s;
}

bool NetSession::joinHost(const std::string& address, uint16_t port, int timeoutMs, std::string& error,
                          const Cancelled& cancelled) {
    const std::string where = address + ":" + std::to_string(port);
    NetSession* s = this;
    ENetAddress to{};
    if (enet_address_set_host(&to, address.c_str()) != 0) {
        error = "cannot find the address " + address;
        return false;
    }
    to.port = port;
    ENetPeer* peer = enet_host_connect(s->enet_, &to, 1, 0);
    if (peer) enet_peer_timeout(peer, 0, 60000, 60000);
    if (!peer) {
        error = "cannot reach " + where;
        return false;
    }
    const std::string& version = version_;
    const Players own = own_;
    Peer host;
    host.peer = peer;
    host.id = 0;
    host.heard = host.saidAt = enet_time_get();
    s->peers_.push_back(host);

    const enet_uint32 until = enet_time_get() + enet_uint32(timeoutMs);
    bool connected = false;
    enet_uint32 helloAt = 0;
    while (!s->welcomed_ && s->refusal_.empty() && !s->hostLeft_ &&
           ENET_TIME_LESS(enet_time_get(), until) && !(cancelled && cancelled())) {
        ENetEvent e;
        if (connected) s->sendAlive();   // heard while the hello makes its way through loss
        // The host lets a connection go that says no hello in two seconds: under loss the hello
        // also goes unreliably, again and again, until the host answers.
        if (connected && ENET_TIME_DIFFERENCE(enet_time_get(), helloAt) >= 100) {
            helloAt = enet_time_get();
            const std::string hello = wireHello({version, own});
            s->payloadOut_ += hello.size();
            ENetPacket* packet = enet_packet_create(hello.data(), hello.size(), ENET_PACKET_FLAG_UNSEQUENCED);
            if (enet_peer_send(peer, 0, packet) != 0) enet_packet_destroy(packet);
        }
        if (enet_host_service(s->enet_, &e, 20) <= 0) continue;
        if (e.type == ENET_EVENT_TYPE_CONNECT) {
            connected = true;
            tunePeer(peer);
            s->send(peer, wireHello({version, own}));
        } else if (e.type == ENET_EVENT_TYPE_RECEIVE) {
            const std::string bytes(reinterpret_cast<const char*>(e.packet->data), e.packet->dataLength);
            enet_packet_destroy(e.packet);
            s->peers_.front().heard = enet_time_get();
            s->handle(s->peers_.front(), bytes);
        } else if (e.type == ENET_EVENT_TYPE_DISCONNECT) {
            s->hostLeft_ = true;
        }
    }
    if (!s->refusal_.empty()) {
        error = "the host at " + where + " refused to let this machine join: " + s->refusal_;
        return false;
    }
    if (!s->welcomed_ && cancelled && cancelled()) {
        error = "joining " + where + " was cancelled";
        return false;
    }
    if (!s->welcomed_) {
        error = connected ? "the host at " + where + " did not answer"
                          : "no hopshot host answers at " + where;
        return false;
    }
    return true;
}


void NetSession::setSideReader(SideReader take) {
    if (!enet_) return;
    std::lock_guard<std::mutex> hold(sidesLock);
    side_ = std::move(take);
    if (side_) {
        sides[enet_] = &side_;
        enet_->intercept = interceptSide;
    } else {
        sides.erase(enet_);
        enet_->intercept = nullptr;
    }
}

void NetSession::sendSide(uint32_t address, uint16_t port, std::string_view bytes) {
    if (!enet_) return;
    ENetAddress to{};
    to.host = ENET_HOST_TO_NET_32(address);
    to.port = port;
    ENetBuffer buffer;
    buffer.data = const_cast<char*>(bytes.data());
    buffer.dataLength = bytes.size();
    enet_socket_send(enet_->socket, &to, &buffer, 1);
}

uint16_t NetSession::localPort() const {
    ENetAddress a{};
    if (!enet_ || enet_socket_get_address(enet_->socket, &a) != 0) return 0;
    return a.port;
}

bool NetSession::machineAddress(int id, uint32_t& address, uint16_t& port) const {
    for (const Peer& p : peers_)
        if (p.id == id && p.peer) {
            address = ENET_NET_TO_HOST_32(p.peer->address.host);
            port = p.peer->address.port;
            return true;
        }
    return false;
}

int NetSession::socket() const { return enet_ ? int(enet_->socket) : -1; }

Players NetSession::everyonesPlayers() const {
    Players all{};
    for (const Machine& m : roster_)
        for (int p = 0; p < kPlayers; ++p) all[size_t(p)] = all[size_t(p)] || m.players[size_t(p)];
    return all;
}

void NetSession::send(ENetPeer* peer, const std::string& bytes) {
    if (!peer) return;
    payloadOut_ += bytes.size();
    ENetPacket* packet = enet_packet_create(bytes.data(), bytes.size(), ENET_PACKET_FLAG_RELIABLE);
    if (enet_peer_send(peer, 0, packet) != 0) enet_packet_destroy(packet);
}

bool NetSession::connected(const Peer& p) { return p.peer && p.peer->state == ENET_PEER_STATE_CONNECTED; }

void NetSession::flush() {
    if (enet_) enet_host_flush(enet_);
}

std::unique_ptr<NetSession> NetSession::detached(bool host, int roundTripMs) {
    std::unique_ptr<NetSession> s(new NetSession);
    s->detachedRoundTrip_ = roundTripMs;
    s->host_side_ = host;
    s->version_ = programVersion();
    Peer p;
    p.heard = p.connectedAt = enet_time_get();
    if (host) {
        s->own_ = {true, false, false, false};
        s->roster_.push_back({0, s->own_});
    } else {
        s->own_ = {false, true, false, false};
        p.id = 0;
        s->self_ = 1;
        s->welcomed_ = true;
        s->roster_ = {{0, {true, false, false, false}}, {1, s->own_}};
    }
    s->peers_.push_back(p);
    return s;
}

void NetSession::receive(size_t peer, const std::string& bytes) {
    gone_.clear();   // nothing of theirs is being handled now
    if (peer < peers_.size()) handle(*std::next(peers_.begin(), long(peer)), bytes);
}

// No packet larger than the largest message, and little waiting data, from anyone.
void NetSession::limitPackets() {
    enet_->maximumPacketSize = kMaxMessageBytes;
    enet_->maximumWaitingData = 16 * kMaxMessageBytes;
}

// A message that fails its checks is dropped and counted; a machine that keeps sending them is
// let go.
void NetSession::refuse(Peer& from) {
    if (++from.refused <= kRefusalsTolerated || (from.namedFaults & kNamedNonsense)) return;
    from.namedFaults |= kNamedNonsense;
    note((from.id < 0 ? std::string("a machine that never joined") : machineName(from.id)) +
         " sent too many messages that make no sense: it is let go");
    letGo(from, "");
}

// A machine is let go at once: the host drops a guest (telling it why, when there is a why), a
// guest leaves its host. The Peer stays readable until the next service().
void NetSession::letGo(Peer& from, const std::string& why) {
    ENetPeer* peer = from.peer;
    if (!peer) {   // a detached session's peer
        for (auto it = peers_.begin(); it != peers_.end(); ++it)
            if (&*it == &from) {
                gone_.splice(gone_.end(), peers_, it);
                break;
            }
        if (!host_side_) hostLeft_ = over_ = true;
        return;
    }
    if (host_side_ && from.id > 0 && !why.empty()) {
        // The goodbye goes first and the connection after it; what the machine sends meanwhile
        // is no longer taken, and after a second the connection goes whether it answers or not.
        expel(peer, why);
        flush();
        leaving_[peer] = enet_time_get();
    } else if (host_side_) {
        dropPeer(peer);
        enet_peer_reset(peer);
    } else {
        enet_peer_disconnect_now(peer, 0);
        dropPeer(peer);
    }
}

// What a machine sends is counted per second, by kind and in bytes, before it is handled; the
// first message over a budget lets the machine go, named once. False: it was let go.
bool NetSession::withinBudget(Peer& from, Budget b, size_t bytes) {
    const uint32_t now = enet_time_get();
    if (ENET_TIME_DIFFERENCE(now, from.countedFrom) >= 1000) {
        from.countedFrom = now;
        from.counted.fill(0);
        from.bytesCounted = 0;
    }
    from.bytesCounted += uint32_t(bytes);
    const bool bytesOver = from.bytesCounted > kBytesBudget;
    const bool countOnly = b == kBudgets;   // steps: by their bytes alone, until they prove old
    if (!bytesOver && (countOnly || ++from.counted[size_t(b)] <= kBudget[b])) return true;
    const std::string what = bytesOver || countOnly ? std::to_string(kBytesBudget / 1024) + " KB"
                                       : std::to_string(kBudget[b]) + " " + kBudgetNames[b];
    if (!host_side_) {
        note("the host sent more than " + what + " in a second: this machine leaves the network game");
    } else if (from.id <= 0) {
        note("a machine that never joined sent more than " + what + " in a second: it is let go");
    }
    letGo(from, "it sent more than " + what + " in a second");
    return false;
}

// Notices wait to be read; however many a flood would make, only the first few are kept.
void NetSession::note(const std::string& text) {
    if (notices_.size() < kNoticesKept) notices_.push_back(text);
    else if (notices_.size() == kNoticesKept) notices_.push_back("... and more notices than can be shown");
}

bool NetSession::socketHoldsData() const {
    pollfd p{int(enet_->socket), POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

// Host: connections that have not joined (still in ENet's handshake, or connected without a
// valid hello) get short limits and a number of their own, so they never fill the host.
void NetSession::limitStrangers(uint32_t now) {
    std::vector<std::pair<uint32_t, ENetPeer*>> strangers;
    std::map<ENetPeer*, uint32_t> handshakes;
    for (size_t i = 0; i < enet_->peerCount; ++i) {
        ENetPeer* p = &enet_->peers[i];
        const bool shaking = p->state == ENET_PEER_STATE_ACKNOWLEDGING_CONNECT ||
                             p->state == ENET_PEER_STATE_CONNECTION_PENDING ||
                             p->state == ENET_PEER_STATE_CONNECTION_SUCCEEDED ||
                             p->state == ENET_PEER_STATE_CONNECTING;
        if (!shaking) continue;
        auto it = handshakes_.find(p);
        const uint32_t since = it == handshakes_.end() ? now : it->second;
        if (ENET_TIME_DIFFERENCE(now, since) > enet_uint32(kHandshakeMs)) {
            enet_peer_reset(p);
            continue;
        }
        handshakes[p] = since;
        strangers.push_back({since, p});
    }
    handshakes_.swap(handshakes);
    for (const Peer& p : peers_)
        if (p.id < 0) strangers.push_back({p.connectedAt, p.peer});
    if (strangers.size() <= size_t(kStrangers)) return;
    // The oldest go first; those within their first second (a guest's hello on its way) last,
    // so that a storm of new connections cannot push a real guest out before it says hello.
    std::sort(strangers.begin(), strangers.end(), [&](const auto& a, const auto& b) {
        const uint32_t ageA = ENET_TIME_DIFFERENCE(now, a.first), ageB = ENET_TIME_DIFFERENCE(now, b.first);
        const bool youngA = ageA < kHelloGraceMs, youngB = ageB < kHelloGraceMs;
        return youngA != youngB ? youngB : ageA > ageB;
    });
    for (size_t k = 0; k + size_t(kStrangers) < strangers.size(); ++k) {
        ENetPeer* p = strangers[k].second;
        handshakes_.erase(p);
        dropPeer(p);
        enet_peer_reset(p);
    }
}

void NetSession::answerOnLan(std::unique_ptr<LanResponder> lan) {
    if (host_side_) lan_ = std::move(lan);
}

void NetSession::service(int waitMs) {
    gone_.clear();   // nothing of theirs is being handled now
    if (!enet_) return;   // a detached session: nothing comes, nothing goes
    if (lan_)
        lan_->step(enet_time_get(), [&] {
            LanAnnouncement a{lanHostName(), int(roster_.size()), {}, enet_->address.port};
            const Players taken = everyonesPlayers();
            for (int p = 0; p < kPlayers; ++p) a.free[size_t(p)] = !taken[size_t(p)];
            return a;
        });
    ENetEvent e;
    // The first packet ends the wait; what else is there is taken, within a bounded number of
    // events and time, so that a flood never holds the game's steps. The socket is read on while
    // it holds datagrams, even those that make no event (a peer already let go), so that they
    // never crowd out the others'.
    using Clock = std::chrono::steady_clock;
    Clock::time_point began{};
    int events = 0;
    for (int wait = std::max(waitMs, 0), turn = 0;; wait = 0, ++turn) {
        const int got = enet_host_service(enet_, &e, enet_uint32(wait));
        if (turn == 0) began = Clock::now();   // counted from the end of the wait
        if (got < 0) break;
        if (got == 0) {
            if (Clock::now() - began >= std::chrono::milliseconds(kServiceMs) || !socketHoldsData()) break;
            continue;
        }
        ++events;
        auto it = std::find_if(peers_.begin(), peers_.end(),
                               [&](const Peer& p) { return p.peer == e.peer; });
        if (e.type == ENET_EVENT_TYPE_CONNECT || e.type == ENET_EVENT_TYPE_DISCONNECT) leaving_.erase(e.peer);
        switch (e.type) {
        case ENET_EVENT_TYPE_CONNECT:
            if (host_side_) {
                tunePeer(e.peer);
                Peer p;
                p.peer = e.peer;
                p.heard = p.connectedAt = enet_time_get();
                peers_.push_back(p);
            }
            break;
        case ENET_EVENT_TYPE_RECEIVE: {
            const std::string bytes(reinterpret_cast<const char*>(e.packet->data), e.packet->dataLength);
            enet_packet_destroy(e.packet);
            if (it != peers_.end()) {
                it->heard = enet_time_get();
                handle(*it, bytes);
            }
            break;
        }
        case ENET_EVENT_TYPE_DISCONNECT: dropPeer(e.peer); break;
        case ENET_EVENT_TYPE_NONE: break;
        }
        if (events >= kServiceEvents || Clock::now() - began >= std::chrono::milliseconds(kServiceMs)) break;
    }
    sendAlive();
    const enet_uint32 now = enet_time_get();
    // Any datagram from a peer counts as hearing it, ENet's own acknowledgements and pings too
    // (ENet restarts its byte count every second, so a change is what tells).
    for (Peer& p : peers_)
        if (p.peer->incomingDataTotal != p.bytesIn) {
            p.bytesIn = p.peer->incomingDataTotal;
            p.heard = now;
        }
    // Silence: a connected peer not heard from for kSilenceMs has gone.
    std::vector<ENetPeer*> silent;
    for (const Peer& p : peers_)
        if (connected(p) &&
            ENET_TIME_DIFFERENCE(now, p.heard) > enet_uint32(kSilenceMs))
            silent.push_back(p.peer);
    // A connection that has not said a valid hello in time is let go: its slot is free again.
    std::vector<ENetPeer*> mute;
    if (host_side_) {
        for (const Peer& p : peers_)
            if (p.id < 0 && ENET_TIME_DIFFERENCE(now, p.connectedAt) > enet_uint32(kHelloWaitMs))
                mute.push_back(p.peer);
        limitStrangers(now);
        for (auto it = leaving_.begin(); it != leaving_.end();)
            if (ENET_TIME_DIFFERENCE(now, it->second) > 1000) {
                enet_peer_disconnect_now(it->first, 0);
                it = leaving_.erase(it);
            } else {
                ++it;
            }
        // Changes of players answered at most once a second: the roster that stands now.
        for (Peer& p : peers_)
            if (p.answerDue && ENET_TIME_DIFFERENCE(now, p.answeredAt) >= 1000) {
                p.answerDue = false;
                p.answeredAt = now;
                sendRoster();
            }
    }
    for (ENetPeer* p : mute) {
        dropPeer(p);
        enet_peer_disconnect_now(p, 0);
    }
    for (ENetPeer* p : silent) {
        dropPeer(p);
        enet_peer_reset(p);
    }
    checkProgress(now);
    // Steps not yet confirmed go again now and then, also while this machine waits.
    const bool ackDue = std::any_of(peers_.begin(), peers_.end(), [](const Peer& p) { return p.ackDue; });
    if ((!history_.empty() || ackDue) && stepsDue()) sendSteps();
    flush();
}

// A small unreliable packet on every link now and then: it goes out even while a reliable one
// waits to be sent again, so a link that still works is never silent.
void NetSession::sendAlive() {
    const enet_uint32 now = enet_time_get();
    if (ENET_TIME_DIFFERENCE(now, lastAlive_) < enet_uint32(kAliveMs)) return;
    lastAlive_ = now;
    // Packets of steps going out say the same.
    if (ENET_TIME_DIFFERENCE(now, lastSteps_) < enet_uint32(kAliveMs) && !history_.empty()) return;
    for (const Peer& p : peers_)
        if (connected(p)) {
            const std::string alive = wireSimple(MsgKind::Alive);
            payloadOut_ += alive.size();
            ENetPacket* packet = enet_packet_create(alive.data(), alive.size(),
                                                    ENET_PACKET_FLAG_UNSEQUENCED);
            if (enet_peer_send(p.peer, 0, packet) != 0) enet_packet_destroy(packet);
        }
}

void NetSession::handle(Peer& from, const std::string& bytes) {
    from.saidAt = enet_time_get();
    MsgKind kind;
    const bool known = wireKind(bytes, kind);
    // Counted before it is handled: steps by their bytes now, and by their number when they
    // turn out to bring nothing new.
    Budget budget = kBudgets;
    if (host_side_ && from.id < 0) budget = Hellos;   // whatever it is, it is taken as a hello
    else if (known && kind == MsgKind::Alive) budget = Alives;
    else if (known && kind == MsgKind::Steps) budget = kBudgets;
    else if (host_side_ && known && kind == MsgKind::Hello) budget = Hellos;
    else if (host_side_ && known && kind == MsgKind::Ends) budget = Endings;
    else if (host_side_ && known && kind == MsgKind::Players) budget = PlayerChanges;
    else if (host_side_) budget = kBudgets;   // nothing a guest may say: the refusals count it
    else budget = known && (kind == MsgKind::Notice || kind == MsgKind::Roster || kind == MsgKind::Pause ||
                            kind == MsgKind::Left) ? HostNews : HostOther;
    if (!withinBudget(from, budget, bytes.size())) return;
    if (host_side_ && from.id < 0) {   // a machine that has not joined may only say hello
        HelloMessage hello;
        const bool read = readHello(bytes, hello);
        if (read || !hello.version.empty()) hostHello(from, hello, read);
        else refuse(from);
        return;
    }
    if (!known) {
        refuse(from);
        return;
    }
    bool ok = true;
    bool fresh = false;
    switch (kind) {
    case MsgKind::Alive: break;
    case MsgKind::Steps:
        ok = takeSteps(from, bytes, fresh);
        if (!fresh && !withinBudget(from, OldSteps, 0)) return;
        break;
    case MsgKind::Hello: ok = host_side_; break;   // said again while the welcome was on its way
    default: ok = host_side_ ? hostMessage(from, kind, bytes) : guestMessage(kind, bytes); break;
    }
    if (!ok) refuse(from);
}

// What a guest may say to the host besides its steps: the players it wants, and that it ends
// its games elsewhere.
bool NetSession::hostMessage(Peer& from, MsgKind kind, const std::string& bytes) {
    if (kind == MsgKind::Players) {
        Players wanted;
        if (!readPlayers(bytes, wanted)) return false;
        // Answered at once, then at most once a second (the roster that stands then): nothing a
        // machine sends makes more come back.
        const uint32_t now = enet_time_get();
        const bool answer = from.answeredAt == 0 || ENET_TIME_DIFFERENCE(now, from.answeredAt) >= 1000;
        for (const Machine& m : roster_)
            for (int p = 0; p < kPlayers; ++p)
                if (m.id != from.id && m.players[size_t(p)] && wanted[size_t(p)]) {
                    if (answer)
                        send(from.peer, wireText(MsgKind::Notice, "player " + std::to_string(p + 1) +
                                                                      " is already played on " + machineName(m.id)));
                    wanted[size_t(p)] = false;
                }
        from.players = wanted;
        for (Machine& m : roster_)
            if (m.id == from.id) m.players = wanted;
        if (answer) {
            from.answeredAt = now;
            from.answerDue = false;
            sendRoster();
        } else {
            from.answerDue = true;
        }
        return true;
    }
    if (kind == MsgKind::Ends) {
        // Taken once, from a machine of this game that has sent none of its steps (it leaves
        // before its first), naming a limit that is not the host's; anything else makes no sense.
        long limit = 0;
        if (!readNumber(bytes, 0, kMaxStepLimit, limit)) return false;
        if (from.saidEnds || !lockstep_.inGame(from.id) || lockstep_.have(from.id) > lockstep_.delay() ||
            limit == stepLimit_)
            return false;
        from.saidEnds = true;
        endsDiffered_ = true;
        note(machineName(from.id) + " (players " + playersList(from.players) + ") ends its games after " +
             std::to_string(limit) + " steps, the host's games end elsewhere: it leaves");
        return true;
    }
    return false;
}

// Everything a guest hears comes from the host.
bool NetSession::guestMessage(MsgKind kind, const std::string& bytes) {
    switch (kind) {
    case MsgKind::Welcome: {
        long id = 0;
        if (!readNumber(bytes, 1, kMaxMachineId, id)) return false;
        if (welcomed_) return id == self_;   // a machine's number is given once, for good
        self_ = int(id);
        welcomed_ = true;
        return true;
    }
    case MsgKind::Refuse: return readText(bytes, refusal_);
    case MsgKind::Roster: {
        std::vector<std::pair<int, Players>> roster;
        if (!readRoster(bytes, roster)) return false;
        roster_.clear();
        for (const auto& [id, players] : roster) roster_.push_back({id, players});
        return true;
    }
    case MsgKind::Start: {
        StartMessage m;
        if (!readStart(bytes, m)) return false;
        // A game this machine does not play in would never go on: its own steps count nowhere.
        if (!welcomed_ || std::count(m.machines.begin(), m.machines.end(), self_) == 0) return false;
        if (starts_.size() < 4) starts_.push_back(m);
        return true;
    }
    case MsgKind::Left: {
        LeftMessage m;
        if (!readLeft(bytes, m)) return false;
        if (m.game != 0 && m.game == lockstep_.game()) lockstep_.drop(m.machine, m.from, releaseCommands(m.players));
        // A machine let go in a game this one has not yet begun: dropped there as it begins.
        if (m.game > lockstep_.game() && earlyLeft_.size() < size_t(kMaxMachines)) earlyLeft_.push_back(m);
        note(machineName(m.machine) + " (players " + playersList(m.players) + ") left");
        return true;
    }
    case MsgKind::Bye: {
        std::string why;
        if (!readText(bytes, why)) return false;
        expelled_ = why.empty() ? "no reason given" : why;
        over_ = true;
        return true;
    }
    case MsgKind::Notice: {
        std::string text;
        if (!readText(bytes, text)) return false;
        note(text);
        return true;
    }
    case MsgKind::Over: over_ = true; return bytes.size() == 2;
    case MsgKind::Pause: {
        long on = 0;
        if (!readNumber(bytes, 0, 1, on)) return false;
        paused_ = on == 1;
        return true;
    }
    default: return false;
    }
}

// A guest's hello. Refused: a different version (both named), a full game, or a player already
// played elsewhere. A guest that names no player takes the first free one, as a machine alone
// brings one player.
void NetSession::hostHello(Peer& from, const HelloMessage& hello, bool read) {
    Players wanted = hello.players;
    std::string refusal;
    if (!read || hello.version != version_) {
        refusal = "it runs " + version_ + ", this machine runs " +
                  (hello.version.empty() ? "an unknown version" : hello.version) +
                  "; both need the same version";
    } else if (int(roster_.size()) >= kMaxMachines) {
        refusal = "the game is full: four machines are playing";
    } else {
        const Players taken = everyonesPlayers();
        // What to join with instead: the players nobody brings yet.
        std::string free;
        for (int p = 0; p < kPlayers; ++p)
            if (!taken[size_t(p)]) free += std::to_string(p + 1);
        if (free.empty())
            refusal = "the game is full: all four players are taken";
        else if (std::none_of(wanted.begin(), wanted.end(), [](bool b) { return b; }))
            wanted[size_t(free.front() - '1')] = true;
        else
            for (const Machine& m : roster_)
                for (int p = 0; p < kPlayers && refusal.empty(); ++p)
                    if (m.players[size_t(p)] && wanted[size_t(p)])
                        refusal = "player " + std::to_string(p + 1) + " is already played on " +
                                  machineName(m.id) + "; join with free ones: --players " + free;
    }
    if (!refusal.empty()) {
        send(from.peer, wireText(MsgKind::Refuse, refusal));
        if (from.peer) enet_peer_disconnect_later(from.peer, 0);
        return;
    }
    from.id = nextId_++;
    from.players = wanted;
    roster_.push_back({from.id, wanted});
    send(from.peer, wireNumber(MsgKind::Welcome, from.id));
    sendRoster();
    note(machineName(from.id) + " (players " + playersList(wanted) + ") joined");
}

// The roster goes to every guest when it changed.
void NetSession::sendRoster() {
    std::vector<std::pair<int, Players>> roster;
    for (const Machine& m : roster_) roster.push_back({m.id, m.players});
    const std::string bytes = wireRoster(roster);
    if (bytes == rosterSent_) return;
    rosterSent_ = bytes;
    for (Peer& p : peers_)
        if (p.id > 0) send(p.peer, bytes);
}

void NetSession::dropPeer(ENetPeer* peer, const std::string& why) {
    auto it = std::find_if(peers_.begin(), peers_.end(), [&](const Peer& p) { return p.peer == peer; });
    if (it == peers_.end()) return;
    gone_.splice(gone_.end(), peers_, it);   // freed at the next service(): it may be in use
    const Peer& gone = gone_.back();
    peerHas_.erase(gone.id);
    if (!host_side_) {
        if (!over_ || gameOn_) {   // not the goodbye after the host's last game
            hostLeft_ = over_ = true;
            note("the host left");
        }
        return;
    }
    if (gone.id < 0) return;   // never joined
    roster_.erase(std::remove_if(roster_.begin(), roster_.end(),
                                 [&](const Machine& m) { return m.id == gone.id; }),
                  roster_.end());
    // Its commands end where the host's copy of them ends; everyone releases its players there.
    int game = 0;
    long from = 0;
    if (lockstep_.inGame(gone.id) && !lockstep_.dropped(gone.id)) {
        game = lockstep_.game();
        from = lockstep_.have(gone.id) + 1;
        lockstep_.drop(gone.id, from, releaseCommands(gone.players));
    }
    const std::string left = wireLeft({gone.id, gone.players, game, from});
    for (Peer& p : peers_)
        if (p.id > 0) send(p.peer, left);
    sendRoster();
    note(machineName(gone.id) + " (players " + playersList(gone.players) + ") left" + (why.empty() ? "" : ", " + why));
}

bool NetSession::playsIn(int game, int machine) const {
    if (!host_side_) return true;   // a guest's one peer, the host, plays every game
    auto it = gameMachines_.find(game);
    return it != gameMachines_.end() &&
           std::find(it->second.begin(), it->second.end(), machine) != it->second.end();
}

void NetSession::startGame(const StartMessage& m) {
    gameMachines_[m.game] = m.machines;
    stepLimit_ = m.stepLimit;
    const std::string text = wireStart(m);
    for (Peer& p : peers_)
        if (p.id > 0 && std::count(m.machines.begin(), m.machines.end(), p.id)) send(p.peer, text);
    flush();
    lockstep_.begin(m.game, m.delay, m.machines, m.machinePlayers, m.predicts);
    gameOn_ = true;
    paused_ = false;
    const enet_uint32 now = enet_time_get();
    for (Peer& p : peers_) {
        p.lastHave = m.delay;
        p.holding = false;
        p.progressAt = now;
        p.holdingFrom = 0;
    }
}

bool NetSession::takeStart(StartMessage& m) {
    if (starts_.empty()) return false;
    m = starts_.front();
    starts_.erase(starts_.begin());
    lockstep_.begin(m.game, m.delay, m.machines, m.machinePlayers, m.predicts);
    gameOn_ = true;
    paused_ = false;
    hostHave_ = m.delay;
    hostStepsAt_ = enet_time_get();
    for (const LeftMessage& left : earlyLeft_)
        if (left.game == m.game) lockstep_.drop(left.machine, left.from, releaseCommands(left.players));
    earlyLeft_.clear();
    std::vector<std::string> early;
    early.swap(early_);
    for (const std::string& bytes : early) {
        if (peers_.empty()) break;   // the host was let go on the way
        handle(peers_.front(), bytes);
    }
    return true;
}

void NetSession::sendStep(long step, const StepCommands& commands, long hashStep,
                          uint64_t hash) {
    const int game = lockstep_.game();
    lockstep_.put(self_, step, commands);
    const uint32_t fingerprint = uint32_t(hash);
    if (hashStep >= 1) lockstep_.fingerprint(self_, hashStep, fingerprint);
    Held& held = history_[game][self_][step];
    held.commands = commands;
    held.hasFingerprint = hashStep >= 1;
    held.fingerprint = fingerprint;
    held.madeAt = enet_time_get();
    if (!commands.empty() || stepsDue()) sendSteps();
    checkDesync();
}

// A packet of steps is due at the pace above; and at every step while this machine's oldest step
// not yet confirmed is older than a round trip and two packets' waits (one was most likely lost).
bool NetSession::stepsDue() const {
    const enet_uint32 now = enet_time_get();
    const int every = lockstep_.machines().size() > 2 ? kSendManyMs : kSendMs;
    if (ENET_TIME_DIFFERENCE(now, lastSteps_) >= enet_uint32(every)) return true;
    auto g = history_.find(lockstep_.game());
    if (g == history_.end()) return false;
    auto own = g->second.find(self_);
    if (own == g->second.end() || own->second.empty()) return false;
    const enet_uint32 age = ENET_TIME_DIFFERENCE(now, own->second.begin()->second.madeAt);
    // (Its confirmation rides the peer's own packet, which may wait a packet's time too.)
    return age > enet_uint32(roundTripMs() + 2 * every + 15) && ENET_TIME_DIFFERENCE(now, lastSteps_) >= 15;
}

// Every peer gets, in each packet, every machine's steps it has not yet confirmed (as many as fit
// a packet), each run with the fingerprint its last step carries, and what this machine holds of
// everyone's, which confirms theirs. A lost packet costs nothing: the next carries the same.
void NetSession::sendSteps() {
    lastSteps_ = enet_time_get();
    const int current = lockstep_.game();
    for (Peer& p : peers_) {
        if (p.id < 0 || !connected(p)) continue;
        PeerSteps& has = peerHas_[p.id];
        for (auto& [game, byMachine] : history_) {
            if (game < has.game || !playsIn(game, p.id)) continue;   // moved on, or not its game
            StepsPacket packet;
            packet.game = game;
            // What the peer needs to hear of what this machine holds: the host, what it holds of
            // that guest; a guest, of every other machine.
            if (game == current)
                for (int m : lockstep_.machines())
                    if (host_side_ ? m == p.id : m != self_) packet.have.push_back({m, lockstep_.have(m)});
            bool any = game == current && p.ackDue;
            size_t bytes = 16;
            for (auto& [machine, steps] : byMachine) {
                if (machine == p.id) continue;
                const long confirmed = game == has.game ? has.steps[machine] : 0;
                StepRun run;
                run.machine = machine;
                for (auto it = steps.upper_bound(confirmed); it != steps.end(); ++it) {
                    if (!run.steps.empty() && it->first != run.last() + 1) break;   // a gap: later
                    if (run.steps.empty()) run.first = it->first;
                    const size_t size = 1 + wireCommandBytes(it->second.commands);
                    if (long(run.steps.size()) >= kMaxStepsPerRun || bytes + size > kPacketBudget) break;
                    bytes += size;
                    run.steps.push_back(it->second.commands);
                    // Only the host's fingerprints matter to a guest, and every one to the host.
                    run.hasFingerprint = it->second.hasFingerprint && (machine == self_ || !host_side_);
                    run.fingerprint = it->second.fingerprint;
                }
                if (run.steps.empty()) continue;
                // A fingerprint every other step is enough to find a game that went astray.
                if (run.hasFingerprint) {
                    long& last = p.fingerprintSent[machine];
                    if (game == current && run.last() < last + 2 && run.last() > last) run.hasFingerprint = false;
                    else last = run.last();
                }
                packet.runs.push_back(std::move(run));
                any = true;
            }
            if (!any) continue;
            const std::string wire = wireSteps(packet);
            payloadOut_ += wire.size();
            ENetPacket* out = enet_packet_create(wire.data(), wire.size(), ENET_PACKET_FLAG_UNSEQUENCED);
            if (enet_peer_send(p.peer, 0, out) != 0) enet_packet_destroy(out);
        }
        p.ackDue = false;
    }
    flush();
}

// A peer's packet of steps: what it holds of this game (so that what it has is sent no more),
// then its steps, and on the host the steps of one guest that the others still need. False:
// the packet broke a rule, and is dropped.
bool NetSession::takeSteps(Peer& from, const std::string& bytes, bool& fresh) {
    fresh = false;
    StepsPacket packet;
    if (from.id < 0 || !readSteps(bytes, packet)) return false;
    const int game = packet.game;
    if (!host_side_ && game > lockstep_.game()) {
        // A game this machine has not begun: kept for its start (the next game's only; its
        // steps come again anyway until confirmed).
        if (early_.size() < kEarlyPackets) {
            early_.push_back(bytes);
            fresh = true;
        }
        return true;
    }
    PeerSteps& has = peerHas_[from.id];
    if (game > has.game) has = PeerSteps{game, {}};
    if (game == has.game)
        for (const auto& [machine, step] : packet.have) {
            if (!lockstep_.inGame(machine) && game == lockstep_.game()) return false;   // no such machine
            if (has.steps.size() >= size_t(kMaxMachines) && !has.steps.count(machine)) return false;
            long& confirmed = has.steps[machine];
            fresh = fresh || step > confirmed;
            confirmed = std::max(confirmed, step);
        }
    pruneHistory();
    if (game != lockstep_.game()) return true;
    // This machine runs step have(self) - D; no machine may be further ahead than the window.
    const long window = lockstep_.have(self_) + kStepWindow;
    bool ok = true;
    for (const StepRun& run : packet.runs) {
        if (host_side_ && run.machine != from.id) return false;   // a guest speaks only for itself
        if (!lockstep_.inGame(run.machine) || run.machine == self_) return false;
        if (run.last() > window) {
            ok = false;   // far beyond the game: refused, the rest of the packet still taken
            continue;
        }
        // Confirmed even when already held: the confirmation that went before may have been lost.
        from.ackDue = true;
        for (long step = run.first; step <= run.last(); ++step) {
            const long before = lockstep_.have(run.machine);
            const StepCommands& commands = run.steps[size_t(step - run.first)];
            lockstep_.put(run.machine, step, commands);
            fresh = fresh || lockstep_.have(run.machine) != before;
            if (lockstep_.have(run.machine) == before || !host_side_) continue;
            Held& held = history_[game][run.machine][step];   // for the other guests
            held.commands = commands;
            if (step == run.last()) {
                held.hasFingerprint = run.hasFingerprint;
                held.fingerprint = run.fingerprint;
            }
        }
        // A fingerprint counts only for the step it must name: the one before the step that was
        // run when the run's last step went out (a machine that predicts names one it has
        // settled, kRunAhead further back).
        const long named = run.last() - lockstep_.fingerprintLag();
        if (run.hasFingerprint && named >= 1 && lockstep_.have(run.machine) >= run.last())
            lockstep_.fingerprint(run.machine, named, run.fingerprint);
    }
    checkDesync();
    return ok;
}

// Steps every peer that needs them has confirmed are let go of.
void NetSession::pruneHistory() {
    for (auto g = history_.begin(); g != history_.end();) {
        for (auto& [machine, steps] : g->second) {
            long upTo = std::numeric_limits<long>::max();
            for (const Peer& p : peers_) {
                if (p.id < 0 || p.id == machine || !playsIn(g->first, p.id)) continue;
                const PeerSteps& has = peerHas_[p.id];
                if (has.game > g->first) continue;
                auto it = has.steps.find(machine);
                upTo = std::min(upTo, has.game == g->first && it != has.steps.end() ? it->second : 0L);
            }
            steps.erase(steps.begin(), steps.upper_bound(upTo));
            // However slow its peers, no machine's steps are held beyond the window.
            while (steps.size() > size_t(kHeldSteps)) steps.erase(steps.begin());
        }
        const bool empty = std::all_of(g->second.begin(), g->second.end(),
                                       [](const auto& m) { return m.second.empty(); });
        if (empty && g->first != lockstep_.game()) {
            gameMachines_.erase(g->first);
            g = history_.erase(g);
        } else {
            ++g;
        }
    }
}

// The host's world is the reference: a guest whose fingerprint differs is dropped, and the others
// play on. (A guest finds out for itself, from the host's fingerprints: see desyncStep.)
void NetSession::checkDesync() {
    for (const std::string& n : lockstep_.takeNotices()) note(n);
    if (!host_side_) return;
    for (int id : lockstep_.disagreeing()) {
        auto it = std::find_if(peers_.begin(), peers_.end(), [&](const Peer& p) { return p.id == id; });
        if (it == peers_.end()) continue;
        expel(it->peer, "its game differs from the host's after step " +
                            std::to_string(lockstep_.disagreesAfter(id)) + " of game " +
                            std::to_string(lockstep_.game()));
    }
}

long NetSession::desyncStep() const { return host_side_ ? 0 : lockstep_.disagreesAfter(self_); }

void NetSession::expel(ENetPeer* peer, const std::string& reason) {
    auto it = std::find_if(peers_.begin(), peers_.end(), [&](const Peer& p) { return p.peer == peer; });
    if (it == peers_.end()) return;
    send(peer, wireText(MsgKind::Bye, reason));
    if (peer) enet_peer_disconnect_later(peer, 0);
    dropPeer(peer, "dropped by the host: " + reason);
}

// In a game, a machine whose steps hold this one up is given a few seconds, more for its first
// step (it may still be closing a message box or the record prompt); then it is dropped, however
// much else it sends. A guest gives the host longer: the host may be waiting out another guest.
void NetSession::checkProgress(uint32_t now) {
    if (!gameOn_) return;
    if (paused_) {   // held: the waits start again when the game goes on
        for (Peer& p : peers_) {
            p.progressAt = now;
            p.holdingFrom = 0;
        }
        hostStepsAt_ = now;
        // A paused host still says it is there; one that says nothing for long has gone.
        if (!host_side_ && !peers_.empty() && expelled_.empty() &&
            ENET_TIME_DIFFERENCE(now, peers_.front().saidAt) > enet_uint32(kPausedHostMs)) {
            expelled_ = "it sent nothing for " + std::to_string(kPausedHostMs / 1000) + " seconds";
            over_ = true;
        }
        return;
    }
    const long needed = lockstep_.have(self_) - lockstep_.delay();   // the step this machine waits for
    if (host_side_) {
        std::vector<std::pair<ENetPeer*, std::string>> late;
        for (Peer& p : peers_) {
            if (p.id <= 0 || !lockstep_.inGame(p.id) || lockstep_.dropped(p.id)) continue;
            const long have = lockstep_.have(p.id);
            if (have != p.lastHave) {
                p.lastHave = have;
                p.progressAt = now;
            }
            // Judged from when it began to hold this machine up, not before: a machine that
            // waited with the others for a third one is not late when they all go on at once.
            if (have >= needed) {
                p.holding = false;
                heldBackTooLong(p, now, false);
                continue;
            }
            if (!p.holding) {
                p.holding = true;
                if (have > lockstep_.delay()) p.progressAt = now;
            }
            const bool first = have <= lockstep_.delay();
            const uint32_t limit = first ? kStartWaitMs : kNoStepsMs;
            if (heldBackTooLong(p, now, !first))   // its first step has a limit of its own
                late.push_back({p.peer, "it held the game back for more than " + std::to_string(kHeldBackMs / 1000) +
                                            " seconds within " + std::to_string(kHeldBackWindowMs / 1000) +
                                            " seconds"});
            else if (ENET_TIME_DIFFERENCE(now, p.progressAt) > limit)
                late.push_back({p.peer, first ? "it did not start game " + std::to_string(lockstep_.game()) +
                                                    " within " + std::to_string(kStartWaitMs / 1000) + " seconds"
                                              : "it sent no steps for " + std::to_string(kNoStepsMs / 1000) +
                                                    " seconds"});
        }
        for (const auto& [peer, why] : late) expel(peer, why);
        return;
    }
    const long have = lockstep_.have(0);
    if (have != hostHave_ || have >= needed) {
        hostHave_ = have;
        hostStepsAt_ = now;
    } else if (ENET_TIME_DIFFERENCE(now, hostStepsAt_) > enet_uint32(kHostStepsMs) && expelled_.empty()) {
        expelled_ = "it sent no steps for " + std::to_string(kHostStepsMs / 1000) + " seconds";
        over_ = true;
    }
}

// A machine that keeps the others waiting, however it spreads its waits: each wait counts beyond
// twice its round trip and a quarter of a second (what an honest machine's packet may take), and
// more than kHeldBackMs of that within any kHeldBackWindowMs drops it. True: it is to be dropped.
bool NetSession::heldBackTooLong(Peer& p, uint32_t now, bool holding) {
    if (!holding) {
        p.holdingFrom = 0;
        return false;
    }
    if (p.holdingFrom == 0) p.holdingFrom = p.holdCheckedAt = now | 1;
    const uint32_t grace = 2 * (p.peer ? p.peer->roundTripTime : 0) + 250;
    const uint32_t waited = ENET_TIME_DIFFERENCE(now, p.holdingFrom);
    if (waited > grace) {
        const uint32_t counted = std::min<uint32_t>(ENET_TIME_DIFFERENCE(now, p.holdCheckedAt), waited - grace);
        const size_t slot = (now / 100) % p.heldBack.size();
        if (p.heldBackSlot[slot] != now / 100) {
            p.heldBackSlot[slot] = now / 100;
            p.heldBack[slot] = 0;
        }
        p.heldBack[slot] = uint16_t(std::min<uint32_t>(p.heldBack[slot] + counted, 60000));
    }
    p.holdCheckedAt = now;
    uint32_t total = 0;
    for (size_t k = 0; k < p.heldBack.size(); ++k)
        if (now / 100 - p.heldBackSlot[k] < p.heldBack.size()) total += p.heldBack[k];
    return total > uint32_t(kHeldBackMs);
}

void NetSession::setPaused(bool on) {
    paused_ = on;
    if (!host_side_) return;
    for (Peer& p : peers_)
        if (p.id > 0) send(p.peer, wireNumber(MsgKind::Pause, on ? 1 : 0));
    flush();
}

void NetSession::leaveForStepLimit(long own, long host) {
    note("the host ends its games after " + std::to_string(host) +
                       " steps, this machine after " + std::to_string(own) +
                       ": the machines disagree on when a game ends");
    if (!peers_.empty()) send(peers_.front().peer, wireNumber(MsgKind::Ends, own));
    flush();   // before the goodbye, which would otherwise overtake it
    over_ = true;
}

int NetSession::autoDelay() const {
    // The round trip in steps, and one more; with guests that hear each other through the host,
    // one more for the host's wait to pass their steps on.
    const int rtt = roundTripMs();
    const int relay = roster_.size() > 2 ? 1 : 0;
    return std::clamp((rtt + 19) / 20 + 1 + relay, 1, kMaxDelay);
}

std::string NetSession::setOwnPlayers(const Players& wanted) {
    if (!host_side_) {
        if (!peers_.empty()) send(peers_.front().peer, wirePlayers(wanted));
        return {};
    }
    for (const Machine& m : roster_)
        for (int p = 0; p < kPlayers; ++p)
            if (m.id != 0 && m.players[size_t(p)] && wanted[size_t(p)])
                return "player " + std::to_string(p + 1) + " is played on " + machineName(m.id);
    own_ = wanted;
    roster_.front().players = wanted;
    sendRoster();
    return {};
}

void NetSession::finish() {
    lan_.reset();   // no more games to join
    for (Peer& p : peers_)
        if (p.id > 0) send(p.peer, wireSimple(MsgKind::Over));
    flush();
    // The guests say goodbye once "over" has reached them; a guest that does not within a few
    // seconds (gone, or a very bad link) is not waited for longer.
    const enet_uint32 until = enet_time_get() + 5000;
    while (!peers_.empty() && ENET_TIME_LESS(enet_time_get(), until)) {
        // A guest may still lack the last steps of its game (lost on the way): they go again, at
        // the usual pace, until it confirms them.
        if (stepsDue()) sendSteps();
        service(20);
    }
}

std::vector<std::string> NetSession::takeNotices() {
    std::vector<std::string> v;
    v.swap(notices_);
    return v;
}

int NetSession::roundTripMs() const {
    int rtt = detachedRoundTrip_;
    for (const Peer& p : peers_)
        if (p.id >= 0 || !host_side_) rtt = std::max(rtt, p.peer ? int(p.peer->roundTripTime) : 0);
    return rtt;
}

uint64_t NetSession::bytesSent() const { return enet_ ? enet_->totalSentData : 0; }
uint64_t NetSession::bytesReceived() const { return enet_ ? enet_->totalReceivedData : 0; }

}  // namespace hopshot
