// The link: ENet's socket and peers, the budgets, the keep-alives and the steps' history.
#include "net/link.h"

#include <enet/enet.h>
#include <enet/time.h>

#include <poll.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <mutex>

namespace hopshot {

namespace {

// What one machine may send in a second: a few times what an honest machine sends in a game.
// On the host, from a guest: steps that bring nothing new, keep-alives, hellos, changes of
// players and "ends"; on a guest, from the host: notices, rosters, pauses and leavings, and each
// other kind.
constexpr int kBudget[] = {250, 50, 30, 10, 2, 20, 10};
constexpr const char* kBudgetNames[] = {"packets of steps that bring nothing new", "keep-alives",
                                        "hellos", "\"players\" messages", "\"ends\" messages",
                                        "notices", "messages"};
constexpr uint32_t kBytesBudget = 256 * 1024;   // bytes a second from one machine, all kinds

// Between two machines steps go out in a packet every step; with three or four, whose host passes
// each guest's steps on to the others, every other step (a step with commands at once): the host
// stays under 4 KB a second. Those not yet confirmed go again at the same pace while nothing new
// goes, so a lost packet is made good by the next.
constexpr int kSendMs = 15;        // every step (a step is 20 ms)
constexpr int kSendManyMs = 35;    // every other step
constexpr int kAliveMs = 200;   // a reliable packet held back by repeated loss must not look like silence
constexpr size_t kSentDetachedKept = 256;
constexpr int kPingMs = 500;   // keeps a quiet link measured and its silence noticed

bool enetReady() {
    static const bool ok = [] {
        if (enet_initialize() != 0) return false;
        std::atexit(enet_deinitialize);
        return true;
    }();
    return ok;
}

// The links whose sockets have a side reader, by ENet host: ENet's intercept names only the host.
std::mutex sidesLock;
std::map<ENetHost*, SessionLink::SideReader*> sides;

int ENET_CALLBACK interceptSide(ENetHost* host, ENetEvent*) {
    SessionLink::SideReader* take = nullptr;
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

uint32_t linkTime() { return enet_time_get(); }

void tunePeer(ENetPeer* p) {
    enet_peer_ping_interval(p, kPingMs);
    enet_peer_timeout(p, 0, 60000, 60000);
    // Never thin out the unreliable "alive" packets, whatever the round trip does.
    enet_peer_throttle_configure(p, 5000, 2, 0);
}

std::string machineName(int id) { return id == 0 ? "the host" : "machine " + std::to_string(id + 1); }

SessionLink::~SessionLink() {
    if (!enet_) return;
    forgetSide(enet_);
    // A goodbye the others hear at once (a second at most), else they find out by the silence.
    for (LinkPeer& p : peers_)
        if (p.peer) enet_peer_disconnect_later(p.peer, 0);   // after what is still queued
    ENetEvent e;
    for (const enet_uint32 until = enet_time_get() + 1000;
         !peers_.empty() && ENET_TIME_LESS(enet_time_get(), until);) {
        if (enet_host_service(enet_, &e, 20) <= 0) continue;
        if (e.type == ENET_EVENT_TYPE_RECEIVE) enet_packet_destroy(e.packet);
        if (e.type == ENET_EVENT_TYPE_DISCONNECT)
            peers_.remove_if([&](const LinkPeer& p) { return p.peer == e.peer; });
    }
    for (LinkPeer& p : peers_)
        if (p.peer) enet_peer_disconnect_now(p.peer, 0);
    enet_host_flush(enet_);
    enet_host_destroy(enet_);
}

bool SessionLink::listen(uint16_t port, size_t peers) {
    if (!enetReady()) return false;
    ENetAddress address{};
    address.host = ENET_HOST_ANY;
    address.port = port;
    enet_ = enet_host_create(&address, peers, 1, 0, 0);
    if (!enet_) return false;
    // The same patience while a guest's handshake is still under way (a connection that says no
    // hello is let go sooner, by the session).
    for (size_t i = 0; i < enet_->peerCount; ++i) enet_peer_timeout(&enet_->peers[i], 0, 60000, 60000);
    limitPackets();
    return true;
}

bool SessionLink::openOne() {
    if (!enetReady()) return false;
    // Bound at once (any port), so that its port is known before anything is sent from it.
    ENetAddress any{};
    any.host = ENET_HOST_ANY;
    any.port = 0;
    enet_ = enet_host_create(&any, 1, 1, 0, 0);
    if (!enet_) return false;
    limitPackets();
    return true;
}

ENetPeer* SessionLink::connect(uint32_t address, uint16_t port) {
    ENetAddress to{};
    to.host = address;
    to.port = port;
    ENetPeer* peer = enet_ ? enet_host_connect(enet_, &to, 1, 0) : nullptr;
    if (peer) enet_peer_timeout(peer, 0, 60000, 60000);
    return peer;
}

// No packet larger than the largest message, and little waiting data, from anyone.
void SessionLink::limitPackets() {
    enet_->maximumPacketSize = kMaxMessageBytes;
    enet_->maximumWaitingData = 16 * kMaxMessageBytes;
}

void SessionLink::setSideReader(SideReader take) {
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

void SessionLink::sendSide(uint32_t address, uint16_t port, std::string_view bytes) {
    if (!enet_) return;
    ENetAddress to{};
    to.host = ENET_HOST_TO_NET_32(address);
    to.port = port;
    ENetBuffer buffer;
    buffer.data = const_cast<char*>(bytes.data());
    buffer.dataLength = bytes.size();
    enet_socket_send(enet_->socket, &to, &buffer, 1);
}

uint16_t SessionLink::localPort() const {
    ENetAddress a{};
    if (!enet_ || enet_socket_get_address(enet_->socket, &a) != 0) return 0;
    return a.port;
}

int SessionLink::socket() const { return enet_ ? int(enet_->socket) : -1; }

bool SessionLink::socketHoldsData() const {
    pollfd p{int(enet_->socket), POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

LinkPeer* SessionLink::find(ENetPeer* peer) {
    auto it = std::find_if(peers_.begin(), peers_.end(), [&](const LinkPeer& p) { return p.peer == peer; });
    return it == peers_.end() ? nullptr : &*it;
}

LinkPeer* SessionLink::findMachine(int id) {
    auto it = std::find_if(peers_.begin(), peers_.end(), [&](const LinkPeer& p) { return p.id == id; });
    return it == peers_.end() ? nullptr : &*it;
}

const LinkPeer* SessionLink::bury(const LinkPeer& p) {
    for (auto it = peers_.begin(); it != peers_.end(); ++it)
        if (&*it == &p) {
            gone_.splice(gone_.end(), peers_, it);
            peerHas_.erase(gone_.back().id);
            return &gone_.back();
        }
    return nullptr;
}

const LinkPeer* SessionLink::bury(ENetPeer* peer) {
    const LinkPeer* p = find(peer);
    return p ? bury(*p) : nullptr;
}

bool SessionLink::connected(const LinkPeer& p) { return p.peer && p.peer->state == ENET_PEER_STATE_CONNECTED; }

// ENet restarts its byte count every second, so a change is what tells.
void SessionLink::noteHeard(uint32_t now) {
    for (LinkPeer& p : peers_)
        if (p.peer && p.peer->incomingDataTotal != p.bytesIn) {
            p.bytesIn = p.peer->incomingDataTotal;
            p.heard = now;
        }
}

void SessionLink::send(ENetPeer* peer, const std::string& bytes) {
    if (!peer) {
        if (!enet_ && sentDetached_.size() < kSentDetachedKept) sentDetached_.push_back(bytes);
        return;
    }
    payloadOut_ += bytes.size();
    ENetPacket* packet = enet_packet_create(bytes.data(), bytes.size(), ENET_PACKET_FLAG_RELIABLE);
    if (enet_peer_send(peer, 0, packet) != 0) enet_packet_destroy(packet);
}

void SessionLink::sendQuick(ENetPeer* peer, const std::string& bytes) {
    if (!peer) {
        if (!enet_ && sentDetached_.size() < kSentDetachedKept) sentDetached_.push_back(bytes);
        return;
    }
    payloadOut_ += bytes.size();
    ENetPacket* packet = enet_packet_create(bytes.data(), bytes.size(), ENET_PACKET_FLAG_UNSEQUENCED);
    if (enet_peer_send(peer, 0, packet) != 0) enet_packet_destroy(packet);
}

void SessionLink::flush() {
    if (enet_) enet_host_flush(enet_);
}

// It goes out even while a reliable packet waits to be sent again, so a link that still works is
// never silent.
void SessionLink::sendAlive() {
    const enet_uint32 now = enet_time_get();
    if (ENET_TIME_DIFFERENCE(now, lastAlive_) < enet_uint32(kAliveMs)) return;
    lastAlive_ = now;
    if (ENET_TIME_DIFFERENCE(now, lastSteps_) < enet_uint32(kAliveMs) && !history_.empty()) return;
    for (const LinkPeer& p : peers_)
        if (connected(p)) sendQuick(p.peer, wireSimple(MsgKind::Alive));
}

// The first message over a budget is the one that lets the machine go.
bool SessionLink::withinBudget(LinkPeer& from, Budget b, size_t bytes, std::string& what) {
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
    what = bytesOver || countOnly ? std::to_string(kBytesBudget / 1024) + " KB"
                                  : std::to_string(kBudget[b]) + " " + kBudgetNames[b];
    return false;
}

bool SessionLink::playsIn(int game, int machine) const {
    if (!hub_) return true;   // a guest's one peer, the host, plays every game
    auto it = gameMachines_.find(game);
    return it != gameMachines_.end() &&
           std::find(it->second.begin(), it->second.end(), machine) != it->second.end();
}

void SessionLink::moveOn(int peerId, int game) {
    PeerSteps& has = peerHas_[peerId];
    if (game > has.game) has = PeerSteps{game, {}};
}

int SessionLink::peerGame(int peerId) const {
    auto it = peerHas_.find(peerId);
    return it == peerHas_.end() ? 0 : it->second.game;
}

bool SessionLink::confirm(int peerId, int game, int machine, long step, bool& fresh) {
    PeerSteps& has = peerHas_[peerId];
    if (game != has.game) return true;   // an older game's word: nothing more to learn
    if (has.steps.size() >= size_t(kMaxMachines) && !has.steps.count(machine)) return false;
    long& confirmed = has.steps[machine];
    fresh = fresh || step > confirmed;
    confirmed = std::max(confirmed, step);
    return true;
}

bool SessionLink::confirmedAll(int peerId, int game) const {
    auto g = history_.find(game);
    if (g == history_.end() || !playsIn(game, peerId)) return true;
    auto has = peerHas_.find(peerId);
    for (const auto& [machine, steps] : g->second) {
        if (machine == peerId || steps.empty()) continue;
        if (has == peerHas_.end() || has->second.game < game) return false;
        if (has->second.game > game) continue;
        auto it = has->second.steps.find(machine);
        if (it == has->second.steps.end() || it->second < steps.rbegin()->first) return false;
    }
    return true;
}

void SessionLink::pruneHistory(int currentGame) {
    for (auto g = history_.begin(); g != history_.end();) {
        for (auto& [machine, steps] : g->second) {
            long upTo = std::numeric_limits<long>::max();
            for (const LinkPeer& p : peers_) {
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
        if (empty && g->first != currentGame) {
            gameMachines_.erase(g->first);
            g = history_.erase(g);
        } else {
            ++g;
        }
    }
}

// Due at the pace above; and at every step while this machine's oldest step not yet confirmed is
// older than a round trip and two packets' waits (one was most likely lost).
bool SessionLink::stepsDue(const Lockstep& game, int self) const {
    const enet_uint32 now = enet_time_get();
    const int every = game.machines().size() > 2 ? kSendManyMs : kSendMs;
    if (ENET_TIME_DIFFERENCE(now, lastSteps_) >= enet_uint32(every)) return true;
    auto g = history_.find(game.game());
    if (g == history_.end()) return false;
    auto own = g->second.find(self);
    if (own == g->second.end() || own->second.empty()) return false;
    const enet_uint32 age = ENET_TIME_DIFFERENCE(now, own->second.begin()->second.madeAt);
    // (Its confirmation rides the peer's own packet, which may wait a packet's time too.)
    return age > enet_uint32(roundTripMs(hub_) + 2 * every + 15) && ENET_TIME_DIFFERENCE(now, lastSteps_) >= 15;
}

// Each packet holds every machine's steps the peer has not yet confirmed (as many as fit a
// packet), each run with the fingerprint its last step carries, and what this machine holds of
// everyone's, which confirms theirs. A lost packet costs nothing: the next carries the same.
void SessionLink::sendSteps(const Lockstep& lockstep, int self) {
    lastSteps_ = enet_time_get();
    const int current = lockstep.game();
    for (LinkPeer& p : peers_) {
        if (p.id < 0 || !connected(p)) continue;
        PeerSteps& has = peerHas_[p.id];
        for (auto& [game, byMachine] : history_) {
            if (game < has.game || !playsIn(game, p.id)) continue;   // moved on, or not its game
            StepsPacket packet;
            packet.game = game;
            // What the peer needs to hear of what this machine holds: the host, what it holds of
            // that guest; a guest, of every other machine.
            if (game == current)
                for (int m : lockstep.machines())
                    if (hub_ ? m == p.id : m != self) packet.have.push_back({m, lockstep.have(m)});
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
                    run.hasFingerprint = it->second.hasFingerprint && (machine == self || !hub_);
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
            if (any) sendQuick(p.peer, wireSteps(packet));
        }
        p.ackDue = false;
    }
    flush();
}

int SessionLink::roundTripMs(bool joinedOnly) const {
    int rtt = detachedRoundTrip_;
    for (const LinkPeer& p : peers_)
        if (p.id >= 0 || !joinedOnly) rtt = std::max(rtt, p.peer ? int(p.peer->roundTripTime) : 0);
    return rtt;
}

uint64_t SessionLink::bytesSent() const { return enet_ ? enet_->totalSentData : 0; }
uint64_t SessionLink::bytesReceived() const { return enet_ ? enet_->totalReceivedData : 0; }

}  // namespace hopshot
