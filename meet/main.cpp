// hopshot-meet: the meeting service's program. One UDP socket, one thread, one poll loop;
// SIGTERM or SIGINT end it cleanly.
#include "meet/options.h"
#include "meet/service.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

using namespace hopshot::meet;

namespace {

volatile sig_atomic_t stopping = 0;
void onStop(int) { stopping = 1; }

int64_t monotonicMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

sockaddr_in socketAddress(const Endpoint& e) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(e.address);
    a.sin_port = htons(e.port);
    return a;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    std::string why;
    if (!parseOptions(std::vector<std::string>(argv + 1, argv + argc), o, why)) {
        std::fprintf(stderr, "hopshot-meet: %s\n", why.c_str());
        return 2;
    }
    if (o.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (o.version) {
        std::puts("hopshot-meet " HOPSHOT_VERSION);
        return 0;
    }
    TurnServer turn;
    if (o.turn) {
        turn.server = *o.turn;
        if (!readSecretFile(o.turnSecretFile, turn.secret, why)) {
            std::fprintf(stderr, "hopshot-meet: %s\n", why.c_str());
            return 1;
        }
    }

    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in here = socketAddress(o.listen);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&here), sizeof here) != 0) {
        std::fprintf(stderr, "hopshot-meet: cannot listen on %s: %s\n", toString(o.listen).c_str(),
                     std::strerror(errno));
        return 1;
    }
    socklen_t hereLength = sizeof here;
    getsockname(fd, reinterpret_cast<sockaddr*>(&here), &hereLength);

    // The stop signals are blocked except inside ppoll, so none is lost between the check and
    // the wait.
    sigset_t stops, waiting;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigprocmask(SIG_BLOCK, &stops, &waiting);
    struct sigaction action {};
    action.sa_handler = onStop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Service service(o.limits, turn);
    const Endpoint bound{ntohl(here.sin_addr.s_addr), ntohs(here.sin_port)};
    std::printf("hopshot-meet: listening on %s, %s\n", toString(bound).c_str(),
                o.turn ? ("relay " + toString(*o.turn)).c_str() : "no relay");
    std::fflush(stdout);

    long taken = 0, sent = 0;
    int64_t lastSweepMs = monotonicMs();
    while (!stopping) {
        pollfd p{fd, POLLIN, 0};
        const timespec tick{1, 0};   // a second at most between sweeps of expired codes
        ppoll(&p, 1, &tick, &waiting);
        // A bounded batch per wake-up, so the sweep and the stop signal are never starved.
        for (int i = 0; i < 256 && !stopping; ++i) {
            char buffer[kMaxDatagram + 1];
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t got = recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from),
                                         &fromLength);
            if (got < 0) break;
            ++taken;
            const Endpoint source{ntohl(from.sin_addr.s_addr), ntohs(from.sin_port)};
            const int64_t now = monotonicMs();
            for (const Outgoing& out : service.take(source, std::string_view(buffer, size_t(got)), now,
                                                    int64_t(std::time(nullptr)))) {
                const sockaddr_in to = socketAddress(out.to);
                if (sendto(fd, out.bytes.data(), out.bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                           sizeof to) >= 0)
                    ++sent;
            }
        }
        const int64_t now = monotonicMs();
        if (now - lastSweepMs >= 1000) {
            service.sweep(now);
            lastSweepMs = now;
        }
    }
    close(fd);
    std::printf("hopshot-meet: stopped after %ld datagrams in, %ld out; %zu codes were live\n", taken, sent,
                service.liveCodes());
    return 0;
}
