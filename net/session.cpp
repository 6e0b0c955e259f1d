// The session over ENet. The host keeps the roster (who is connected and which players each
// brings) and is the only one that starts games; every machine keeps the lockstep of the game it
// plays. Nothing here blocks except join(), which waits for the host's answer.
#include "net/session.h"

#include <enet/enet.h>
#include <enet/time.h>

#include <algorithm>
#include <iterator>
#include <limits>
#include <cstdlib>
#include <sstream>

namespace hopshot {

namespace {

constexpr int kPingMs = 250;   // keeps a quiet link measured and its silence noticed
constexpr int kPeerCount = kMaxMachines + 4;   // room to refuse a fifth machine politely

bool enetReady() {
    static const bool ok = [] {
        if (enet_initialize() != 0) return false;
        std::atexit(enet_deinitialize);
        return true;
    }();
    return ok;
}

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> v;
    for (std::string w; in >> w;) v.push_back(w);
    return v;
}

std::string firstLineOf(const std::string& text) { return text.substr(0, text.find('\n')); }

std::string machineName(int id) { return id == 0 ? "the host" : "machine " + std::to_string(id + 1); }

// ENet's own time-out is left long: a link is judged by its silence (kSilenceMs), so that a burst
// of lost packets under heavy loss does not end it.
void tunePeer(ENetPeer* p) {
    enet_peer_ping_interval(p, kPingMs);
    enet_peer_timeout(p, 0, 60000, 60000);
    // Never thin out the unreliable "alive" packets below, whatever the round trip does.
    enet_peer_throttle_configure(p, 5000, 2, 0);
}

constexpr char kAlive[] = "alive";
constexpr int kResendMs = 20;   // steps not yet confirmed go again this often
constexpr int kAliveMs = 200;   // a reliable packet held back by repeated loss must not look like silence

}  // namespace

std::string programVersion() {
    if (const char* v = std::getenv("HOPSHOT_TEST_NET_VERSION")) return v;   // tests: a stranger
    return "hopshot " HOPSHOT_VERSION " net 2";
}

NetSession::~NetSession() {
    if (!enet_) return;
    // A goodbye the others hear at once (a second at most), else they find out by the silence.
    for (Peer& p : peers_) enet_peer_disconnect_later(p.peer, 0);   // after what is still queued
    ENetEvent e;
    for (const enet_uint32 until = enet_time_get() + 1000;
         !peers_.empty() && ENET_TIME_LESS(enet_time_get(), until);) {
        if (enet_host_service(enet_, &e, 20) <= 0) continue;
        if (e.type == ENET_EVENT_TYPE_RECEIVE) enet_packet_destroy(e.packet);
        if (e.type == ENET_EVENT_TYPE_DISCONNECT)
            peers_.erase(std::remove_if(peers_.begin(), peers_.end(),
                                        [&](const Peer& p) { return p.peer == e.peer; }),
                         peers_.end());
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
    // The same patience while a guest's handshake is still under way.
    for (size_t i = 0; i < s->enet_->peerCount; ++i) enet_peer_timeout(&s->enet_->peers[i], 0, 60000, 60000);
    s->host_side_ = true;
    s->version_ = version;
    s->own_ = own;
    s->roster_.push_back({0, own});
    return s;
}

std::unique_ptr<NetSession> NetSession::join(const std::string& address, uint16_t port,
                                             const Players& own, const std::string& version,
                                             int timeoutMs, std::string& error) {
    const std::string where = address + ":" + std::to_string(port);
    if (!enetReady()) {
        error = "the network library could not start";
        return nullptr;
    }
    std::unique_ptr<NetSession> s(new NetSession);
    s->enet_ = enet_host_create(nullptr, 1, 1, 0, 0);
    ENetAddress to{};
    if (!s->enet_ || enet_address_set_host(&to, address.c_str()) != 0) {
        error = "cannot find the address " + address;
        return nullptr;
    }
    to.port = port;
    ENetPeer* peer = enet_host_connect(s->enet_, &to, 1, 0);
    if (peer) enet_peer_timeout(peer, 0, 60000, 60000);
    if (!peer) {
        error = "cannot reach " + where;
        return nullptr;
    }
    s->version_ = version;
    s->own_ = own;
    s->peers_.push_back({peer, 0, {}, enet_time_get()});

    const enet_uint32 until = enet_time_get() + enet_uint32(timeoutMs);
    bool connected = false;
    while (!s->welcomed_ && s->refusal_.empty() && !s->hostLeft_ &&
           ENET_TIME_LESS(enet_time_get(), until)) {
        ENetEvent e;
        if (connected) s->sendAlive();   // heard while the hello makes its way through loss
        if (enet_host_service(s->enet_, &e, 20) <= 0) continue;
        if (e.type == ENET_EVENT_TYPE_CONNECT) {
            connected = true;
            tunePeer(peer);
            s->send(peer, "hello " + playersDigits(own) + " " + version);
        } else if (e.type == ENET_EVENT_TYPE_RECEIVE) {
            std::string text(reinterpret_cast<const char*>(e.packet->data), e.packet->dataLength);
            enet_packet_destroy(e.packet);
            s->peers_[0].heard = enet_time_get();
            if (text != kAlive) s->handle(s->peers_[0], text);
        } else if (e.type == ENET_EVENT_TYPE_DISCONNECT) {
            s->hostLeft_ = true;
        }
    }
    if (!s->refusal_.empty()) {
        error = "the host at " + where + " refused to let this machine join: " + s->refusal_;
        return nullptr;
    }
    if (!s->welcomed_) {
        error = connected ? "the host at " + where + " did not answer"
                          : "no hopshot host answers at " + where;
        return nullptr;
    }
    return s;
}

int NetSession::socket() const { return enet_ ? int(enet_->socket) : -1; }

Players NetSession::everyonesPlayers() const {
    Players all{};
    for (const Machine& m : roster_)
        for (int p = 0; p < kPlayers; ++p) all[size_t(p)] = all[size_t(p)] || m.players[size_t(p)];
    return all;
}

void NetSession::send(ENetPeer* peer, const std::string& text) {
    ENetPacket* packet = enet_packet_create(text.data(), text.size(), ENET_PACKET_FLAG_RELIABLE);
    if (enet_peer_send(peer, 0, packet) != 0) enet_packet_destroy(packet);
}

void NetSession::service(int waitMs) {
    if (!enet_) return;
    ENetEvent e;
    int wait = waitMs;
    while (enet_host_service(enet_, &e, enet_uint32(std::max(wait, 0))) > 0) {
        wait = 0;   // the first packet ends the wait; take what else is there and return
        auto it = std::find_if(peers_.begin(), peers_.end(),
                               [&](const Peer& p) { return p.peer == e.peer; });
        switch (e.type) {
        case ENET_EVENT_TYPE_CONNECT:
            if (host_side_) {
                tunePeer(e.peer);
                peers_.push_back({e.peer, -1, {}, enet_time_get()});
            }
            break;
        case ENET_EVENT_TYPE_RECEIVE: {
            std::string text(reinterpret_cast<const char*>(e.packet->data), e.packet->dataLength);
            enet_packet_destroy(e.packet);
            if (it != peers_.end()) {
                it->heard = enet_time_get();
                if (text != kAlive) handle(*it, text);
            }
            break;
        }
        case ENET_EVENT_TYPE_DISCONNECT: dropPeer(e.peer); break;
        case ENET_EVENT_TYPE_NONE: break;
        }
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
        if (p.peer->state == ENET_PEER_STATE_CONNECTED &&
            ENET_TIME_DIFFERENCE(now, p.heard) > enet_uint32(kSilenceMs))
            silent.push_back(p.peer);
    for (ENetPeer* p : silent) {
        dropPeer(p);
        enet_peer_reset(p);
    }
    checkProgress(now);
    // Steps not yet confirmed go again now and then, also while this machine waits.
    const bool ackDue = std::any_of(peers_.begin(), peers_.end(), [](const Peer& p) { return p.ackDue; });
    if ((!history_.empty() || ackDue) && ENET_TIME_DIFFERENCE(now, lastSteps_) >= enet_uint32(kResendMs))
        sendSteps();
    enet_host_flush(enet_);
}

// A small unreliable packet on every link now and then: it goes out even while a reliable one
// waits to be sent again, so a link that still works is never silent.
void NetSession::sendAlive() {
    const enet_uint32 now = enet_time_get();
    if (ENET_TIME_DIFFERENCE(now, lastAlive_) < enet_uint32(kAliveMs)) return;
    lastAlive_ = now;
    for (const Peer& p : peers_)
        if (p.peer->state == ENET_PEER_STATE_CONNECTED) {
            ENetPacket* packet = enet_packet_create(kAlive, sizeof kAlive - 1,
                                                    ENET_PACKET_FLAG_UNSEQUENCED);
            if (enet_peer_send(p.peer, 0, packet) != 0) enet_packet_destroy(packet);
        }
}

void NetSession::handle(Peer& from, const std::string& text) {
    const std::string_view kind = messageKind(text);
    const std::vector<std::string> w = words(firstLineOf(text));
    if (kind == "steps") {
        takeSteps(from, text);
        return;
    }
    if (host_side_) {
        if (kind == "hello" && from.id < 0) hostHello(from, text);
        if (kind == "ends" && w.size() == 2 && from.id > 0) {
            endsDiffered_ = true;
            notices_.push_back(machineName(from.id) + " (players " + playersList(from.players) +
                               ") ends its games after " + w[1].substr(0, 10) +
                               " steps, the host's games end elsewhere: it leaves");
        }
        if (kind == "players" && w.size() == 2 && from.id > 0) {
            Players wanted;
            if (!parsePlayersDigits(w[1], wanted)) return;
            for (const Machine& m : roster_)
                for (int p = 0; p < kPlayers; ++p)
                    if (m.id != from.id && m.players[size_t(p)] && wanted[size_t(p)]) {
                        send(from.peer, "notice player " + std::to_string(p + 1) +
                                            " is already played on " + machineName(m.id));
                        wanted[size_t(p)] = false;
                    }
            from.players = wanted;
            for (Machine& m : roster_)
                if (m.id == from.id) m.players = wanted;
            sendRoster();
        }
        return;
    }
    // --- guest side: everything comes from the host ---
    if (kind == "welcome" && w.size() == 2) {
        self_ = std::atoi(w[1].c_str());
        welcomed_ = true;
    } else if (kind == "refuse") {
        refusal_ = text.size() > 7 ? text.substr(7) : "no reason given";
    } else if (kind == "roster") {
        roster_.clear();
        for (size_t i = 1; i < w.size(); ++i) {
            Machine m;
            const size_t colon = w[i].find(':');
            m.id = std::atoi(w[i].substr(0, colon).c_str());
            if (colon != std::string::npos) parsePlayersDigits(w[i].substr(colon + 1), m.players);
            roster_.push_back(m);
        }
    } else if (kind == "start") {
        StartMessage m;
        if (decodeStart(text, m)) starts_.push_back(m);
    } else if (kind == "left" && w.size() == 5) {
        const int id = std::atoi(w[1].c_str());
        Players players{};
        parsePlayersDigits(w[2], players);
        const int game = std::atoi(w[3].c_str());
        const long from_step = std::atol(w[4].c_str());
        if (game != 0 && game == lockstep_.game()) lockstep_.drop(id, from_step, releaseEvents(players));
        notices_.push_back(machineName(id) + " (players " + playersList(players) + ") left");
    } else if (kind == "bye") {
        expelled_ = text.size() > 4 ? text.substr(4, 300) : "no reason given";
        over_ = true;
    } else if (kind == "notice") {
        notices_.push_back(text.size() > 7 ? text.substr(7) : std::string());
    } else if (kind == "over") {
        over_ = true;
    }
}

// A guest's hello: "hello PLAYERS VERSION". Refused: a different version, a full game, a player
// already played elsewhere, or no player at all.
void NetSession::hostHello(Peer& from, const std::string& text) {
    const std::string line = firstLineOf(text) + " ";   // "hello" alone is read as no words
    const size_t sp = line.find(' ', 6);
    const std::string digits = line.substr(6, sp == std::string::npos ? sp : sp - 6);
    std::string version = sp == std::string::npos ? std::string() : line.substr(sp + 1);
    if (!version.empty()) version.pop_back();
    Players wanted{};
    std::string refusal;
    if (version != version_) {
        refusal = "it runs " + version_ + ", this machine runs " + (version.empty() ? "an unknown version" : version) +
                  "; both need the same version";
    } else if (int(roster_.size()) >= kMaxMachines) {
        refusal = "the game is full: four machines are playing";
    } else if (!parsePlayersDigits(digits, wanted)) {
        refusal = "it did not understand which players this machine brings";
    } else {
        const Players taken = everyonesPlayers();
        // What to join with instead: the players nobody brings yet.
        std::string free;
        for (int p = 0; p < kPlayers; ++p)
            if (!taken[size_t(p)]) free += std::to_string(p + 1);
        if (free.empty())
            refusal = "the game is full: all four players are taken";
        else if (std::none_of(wanted.begin(), wanted.end(), [](bool b) { return b; }))
            refusal = "this machine brings no player; join with a free one: --players " + free;
        else
            for (const Machine& m : roster_)
                for (int p = 0; p < kPlayers && refusal.empty(); ++p)
                    if (m.players[size_t(p)] && wanted[size_t(p)])
                        refusal = "player " + std::to_string(p + 1) + " is already played on " +
                                  machineName(m.id) + "; join with free ones: --players " + free;
    }
    if (!refusal.empty()) {
        send(from.peer, "refuse " + refusal);
        enet_peer_disconnect_later(from.peer, 0);
        return;
    }
    from.id = nextId_++;
    from.players = wanted;
    roster_.push_back({from.id, wanted});
    send(from.peer, "welcome " + std::to_string(from.id));
    sendRoster();
    notices_.push_back(machineName(from.id) + " (players " + playersList(wanted) + ") joined");
}

void NetSession::sendRoster() {
    std::string s = "roster";
    for (const Machine& m : roster_) s += " " + std::to_string(m.id) + ":" + playersDigits(m.players);
    for (Peer& p : peers_)
        if (p.id > 0) send(p.peer, s);
}

void NetSession::dropPeer(ENetPeer* peer) {
    auto it = std::find_if(peers_.begin(), peers_.end(), [&](const Peer& p) { return p.peer == peer; });
    if (it == peers_.end()) return;
    const Peer gone = *it;
    peers_.erase(it);
    if (!host_side_) {
        if (!over_ || gameOn_) {   // not the goodbye after the host's last game
            hostLeft_ = over_ = true;
            notices_.push_back("the host left");
        }
        return;
    }
    if (gone.id < 0) return;   // never joined
    roster_.erase(std::remove_if(roster_.begin(), roster_.end(),
                                 [&](const Machine& m) { return m.id == gone.id; }),
                  roster_.end());
    // Its events end where the host's copy of them ends; everyone releases its players there.
    int game = 0;
    long from = 0;
    if (lockstep_.inGame(gone.id) && !lockstep_.dropped(gone.id)) {
        game = lockstep_.game();
        from = lockstep_.have(gone.id) + 1;
        lockstep_.drop(gone.id, from, releaseEvents(gone.players));
    }
    const std::string left = "left " + std::to_string(gone.id) + " " + playersDigits(gone.players) +
                             " " + std::to_string(game) + " " + std::to_string(from);
    for (Peer& p : peers_)
        if (p.id > 0) send(p.peer, left);
    sendRoster();
    notices_.push_back(machineName(gone.id) + " (players " + playersList(gone.players) + ") left");
}

bool NetSession::playsIn(int game, int machine) const {
    if (!host_side_) return true;   // a guest's one peer, the host, plays every game
    auto it = gameMachines_.find(game);
    return it != gameMachines_.end() &&
           std::find(it->second.begin(), it->second.end(), machine) != it->second.end();
}

void NetSession::startGame(const StartMessage& m) {
    gameMachines_[m.game] = m.machines;
    const std::string text = encodeStart(m);
    for (Peer& p : peers_)
        if (p.id > 0 && std::count(m.machines.begin(), m.machines.end(), p.id)) send(p.peer, text);
    enet_host_flush(enet_);
    lockstep_.begin(m.game, m.delay, m.machines, m.machinePlayers);
    gameOn_ = true;
    const enet_uint32 now = enet_time_get();
    for (Peer& p : peers_) {
        p.lastHave = m.delay;
        p.progressAt = now;
    }
}

bool NetSession::takeStart(StartMessage& m) {
    if (starts_.empty()) return false;
    m = starts_.front();
    starts_.erase(starts_.begin());
    lockstep_.begin(m.game, m.delay, m.machines, m.machinePlayers);
    gameOn_ = true;
    hostHave_ = m.delay;
    hostStepsAt_ = enet_time_get();
    std::vector<std::string> early;
    early.swap(early_);
    if (!peers_.empty())
        for (const std::string& text : early) handle(peers_.front(), text);
    return true;
}

void NetSession::sendStep(long step, const std::vector<ScriptEvent>& events, long hashStep,
                          uint64_t hash) {
    const int game = lockstep_.game();
    lockstep_.put(self_, step, events);
    lockstep_.fingerprint(self_, hashStep, hash);
    history_[game][self_][step] = encodeStep({game, self_, step, hashStep, hash, events});
    sendSteps();
    checkDesync();
}

// Every peer gets, in each packet, all the steps it has not yet confirmed (up to a datagram's
// worth), and what this machine holds of everyone's, which confirms theirs. A lost packet costs
// nothing: the next one, a step later, carries the same steps again.
void NetSession::sendSteps() {
    lastSteps_ = enet_time_get();
    const int current = lockstep_.game();
    for (Peer& p : peers_) {
        if (p.id < 0 || p.peer->state != ENET_PEER_STATE_CONNECTED) continue;
        PeerSteps& has = peerHas_[p.id];
        for (auto& [game, byMachine] : history_) {
            if (game < has.game || !playsIn(game, p.id)) continue;   // moved on, or not its game
            std::string text = "steps " + std::to_string(game) + "\nhave";
            if (game == current)
                for (int m : lockstep_.machines())
                    text += " " + std::to_string(m) + ":" + std::to_string(lockstep_.have(m));
            text += "\n";
            bool any = game == current && p.ackDue;
            for (auto& [machine, steps] : byMachine) {
                if (machine == p.id) continue;
                const long confirmed = game == has.game ? has.steps[machine] : 0;
                for (auto it = steps.upper_bound(confirmed); it != steps.end() && text.size() < 1000; ++it) {
                    text += it->second;
                    any = true;
                }
            }
            if (!any) continue;
            ENetPacket* packet = enet_packet_create(text.data(), text.size(), ENET_PACKET_FLAG_UNSEQUENCED);
            if (enet_peer_send(p.peer, 0, packet) != 0) enet_packet_destroy(packet);
        }
        p.ackDue = false;
    }
    enet_host_flush(enet_);
}

// A peer's packet of steps: what it holds of this game (so that what it has is sent no more),
// then its steps, and on the host the steps of one guest that the others still need.
void NetSession::takeSteps(Peer& from, const std::string& text) {
    std::istringstream in(text);
    std::string line, word;
    std::getline(in, line);
    int game = 0;
    if (!(std::istringstream(line) >> word >> game) || from.id < 0) return;
    if (!host_side_ && game > lockstep_.game()) {
        // A game this machine has not begun: kept for its start (the next game's only; its
        // steps come again anyway until confirmed).
        if (early_.size() < 500) early_.push_back(text);
        return;
    }
    std::getline(in, line);
    PeerSteps& has = peerHas_[from.id];
    if (game > has.game) has = PeerSteps{game, {}};
    if (game == has.game) {
        std::istringstream haveWords(line);
        haveWords >> word;
        for (std::string pair; haveWords >> pair;) {
            const size_t colon = pair.find(':');
            if (colon == std::string::npos) continue;
            long& confirmed = has.steps[std::atoi(pair.substr(0, colon).c_str())];
            confirmed = std::max(confirmed, std::atol(pair.substr(colon + 1).c_str()));
        }
    }
    pruneHistory();
    if (game != lockstep_.game()) return;
    // The step blocks, each from its "step" line to the next one.
    const std::string rest(std::istreambuf_iterator<char>(in), {});
    for (size_t at = 0; at < rest.size();) {
        size_t next = rest.find("\nstep ", at);
        next = next == std::string::npos ? rest.size() : next + 1;
        const std::string block = rest.substr(at, next - at);
        at = next;
        StepMessage m;
        if (!decodeStep(block, m) || m.game != game) continue;
        if (host_side_ && m.machine != from.id) continue;   // a guest speaks only for itself
        // Confirmed even when already held: the confirmation that went before may have been lost.
        from.ackDue = true;
        const long before = lockstep_.have(m.machine);
        lockstep_.put(m.machine, m.step, m.events);
        if (lockstep_.have(m.machine) == before) continue;   // had it already
        // A fingerprint counts only for the step it must name: the one before the step that
        // was run when this step went out.
        if (m.hashStep == std::max(0L, m.step - lockstep_.delay() - 1))
            lockstep_.fingerprint(m.machine, m.hashStep, m.hash);
        if (host_side_) history_[game][m.machine][m.step] = block;   // for the other guests
    }
    checkDesync();
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
    for (const std::string& n : lockstep_.takeNotices()) notices_.push_back(n);
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
    const std::string name = machineName(it->id) + " (players " + playersList(it->players) + ")";
    send(peer, "bye " + reason);
    enet_peer_disconnect_later(peer, 0);
    dropPeer(peer);
    // dropPeer's notice says it left; this one says why.
    notices_.back() = name + " left, dropped by the host: " + reason;
}

// In a game, a machine whose steps hold this one up is given a few seconds, more for its first
// step (it may still be closing a message box or the record prompt); then it is dropped, however
// much else it sends. A guest gives the host longer: the host may be waiting out another guest.
void NetSession::checkProgress(uint32_t now) {
    if (!gameOn_) return;
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
            if (have >= needed) continue;
            const bool first = have <= lockstep_.delay();
            const uint32_t limit = first ? kStartWaitMs : kNoStepsMs;
            if (ENET_TIME_DIFFERENCE(now, p.progressAt) > limit)
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

void NetSession::leaveForStepLimit(long own, long host) {
    notices_.push_back("the host ends its games after " + std::to_string(host) +
                       " steps, this machine after " + std::to_string(own) +
                       ": the machines disagree on when a game ends");
    if (!peers_.empty()) send(peers_.front().peer, "ends " + std::to_string(own));
    enet_host_flush(enet_);   // before the goodbye, which would otherwise overtake it
    over_ = true;
}

int NetSession::autoDelay() const {
    const int rtt = roundTripMs();
    return std::clamp((rtt + 19) / 20 + 1, 1, kMaxDelay);
}

std::string NetSession::setOwnPlayers(const Players& wanted) {
    if (!host_side_) {
        if (!peers_.empty()) send(peers_.front().peer, "players " + playersDigits(wanted));
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
    for (Peer& p : peers_)
        if (p.id > 0) send(p.peer, "over");
    enet_host_flush(enet_);
    // The guests say goodbye once "over" has reached them; a guest that does not within a few
    // seconds (gone, or a very bad link) is not waited for longer.
    const enet_uint32 until = enet_time_get() + 5000;
    while (!peers_.empty() && ENET_TIME_LESS(enet_time_get(), until)) service(20);
}

std::vector<std::string> NetSession::takeNotices() {
    std::vector<std::string> v;
    v.swap(notices_);
    return v;
}

int NetSession::roundTripMs() const {
    int rtt = 0;
    for (const Peer& p : peers_)
        if (p.id >= 0 || !host_side_) rtt = std::max(rtt, int(p.peer->roundTripTime));
    return rtt;
}

uint64_t NetSession::bytesSent() const { return enet_ ? enet_->totalSentData : 0; }
uint64_t NetSession::bytesReceived() const { return enet_ ? enet_->totalReceivedData : 0; }

}  // namespace hopshot
