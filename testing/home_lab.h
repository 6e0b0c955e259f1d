// Test support for the home lab (scripts/homelab): two homes behind NAT routers and a public
// network, as network namespaces, made for one test and torn down with it, whatever happens.
// Programs run in a place as real processes; sockets are made inside a place's namespace, so a
// test speaks from a machine in a home without leaving its own process.
//
// The places and their addresses (see the script's head):
//   net  203.0.113.10 (the meeting service, the TURN relay)
//   r1   203.0.113.1 outside, home 1 inside: h1 198.51.100.2, h1b 198.51.100.3
//   r2   203.0.113.2 outside, home 2 inside: h2 198.51.100.130
#pragma once

#include "testing/process_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#ifndef HOPSHOT_HOMELAB
#error "HOPSHOT_HOMELAB must name scripts/homelab"
#endif

namespace hopshot::lab {

namespace fs = std::filesystem;

// Addresses, IPv4 in host byte order.
constexpr uint32_t kPublicServer = 0xCB00710A;   // 203.0.113.10, in net
constexpr uint32_t kRouter1 = 0xCB007101;        // 203.0.113.1, home 1 as the world sees it
constexpr uint32_t kRouter2 = 0xCB007102;        // 203.0.113.2, home 2 as the world sees it
constexpr uint32_t kHome1Broadcast = 0xC633647F; // 198.51.100.127
constexpr uint16_t kMeetPort = 7311;
constexpr uint16_t kTurnPort = 3478;
constexpr uint16_t kRelayFirstPort = 49152, kRelayLastPort = 49159;   // the relay's own ports

inline std::string addressText(uint32_t address) {
    in_addr a{htonl(address)};
    char text[INET_ADDRSTRLEN];
    return inet_ntop(AF_INET, &a, text, sizeof text);
}

// A program's full path from PATH (and the system folders, where a test's PATH may be short);
// empty when there is none.
inline std::string findProgram(const std::string& name) {
    std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    path += ":/usr/sbin:/usr/bin:/sbin:/bin";
    for (size_t start = 0; start <= path.size();) {
        const size_t end = std::min(path.find(':', start), path.size());
        const fs::path candidate = fs::path(path.substr(start, end - start)) / name;
        if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate.string();
        start = end + 1;
    }
    return {};
}

// Runs the lab script with arguments; its exit status, and its output and errors in `output`.
inline int homelab(const std::vector<std::string>& args, std::string* output = nullptr) {
    const fs::path stem = fs::temp_directory_path() / ("hopshot-homelab-" + std::to_string(getpid()));
    std::vector<std::string> all{HOPSHOT_HOMELAB};
    all.insert(all.end(), args.begin(), args.end());
    auto child = proc::start("/bin/bash", all, stem.string());
    if (child->pid < 0 || !child->waitEnd(30000)) return -1;
    if (output) *output = child->out() + child->err();
    fs::remove(child->outPath);
    fs::remove(child->errPath);
    return child->exitCode();
}

// Why no lab can be made here, in one line; empty when one can. Asked once per process.
inline const std::string& whyNoLab() {
    static const std::string why = [] {
        std::string out;
        if (homelab({"check"}, &out) == 0) return std::string();
        while (!out.empty() && out.back() == '\n') out.pop_back();
        const std::string said = "homelab: cannot make the lab: ";
        if (out.rfind(said, 0) == 0) out.erase(0, said.size());
        return out.empty() ? std::string("the lab script did not run") : out;
    }();
    return why;
}

class HomeLab {
public:
    // Makes the lab under a prefix no other test process uses; ok() says whether it stands.
    // Router 2 symmetric with 1, both routers with 2.
    explicit HomeLab(int symmetricRouters) {
        static int made = 0;
        prefix_ = "hlt" + std::to_string(getpid()) + char('a' + made++ % 26);
        clearLabsOfEndedTests();
        dir_ = fs::temp_directory_path() / ("hopshot-lab-" + prefix_);
        fs::create_directories(dir_);
        std::vector<std::string> args{"up", "--prefix", prefix_};
        if (symmetricRouters > 0) args.push_back(symmetricRouters > 1 ? "--both-symmetric" : "--symmetric");
        up_ = homelab(args, &error_) == 0;
    }
    ~HomeLab() {
        for (int fd : sockets_) close(fd);
        programs_.clear();   // each ends its process
        homelab({"down", "--prefix", prefix_});
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    HomeLab(const HomeLab&) = delete;
    HomeLab& operator=(const HomeLab&) = delete;

    bool ok() const { return up_; }
    const std::string& error() const { return error_; }
    const fs::path& dir() const { return dir_; }

    // A program run in a place (net, r1, r2, h1, h1b, h2), its output in the lab's folder; it ends
    // with the lab at the latest.
    proc::Child& run(const std::string& place, const std::string& program,
                     const std::vector<std::string>& args, const std::string& name) {
        std::vector<std::string> all{HOPSHOT_HOMELAB, "run", "--prefix", prefix_, place, program};
        all.insert(all.end(), args.begin(), args.end());
        programs_.push_back(proc::start("/bin/bash", all, (dir_ / name).string()));
        return *programs_.back();
    }

    // A UDP socket made inside a place's namespace and bound to port there (0: any), or -1. The
    // socket stays in that namespace for its life; the lab closes it.
    int udpSocket(const std::string& place, uint16_t port = 0, bool broadcast = false) {
        int fd = -1;
        std::thread maker([&] {
            // Only this short-lived thread moves into the namespace.
            const int ns = open(("/run/netns/" + prefix_ + place).c_str(), O_RDONLY | O_CLOEXEC);
            if (ns < 0) return;
            if (setns(ns, CLONE_NEWNET) == 0) fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            close(ns);
        });
        maker.join();
        if (fd < 0) return -1;
        const int yes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (broadcast) setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &yes, sizeof yes);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            close(fd);
            return -1;
        }
        sockets_.push_back(fd);
        return fd;
    }

    // The meeting service in net on 203.0.113.10:7311 (more options in `args`); null when it did
    // not say it listens within 5 seconds.
    proc::Child* startMeet(const std::string& program, std::vector<std::string> args = {}) {
        args.insert(args.begin(), {"--listen", addressText(kPublicServer) + ":" + std::to_string(kMeetPort)});
        proc::Child& meet = run("net", program, args, "meet");
        const bool listening = proc::waitUntil(
            [&] { return meet.out().find("listening on 203.0.113.10:7311") != std::string::npos; }, 5000);
        return listening ? &meet : nullptr;
    }

    // coturn in net on 203.0.113.10:3478, taking credentials made with `secret` the TURN REST
    // way, relaying from its ports 49152..49159 only, with `more` options; false when it did
    // not answer within 5 seconds. Its log is relayLog().
    bool startRelay(const std::string& secret, const std::vector<std::string>& more = {}) {
        const std::string turnserver = findProgram("turnserver");
        if (turnserver.empty()) return false;
        const std::string ip = addressText(kPublicServer);
        std::vector<std::string> args{"-n", "--listening-ip=" + ip, "--relay-ip=" + ip, "--listening-port=" + std::to_string(kTurnPort),
             "--use-auth-secret", "--static-auth-secret=" + secret, "--realm=hopshot-lab",
             "--no-tls", "--no-dtls", "--no-cli", "--no-tcp",
             "--min-port=" + std::to_string(kRelayFirstPort), "--max-port=" + std::to_string(kRelayLastPort),
             "--log-file=" + (dir_ / "turn.log").string(), "--simple-log",
             "--pidfile=" + (dir_ / "turn.pid").string(), "--db=" + (dir_ / "turndb").string()};
        args.insert(args.end(), more.begin(), more.end());
        run("net", turnserver, args, "turnserver");
        return answersStun();
    }
    std::string relayLog() const { return proc::slurp((dir_ / "turn.log").string()); }

private:
    // A STUN binding request to the relay from inside net, until one is answered.
    bool answersStun() {
        const int fd = udpSocket("net");
        if (fd < 0) return false;
        // Binding request: type 1, no attributes, the magic cookie, a transaction ID.
        const std::array<uint8_t, 20> binding = {0, 1, 0, 0, 0x21, 0x12, 0xA4, 0x42, 'h', 'o', 'm', 'e', 'l', 'a', 'b', 't', 'e', 's', 't', '1'};
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(kPublicServer);
        to.sin_port = htons(kTurnPort);
        for (int tries = 0; tries < 25; ++tries) {
            sendto(fd, binding.data(), binding.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 200) == 1) return true;
        }
        return false;
    }

    // A test killed outright (a time limit) leaves its lab behind: remove the labs of test
    // processes that are gone.
    static void clearLabsOfEndedTests() {
        const std::regex name("(hlt([0-9]+)[a-z])net");
        std::error_code error;
        for (const auto& entry : fs::directory_iterator("/run/netns", error)) {
            std::smatch m;
            const std::string file = entry.path().filename().string();
            if (std::regex_match(file, m, name) && kill(pid_t(std::stol(m[2])), 0) != 0 && errno == ESRCH)
                homelab({"down", "--prefix", m[1]});
        }
    }

    std::string prefix_, error_;
    fs::path dir_;
    bool up_ = false;
    std::vector<std::unique_ptr<proc::Child>> programs_;
    std::vector<int> sockets_;
};

}  // namespace hopshot::lab
