// The guest's machine: its socket opens first (the ways through meet and try paths on it), then
// it connects to one host, says hello until welcomed, plays the games the host starts and is over
// when the host finishes, leaves, goes silent or drops it. Everything it hears comes from the host.
#include "net/lan_games.h"
#include "net/session.h"
#include "net/wire.h"

#include <enet/enet.h>
#include <enet/time.h>

#include <algorithm>

namespace hopshot {

namespace {

constexpr uint32_t kHelloAgainMs = 100;   // the hello again, unreliably, until welcomed

}  // namespace

std::unique_ptr<NetSession> NetSession::join(const std::string& address, uint16_t port,
                                             const Players& own, const std::string& version,
                                             int timeoutMs, std::string& error, const Cancelled& cancelled) {
    auto s = openGuest(own, version, error);
    if (!s || !s->joinHost(address, port, timeoutMs, error, cancelled)) return nullptr;
    return s;
}

std::unique_ptr<NetSession> NetSession::openGuest(const Players& own, const std::string& version,
                                                  std::string& error) {
    std::unique_ptr<NetSession> s(new NetSession);
    if (!s->link_.openOne()) {
        error = "cannot open a UDP socket";
        return nullptr;
    }
    s->version_ = version;
    s->own_ = own;
    return s;
}

// Every move of the guest's machine, and what it does as it enters a state.
void NetSession::moveGuest(GuestEvent e) {
    const GuestMove to = nextGuest(guest_, e);
    if (to.state == guest_.state && to.end == guest_.end) return;
    logMove(stateName(guest_.state), eventName(e), stateName(to.state));
    guest_ = to;
    if (to.state == GuestState::Greeting) {
        if (!link_.peers().empty()) link_.send(link_.peers().front().peer, wireHello({version_, own_}));
        helloAt_ = linkTime();
    }
    if (to.state == GuestState::Over && to.end == GuestEnd::HostLeft) note("the host left");
}

void NetSession::sendHello() {
    if (link_.peers().empty()) return;
    helloAt_ = linkTime();
    link_.sendQuick(link_.peers().front().peer, wireHello({version_, own_}));
}

bool NetSession::joinHost(const std::string& address, uint16_t port, int timeoutMs, std::string& error,
                          const Cancelled& cancelled) {
    const std::string where = address + ":" + std::to_string(port);
    ENetAddress to{};
    if (enet_address_set_host(&to, address.c_str()) != 0) {
        error = "cannot find the address " + address;
        return false;
    }
    ENetPeer* peer = link_.connect(to.host, port);
    if (!peer) {
        error = "cannot reach " + where;
        return false;
    }
    LinkPeer host;
    host.peer = peer;
    host.id = 0;
    host.heard = host.saidAt = linkTime();
    link_.peers().push_back(host);
    moveGuest(GuestEvent::Connect);

    const uint32_t until = linkTime() + uint32_t(timeoutMs);
    bool connected = false;
    while ((guest_.state == GuestState::Connecting || guest_.state == GuestState::Greeting) &&
           ENET_TIME_LESS(linkTime(), until) && !(cancelled && cancelled())) {
        connected = connected || guest_.state == GuestState::Greeting;
        // The host lets a connection go that says no hello in two seconds: under loss the hello
        // also goes unreliably, again and again, until the host answers.
        if (guest_.state == GuestState::Greeting && ENET_TIME_DIFFERENCE(linkTime(), helloAt_) >= kHelloAgainMs)
            sendHello();
        service(20);
    }
    if (guest_.end == GuestEnd::Refused) {
        error = "the host at " + where + " refused to let this machine join: " + refusal_;
        return false;
    }
    if (guest_.state != GuestState::Joined && cancelled && cancelled()) {
        error = "joining " + where + " was cancelled";
        return false;
    }
    if (guest_.state != GuestState::Joined) {
        error = connected ? "the host at " + where + " did not answer" : "no hopshot host answers at " + where;
        return false;
    }
    return true;
}

// The budget the host's message counts against (keep-alives and steps aside).
Budget NetSession::hostsBudget(bool known, MsgKind kind) const {
    const bool news = known && (kind == MsgKind::Notice || kind == MsgKind::Roster || kind == MsgKind::Pause ||
                                kind == MsgKind::Left);
    return news ? HostNews : HostOther;
}

// Everything a guest hears comes from the host.
bool NetSession::guestMessage(MsgKind kind, const std::string& bytes) {
    switch (kind) {
    case MsgKind::Welcome: {
        long id = 0;
        if (!readNumber(bytes, 1, kMaxMachineId, id)) return false;
        if (guest_.state != GuestState::Greeting) return id == self_;   // a number is given once, for good
        self_ = int(id);
        moveGuest(GuestEvent::Welcome);
        return true;
    }
    case MsgKind::Refuse:
        if (!readText(bytes, refusal_)) return false;
        moveGuest(GuestEvent::Refused);
        return true;
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
        const bool welcomed = guest_.state != GuestState::Open && guest_.state != GuestState::Connecting &&
                              guest_.state != GuestState::Greeting && self_ != 0;
        if (!welcomed || std::count(m.machines.begin(), m.machines.end(), self_) == 0) return false;
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
        moveGuest(GuestEvent::Dropped);
        return true;
    }
    case MsgKind::Notice: {
        std::string text;
        if (!readText(bytes, text)) return false;
        note(text);
        return true;
    }
    case MsgKind::Over:
        if (bytes.size() != 2) return false;
        moveGuest(GuestEvent::HostOver);
        return true;
    case MsgKind::Pause: {
        long on = 0;
        if (!readNumber(bytes, 0, 1, on)) return false;
        paused_ = on == 1;
        return true;
    }
    default: return false;
    }
}

bool NetSession::takeStart(StartMessage& m) {
    if (starts_.empty()) return false;
    m = starts_.front();
    starts_.erase(starts_.begin());
    lockstep_.begin(m.game, m.delay, m.machines, m.machinePlayers, m.predicts);
    moveGuest(GuestEvent::Start);
    paused_ = false;
    hostHave_ = m.delay;
    hostStepsAt_ = linkTime();
    for (const LeftMessage& left : earlyLeft_)
        if (left.game == m.game) lockstep_.drop(left.machine, left.from, releaseCommands(left.players));
    earlyLeft_.clear();
    std::vector<std::string> early;
    early.swap(early_);
    for (const std::string& bytes : early) {
        if (link_.peers().empty()) break;   // the host was let go on the way
        handle(link_.peers().front(), bytes);
    }
    return true;
}

// In a game the guest gives the host longer than the host gives a guest: the host may be
// waiting out another guest. A paused host still says it is there; one that says nothing for
// long has gone.
void NetSession::guestProgress(uint32_t now) {
    if (!gameOn()) return;
    if (paused_) {   // held: the wait starts again when the game goes on
        hostStepsAt_ = now;
        if (!link_.peers().empty() && expelled_.empty() &&
            ENET_TIME_DIFFERENCE(now, link_.peers().front().saidAt) > enet_uint32(kPausedHostMs)) {
            expelled_ = "it sent nothing for " + std::to_string(kPausedHostMs / 1000) + " seconds";
            moveGuest(GuestEvent::Dropped);
        }
        return;
    }
    const long needed = lockstep_.have(self_) - lockstep_.delay();   // the step this machine waits for
    const long have = lockstep_.have(0);
    if (have != hostHave_ || have >= needed) {
        hostHave_ = have;
        hostStepsAt_ = now;
    } else if (ENET_TIME_DIFFERENCE(now, hostStepsAt_) > enet_uint32(kHostStepsMs) && expelled_.empty()) {
        expelled_ = "it sent no steps for " + std::to_string(kHostStepsMs / 1000) + " seconds";
        moveGuest(GuestEvent::Dropped);
    }
}

void NetSession::leaveForStepLimit(long own, long host) {
    note("the host ends its games after " + std::to_string(host) + " steps, this machine after " +
         std::to_string(own) + ": the machines disagree on when a game ends");
    if (!link_.peers().empty()) link_.send(link_.peers().front().peer, wireNumber(MsgKind::Ends, own));
    link_.flush();   // before the goodbye, which would otherwise overtake it
    moveGuest(GuestEvent::Leave);
}

}  // namespace hopshot
