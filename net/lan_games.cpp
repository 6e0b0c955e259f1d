#include "net/lan_games.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace hopshot {

namespace {

constexpr char kMagic[4] = {'h', 's', 'l', 'g'};
constexpr char kQueryMagic[4] = {'h', 's', 'l', 'q'};
constexpr size_t kHeader = sizeof kMagic + 1;   // magic and version
constexpr size_t kMaxAnnouncement = kLanQuerySize;

bool printable(char c) { return c >= 0x20 && c <= 0x7E; }

std::string addressText(uint32_t address) {
    in_addr a{htonl(address)};
    char text[INET_ADDRSTRLEN];
    return inet_ntop(AF_INET, &a, text, sizeof text) ? text : "?";
}

std::string freeList(const Players& free) {
    std::string s;
    for (int p = 0; p < kPlayers; ++p)
        if (free[size_t(p)]) s += std::to_string(p + 1);
    return s.empty() ? "none" : s;
}

}  // namespace

std::string encodeAnnouncement(const LanAnnouncement& a) {
    std::string name;
    for (char c : a.hostName)
        if (name.size() < kMaxHostName) name += printable(c) ? c : '?';
    if (name.empty()) name = "?";
    std::string bytes(kMagic, sizeof kMagic);
    bytes += char(kLanVersion);
    bytes += char(name.size());
    bytes += name;
    bytes += char(std::clamp(a.machines, 1, kMaxMachines));
    uint8_t mask = 0;
    for (int p = 0; p < kPlayers; ++p)
        if (a.free[size_t(p)]) mask |= uint8_t(1u << p);
    bytes += char(mask);
    bytes += char(a.port >> 8);
    bytes += char(a.port & 0xFF);
    return bytes;
}

std::optional<LanAnnouncement> decodeAnnouncement(const std::string& bytes) {
    if (bytes.size() < kHeader + 1 || bytes.size() > kMaxAnnouncement ||
        !std::equal(kMagic, kMagic + sizeof kMagic, bytes.begin()) || uint8_t(bytes[4]) != kLanVersion)
        return std::nullopt;
    const size_t nameSize = uint8_t(bytes[kHeader]);
    if (nameSize < 1 || nameSize > kMaxHostName || bytes.size() != kHeader + 1 + nameSize + 4)
        return std::nullopt;
    LanAnnouncement a;
    a.hostName = bytes.substr(kHeader + 1, nameSize);
    if (!std::all_of(a.hostName.begin(), a.hostName.end(), printable)) return std::nullopt;
    const size_t at = kHeader + 1 + nameSize;
    a.machines = uint8_t(bytes[at]);
    const uint8_t mask = uint8_t(bytes[at + 1]);
    a.port = uint16_t(uint8_t(bytes[at + 2]) << 8 | uint8_t(bytes[at + 3]));
    if (a.machines < 1 || a.machines > kMaxMachines || mask >= 1u << kPlayers || a.port == 0)
        return std::nullopt;
    for (int p = 0; p < kPlayers; ++p) a.free[size_t(p)] = (mask >> p & 1) != 0;
    return a;
}

std::string encodeQuery() {
    std::string bytes(kQueryMagic, sizeof kQueryMagic);
    bytes += char(kLanVersion);
    bytes.resize(kLanQuerySize, '\0');
    return bytes;
}

bool isQuery(const std::string& bytes) {
    return bytes.size() == kLanQuerySize &&
           std::equal(kQueryMagic, kQueryMagic + sizeof kQueryMagic, bytes.begin()) &&
           uint8_t(bytes[4]) == kLanVersion &&
           std::all_of(bytes.begin() + kHeader, bytes.end(), [](char c) { return c == 0; });
}

std::string LanGame::where() const { return addressText(address) + ":" + std::to_string(said.port); }

std::string lanHostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == 0) return "?";
    std::string s(name);
    if (s.size() > kMaxHostName) s.resize(kMaxHostName);
    return s;
}

std::vector<uint32_t> lanBroadcastAddresses() {
    std::vector<uint32_t> out{INADDR_BROADCAST};
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return out;
    for (ifaddrs* i = list; i && out.size() < kMaxLanTargets; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !i->ifa_broadaddr) continue;
        if (!(i->ifa_flags & IFF_UP) || !(i->ifa_flags & IFF_BROADCAST) || (i->ifa_flags & IFF_LOOPBACK))
            continue;
        const uint32_t b = ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_broadaddr)->sin_addr.s_addr);
        if (std::find(out.begin(), out.end(), b) == out.end()) out.push_back(b);
    }
    freeifaddrs(list);
    return out;
}

std::vector<LanPlace> lanQueryPlaces(uint16_t port) {
    std::vector<LanPlace> places;
    for (uint32_t b : lanBroadcastAddresses()) places.push_back({b, port});
    return places;
}

LanResponder::LanResponder(uint16_t port) {
    const std::string unfound = "this game cannot be found on the LAN (UDP port " + std::to_string(port);
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0) {
        error_ = unfound + ": no socket); guests join it by address";
        return;
    }
    // Several games hosted on one computer each hear a broadcast query and each answer.
    const int yes = 1, ttl = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    setsockopt(fd_, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);   // answers stay on the LAN
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    if (bind(fd_, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0) {
        close(fd_);
        fd_ = -1;
        error_ = unfound + " is taken); guests join it by address";
    }
}

LanResponder::~LanResponder() {
    if (fd_ >= 0) close(fd_);
}

bool LanResponder::mayAnswer(uint32_t nowMs, uint32_t address) {
    if (nowMs - secondStart_ >= 1000u) {   // a new second: every count starts again
        secondStart_ = nowMs;
        thisSecond_ = 0;
        perAddress_.clear();
    }
    if (thisSecond_ >= kLanAnswersPerSecond) return false;
    auto it = std::find_if(perAddress_.begin(), perAddress_.end(),
                           [&](const auto& e) { return e.first == address; });
    if (it == perAddress_.end()) it = perAddress_.insert(perAddress_.end(), {address, 0});
    if (it->second >= kLanAnswersPerAddress) return false;
    ++it->second;
    ++thisSecond_;
    return true;
}

void LanResponder::step(uint32_t nowMs, const std::function<LanAnnouncement()>& say) {
    if (fd_ < 0) return;
    std::string answer;
    for (int i = 0; i < kLanReadsPerStep; ++i) {
        char buffer[kLanQuerySize + 1];   // anything longer is no query
        sockaddr_in from{};
        socklen_t fromSize = sizeof from;
        const ssize_t got = recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromSize);
        if (got < 0) break;   // nothing more now
        if (from.sin_family != AF_INET || !isQuery(std::string(buffer, size_t(got)))) continue;
        // Answers go to one machine's own address only: never a broadcast, multicast or nobody.
        const uint32_t address = ntohl(from.sin_addr.s_addr);
        if (from.sin_port == 0 || address == 0 || address == INADDR_BROADCAST || address >> 28 >= 14) continue;
        if (!mayAnswer(nowMs, address)) continue;
        if (answer.empty()) answer = encodeAnnouncement(say());
        if (sendto(fd_, answer.data(), answer.size(), 0, reinterpret_cast<const sockaddr*>(&from), sizeof from) ==
            ssize_t(answer.size()))
            ++answered_;
    }
}

std::vector<LanGame> findGames(const std::vector<LanPlace>& to, int waitMs, std::string& error) {
    std::vector<LanGame> games;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = "cannot open a socket to find the games on this LAN";
        return games;
    }
    const int yes = 1, ttl = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &yes, sizeof yes);
    setsockopt(fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);   // no router passes a query on
    const std::string query = encodeQuery();
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now(), until = start + std::chrono::milliseconds(waitMs);
    // The queries go out spread over the wait, so that one lost on the way costs little.
    auto queryAt = [&](int n) { return start + std::chrono::milliseconds(waitMs) * n / kLanQueries; };
    int asked = 0;
    for (Clock::time_point now = start; now < until; now = Clock::now()) {
        if (asked < kLanQueries && now >= queryAt(asked)) {
            for (size_t i = 0; i < to.size() && i < kMaxLanTargets; ++i) {
                sockaddr_in place{};
                place.sin_family = AF_INET;
                place.sin_addr.s_addr = htonl(to[i].address);
                place.sin_port = htons(to[i].port);
                sendto(fd, query.data(), query.size(), 0, reinterpret_cast<const sockaddr*>(&place), sizeof place);
            }
            ++asked;
            continue;
        }
        const Clock::time_point wake = asked < kLanQueries ? std::min(until, queryAt(asked)) : until;
        pollfd p{fd, POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count();
        if (poll(&p, 1, int(std::max<long long>(left, 1))) != 1) continue;
        char buffer[kMaxAnnouncement + 1];   // anything longer is no announcement
        sockaddr_in from{};
        socklen_t fromSize = sizeof from;
        const ssize_t got = recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromSize);
        if (got <= 0 || from.sin_family != AF_INET) continue;
        const auto said = decodeAnnouncement(std::string(buffer, size_t(got)));
        if (!said) continue;
        LanGame g{*said, ntohl(from.sin_addr.s_addr)};
        auto same = std::find_if(games.begin(), games.end(), [&](const LanGame& k) {
            return k.address == g.address && k.said.port == g.said.port;
        });
        if (same != games.end()) *same = g;
        else if (games.size() < kMaxLanGames) games.push_back(g);
    }
    close(fd);
    return games;
}

bool pickLanGame(const std::vector<LanPlace>& to, int waitMs, std::string& address, uint16_t& gamePort,
                 std::string& message) {
    std::string error;
    const std::vector<LanGame> games = findGames(to, waitMs, error);
    if (!error.empty()) {
        message = error;
        return false;
    }
    if (games.empty()) {
        message = "no hosted game was heard on this LAN; to join one elsewhere, give its host's "
                  "address: --join ADDRESS";
        return false;
    }
    auto line = [](const LanGame& g) {
        return g.said.hostName + " at " + g.where() + ", " + std::to_string(g.said.machines) +
               (g.said.machines == 1 ? " machine" : " machines") + ", free players " + freeList(g.said.free);
    };
    if (games.size() == 1) {
        address = addressText(games.front().address);
        gamePort = games.front().said.port;
        message = "joining the game on this LAN: " + line(games.front());
        return true;
    }
    message = std::to_string(games.size()) + " games are hosted on this LAN; join one with "
              "--join ADDRESS[:PORT]:";
    for (const LanGame& g : games) message += "\n  " + line(g);
    return false;
}

}  // namespace hopshot
