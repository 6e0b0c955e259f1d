// For network tests: a UDP relay on the loopback interface that stands between one guest and its
// host and makes the link bad on purpose: it loses a share of the datagrams each way and holds
// each of the others for a random time, so that they also arrive out of order. It stops by itself
// after its lifetime.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <queue>
#include <random>
#include <thread>
#include <vector>

namespace hopshot::proc {

class LossyRelay {
public:
    // Guests send to 127.0.0.1:listenPort; the relay passes their datagrams on to
    // 127.0.0.1:hostPort and the host's answers back.
    LossyRelay(uint16_t listenPort, uint16_t hostPort, double loss, int minDelayMs, int maxDelayMs,
               int lifetimeMs, unsigned seed = 1)
        : loss_(loss), minDelay_(minDelayMs), maxDelay_(maxDelayMs), rng_(seed) {
        guestSide_ = socket(AF_INET, SOCK_DGRAM, 0);
        hostSide_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a = loopback(listenPort);
        ok_ = guestSide_ >= 0 && hostSide_ >= 0 &&
              bind(guestSide_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        host_ = loopback(hostPort);
        if (ok_) thread_ = std::thread([this, lifetimeMs] { run(lifetimeMs); });
    }
    ~LossyRelay() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (guestSide_ >= 0) close(guestSide_);
        if (hostSide_ >= 0) close(hostSide_);
    }
    bool ok() const { return ok_; }
    long lost() const { return lost_; }
    long passed() const { return passed_; }

private:
    using Clock = std::chrono::steady_clock;
    struct Held {
        Clock::time_point due;
        bool toHost;
        std::vector<char> bytes;
        bool operator>(const Held& o) const { return due > o.due; }
    };

    static sockaddr_in loopback(uint16_t port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return a;
    }

    void take(int fd, bool toHost) {
        char buf[65536];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n = recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0) return;
        if (toHost) {
            guest_ = from;
            haveGuest_ = true;
        }
        if (std::uniform_real_distribution<double>(0, 1)(rng_) < loss_) {
            ++lost_;
            return;
        }
        const int delay = std::uniform_int_distribution<int>(minDelay_, maxDelay_)(rng_);
        held_.push({Clock::now() + std::chrono::milliseconds(delay), toHost,
                    std::vector<char>(buf, buf + n)});
    }

    void run(int lifetimeMs) {
        const Clock::time_point end = Clock::now() + std::chrono::milliseconds(lifetimeMs);
        while (!stop_ && Clock::now() < end) {
            pollfd fds[2] = {{guestSide_, POLLIN, 0}, {hostSide_, POLLIN, 0}};
            poll(fds, 2, 1);
            if (fds[0].revents & POLLIN) take(guestSide_, true);
            if (fds[1].revents & POLLIN) take(hostSide_, false);
            while (!held_.empty() && held_.top().due <= Clock::now()) {
                const Held& h = held_.top();
                if (h.toHost)
                    sendto(hostSide_, h.bytes.data(), h.bytes.size(), 0,
                           reinterpret_cast<const sockaddr*>(&host_), sizeof host_);
                else if (haveGuest_)
                    sendto(guestSide_, h.bytes.data(), h.bytes.size(), 0,
                           reinterpret_cast<const sockaddr*>(&guest_), sizeof guest_);
                ++passed_;
                held_.pop();
            }
        }
    }

    double loss_;
    int minDelay_, maxDelay_;
    std::mt19937 rng_;
    int guestSide_ = -1, hostSide_ = -1;
    sockaddr_in host_{}, guest_{};
    bool haveGuest_ = false;
    bool ok_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<long> lost_{0}, passed_{0};
    std::priority_queue<Held, std::vector<Held>, std::greater<Held>> held_;
    std::thread thread_;
};

}  // namespace hopshot::proc
