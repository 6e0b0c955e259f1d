// The host's machine: it listens, takes guests (a hello each, checked), keeps the roster, starts
// the games and judges every guest by its steps; when it has no more games it finishes, and
// stays until each guest has the last steps and has said goodbye, or the goodbye's time is up.
#include "net/lan_games.h"
#include "net/session.h"
#include "net/wire.h"

#include <enet/enet.h>
#include <enet/time.h>

#include <algorithm>

namespace hopshot {

namespace {

// Room for the guests, for connections that have not joined yet (kStrangers at most), and to
// refuse a fifth machine politely: a real guest always finds a free one.
constexpr int kPeerCount = 20;
constexpr uint32_t kHelloGraceMs = 1000;   // a new connection's time to say hello, spared meanwhile
constexpr uint32_t kLetGoMs = 1000;        // a guest let go with a goodbye: its connection goes after
constexpr uint32_t kAnswerMs = 1000;       // changes of players answered at most this often
// While it finishes, "over" goes again unreliably this often to each guest still there: the
// reliable one may be held back for seconds by ENet's doubling waits on a lossy link. (Under
// the guest's budget of 10 such messages a second.)
constexpr uint32_t kOverAgainMs = 250;
constexpr uint32_t kConfirmedGoodbyeMs = 1000;   // a guest with every step: its time to go

}  // namespace

std::unique_ptr<NetSession> NetSession::host(uint16_t port, const Players& own,
                                             const std::string& version, std::string& error) {
    std::unique_ptr<NetSession> s(new NetSession);
    if (!s->link_.listen(port, kPeerCount)) {
        error = "cannot open UDP port " + std::to_string(port) + " (is another game hosting there?)";
        return nullptr;
    }
    s->link_.setHub(true);
    s->host_side_ = true;
    s->version_ = version;
    s->own_ = own;
    s->roster_.push_back({0, own});
    return s;
}

// Every move of the host's machine, and what it does as it enters a state.
void NetSession::moveHost(HostEvent e) {
    const HostState to = nextHost(host_, e);
    if (to == host_) return;
    logMove(stateName(host_), eventName(e), stateName(to));
    host_ = to;
    if (to == HostState::Finishing) {
        lan_.reset();   // no more games to join
        for (LinkPeer& p : link_.peers())
            if (p.id > 0) link_.send(p.peer, wireSimple(MsgKind::Over));
        link_.flush();
        finishingSince_ = overSentAt_ = lastShort_ = linkTime();
    }
}

void NetSession::answerOnLan(std::unique_ptr<LanResponder> lan) {
    if (host_side_) lan_ = std::move(lan);
}

// What the host sees to each service(): connections that never said hello, strangers beyond
// their number, guests let go whose second is up, changes of players waiting for their answer,
// and the goodbye's wait.
void NetSession::hostService(uint32_t now) {
    std::vector<ENetPeer*> mute;
    for (const LinkPeer& p : link_.peers())
        if (p.id < 0 && ENET_TIME_DIFFERENCE(now, p.connectedAt) > enet_uint32(kHelloWaitMs)) mute.push_back(p.peer);
    limitStrangers(now);
    for (auto it = leaving_.begin(); it != leaving_.end();)
        if (ENET_TIME_DIFFERENCE(now, it->second) > kLetGoMs) {
            enet_peer_disconnect_now(it->first, 0);
            it = leaving_.erase(it);
        } else {
            ++it;
        }
    // Changes of players answered at most once a second: the roster that stands now.
    for (LinkPeer& p : link_.peers())
        if (p.answerDue && ENET_TIME_DIFFERENCE(now, p.answeredAt) >= kAnswerMs) {
            p.answerDue = false;
            p.answeredAt = now;
            sendRoster();
        }
    for (ENetPeer* p : mute) {
        dropPeer(p);
        enet_peer_disconnect_now(p, 0);
    }
    if (host_ != HostState::Finishing) return;
    if (ENET_TIME_DIFFERENCE(now, overSentAt_) >= kOverAgainMs) {
        overSentAt_ = now;
        for (LinkPeer& p : link_.peers())
            if (p.id > 0) link_.sendQuick(p.peer, wireSimple(MsgKind::Over));
    }
    if (goodbyesDone()) {
        moveHost(HostEvent::GuestsGone);
        return;
    }
    // A guest short of the last steps is waited for up to twice the goodbye's time; one that has
    // them all, a second more at least (its "over" may still be on its way).
    const bool anyShort = std::any_of(link_.peers().begin(), link_.peers().end(), [&](const LinkPeer& p) {
        return p.id > 0 && !link_.confirmedAll(p.id, lockstep_.game());
    });
    if (anyShort) lastShort_ = now;
    const uint32_t waited = ENET_TIME_DIFFERENCE(now, finishingSince_);
    if ((waited > enet_uint32(kGoodbyeMs) && ENET_TIME_DIFFERENCE(now, lastShort_) > kConfirmedGoodbyeMs) ||
        waited > enet_uint32(2 * kGoodbyeMs))
        moveHost(HostEvent::GoodbyeTimeUp);
}

// Every guest has gone: it leaves once it has its last game's steps and has heard "over".
bool NetSession::goodbyesDone() const {
    return std::none_of(link_.peers().begin(), link_.peers().end(), [](const LinkPeer& p) { return p.id > 0; });
}

void NetSession::finish() {
    moveHost(HostEvent::Finish);
    // A guest may still lack the last steps of its game (lost on the way): they go again, at the
    // usual pace, until it confirms them. (A detached session has no one to wait for.)
    while (host_ == HostState::Finishing && link_.hasSocket()) {
        if (link_.stepsDue(lockstep_, self_)) link_.sendSteps(lockstep_, self_);
        service(20);
    }
}

// Connections that have not joined (still in ENet's handshake, or connected without a valid
// hello) get short limits and a number of their own, so they never fill the host.
void NetSession::limitStrangers(uint32_t now) {
    ENetHost* enet = link_.enet();
    std::vector<std::pair<uint32_t, ENetPeer*>> strangers;
    std::map<ENetPeer*, uint32_t> handshakes;
    for (size_t i = 0; i < enet->peerCount; ++i) {
        ENetPeer* p = &enet->peers[i];
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
    for (const LinkPeer& p : link_.peers())
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

// The budget a guest's message counts against (keep-alives and steps aside).
Budget NetSession::guestsBudget(const LinkPeer& from, bool known, MsgKind kind) const {
    if (from.id < 0) return Hellos;   // whatever it is, it is taken as a hello
    if (known && kind == MsgKind::Hello) return Hellos;
    if (known && kind == MsgKind::Ends) return Endings;
    if (known && kind == MsgKind::Players) return PlayerChanges;
    return kBudgets;   // nothing a guest may say: the refusals count it
}

// A guest's hello. Refused: a different version (both named), a full game, or a player already
// played elsewhere. A guest that names no player takes the first free one, as a machine alone
// brings one player.
void NetSession::hostHello(LinkPeer& from, const HelloMessage& hello, bool read) {
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
        link_.send(from.peer, wireText(MsgKind::Refuse, refusal));
        if (from.peer) enet_peer_disconnect_later(from.peer, 0);
        return;
    }
    from.id = nextId_++;
    from.players = wanted;
    roster_.push_back({from.id, wanted});
    link_.send(from.peer, wireNumber(MsgKind::Welcome, from.id));
    sendRoster();
    note(machineName(from.id) + " (players " + playersList(wanted) + ") joined");
}

// What a guest may say to the host besides its steps: the players it wants, and that it ends
// its games elsewhere.
bool NetSession::hostMessage(LinkPeer& from, MsgKind kind, const std::string& bytes) {
    if (kind == MsgKind::Players) {
        Players wanted;
        if (!readPlayers(bytes, wanted)) return false;
        // Answered at once, then at most once a second (the roster that stands then): nothing a
        // machine sends makes more come back.
        const uint32_t now = linkTime();
        const bool answer = from.answeredAt == 0 || ENET_TIME_DIFFERENCE(now, from.answeredAt) >= kAnswerMs;
        for (const Machine& m : roster_)
            for (int p = 0; p < kPlayers; ++p)
                if (m.id != from.id && m.players[size_t(p)] && wanted[size_t(p)]) {
                    if (answer)
                        link_.send(from.peer, wireText(MsgKind::Notice, "player " + std::to_string(p + 1) +
                                                                            " is already played on " +
                                                                            machineName(m.id)));
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

// The roster goes to every guest when it changed.
void NetSession::sendRoster() {
    std::vector<std::pair<int, Players>> roster;
    for (const Machine& m : roster_) roster.push_back({m.id, m.players});
    const std::string bytes = wireRoster(roster);
    if (bytes == rosterSent_) return;
    rosterSent_ = bytes;
    for (LinkPeer& p : link_.peers())
        if (p.id > 0) link_.send(p.peer, bytes);
}

// A guest is gone (its goodbye, its silence, or let go): its players leave the roster, and its
// commands end where the host's copy of them ends; everyone releases its players there.
void NetSession::guestGone(const LinkPeer& gone, const std::string& why) {
    if (gone.id < 0) return;   // never joined
    roster_.erase(std::remove_if(roster_.begin(), roster_.end(), [&](const Machine& m) { return m.id == gone.id; }),
                  roster_.end());
    int game = 0;
    long from = 0;
    if (lockstep_.inGame(gone.id) && !lockstep_.dropped(gone.id)) {
        game = lockstep_.game();
        from = lockstep_.have(gone.id) + 1;
        lockstep_.drop(gone.id, from, releaseCommands(gone.players));
    }
    const std::string left = wireLeft({gone.id, gone.players, game, from});
    for (LinkPeer& p : link_.peers())
        if (p.id > 0) link_.send(p.peer, left);
    sendRoster();
    note(machineName(gone.id) + " (players " + playersList(gone.players) + ") left" + (why.empty() ? "" : ", " + why));
}

void NetSession::expel(ENetPeer* peer, const std::string& reason) {
    if (!link_.find(peer)) return;
    link_.send(peer, wireText(MsgKind::Bye, reason));
    if (peer) enet_peer_disconnect_later(peer, 0);
    dropPeer(peer, "dropped by the host: " + reason);
}

void NetSession::startGame(const StartMessage& m) {
    link_.playing(m.game, m.machines);
    stepLimit_ = m.stepLimit;
    const std::string text = wireStart(m);
    for (LinkPeer& p : link_.peers())
        if (p.id > 0 && std::count(m.machines.begin(), m.machines.end(), p.id)) link_.send(p.peer, text);
    link_.flush();
    lockstep_.begin(m.game, m.delay, m.machines, m.machinePlayers, m.predicts);
    moveHost(HostEvent::Start);
    paused_ = false;
    const uint32_t now = linkTime();
    for (LinkPeer& p : link_.peers()) {
        p.lastHave = m.delay;
        p.holding = false;
        p.progressAt = now;
        p.holdingFrom = 0;
    }
}

// The host's world is the reference: a guest whose fingerprint differs is dropped, and the others
// play on. (A guest finds out for itself, from the host's fingerprints: see desyncStep.)
void NetSession::checkDesync() {
    for (const std::string& n : lockstep_.takeNotices()) note(n);
    if (!host_side_) return;
    std::vector<int> differ;
    for (int id : lockstep_.disagreeing())
        if (link_.findMachine(id)) differ.push_back(id);
    if (differ.empty()) return;
    // The host's steps with the fingerprint that differs go before the goodbye, so that the guest
    // finds the step for itself and keeps its replay, whatever the packets' pace.
    link_.sendSteps(lockstep_, self_);
    for (int id : differ)
        if (const LinkPeer* p = link_.findMachine(id))
            expel(p->peer, "its game differs from the host's after step " + std::to_string(lockstep_.disagreesAfter(id)) +
                               " of game " + std::to_string(lockstep_.game()));
}

// In a game, a guest whose steps hold the host up is given a few seconds, more for its first
// step (it may still be closing a message box or the record prompt); then it is dropped, however
// much else it sends.
void NetSession::hostProgress(uint32_t now) {
    if (host_ != HostState::Playing) return;
    if (paused_) {   // held: the waits start again when the game goes on
        for (LinkPeer& p : link_.peers()) {
            p.progressAt = now;
            p.holdingFrom = 0;
        }
        return;
    }
    const long needed = lockstep_.have(self_) - lockstep_.delay();   // the step this machine waits for
    std::vector<std::pair<ENetPeer*, std::string>> late;
    for (LinkPeer& p : link_.peers()) {
        if (p.id <= 0 || !lockstep_.inGame(p.id) || lockstep_.dropped(p.id)) continue;
        const long have = lockstep_.have(p.id);
        if (have != p.lastHave) {
            p.lastHave = have;
            p.progressAt = now;
        }
        // Judged from when it began to hold this machine up, not before: a machine that waited
        // with the others for a third one is not late when they all go on at once.
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
                                        " seconds within " + std::to_string(kHeldBackWindowMs / 1000) + " seconds"});
        else if (ENET_TIME_DIFFERENCE(now, p.progressAt) > limit)
            late.push_back({p.peer, first ? "it did not start game " + std::to_string(lockstep_.game()) +
                                                " within " + std::to_string(kStartWaitMs / 1000) + " seconds"
                                          : "it sent no steps for " + std::to_string(kNoStepsMs / 1000) + " seconds"});
    }
    for (const auto& [peer, why] : late) expel(peer, why);
}

// A machine that keeps the others waiting, however it spreads its waits: each wait counts beyond
// twice its round trip and a quarter of a second (what an honest machine's packet may take), and
// more than kHeldBackMs of that within any kHeldBackWindowMs drops it. True: it is to be dropped.
bool NetSession::heldBackTooLong(LinkPeer& p, uint32_t now, bool holding) {
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

// This machine's players change: the host takes them unless another machine brings one; a guest
// asks the host, whose roster answers.
std::string NetSession::setOwnPlayers(const Players& wanted) {
    if (!host_side_) {
        if (!link_.peers().empty()) link_.send(link_.peers().front().peer, wirePlayers(wanted));
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

}  // namespace hopshot
