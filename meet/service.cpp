#include "meet/service.h"

#include "meet/turn_credentials.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace hopshot::meet {

void osRandom(uint8_t* bytes, size_t n) {
    while (n > 0) {
        const ssize_t got = getrandom(bytes, n, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            std::abort();   // no randomness from the OS: no code may be drawn at all
        }
        bytes += got;
        n -= size_t(got);
    }
}

bool Service::Bucket::spend(double rate, double burst, int64_t nowMs) {
    tokens = std::min(burst, tokens + double(std::max<int64_t>(0, nowMs - lastMs)) * rate / 1000.0);
    lastMs = std::max(lastMs, nowMs);
    if (tokens < 1) return false;
    tokens -= 1;
    return true;
}

bool Service::Bucket::full(double rate, double burst, int64_t nowMs) const {
    return tokens + double(std::max<int64_t>(0, nowMs - lastMs)) * rate / 1000.0 >= burst;
}

Service::Service(Limits limits, TurnServer turn, RandomFill random)
    : limits_(limits), turn_(std::move(turn)), random_(std::move(random)) {
    global_.tokens = limits_.globalBurst;
}

// Budgets go by address, whatever the port, so that a flood cannot spread itself over ports.
// On loopback every program on this machine shares the address: there the port tells them apart.
uint64_t Service::sourceKey(const Endpoint& from) const {
    const bool loopback = from.address >> 24 == 127;
    return uint64_t(from.address) << 16 | (loopback ? from.port : 0);
}

// The budgets of an address, new ones full. None when the table is full: a flood from many
// addresses waits for the sweep to forget the idle ones rather than grow the table.
Service::Source* Service::source(uint64_t key, int64_t nowMs) {
    auto it = sources_.find(key);
    if (it != sources_.end()) return &it->second;
    if (sources_.size() >= limits_.maxSources) return nullptr;
    Source& s = sources_[key];
    s.requests = {limits_.sourceBurst, nowMs};
    s.lookups = {limits_.lookupBurst, nowMs};
    return &s;
}

std::string Service::newCode() {
    // Uniform over the alphabet: bytes past the last whole multiple of its size are drawn again.
    const unsigned size = unsigned(kCodeAlphabet.size());
    const unsigned limit = 256 / size * size;
    for (;;) {
        std::string code;
        while (code.size() < size_t(kCodeLength)) {
            uint8_t draw[16];
            random_(draw, sizeof draw);
            for (uint8_t b : draw)
                if (b < limit && code.size() < size_t(kCodeLength)) code.push_back(kCodeAlphabet[b % size]);
        }
        if (!games_.count(code)) return code;
    }
}

TurnOffer Service::offer(std::string_view code, int64_t unixNow) const {
    TurnOffer t;
    if (turn_.server.port == 0) return t;
    const TurnCredentials c = turnCredentials(turn_.secret, unixNow + limits_.credentialSeconds, code);
    t.offered = true;
    t.server = turn_.server;
    t.username = c.username;
    t.password = c.password;
    return t;
}

void Service::drop(std::unordered_map<std::string, Game>::iterator it) {
    auto owner = sources_.find(it->second.owner);
    if (owner != sources_.end() && owner->second.codes > 0) --owner->second.codes;
    games_.erase(it);
}

void Service::sweep(int64_t nowMs) {
    for (auto it = games_.begin(); it != games_.end();) {
        auto next = std::next(it);
        if (it->second.expiresMs <= nowMs) drop(it);
        it = next;
    }
    // A source with full budgets and no code is the same as one never seen.
    std::erase_if(sources_, [&](const auto& entry) {
        const Source& s = entry.second;
        return s.codes == 0 && s.requests.full(limits_.sourceRate, limits_.sourceBurst, nowMs) &&
               s.lookups.full(limits_.lookupRate, limits_.lookupBurst, nowMs);
    });
}

std::vector<Outgoing> Service::take(const Endpoint& from, std::string_view bytes, int64_t nowMs,
                                    int64_t unixNow) {
    std::vector<Outgoing> out;
    Message in;
    const Decoded decoded = decode(bytes, in);
    if (decoded == Decoded::NotOurs) return out;

    Message answer;
    answer.nonce = in.nonce;
    auto error = [&](ErrorCode e) {
        answer.type = Type::Error;
        answer.error = e;
        out.push_back({from, encode(answer)});
    };
    Source* s = source(sourceKey(from), nowMs);
    if (!s) return out;
    // Over its budget an address hears "rate-limited" once a second, then nothing.
    auto refuse = [&]() {
        if (nowMs - s->lastRefusalMs >= 1000) {
            s->lastRefusalMs = nowMs;
            error(ErrorCode::RateLimited);
        }
    };
    if (!s->requests.spend(limits_.sourceRate, limits_.sourceBurst, nowMs)) {
        refuse();
    } else if (!global_.spend(limits_.globalRate, limits_.globalBurst, nowMs)) {
        // The whole service is flooded: silence, which costs the least.
    } else if (decoded == Decoded::BadVersion) {
        error(ErrorCode::BadVersion);
    } else if (decoded == Decoded::Ok && in.type == Type::Register) {
        if (games_.size() >= limits_.maxCodes || s->codes >= limits_.maxCodesPerSource) {
            error(ErrorCode::ServiceFull);
        } else {
            Game g;
            random_(g.key.data(), g.key.size());
            g.host = from;
            g.lan = in.lan;
            g.info = in.game;
            g.owner = sourceKey(from);
            g.expiresMs = nowMs + int64_t(limits_.codeSeconds) * 1000;
            answer.type = Type::Registered;
            answer.code = newCode();
            answer.hostKey = g.key;
            answer.seen = from;
            answer.secondsToLive = uint16_t(limits_.codeSeconds);
            answer.turn = offer(answer.code, unixNow);
            games_.emplace(answer.code, std::move(g));
            ++s->codes;
            out.push_back({from, encode(answer)});
        }
    } else if (decoded == Decoded::Ok && in.type == Type::Lookup) {
        auto it = games_.find(in.code);
        if (it != games_.end() && it->second.expiresMs <= nowMs) {
            drop(it);
            it = games_.end();
        }
        if (!s->lookups.spend(limits_.lookupRate, limits_.lookupBurst, nowMs)) {
            refuse();
        } else if (it == games_.end()) {
            error(ErrorCode::UnknownCode);
        } else if (it->second.info.freePlayers == 0) {
            error(ErrorCode::GameFull);
        } else {
            const Game& g = it->second;
            answer.type = Type::Found;
            answer.peer = g.host;
            answer.lan = g.lan;
            answer.seen = from;
            answer.game = g.info;
            answer.turn = offer(in.code, unixNow);
            out.push_back({from, encode(answer)});
            Message coming;
            coming.type = Type::GuestComing;
            coming.code = in.code;
            coming.peer = from;
            coming.lan = in.lan;
            out.push_back({g.host, encode(coming)});
        }
    } else if (decoded == Decoded::Ok && in.type == Type::Relayed) {
        // A guest that found no other way through: its host is told where its relay is. Counted
        // as a lookup, so that it guesses no faster.
        const auto it = games_.find(in.code);
        if (!s->lookups.spend(limits_.lookupRate, limits_.lookupBurst, nowMs)) {
            refuse();
        } else if (it == games_.end() || it->second.expiresMs <= nowMs) {
            error(ErrorCode::UnknownCode);
        } else {
            std::vector<Endpoint>& guests = it->second.relayedGuests;
            if (std::find(guests.begin(), guests.end(), from) == guests.end()) {
                if (guests.size() >= kMaxRelayedGuests) guests.erase(guests.begin());
                guests.push_back(from);
            }
            answer.type = Type::RelayNoted;
            out.push_back({from, encode(answer)});
            Message relayed;
            relayed.type = Type::GuestRelayed;
            relayed.code = in.code;
            relayed.peer = from;
            relayed.relayed = in.relayed;
            out.push_back({it->second.host, encode(relayed)});
        }
    } else if (decoded == Decoded::Ok &&
               (in.type == Type::Refresh || in.type == Type::End || in.type == Type::HostRelayed)) {
        auto it = games_.find(in.code);
        // The key compared in full whatever its first difference, so timing tells nothing.
        uint8_t differs = 1;
        if (it != games_.end() && it->second.expiresMs > nowMs) {
            differs = 0;
            for (size_t i = 0; i < in.hostKey.size(); ++i) differs |= in.hostKey[i] ^ it->second.key[i];
        }
        if (differs) {
            error(ErrorCode::UnknownCode);
        } else if (in.type == Type::HostRelayed) {
            // Passed on only to a guest that said it is relayed, where it said so from.
            answer.type = Type::RelayNoted;
            out.push_back({from, encode(answer)});
            const std::vector<Endpoint>& guests = it->second.relayedGuests;
            if (std::find(guests.begin(), guests.end(), in.peer) != guests.end()) {
                Message relay;
                relay.type = Type::HostRelay;
                relay.code = in.code;
                relay.relayed = in.relayed;
                out.push_back({in.peer, encode(relay)});
            }
        } else if (in.type == Type::End) {
            drop(it);
            answer.type = Type::Ended;
            out.push_back({from, encode(answer)});
        } else {
            Game& g = it->second;
            g.host = from;   // a home router may have given the host another port since
            g.info.machines = in.game.machines;
            g.info.freePlayers = in.game.freePlayers;
            g.expiresMs = nowMs + int64_t(limits_.codeSeconds) * 1000;
            answer.type = Type::Refreshed;
            answer.secondsToLive = uint16_t(limits_.codeSeconds);
            answer.seen = from;
            answer.turn = offer(in.code, unixNow);
            out.push_back({from, encode(answer)});
        }
    }
    // Never more bytes out than came in: a spoofed request cannot be turned into a larger flood.
    std::erase_if(out, [&](const Outgoing& o) { return o.bytes.size() > bytes.size(); });
    return out;
}

}  // namespace hopshot::meet
