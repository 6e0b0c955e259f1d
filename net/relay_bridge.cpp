#include "net/relay_bridge.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace hopshot {

namespace {

sockaddr_in loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

}  // namespace

RelayBridge::RelayBridge(turn::Client& relay, uint16_t enetPort) : relay_(relay), enetPort_(enetPort) {
    relay_.setReceiver([this](const turn::Address& peer, std::string_view payload) { arrive(peer, payload); });
}

RelayBridge::~RelayBridge() {
    relay_.setReceiver(nullptr);
    for (const StandIn& s : standIns_) ::close(s.socket);
}

uint16_t RelayBridge::add(const turn::Address& peer, std::string& error) {
    for (const StandIn& s : standIns_)
        if (s.peer == peer) return s.port;
    if (standIns_.size() >= size_t(turn::kMaxPeers) || !relay_.addPeer(peer)) {
        error = "One relayed address serves at most " + std::to_string(turn::kMaxPeers) + " machines at once.";
        return 0;
    }
    StandIn s;
    s.peer = peer;
    s.socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    socklen_t length = sizeof a;
    if (s.socket < 0 || ::bind(s.socket, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(s.socket, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
        error = std::string("No local socket for a relayed machine: ") + std::strerror(errno) + ".";
        if (s.socket >= 0) ::close(s.socket);
        return 0;
    }
    s.port = ntohs(a.sin_port);
    standIns_.push_back(s);
    return s.port;
}

void RelayBridge::remove(const turn::Address& peer) {
    for (auto it = standIns_.begin(); it != standIns_.end(); ++it) {
        if (!(it->peer == peer)) continue;
        ::close(it->socket);
        standIns_.erase(it);
        relay_.removePeer(peer);
        return;
    }
}

void RelayBridge::service(int64_t nowMs) {
    char buf[turn::kMaxPayloadBytes + 1];
    for (const StandIn& s : standIns_) {
        for (int i = 0; i < kReadsPerStandIn; ++i) {
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t n = ::recvfrom(s.socket, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &length);
            if (n < 0) break;
            const bool ours = from.sin_family == AF_INET && ntohl(from.sin_addr.s_addr) == INADDR_LOOPBACK &&
                              ntohs(from.sin_port) == enetPort_;
            // A datagram that filled the buffer was larger than any the relay carries.
            if (!ours || size_t(n) > turn::kMaxPayloadBytes || !relay_.send(s.peer, std::string_view(buf, size_t(n)))) {
                ++dropped_;
                continue;
            }
            ++carried_;
        }
    }
    relay_.service(nowMs);
}

void RelayBridge::arrive(const turn::Address& peer, std::string_view payload) {
    for (const StandIn& s : standIns_) {
        if (!(s.peer == peer)) continue;
        sockaddr_in to = loopback(enetPort_);
        if (::sendto(s.socket, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) >= 0)
            ++carried_;
        else
            ++dropped_;
        return;
    }
}

}  // namespace hopshot
