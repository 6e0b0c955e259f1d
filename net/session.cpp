// The session over its link: what both ends do alike. The host keeps the roster (who is
// connected and which players each brings) and is the only one that starts games; every machine
// keeps the lockstep of the game it plays. The host's machine is in host_session.cpp, the guest's
// in guest_session.cpp; each moves between its states in one place (net/session_states.h).
// Nothing here blocks except join(), which waits for the host's answer, and the host's finish().
#include "net/session.h"

#include "net/lan_games.h"
#include "net/wire.h"

#include <enet/enet.h>
#include <enet/time.h>

#include <algorithm>
#include <chrono>
#include <iterator>

namespace hopshot {

namespace {

// Faults named once per machine, one bit each.
constexpr uint32_t kNamedNonsense = 1;
constexpr size_t kMovesKept = 64;   // moves of a machine kept to be read

}  // namespace

std::string programVersion() {
    return "hopshot " HOPSHOT_VERSION " net 4";
}

NetSession::~NetSession() = default;   // the link says goodbye

void NetSession::setSideReader(SideReader take) { link_.setSideReader(std::move(take)); }
void NetSession::sendSide(uint32_t address, uint16_t port, std::string_view bytes) {
    link_.sendSide(address, port, bytes);
}
uint16_t NetSession::localPort() const { return link_.localPort(); }
int NetSession::socket() const { return link_.socket(); }

bool NetSession::machineAddress(int id, uint32_t& address, uint16_t& port) const {
    for (const LinkPeer& p : link_.peers())
        if (p.id == id && p.peer) {
            address = ENET_NET_TO_HOST_32(p.peer->address.host);
            port = p.peer->address.port;
            return true;
        }
    return false;
}

Players NetSession::everyonesPlayers() const {
    Players all{};
    for (const Machine& m : roster_)
        for (int p = 0; p < kPlayers; ++p) all[size_t(p)] = all[size_t(p)] || m.players[size_t(p)];
    return all;
}

bool NetSession::gameOn() const {
    return host_side_ ? host_ == HostState::Playing
                      : guest_.state == GuestState::Playing || guest_.state == GuestState::LastGame;
}

void NetSession::gameOver() {
    if (host_side_) moveHost(HostEvent::GameOver);
    else moveGuest(GuestEvent::GameOver);
}

bool NetSession::over() const {
    return !host_side_ && (guest_.state == GuestState::Over || guest_.state == GuestState::LastGame);
}

std::unique_ptr<NetSession> NetSession::detached(bool host, int roundTripMs) {
    std::unique_ptr<NetSession> s(new NetSession);
    s->link_.setDetachedRoundTrip(roundTripMs);
    s->link_.setHub(host);
    s->host_side_ = host;
    s->version_ = programVersion();
    LinkPeer p;
    p.heard = p.connectedAt = linkTime();
    if (host) {
        s->own_ = {true, false, false, false};
        s->roster_.push_back({0, s->own_});
    } else {
        s->own_ = {false, true, false, false};
        p.id = 0;
        s->self_ = 1;
        s->guest_ = {GuestState::Joined, GuestEnd::None};
        s->roster_ = {{0, {true, false, false, false}}, {1, s->own_}};
    }
    s->link_.peers().push_back(p);
    return s;
}

void NetSession::receive(size_t peer, const std::string& bytes) {
    link_.clearGone();   // nothing of theirs is being handled now
    auto& peers = link_.peers();
    if (peer < peers.size()) handle(*std::next(peers.begin(), long(peer)), bytes);
}

void NetSession::logMove(const char* from, const char* event, const char* to) {
    if (moves_.size() >= kMovesKept) moves_.erase(moves_.begin());
    moves_.push_back(std::string(from) + " -> " + to + " on " + event);
}

// Notices wait to be read; however many a flood would make, only the first few are kept.
void NetSession::note(const std::string& text) {
    if (notices_.size() < kNoticesKept) notices_.push_back(text);
    else if (notices_.size() == kNoticesKept) notices_.push_back("... and more notices than can be shown");
}

std::vector<std::string> NetSession::takeNotices() {
    std::vector<std::string> v;
    v.swap(notices_);
    return v;
}

// A message that fails its checks is dropped and counted; a machine that keeps sending them is
// let go.
void NetSession::refuse(LinkPeer& from) {
    if (++from.refused <= kRefusalsTolerated || (from.namedFaults & kNamedNonsense)) return;
    from.namedFaults |= kNamedNonsense;
    note((from.id < 0 ? std::string("a machine that never joined") : machineName(from.id)) +
         " sent too many messages that make no sense: it is let go");
    letGo(from, "");
}

// A machine is let go at once: the host drops a guest (telling it why, when there is a why), a
// guest leaves its host. The peer stays readable until the next service().
void NetSession::letGo(LinkPeer& from, const std::string& why) {
    ENetPeer* peer = from.peer;
    if (!peer) {   // a detached session's peer
        link_.bury(from);
        if (!host_side_) moveGuest(GuestEvent::HostGone);
        return;
    }
    if (host_side_ && from.id > 0 && !why.empty()) {
        // The goodbye goes first and the connection after it; what the machine sends meanwhile
        // is no longer taken, and after a second the connection goes whether it answers or not.
        expel(peer, why);
        link_.flush();
        leaving_[peer] = linkTime();
    } else if (host_side_) {
        dropPeer(peer);
        enet_peer_reset(peer);
    } else {
        enet_peer_disconnect_now(peer, 0);
        dropPeer(peer);
    }
}

// Counted per second, by kind and in bytes, before it is handled; the first message over a
// budget lets the machine go, named once. False: it was let go.
bool NetSession::withinBudget(LinkPeer& from, Budget b, size_t bytes) {
    std::string what;
    if (link_.withinBudget(from, b, bytes, what)) return true;
    if (!host_side_) {
        note("the host sent more than " + what + " in a second: this machine leaves the network game");
    } else if (from.id <= 0) {
        note("a machine that never joined sent more than " + what + " in a second: it is let go");
    }
    letGo(from, "it sent more than " + what + " in a second");
    return false;
}

void NetSession::dropPeer(ENetPeer* peer, const std::string& why) {
    const LinkPeer* gone = link_.bury(peer);
    if (!gone) return;
    if (host_side_) guestGone(*gone, why);
    else moveGuest(GuestEvent::HostGone);
}

void NetSession::service(int waitMs) {
    link_.clearGone();   // nothing of theirs is being handled now
    ENetHost* enet = link_.enet();
    if (!enet) return;   // a detached session: nothing comes, nothing goes
    if (lan_)
        lan_->step(linkTime(), [&] {
            LanAnnouncement a{lanHostName(), int(roster_.size()), {}, enet->address.port};
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
        const int got = enet_host_service(enet, &e, enet_uint32(wait));
        if (turn == 0) began = Clock::now();   // counted from the end of the wait
        if (got < 0) break;
        if (got == 0) {
            if (Clock::now() - began >= std::chrono::milliseconds(kServiceMs) || !link_.socketHoldsData()) break;
            continue;
        }
        ++events;
        LinkPeer* from = link_.find(e.peer);
        if (e.type == ENET_EVENT_TYPE_CONNECT || e.type == ENET_EVENT_TYPE_DISCONNECT) leaving_.erase(e.peer);
        switch (e.type) {
        case ENET_EVENT_TYPE_CONNECT:
            if (host_side_) {
                tunePeer(e.peer);
                LinkPeer p;
                p.peer = e.peer;
                p.heard = p.connectedAt = linkTime();
                link_.peers().push_back(p);
            } else if (from) {
                tunePeer(e.peer);
                moveGuest(GuestEvent::Connected);
            }
            break;
        case ENET_EVENT_TYPE_RECEIVE: {
            const std::string bytes(reinterpret_cast<const char*>(e.packet->data), e.packet->dataLength);
            enet_packet_destroy(e.packet);
            if (from) {
                from->heard = linkTime();
                handle(*from, bytes);
            }
            break;
        }
        case ENET_EVENT_TYPE_DISCONNECT: dropPeer(e.peer); break;
        case ENET_EVENT_TYPE_NONE: break;
        }
        if (events >= kServiceEvents || Clock::now() - began >= std::chrono::milliseconds(kServiceMs)) break;
    }
    link_.sendAlive();
    const uint32_t now = linkTime();
    link_.noteHeard(now);
    // Silence: a connected peer not heard from for kSilenceMs has gone.
    std::vector<ENetPeer*> silent;
    for (const LinkPeer& p : link_.peers())
        if (SessionLink::connected(p) && ENET_TIME_DIFFERENCE(now, p.heard) > enet_uint32(kSilenceMs))
            silent.push_back(p.peer);
    if (host_side_) hostService(now);
    for (ENetPeer* p : silent) {
        dropPeer(p);
        enet_peer_reset(p);
    }
    if (host_side_) hostProgress(now);
    else guestProgress(now);
    // Steps not yet confirmed go again now and then, also while this machine waits.
    const bool ackDue = std::any_of(link_.peers().begin(), link_.peers().end(),
                                    [](const LinkPeer& p) { return p.ackDue; });
    if ((link_.holdsUnconfirmed() || ackDue) && link_.stepsDue(lockstep_, self_)) link_.sendSteps(lockstep_, self_);
    link_.flush();
}

void NetSession::handle(LinkPeer& from, const std::string& bytes) {
    from.saidAt = linkTime();
    MsgKind kind;
    const bool known = wireKind(bytes, kind);
    // Counted before it is handled: steps by their bytes now, and by their number when they
    // turn out to bring nothing new.
    const bool stranger = host_side_ && from.id < 0;   // whatever it says, it is taken as a hello
    Budget budget = kBudgets;
    if (!stranger && known && kind == MsgKind::Alive) budget = Alives;
    else if (stranger || !(known && kind == MsgKind::Steps))
        budget = host_side_ ? guestsBudget(from, known, kind) : hostsBudget(known, kind);
    if (!withinBudget(from, budget, bytes.size())) return;
    if (stranger) {   // a machine that has not joined may only say hello
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

void NetSession::sendStep(long step, const StepCommands& commands, long hashStep, uint64_t hash) {
    const int game = lockstep_.game();
    lockstep_.put(self_, step, commands);
    const uint32_t fingerprint = uint32_t(hash);
    if (hashStep >= 1) lockstep_.fingerprint(self_, hashStep, fingerprint);
    HeldStep& held = link_.keep(game, self_, step);
    held.commands = commands;
    held.hasFingerprint = hashStep >= 1;
    held.fingerprint = fingerprint;
    held.madeAt = linkTime();
    if (!commands.empty() || link_.stepsDue(lockstep_, self_)) link_.sendSteps(lockstep_, self_);
    checkDesync();
}

// A peer's packet of steps: what it holds of this game (so that what it has is sent no more),
// then its steps, and on the host the steps of one guest that the others still need. False:
// the packet broke a rule, and is dropped.
bool NetSession::takeSteps(LinkPeer& from, const std::string& bytes, bool& fresh) {
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
    link_.moveOn(from.id, game);
    if (game == link_.peerGame(from.id))
        for (const auto& [machine, step] : packet.have) {
            if (!lockstep_.inGame(machine) && game == lockstep_.game()) return false;   // no such machine
            if (!link_.confirm(from.id, game, machine, step, fresh)) return false;
        }
    link_.pruneHistory(lockstep_.game());
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
            HeldStep& held = link_.keep(game, run.machine, step);   // for the other guests
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

long NetSession::desyncStep() const { return host_side_ ? 0 : lockstep_.disagreesAfter(self_); }

void NetSession::setPaused(bool on) {
    paused_ = on;
    if (!host_side_) return;
    for (LinkPeer& p : link_.peers())
        if (p.id > 0) link_.send(p.peer, wireNumber(MsgKind::Pause, on ? 1 : 0));
    link_.flush();
}

int NetSession::autoDelay() const {
    // The round trip in steps, and one more; with guests that hear each other through the host,
    // one more for the host's wait to pass their steps on.
    const int rtt = roundTripMs();
    const int relay = roster_.size() > 2 ? 1 : 0;
    return std::clamp((rtt + 19) / 20 + 1 + relay, 1, kMaxDelay);
}

int NetSession::roundTripMs() const { return link_.roundTripMs(host_side_); }
uint64_t NetSession::bytesSent() const { return link_.bytesSent(); }
uint64_t NetSession::bytesReceived() const { return link_.bytesReceived(); }

}  // namespace hopshot
