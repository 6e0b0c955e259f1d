// Joining and hosting by invite code when the meeting goes wrong, with real processes of the
// program on loopback: a wrong code, an expired one, a service that is down, and a hostile one
// each end in one clear sentence within seconds.
#include "meet/protocol.h"
#include "testing/headless_test_support.h"
#include "testing/process_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace hopshot {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// Below the other network tests' ports, so that tests side by side never share one.
uint16_t testPort(int slot) { return uint16_t(12000 + (getpid() % 1000) * 8 + slot); }

sockaddr_in loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

int boundSocket(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = loopback(port);
    if (fd >= 0 && bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// A meeting service that lies: it answers every request as `answer` makes it, until stopped.
class HostileService {
public:
    using Answer = std::function<std::vector<std::string>(const meet::Message& request)>;
    HostileService(uint16_t port, Answer answer) : fd_(boundSocket(port)), answer_(std::move(answer)) {
        if (fd_ >= 0) thread_ = std::thread([this] { serve(); });
    }
    ~HostileService() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) close(fd_);
    }
    bool ok() const { return fd_ >= 0; }

private:
    void serve() {
        for (int spent = 0; !stop_ && spent < 20000; spent += 20) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 20) != 1) continue;
            char buffer[meet::kMaxDatagram];
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t got = recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
            meet::Message m;
            if (got <= 0 || meet::decode(std::string_view(buffer, size_t(got)), m) != meet::Decoded::Ok) continue;
            for (const std::string& bytes : answer_(m))
                sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&from), length);
        }
    }
    int fd_;
    Answer answer_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct Outcome {
    int code = -1;
    std::string out, err;
    long ms = 0;
};

Outcome runMachine(const std::vector<std::string>& role) {
    TempDir dir;
    std::ofstream(dir.path() / "script") << "players 0 1 0 0\ngame\n";
    std::vector<std::string> args{"--headless", (dir.path() / "script").string(), "--dir", dir.path().string(),
                                  "--steps", "100"};
    args.insert(args.end(), role.begin(), role.end());
    const auto start = std::chrono::steady_clock::now();
    auto child = proc::start(HOPSHOT_BINARY, args, (dir.path() / "run").string());
    Outcome o;
    if (!child->waitEnd(15000)) return o;   // a hang
    o.ms = long(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
    o.code = child->exitCode();
    o.out = child->out();
    o.err = child->err();
    return o;
}

std::string meetAt(uint16_t port) { return "127.0.0.1:" + std::to_string(port); }

// A code registered by hand at the service on `port` (from a socket of the test's own).
std::string registerCode(uint16_t port) {
    const int fd = boundSocket(0);
    meet::Message r;
    r.type = meet::Type::Register;
    r.nonce = 7;
    r.game = {"by hand", 1, 14};
    const std::string bytes = meet::encode(r);
    const sockaddr_in to = loopback(port);
    sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    pollfd p{fd, POLLIN, 0};
    char buffer[meet::kMaxDatagram];
    meet::Message a;
    if (poll(&p, 1, 2000) == 1) {
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        meet::decode(std::string_view(buffer, size_t(std::max<ssize_t>(got, 0))), a);
    }
    close(fd);
    return a.code;
}

TEST(JoinByCode, AMeetingThatGoesWrongEndsInOneClearSentence) {
    const uint16_t meetPort = testPort(0), hostilePort = testPort(1), nobody = testPort(2);
    TempDir dir;
    auto meetProcess = proc::start(HOPSHOT_MEET_BINARY, {"--listen", meetAt(meetPort), "--code-seconds", "1"},
                                   (dir.path() / "meet").string());
    ASSERT_TRUE(proc::waitUntil([&] { return meetProcess->out().find("listening") != std::string::npos; }, 5000))
        << meetProcess->err();
    const std::string expired = registerCode(meetPort);
    ASSERT_TRUE(meet::validCode(expired));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));

    // Absurd addresses to punch toward, then a flood of answers to no request of the guest's.
    HostileService hostile(hostilePort, [](const meet::Message& request) {
        std::vector<std::string> out;
        meet::Message m;
        m.nonce = request.nonce;
        if (request.type == meet::Type::Lookup && request.code == "ABSRD222") {
            m.type = meet::Type::Found;
            m.peer = {0xFFFFFFFF, 9};
            m.seen = {0xE0000001, 1};
            m.game = {"liar", 4, 15};
            out.push_back(meet::encode(m));
        } else if (request.type == meet::Type::Lookup) {
            m.type = meet::Type::Error;
            for (uint32_t n = 1; n <= 300; ++n) {
                m.nonce = request.nonce + n;
                m.error = meet::ErrorCode::UnknownCode;
                out.push_back(meet::encode(m));
            }
        } else {
            m.type = meet::Type::Error;
            m.error = meet::ErrorCode::RateLimited;
            out.push_back(meet::encode(m));
        }
        return out;
    });
    ASSERT_TRUE(hostile.ok());

    const struct Row {
        const char* what;
        std::vector<std::string> role;
        std::string says;
        long withinMs;
    } rows[] = {
        {"a wrong code", {"--join", "wxyz-2345", "--meet", meetAt(meetPort)}, "This code is unknown or has expired.", 3000},
        {"an expired code", {"--join", expired, "--meet", meetAt(meetPort)}, "This code is unknown or has expired.", 3000},
        {"a service that is down", {"--join", "ABCDEFGH", "--meet", meetAt(nobody)},
         "The meeting service at " + meetAt(nobody) + " does not answer.", 7000},
        {"a host whose service is down", {"--host", std::to_string(testPort(3)), "--meet", meetAt(nobody)},
         "does not answer.", 7000},
        {"absurd addresses", {"--join", "ABSRD222", "--meet", meetAt(hostilePort)}, "No way through to the host", 7000},
        {"a flood of answers to nothing", {"--join", "MANYMANY", "--meet", meetAt(hostilePort)}, "does not answer.", 7000},
        {"a host refused by a hostile service", {"--host", std::to_string(testPort(4)), "--meet", meetAt(hostilePort)},
         "refusing requests this fast", 7000},
    };
    for (const Row& r : rows) {
        const Outcome o = runMachine(r.role);
        ASSERT_NE(o.code, -1) << r.what << ": still running";
        EXPECT_EQ(o.code, 3) << r.what << ": " << o.err;
        EXPECT_NE(o.err.find(r.says), std::string::npos) << r.what << ": " << o.err;
        EXPECT_EQ(o.err.find("hopshot: "), o.err.rfind("hopshot: ")) << r.what << ": one sentence, not " << o.err;
        EXPECT_LE(o.ms, r.withinMs) << r.what;
        EXPECT_EQ(o.out.find("path:"), std::string::npos) << r.what;
    }
}

// The build's meeting service (HOPSHOT_DEFAULT_MEET, empty unless a packager sets one) stands in
// for --meet: with none, joining and hosting say at once which option gives a code; with one,
// both go to it.
TEST(JoinByCode, TheBuildsMeetingServiceOrTheOptionToGive) {
    const bool none = std::string_view(HOPSHOT_DEFAULT_MEET).empty();
    const std::vector<std::string> roles[] = {{"--join", "ABCDEFGH"}, {"--host", std::to_string(testPort(5))}};
    for (const auto& role : roles) {
        TempDir dir;
        std::ofstream(dir.path() / "script") << "game\n";
        std::vector<std::string> args{"--headless", (dir.path() / "script").string(), "--dir", dir.path().string()};
        args.insert(args.end(), role.begin(), role.end());
        auto child = proc::start(HOPSHOT_BINARY, args, (dir.path() / "run").string());
        // The host goes on by address; a guest ends.
        const bool said = proc::waitUntil([&] {
            return child->err().find("--meet") != std::string::npos || child->err().find("meeting service") != std::string::npos ||
                   child->out().find("invite code: ") != std::string::npos || child->ended();
        }, none ? 3000 : 7000);
        EXPECT_TRUE(said) << role[0] << ": " << child->err();
        EXPECT_EQ(child->err().find("give --meet HOST[:PORT]") != std::string::npos, none) << role[0] << ": " << child->err();
        child->killNow();
    }
}

}  // namespace
}  // namespace hopshot
