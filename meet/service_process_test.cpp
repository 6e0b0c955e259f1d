// The program hopshot-meet as players' games meet it: a real process on loopback, real UDP
// sockets for host and guest.
#include "meet/protocol.h"
#include "testing/process_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>

namespace hopshot::meet {
namespace {

namespace fs = std::filesystem;
constexpr uint32_t kLoopback = 0x7F000001;

fs::path scratch(const std::string& name) {
    const fs::path dir = fs::temp_directory_path() / ("hopshot-meet-test-" + std::to_string(getpid()));
    fs::create_directories(dir);
    return dir / name;
}

fs::path secretFile(const std::string& text, fs::perms perms = fs::perms::owner_read | fs::perms::owner_write) {
    const fs::path p = scratch("secret-" + std::to_string(text.size()) + "-" + std::to_string(int(perms)));
    std::FILE* f = std::fopen(p.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    fs::permissions(p, perms);
    return p;
}

// A real UDP socket on 127.0.0.1, as a game's would be.
struct Client {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    Endpoint self;
    Client() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(kLoopback);
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t n = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
        self = {kLoopback, ntohs(a.sin_port)};
    }
    ~Client() { close(fd); }
    void send(uint16_t port, const std::string& bytes) const {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(kLoopback);
        a.sin_port = htons(port);
        sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    // The next datagram within timeoutMs, decoded; type Ended with nonce 0 when none came.
    Message receive(int timeoutMs = 3000) const {
        pollfd p{fd, POLLIN, 0};
        Message m;
        m.type = Type::Ended;   // stands for "no answer came back"
        if (poll(&p, 1, timeoutMs) != 1) return m;
        char buffer[kMaxDatagram];
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        EXPECT_NE(decode(std::string_view(buffer, size_t(std::max<ssize_t>(got, 0))), m), Decoded::NotOurs);
        return m;
    }
    Message ask(uint16_t port, Message request) const {
        request.nonce = 0x5EED0000u + uint32_t(self.port);
        send(port, encode(request));
        const Message answer = receive();
        EXPECT_EQ(answer.nonce, request.nonce);
        return answer;
    }
};

struct Meet {
    std::unique_ptr<proc::Child> child;
    uint16_t port = 0;
    explicit Meet(std::vector<std::string> args) {
        args.insert(args.begin(), {"--listen", "127.0.0.1:0"});
        static int started = 0;
        child = proc::start(HOPSHOT_MEET_BINARY, args, scratch("meet-" + std::to_string(++started)).string());
        const std::regex listening("listening on 127\\.0\\.0\\.1:([0-9]+)");
        std::smatch m;
        proc::waitUntil([&] { const std::string out = child->out(); return std::regex_search(out, m, listening); }, 5000);
        const std::string out = child->out();
        if (std::regex_search(out, m, listening)) port = uint16_t(std::stoi(m[1]));
    }
};

Message registerRequest() {
    Message m;
    m.type = Type::Register;
    m.lan = {{0xC0A80114, 7310}};
    m.game = {"alice", 1, 14};
    return m;
}

Message codeRequest(Type t, const std::string& code, const HostKey& key = {}) {
    Message m;
    m.type = t;
    m.code = code;
    m.hostKey = key;
    m.game = {"", 1, 14};
    m.lan = {{0xC0A80107, 7310}};
    return m;
}

std::string opensslHmacBase64(const std::string& secret, const std::string& text) {
    const std::string command = "printf %s '" + text + "' | openssl dgst -sha1 -hmac '" + secret + "' -binary | base64";
    std::FILE* p = popen(command.c_str(), "r");
    std::string out;
    char buffer[256];
    while (p && std::fgets(buffer, sizeof buffer, p)) out += buffer;
    if (p) pclose(p);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

TEST(MeetProgram, HostRegistersGuestLooksUpBothLearnTheOther) {
    const std::string secret = "north-wind-4471";
    Meet meet({"--turn", "198.51.100.1:3478", "--turn-secret-file", secretFile(secret + "\n").string()});
    ASSERT_NE(meet.port, 0) << meet.child->err();
    Client host, guest;
    const Message r = host.ask(meet.port, registerRequest());
    ASSERT_EQ(r.type, Type::Registered);
    EXPECT_EQ(r.seen, host.self);
    EXPECT_EQ(r.secondsToLive, 30);
    ASSERT_TRUE(r.turn.offered);
    EXPECT_EQ(r.turn.server, (Endpoint{0xC6336401, 3478}));
    // coturn's check of the credentials, made independently.
    const std::regex user("([0-9]{10}):([A-Z0-9]{8})");
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(r.turn.username, parts, user)) << r.turn.username;
    EXPECT_EQ(parts[2], r.code);
    EXPECT_NEAR(double(std::stoll(parts[1])), double(std::time(nullptr) + 600), 30);
    EXPECT_EQ(r.turn.password, opensslHmacBase64(secret, r.turn.username));

    std::string typed = r.code;
    for (char& c : typed) c = char(std::tolower(uint8_t(c)));
    const Message found = guest.ask(meet.port, codeRequest(Type::Lookup, parseCode(typed).value_or("")));
    ASSERT_EQ(found.type, Type::Found);
    EXPECT_EQ(found.peer, host.self);
    EXPECT_EQ(found.lan, registerRequest().lan);
    EXPECT_EQ(found.seen, guest.self);
    EXPECT_EQ(found.turn.password, opensslHmacBase64(secret, found.turn.username));
    const Message coming = host.receive();
    ASSERT_EQ(coming.type, Type::GuestComing);
    EXPECT_EQ(coming.code, r.code);
    EXPECT_EQ(coming.peer, guest.self);
    EXPECT_EQ(coming.lan, codeRequest(Type::Lookup, "").lan);

    EXPECT_EQ(host.ask(meet.port, codeRequest(Type::End, r.code, r.hostKey)).type, Type::Ended);
    EXPECT_EQ(guest.ask(meet.port, codeRequest(Type::Lookup, r.code)).error, ErrorCode::UnknownCode);
    kill(meet.child->pid, SIGTERM);
    ASSERT_TRUE(meet.child->waitEnd(5000));
    EXPECT_EQ(meet.child->exitCode(), 0);
    EXPECT_NE(meet.child->out().find("stopped after"), std::string::npos);
}

TEST(MeetProgram, ClearAnswersToUnknownExpiredAndOtherVersions) {
    Meet meet({"--code-seconds", "1"});
    ASSERT_NE(meet.port, 0) << meet.child->err();
    Client host, guest;
    const Message r = host.ask(meet.port, registerRequest());
    ASSERT_EQ(r.type, Type::Registered);
    EXPECT_FALSE(r.turn.offered);
    EXPECT_EQ(guest.ask(meet.port, codeRequest(Type::Lookup, "22222222")).error, ErrorCode::UnknownCode);
    Message other = codeRequest(Type::Lookup, r.code);
    other.version = kVersion + 1;
    const Message refused = guest.ask(meet.port, other);
    EXPECT_EQ(refused.error, ErrorCode::BadVersion);
    EXPECT_EQ(refused.version, kVersion);
    // Refreshed, the code outlives its second; left, it dies.
    for (int i = 0; i < 4; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        EXPECT_EQ(host.ask(meet.port, codeRequest(Type::Refresh, r.code, r.hostKey)).type, Type::Refreshed);
    }
    EXPECT_EQ(guest.ask(meet.port, codeRequest(Type::Lookup, r.code)).type, Type::Found);
    EXPECT_EQ(host.receive().type, Type::GuestComing);
    std::this_thread::sleep_for(std::chrono::milliseconds(2200));
    EXPECT_EQ(guest.ask(meet.port, codeRequest(Type::Lookup, r.code)).error, ErrorCode::UnknownCode);
}

TEST(MeetProgram, AFloodFromOneAddressIsCutOffWhileAnotherIsServed) {
    Meet meet({});
    ASSERT_NE(meet.port, 0) << meet.child->err();
    Client flood, player;
    const std::string guess = encode(codeRequest(Type::Lookup, "22222222"));
    for (int i = 0; i < 300; ++i) flood.send(meet.port, guess);
    int answers = 0, refusals = 0;
    for (Message m = flood.receive(1000); m.type != Type::Ended; m = flood.receive(300)) {
        ++answers;
        refusals += m.error == ErrorCode::RateLimited;
    }
    EXPECT_GE(refusals, 1);
    EXPECT_LT(answers, 30);   // a burst of six lookups, a few refilled on a slow machine
    EXPECT_EQ(player.ask(meet.port, registerRequest()).type, Type::Registered);
}

TEST(MeetProgram, WhatIsNotAWellFormedRequestHearsNothing) {
    Meet meet({});
    ASSERT_NE(meet.port, 0) << meet.child->err();
    Message registered = registerRequest();
    registered.type = Type::Registered;
    std::string badCode = encode(codeRequest(Type::Lookup, "22222222"));
    badCode[10] = '0';
    const std::string hostile[] = {
        "", std::string(9, '\x3F'), std::string(2000, '\0'), encode(registered), badCode,
        encode(registerRequest()).substr(0, kMinRequest - 1), std::string("\x0F\xFF\x82\xFF", 4) + std::string(40, 'x'),
    };
    Client hostileClient, player;
    for (const std::string& bytes : hostile) {
        hostileClient.send(meet.port, bytes);
        EXPECT_EQ(hostileClient.receive(300).type, Type::Ended) << bytes.size();
    }
    EXPECT_EQ(player.ask(meet.port, registerRequest()).type, Type::Registered);
}

TEST(MeetProgram, RefusesToStartWithoutAUsableSecret) {
    const struct { const char* what; std::vector<std::string> args; const char* says; } cases[] = {
        {"no secret file", {"--turn", "198.51.100.1"}, "needs --turn-secret-file"},
        {"missing file", {"--turn", "198.51.100.1", "--turn-secret-file", scratch("none").string()}, "cannot read"},
        {"empty", {"--turn", "198.51.100.1", "--turn-secret-file", secretFile("\n").string()}, "one line"},
        {"readable by all", {"--turn", "198.51.100.1", "--turn-secret-file",
                             secretFile("s", fs::perms::owner_read | fs::perms::others_read).string()}, "chmod 600"},
        {"a relay on loopback", {"--turn", "127.0.0.1"}, "--turn wants"},
        {"code seconds 0", {"--code-seconds", "0"}, "out of range"},
        {"credentials of 9 seconds", {"--credential-seconds", "9"}, "out of range"},
        {"unknown option", {"--port", "1"}, "unknown option"},
    };
    for (const auto& c : cases) {
        auto child = proc::start(HOPSHOT_MEET_BINARY, c.args, scratch("refused").string());
        ASSERT_TRUE(child->waitEnd(5000)) << c.what;
        EXPECT_NE(child->exitCode(), 0) << c.what;
        EXPECT_NE(child->err().find(c.says), std::string::npos) << c.what << ": " << child->err();
    }
}

}  // namespace
}  // namespace hopshot::meet
