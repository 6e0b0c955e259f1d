#include "meet/options.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace hopshot::meet {

const char* const kUsage =
    "usage: hopshot-meet [--listen ADDRESS[:PORT]] [--turn ADDRESS[:PORT] --turn-secret-file FILE]\n"
    "                    [--code-seconds N] [--credential-seconds N] [--max-codes N]\n"
    "                    [--max-codes-per-address N]\n"
    "\n"
    "The meeting service of hopshot: hands out invite codes for hosted games and tells a guest\n"
    "holding a code where its host is (and the host where its guest is), so that both can reach\n"
    "each other through their home routers. Nothing but addresses and codes pass through it.\n"
    "\n"
    "  --listen ADDRESS[:PORT]     where to take requests (UDP; default 0.0.0.0:7311)\n"
    "  --turn ADDRESS[:PORT]       the TURN relay (coturn) to offer (default port 3478);\n"
    "                              without it no relay is offered\n"
    "  --turn-secret-file FILE     coturn's static-auth-secret, read once at start; the file\n"
    "                              must be readable by its owner only\n"
    "  --code-seconds N            a code lives N seconds after its host's last refresh\n"
    "                              (1..3600, default 30)\n"
    "  --credential-seconds N      the relay's credentials handed out last N seconds (10..86400,\n"
    "                              default 600); the relay checks them when an allocation is\n"
    "                              made, and the allocation lives on past them while refreshed\n"
    "  --max-codes N               live codes on the service (1..1000000, default 10000)\n"
    "  --max-codes-per-address N   live codes from one address (1..1000, default 4)\n"
    "  --help                      this text\n"
    "  --version                   the program's version\n";

namespace {

bool number(const std::string& text, long low, long high, long& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value >= low && value <= high;
}

}  // namespace

bool parseOptions(const std::vector<std::string>& args, Options& o, std::string& why) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            o.help = true;
            return true;
        }
        if (a == "--version") {
            o.version = true;
            return true;
        }
        if (a != "--listen" && a != "--turn" && a != "--turn-secret-file" && a != "--code-seconds" &&
            a != "--credential-seconds" &&
            a != "--max-codes" && a != "--max-codes-per-address") {
            why = "unknown option " + a + " (see --help)";
            return false;
        }
        if (i + 1 >= args.size()) {
            why = a + " needs a value";
            return false;
        }
        const std::string& v = args[++i];
        long n = 0;
        if (a == "--listen") {
            const auto e = parseEndpoint(v, kDefaultPort);
            if (!e) {
                why = "--listen wants a numeric IPv4 ADDRESS[:PORT], not " + v;
                return false;
            }
            o.listen = *e;
        } else if (a == "--turn") {
            const auto e = parseEndpoint(v, kDefaultTurnPort);
            if (!e || !usableEndpoint(*e)) {
                why = "--turn wants the relay's numeric IPv4 ADDRESS[:PORT] as guests reach it, not " + v;
                return false;
            }
            o.turn = *e;
        } else if (a == "--turn-secret-file") {
            o.turnSecretFile = v;
        } else if (a == "--code-seconds" && number(v, 1, kMaxSecondsToLive, n)) {
            o.limits.codeSeconds = int(n);
        } else if (a == "--credential-seconds" && number(v, 10, 86400, n)) {
            o.limits.credentialSeconds = int(n);
        } else if (a == "--max-codes" && number(v, 1, 1000000, n)) {
            o.limits.maxCodes = size_t(n);
        } else if (a == "--max-codes-per-address" && number(v, 1, 1000, n)) {
            o.limits.maxCodesPerSource = size_t(n);
        } else {
            why = a + " is out of range: " + v + " (see --help)";
            return false;
        }
    }
    if (o.turn.has_value() != !o.turnSecretFile.empty()) {
        why = o.turn ? "--turn needs --turn-secret-file: the relay's shared secret"
                     : "--turn-secret-file needs --turn: the relay to offer";
        return false;
    }
    return true;
}

bool readSecretFile(const std::string& path, std::string& secret, std::string& why) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        why = "cannot read the TURN secret file " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    std::string text;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!ok) {
        why = "the TURN secret file " + path + " is not a regular file";
    } else if ((st.st_mode & 077) != 0) {
        why = "the TURN secret file " + path + " may be read or written by others: chmod 600 it";
        ok = false;
    } else {
        char buffer[512];
        ssize_t got = 0;
        while ((got = read(fd, buffer, sizeof buffer)) > 0 && text.size() <= 256) text.append(buffer, size_t(got));
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        if (text.empty() || text.size() > 256 || text.find_first_of("\r\n") != std::string::npos) {
            why = "the TURN secret file " + path + " must hold one line of 1 to 256 bytes";
            ok = false;
        }
    }
    close(fd);
    if (ok) secret = text;
    return ok;
}

}  // namespace hopshot::meet
