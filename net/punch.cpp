#include "net/punch.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <random>

namespace hopshot::net {
namespace {

constexpr std::array<uint8_t, 4> kPunchMagic = {0x3F, 0xFF, 'h', 'p'};
constexpr uint8_t kRound = 1, kAnswer = 2;
constexpr size_t kMaxEndpoints = 8;

void put64(std::string& out, uint64_t v) {
    for (int shift = 56; shift >= 0; shift -= 8) out.push_back(char(uint8_t(v >> shift)));
}

uint64_t get64(std::string_view in, size_t at) {
    uint64_t v = 0;
    for (size_t i = 0; i < 8; ++i) v = v << 8 | uint8_t(in[at + i]);
    return v;
}

uint64_t drawNonce() {
    std::random_device device;
    std::uniform_int_distribution<uint64_t> any(1, UINT64_MAX);
    return any(device);
}

int64_t steadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

bool isPunchDatagram(std::string_view bytes) {
    return bytes.size() >= kPunchMagic.size() &&
           std::equal(kPunchMagic.begin(), kPunchMagic.end(), bytes.begin(),
                      [](uint8_t a, char b) { return a == uint8_t(b); });
}

Puncher::Puncher(std::vector<PunchEndpoint> theirs, Send send, PunchLimits limits, uint64_t nonce)
    : send_(std::move(send)), limits_(limits), mine_(nonce != 0 ? nonce : drawNonce()) {
    for (const PunchEndpoint& e : theirs)
        if (e.address != 0 && e.port != 0 && !isTheirs(e) && theirs_.size() < kMaxEndpoints)
            theirs_.push_back(e);
    if (theirs_.empty()) state_ = PunchState::GaveUp;
}

bool Puncher::isTheirs(const PunchEndpoint& e) const {
    return std::find(theirs_.begin(), theirs_.end(), e) != theirs_.end();
}

void Puncher::sendProbe(const PunchEndpoint& to, uint8_t kind) {
    std::string bytes(kPunchMagic.begin(), kPunchMagic.end());
    bytes.push_back(char(kPunchVersion));
    bytes.push_back(char(kind));
    put64(bytes, mine_);
    put64(bytes, heard_);
    ++sent_;
    send_(to, bytes);
}

void Puncher::tick(int64_t nowMs) {
    if (state_ != PunchState::Trying || (nextRoundMs_ >= 0 && nowMs < nextRoundMs_)) return;
    // Every round has had its interval to be answered.
    if (rounds_ >= limits_.rounds) {
        state_ = PunchState::GaveUp;
        return;
    }
    for (const PunchEndpoint& e : theirs_) sendProbe(e, kRound);
    ++rounds_;
    nextRoundMs_ = nowMs + limits_.intervalMs;
}

int Puncher::msUntilDue(int64_t nowMs) const {
    if (state_ != PunchState::Trying || nextRoundMs_ < 0) return 0;
    return int(std::clamp<int64_t>(nextRoundMs_ - nowMs, 0, limits_.intervalMs));
}

bool Puncher::receive(const PunchEndpoint& from, std::string_view bytes) {
    if (!isPunchDatagram(bytes)) return false;
    lastWasRound_ = false;
    // Given up is final: a late answer no longer counts, and the other side is not led on.
    if (state_ == PunchState::GaveUp) return true;
    const bool wellFormed = bytes.size() == kPunchProbeSize && uint8_t(bytes[4]) == kPunchVersion &&
                            (uint8_t(bytes[5]) == kRound || uint8_t(bytes[5]) == kAnswer);
    const uint64_t theirNonce = wellFormed ? get64(bytes, 6) : 0;
    const uint64_t echoed = wellFormed ? get64(bytes, 14) : 0;
    const bool known = isTheirs(from) || (state_ == PunchState::Through && from == through_);
    // Only the other side knows this attempt's nonce; from anywhere else, only a probe that
    // proves it heard ours may speak.
    if (theirNonce == 0 || (!known && echoed != mine_)) {
        ++ignored_;
        return true;
    }
    heard_ = theirNonce;
    if (echoed == mine_ && state_ == PunchState::Trying) {
        state_ = PunchState::Through;
        through_ = from;
    }
    lastWasRound_ = uint8_t(bytes[5]) == kRound;
    if (lastWasRound_ && answers_ < limits_.maxAnswers) {
        ++answers_;
        sendProbe(from, kAnswer);
    }
    return true;
}

PunchResult punchOnSocket(int fd, const std::vector<PunchEndpoint>& theirs, PunchLimits limits) {
    auto send = [fd](const PunchEndpoint& to, std::string_view bytes) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(to.address);
        a.sin_port = htons(to.port);
        sendto(fd, bytes.data(), bytes.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&a), sizeof a);
    };
    Puncher puncher(theirs, send, limits);
    PunchResult result;
    const int64_t start = steadyMs();
    // However the other side behaves, this ends: the rounds, then at most the linger.
    const int64_t hardEnd = start + int64_t(limits.rounds + 1) * limits.intervalMs + limits.lingerMs;
    int64_t quietUntil = -1;   // once through: when the other side counts as carried across
    for (int64_t now = start; now < hardEnd; now = steadyMs()) {
        puncher.tick(now);
        if (puncher.state() == PunchState::GaveUp) break;
        if (puncher.state() == PunchState::Through) {
            if (quietUntil < 0) quietUntil = now + limits.lingerMs;
            if (now >= quietUntil) break;
        }
        const int64_t wake = puncher.state() == PunchState::Through ? quietUntil
                                                                     : now + puncher.msUntilDue(now);
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, int(std::clamp<int64_t>(std::min(wake, hardEnd) - now, 0, 1000))) != 1) continue;
        char buffer[512];
        sockaddr_in a{};
        socklen_t length = sizeof a;
        const ssize_t got = recvfrom(fd, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&a), &length);
        if (got < 0) continue;
        const PunchEndpoint from{ntohl(a.sin_addr.s_addr), ntohs(a.sin_port)};
        if (!puncher.receive(from, std::string_view(buffer, size_t(got)))) {
            ++result.strangers;
            continue;
        }
        // A round's probe from the other side: it is still trying, so stay to answer it.
        if (puncher.state() == PunchState::Through && puncher.lastWasRound()) quietUntil = steadyMs() + limits.lingerMs;
    }
    result.state = puncher.state() == PunchState::Through ? PunchState::Through : PunchState::GaveUp;
    result.through = puncher.through();
    result.probesSent = puncher.probesSent();
    result.elapsedMs = int(steadyMs() - start);
    result.strangers += puncher.ignored();
    return result;
}

}  // namespace hopshot::net
