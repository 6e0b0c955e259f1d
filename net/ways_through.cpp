#include "net/ways_through.h"

#include "net/relay_bridge.h"
#include "net/session.h"
#include "net/turn_client.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/random.h>

#include <algorithm>
#include <chrono>

namespace hopshot::net {

namespace {

// What opens a router toward a relay: a probe's magic alone, which no side takes for a probe.
constexpr uint8_t kOpener[] = {0x3F, 0xFF, 'h', 'p'};

uint32_t drawNonce() {
    uint32_t n = 0;
    if (getrandom(&n, sizeof n, 0) != sizeof n) n = 0x68730001;
    return n == 0 ? 1 : n;
}

int64_t steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch()).count();
}

PunchEndpoint toPunch(const meet::Endpoint& e) { return {e.address, e.port}; }
meet::Endpoint toMeet(const PunchEndpoint& e) { return {e.address, e.port}; }

std::string silentService(const meet::Endpoint& service) {
    return "The meeting service at " + meet::toString(service) + " does not answer.";
}

// One clear sentence for an answer that is an error.
std::string errorSentence(const meet::Message& m) {
    if (m.type == meet::Type::Error && m.error == meet::ErrorCode::BadVersion)
        return "The meeting service speaks another version of its protocol (" + std::to_string(m.version) +
               ", this game speaks " + std::to_string(meet::kVersion) + "): update one of them.";
    return meet::describe(m.error);
}

}  // namespace

const char* pathName(Path p) {
    switch (p) {
    case Path::Lan: return "lan";
    case Path::Direct: return "direct";
    case Path::Punched: return "punched";
    case Path::Relayed: return "relayed";
    case Path::None: break;
    }
    return "none";
}

std::vector<meet::Endpoint> lanEndpoints(uint16_t port) {
    std::vector<meet::Endpoint> out;
    ifaddrs* all = nullptr;
    if (getifaddrs(&all) != 0) return out;
    for (const ifaddrs* i = all; i && out.size() < meet::kMaxLan; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || (i->ifa_flags & IFF_LOOPBACK) ||
            !(i->ifa_flags & IFF_UP))
            continue;
        const meet::Endpoint e{ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr), port};
        if (meet::usableEndpoint(e) && std::find(out.begin(), out.end(), e) == out.end()) out.push_back(e);
    }
    freeifaddrs(all);
    return out;
}

std::optional<meet::Endpoint> resolveMeet(const std::string& text, std::string& why) {
    std::string host = text;
    uint16_t port = 7311;
    if (const size_t colon = text.rfind(':'); colon != std::string::npos) {
        host = text.substr(0, colon);
        const std::string p = text.substr(colon + 1);
        const long n = p.empty() || p.size() > 5 || !std::all_of(p.begin(), p.end(), ::isdigit) ? 0 : std::stol(p);
        if (n < 1 || n > 65535) {
            why = "the meeting service's port must be a number from 1 to 65535, not '" + p + "'";
            return std::nullopt;
        }
        port = uint16_t(n);
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) {
        why = "cannot find the meeting service's address '" + host + "'";
        return std::nullopt;
    }
    const meet::Endpoint e{ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr), port};
    freeaddrinfo(found);
    return e;
}

// --- a request ---

void MeetRequest::begin(const meet::Message& request, int64_t nowMs) {
    request_ = request;
    waiting_ = true;
    firstMs_ = nowMs;
    nextMs_ = nowMs;
}

bool MeetRequest::step(int64_t nowMs, const meet::Endpoint& service, const SideSend& send) {
    if (!waiting_) return true;
    if (firstMs_ < 0) firstMs_ = nextMs_ = nowMs;   // begun before the clock was at hand
    if (nowMs - firstMs_ >= kMeetSilentMs) {
        waiting_ = false;
        return false;
    }
    if (nowMs >= nextMs_) {
        send(service, meet::encode(request_));
        nextMs_ = nowMs + kMeetResendMs;
    }
    return true;
}

// --- the host ---

HostWays::HostWays(meet::Endpoint service, std::vector<meet::Endpoint> lan, meet::GameInfo game, SideSend send)
    : service_(service), lan_(std::move(lan)), game_(std::move(game)), send_(std::move(send)), nonce_(drawNonce()) {
    if (lan_.size() > meet::kMaxLan) lan_.resize(meet::kMaxLan);
    meet::Message r;
    r.type = meet::Type::Register;
    r.nonce = nonce_++;
    r.lan = lan_;
    r.game = game_;
    request_.begin(r, -1);   // sent at the first step
}

void HostWays::fail(const std::string& sentence) {
    if (failure_.empty()) failure_ = sentence;
}

void HostWays::setGame(uint8_t machines, uint8_t freePlayers) {
    game_.machines = machines;
    game_.freePlayers = freePlayers;
}

void HostWays::step(int64_t nowMs) {
    if (!failure_.empty()) return;
    if (request_.waiting()) {
        if (!request_.step(nowMs, service_, send_)) fail(silentService(service_));
    } else if (!code_.empty() && refreshAtMs_ >= 0 && nowMs >= refreshAtMs_) {
        meet::Message r;
        r.type = meet::Type::Refresh;
        r.nonce = nonce_++;
        r.code = code_;
        r.hostKey = key_;
        r.game = game_;
        asked_ = meet::Type::Refresh;
        request_.begin(r, nowMs);
        request_.step(nowMs, service_, send_);
        refreshAtMs_ = -1;
    }
    for (Coming& c : coming_) {
        if (nowMs < c.roundsFromMs || c.puncher->state() != PunchState::Trying) continue;
        c.puncher->tick(nowMs);
        if (!c.throughEarly) c.sentRounds = true;
    }
}

void HostWays::guestComing(const meet::Message& m, int64_t nowMs) {
    // A repeated lookup tells again: the guest's attempt goes on as it is.
    for (const Coming& c : coming_)
        if (c.publicEndpoint == m.peer && c.puncher->state() == PunchState::Trying) return;
    coming_.erase(std::remove_if(coming_.begin(), coming_.end(),
                                 [&](const Coming& c) { return c.publicEndpoint == m.peer; }),
                  coming_.end());
    if (int(coming_.size()) >= kMaxComing) coming_.erase(coming_.begin());
    Coming c;
    c.publicEndpoint = m.peer;
    c.lan = m.lan;
    std::vector<PunchEndpoint> theirs{toPunch(m.peer)};
    for (const meet::Endpoint& e : m.lan) theirs.push_back(toPunch(e));
    auto send = send_;
    c.puncher = std::make_unique<Puncher>(theirs, [send](const PunchEndpoint& to, std::string_view b) { send(toMeet(to), b); });
    c.roundsFromMs = nowMs + kDirectGraceMs;
    coming_.push_back(std::move(c));
}

bool HostWays::take(const meet::Endpoint& from, std::string_view bytes, int64_t nowMs) {
    if (isPunchDatagram(bytes)) {
        for (Coming& c : coming_) {
            const PunchState before = c.puncher->state();
            c.puncher->receive(toPunch(from), bytes);
            if (before != PunchState::Through && !c.sentRounds &&
                (c.puncher->state() == PunchState::Through || c.puncher->lastWasRound()))
                c.throughEarly = true;
        }
        return true;
    }
    if (!meet::isMeetingDatagram(bytes)) return false;
    if (!(from == service_)) return true;   // only the service speaks this protocol to a host
    meet::Message m;
    const meet::Decoded d = meet::decode(bytes, m);
    if (d == meet::Decoded::BadVersion && request_.waiting()) {
        m.type = meet::Type::Error;
        m.error = meet::ErrorCode::BadVersion;
    } else if (d != meet::Decoded::Ok) {
        return true;
    }
    if (m.type == meet::Type::GuestComing) {
        if (m.code == code_ && !code_.empty() && m.peer.address != 0 && m.peer.port != 0) guestComing(m, nowMs);
        return true;
    }
    if (m.type == meet::Type::GuestRelayed) {
        // Only a guest the service said was coming; a few datagrams toward its relay open this
        // side's router to what the relay sends from there.
        // It hears where this host's own relay is, once there is one: relay to relay passes
        // whatever router either side stands behind.
        for (Coming& c : coming_)
            if (m.code == code_ && !code_.empty() && c.publicEndpoint == m.peer && c.openers < kOpeners * 4) {
                c.relayed = m.relayed;
                for (int i = 0; i < kOpeners; ++i, ++c.openers)
                    send_(m.relayed, std::string_view(reinterpret_cast<const char*>(kOpener), sizeof kOpener));
                c.awaitsRelay = true;
                if (relay_ != Relay::None || !turn_.offered) tellRelay(c);
            }
        return true;
    }
    if (!request_.answers(m)) return true;
    request_.done();
    if (m.type == meet::Type::Error) {
        fail(errorSentence(m));
    } else if (m.type == meet::Type::Registered && asked_ == meet::Type::Register) {
        code_ = m.code;
        key_ = m.hostKey;
        turn_ = m.turn;
        refreshAtMs_ = nowMs + std::max(1, int(m.secondsToLive)) * 1000 / 3;
    } else if (m.type == meet::Type::Refreshed && asked_ == meet::Type::Refresh) {
        refreshAtMs_ = nowMs + std::max(1, int(m.secondsToLive)) * 1000 / 3;
        turn_ = m.turn;   // fresh credentials, for an allocation made later in a long game
    }
    return true;
}

void HostWays::end() {
    if (code_.empty()) return;
    meet::Message r;
    r.type = meet::Type::End;
    r.nonce = nonce_++;
    r.code = code_;
    r.hostKey = key_;
    send_(service_, meet::encode(r));
    code_.clear();
    refreshAtMs_ = -1;
}

void HostWays::tellRelay(Coming& c) {
    if (code_.empty()) return;
    meet::Message r;
    r.type = meet::Type::HostRelayed;
    r.nonce = nonce_++;
    r.code = code_;
    r.hostKey = key_;
    r.peer = c.publicEndpoint;
    r.relayed = relay_ == Relay::Ready ? relayed_ : meet::Endpoint{};
    // Not waited for: a guest that hears nothing asks again, and its host tells it again.
    send_(service_, meet::encode(r));
    c.awaitsRelay = false;
}

bool HostWays::relayWanted() const {
    if (relay_ != Relay::None || !turn_.offered) return false;
    return std::any_of(coming_.begin(), coming_.end(), [](const Coming& c) { return c.awaitsRelay; });
}

void HostWays::relayReady(const meet::Endpoint& relayed) {
    if (relay_ != Relay::None) return;
    relay_ = Relay::Ready;
    relayed_ = relayed;
    for (Coming& c : coming_)
        if (c.awaitsRelay) tellRelay(c);
}

void HostWays::relayFailed() {
    if (relay_ != Relay::None) return;
    relay_ = Relay::Failed;
    for (Coming& c : coming_)
        if (c.awaitsRelay) tellRelay(c);
}

std::vector<meet::Endpoint> HostWays::relayedGuests() const {
    std::vector<meet::Endpoint> out;
    for (const Coming& c : coming_)
        if (c.relayed.port != 0) out.push_back(c.relayed);
    return out;
}

Path HostWays::pathOf(const meet::Endpoint& from) const {
    for (const Coming& c : coming_)
        if (from == c.relayed) return Path::Relayed;
    for (const Coming& c : coming_) {
        if (std::find(c.lan.begin(), c.lan.end(), from) != c.lan.end()) return Path::Lan;
        if (from == c.publicEndpoint) return c.sentRounds ? Path::Punched : Path::Direct;
    }
    return Path::Direct;   // joined by its address
}

// --- the guest ---

GuestWays::GuestWays(meet::Endpoint service, std::string code, std::vector<meet::Endpoint> lan, SideSend send,
                     PunchLimits limits)
    : service_(service), code_(std::move(code)), lan_(std::move(lan)), send_(std::move(send)), limits_(limits) {
    if (lan_.size() > meet::kMaxLan) lan_.resize(meet::kMaxLan);
    meet::Message r;
    r.type = meet::Type::Lookup;
    r.nonce = drawNonce();
    r.code = code_;
    r.lan = lan_;
    request_.begin(r, -1);
}

void GuestWays::fail(const std::string& sentence) {
    if (state_ == State::Failed) return;
    state_ = State::Failed;
    failure_ = sentence;
}

void GuestWays::step(int64_t nowMs) {
    if (state_ == State::Looking) {
        if (!request_.step(nowMs, service_, send_)) fail(silentService(service_));
    } else if (state_ == State::Trying) {
        puncher_->tick(nowMs);
        if (puncher_->state() != PunchState::GaveUp) return;
        if (found_.turn.offered)
            state_ = State::Relaying;
        else
            fail("No way through to the host: its router and this one let nothing pass between them, "
                 "and the meeting service offers no relay.");
    } else if (state_ == State::Telling) {
        if (!request_.step(nowMs, service_, send_)) fail(silentService(service_));
    } else if (state_ == State::Awaiting) {
        if (nowMs >= awaitUntilMs_) {
            // No relay of the host's own came: its public endpoint, its router opened toward ours.
            through_ = found_.peer;
            state_ = State::Through;
        } else if (nowMs >= askAgainMs_) {
            // A lost word on the way: the host is told again, and tells again.
            send_(service_, meet::encode(relayedRequest_));
            askAgainMs_ = nowMs + kHostRelayAskMs;
        }
    }
}

void GuestWays::relayReady(const meet::Endpoint& relayed, int64_t nowMs) {
    if (state_ != State::Relaying) return;
    meet::Message r;
    r.type = meet::Type::Relayed;
    r.nonce = drawNonce();
    r.code = code_;
    r.relayed = relayed;
    relayedRequest_ = r;
    request_.begin(r, nowMs);
    request_.step(nowMs, service_, send_);
    state_ = State::Telling;
}

void GuestWays::relayFailed(const std::string& why) {
    if (state_ == State::Relaying) fail("No way through to the host, and the relay failed: " + why);
}

bool GuestWays::take(const meet::Endpoint& from, std::string_view bytes, int64_t nowMs) {
    if (isPunchDatagram(bytes)) {
        if (!puncher_) return true;
        puncher_->receive(toPunch(from), bytes);
        if (state_ != State::Trying) return true;
        if (puncher_->state() != PunchState::Through) {
            heardHostRound_ = heardHostRound_ || puncher_->lastWasRound();
            return true;
        }
        through_ = toMeet(puncher_->through());
        const bool lan = std::find(found_.lan.begin(), found_.lan.end(), through_) != found_.lan.end();
        path_ = lan ? Path::Lan : heardHostRound_ || puncher_->lastWasRound() ? Path::Punched : Path::Direct;
        state_ = State::Through;
        return true;
    }
    if (!meet::isMeetingDatagram(bytes)) return false;
    if (!(from == service_) || (state_ != State::Looking && state_ != State::Telling && state_ != State::Awaiting))
        return true;
    meet::Message m;
    const meet::Decoded d = meet::decode(bytes, m);
    if (d == meet::Decoded::BadVersion) {
        m.type = meet::Type::Error;
        m.error = meet::ErrorCode::BadVersion;
    } else if (d != meet::Decoded::Ok) {
        return true;
    }
    if (m.type == meet::Type::HostRelay) {
        if (state_ != State::Awaiting || m.code != code_) return true;
        // Relay to relay; or, when the host has none, its public endpoint as before.
        through_ = m.relayed.port != 0 ? m.relayed : found_.peer;
        state_ = State::Through;
        return true;
    }
    if (!request_.answers(m)) return true;
    request_.done();
    if (m.type == meet::Type::Error) {
        fail(errorSentence(m));
        return true;
    }
    if (state_ == State::Telling) {
        if (m.type == meet::Type::RelayNoted) {
            state_ = State::Awaiting;
            path_ = Path::Relayed;
            awaitUntilMs_ = nowMs + kHostRelayWaitMs;
            askAgainMs_ = nowMs + kHostRelayAskMs;
        }
        return true;
    }
    if (m.type != meet::Type::Found) return true;
    // The LAN endpoints first, nearest to hand, then the public one.
    std::vector<PunchEndpoint> theirs;
    for (const meet::Endpoint& e : m.lan)
        if (meet::usableEndpoint(e)) theirs.push_back(toPunch(e));
    // The endpoint the service saw: where the host's datagrams come from, whatever it is.
    if (m.peer.address != 0 && m.peer.port != 0) theirs.push_back(toPunch(m.peer));
    if (theirs.empty()) {
        fail("The meeting service named no address the host can be reached at.");
        return true;
    }
    found_ = m;
    auto send = send_;
    puncher_ = std::make_unique<Puncher>(theirs, [send](const PunchEndpoint& to, std::string_view b) { send(toMeet(to), b); },
                                         limits_);
    state_ = State::Trying;
    puncher_->tick(nowMs);
    return true;
}

// --- a guest's whole way ---

namespace {

std::string addressText(uint32_t address) {
    const std::string withPort = meet::toString({address, 1});
    return withPort.substr(0, withPort.rfind(':'));
}

SideSend sideSend(NetSession& s) {
    return [&s](const meet::Endpoint& to, std::string_view bytes) { s.sendSide(to.address, to.port, bytes); };
}

}  // namespace

std::unique_ptr<NetSession> joinByCode(const std::string& meetService, const std::string& code, const Players& own,
                                       int waitMs, std::unique_ptr<RelayPump>& relay, Path& path, std::string& problem,
                                       const Cancelled& cancelled) {
    if (meetService.empty()) {
        problem = "joining by an invite code needs a meeting service: give --meet HOST[:PORT]";
        return nullptr;
    }
    const auto service = resolveMeet(meetService, problem);
    if (!service) return nullptr;
    auto s = NetSession::openGuest(own, programVersion(), problem);
    if (!s) return nullptr;
    const auto calledOff = [&] {
        if (!cancelled || !cancelled()) return false;
        problem = "joining by the invite code was cancelled";
        return true;
    };
    GuestWays ways(*service, code, lanEndpoints(s->localPort()), sideSend(*s));
    s->setSideReader([&ways](uint32_t address, uint16_t port, std::string_view bytes) {
        return ways.take({address, port}, bytes, steadyMs());
    });
    // Bounded by the service's silence, the punching's rounds and the relay's allocation.
    while (ways.busy() && !calledOff()) {
        ways.step(steadyMs());
        if (ways.state() == GuestWays::State::Relaying) {
            std::string why;
            relay = RelayPump::allocate(ways.found().turn, s->localPort(), why, cancelled);
            if (relay) ways.relayReady(relay->relayed(), steadyMs());
            else ways.relayFailed(why);
        }
        s->service(5);
    }
    const bool off = calledOff();   // also a relay's allocation that was called off
    if (off || ways.state() == GuestWays::State::Failed) {
        if (!off) problem = ways.failure();
        s->setSideReader(nullptr);
        return nullptr;
    }
    // The host goes on answering probes while ENet connects; this side does too.
    meet::Endpoint to = ways.through();
    if (ways.path() == Path::Relayed) {
        to = {0x7F000001, relay->carryTo(to, problem)};
        if (to.port == 0) return nullptr;
    }
    const bool joined = s->joinHost(addressText(to.address), to.port, waitMs, problem, cancelled);
    s->setSideReader(nullptr);
    if (!joined) return nullptr;
    path = ways.path();
    return s;
}

// --- the host's whole way ---

HostMeeting::HostMeeting(NetSession& s, const meet::Endpoint& service, const meet::GameInfo& game)
    : s_(s),
      ways_(std::make_unique<HostWays>(service, lanEndpoints(s.localPort()), game, sideSend(s))),
      relay_(std::make_unique<HostRelayPump>(s.localPort())) {
    s.setSideReader([this](uint32_t address, uint16_t port, std::string_view bytes) {
        const int64_t now = steadyMs();
        ways_->step(now);
        const bool taken = ways_->take({address, port}, bytes, now);
        relay_->step(*ways_);
        return taken;
    });
}

HostMeeting::~HostMeeting() {
    ways_->end();
    s_.setSideReader(nullptr);
}

void HostMeeting::step() {
    ways_->step(steadyMs());
    relay_->step(*ways_);
}

Path HostMeeting::pathOf(const meet::Endpoint& from) const {
    return relay_->standsIn(from) ? Path::Relayed : ways_->pathOf(from);
}

// --- the relay on real sockets ---

std::unique_ptr<RelayPump> RelayPump::allocate(const meet::TurnOffer& offer, uint16_t enetPort, std::string& why,
                                               const Cancelled& cancelled) {
    std::unique_ptr<RelayPump> pump(new RelayPump);
    pump->client_ = turn::Client::open(turn::Address::v4(offer.server.address, offer.server.port),
                                       {offer.username, offer.password}, why);
    if (!pump->client_) return nullptr;
    turn::Client& c = *pump->client_;
    for (const int64_t start = steadyMs(); c.state() == turn::Client::State::Allocating && steadyMs() - start < kAllocateMs;) {
        if (cancelled && cancelled()) {
            why = "the relay's allocation was cancelled";
            return nullptr;
        }
        c.service(steadyMs());
        pollfd p{c.socket(), POLLIN, 0};
        poll(&p, 1, 10);
    }
    if (c.state() != turn::Client::State::Ready) {
        why = !c.failure().empty() ? c.failure() : "the relay at " + meet::toString(offer.server) + " does not answer";
        return nullptr;
    }
    pump->bridge_ = std::make_unique<RelayBridge>(c, enetPort);
    return pump;
}

RelayPump::~RelayPump() {
    stop_ = true;
    if (carrier_.joinable()) carrier_.join();
    bridge_.reset();
    if (client_) {
        client_->close();
        client_->service(steadyMs());
    }
}

meet::Endpoint RelayPump::relayed() const {
    return {client_->relayed().ipv4(), client_->relayed().port};
}

uint16_t RelayPump::carryTo(const meet::Endpoint& host, std::string& why) {
    if (carrier_.joinable()) {
        why = "the relay already carries this machine's game";
        return 0;
    }
    const uint16_t port = bridge_->add(turn::Address::v4(host.address, host.port), why);
    if (port == 0) return 0;
    carrier_ = std::thread([this] {
        while (!stop_) {
            bridge_->service(steadyMs());
            pollfd p{client_->socket(), POLLIN, 0};
            poll(&p, 1, 1);
        }
    });
    return port;
}

// --- the host's relay on real sockets ---

HostRelayPump::HostRelayPump(uint16_t enetPort) : enetPort_(enetPort) {}

HostRelayPump::~HostRelayPump() {
    stop_ = true;
    if (worker_.joinable()) worker_.join();
    bridge_.reset();
    if (client_) {
        client_->close();
        client_->service(steadyMs());
    }
}

void HostRelayPump::run(meet::TurnOffer offer) {
    std::string why;
    auto client = turn::Client::open(turn::Address::v4(offer.server.address, offer.server.port),
                                     {offer.username, offer.password}, why);
    for (const int64_t start = steadyMs();
         client && !stop_ && client->state() == turn::Client::State::Allocating && steadyMs() - start < kAllocateMs;) {
        client->service(steadyMs());
        pollfd p{client->socket(), POLLIN, 0};
        poll(&p, 1, 10);
    }
    if (!client || client->state() != turn::Client::State::Ready) {
        state_ = 3;
        return;
    }
    {
        const std::lock_guard<std::mutex> hold(lock_);
        client_ = std::move(client);
        bridge_ = std::make_unique<RelayBridge>(*client_, enetPort_);
    }
    state_ = 2;
    while (!stop_) {
        {
            const std::lock_guard<std::mutex> hold(lock_);
            bridge_->service(steadyMs());
        }
        pollfd p{client_->socket(), POLLIN, 0};
        poll(&p, 1, 1);
    }
}

void HostRelayPump::step(HostWays& ways) {
    if (state_ == 0 && ways.relayWanted()) {
        state_ = 1;
        worker_ = std::thread([this, offer = ways.relayOffer()] { run(offer); });
    }
    if (state_ == 3 && !told_) {
        told_ = true;
        ways.relayFailed();
    }
    if (state_ != 2) return;
    {
        // Each guest's stand-in before it hears where to send: its first datagrams find a way.
        const std::lock_guard<std::mutex> hold(lock_);
        for (const meet::Endpoint& g : ways.relayedGuests()) {
            if (std::find(carried_.begin(), carried_.end(), g) != carried_.end()) continue;
            carried_.push_back(g);
            std::string why;
            if (const uint16_t port = bridge_->add(turn::Address::v4(g.address, g.port), why)) standIns_.push_back(port);
        }
    }
    if (!told_) {
        told_ = true;
        ways.relayReady({client_->relayed().ipv4(), client_->relayed().port});
    }
}

bool HostRelayPump::standsIn(const meet::Endpoint& from) const {
    const std::lock_guard<std::mutex> hold(lock_);
    return from.address == 0x7F000001 && std::find(standIns_.begin(), standIns_.end(), from.port) != standIns_.end();
}

}  // namespace hopshot::net
