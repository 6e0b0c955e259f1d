// The command line of `hopshot-meet` and the TURN secret file it reads once at start.
#pragma once

#include "meet/protocol.h"
#include "meet/service.h"

#include <optional>
#include <string>
#include <vector>

namespace hopshot::meet {

constexpr uint16_t kDefaultPort = 7311;   // UDP; the game itself plays on 7310
constexpr uint16_t kDefaultTurnPort = 3478;

struct Options {
    Endpoint listen{0, kDefaultPort};
    std::optional<Endpoint> turn;
    std::string turnSecretFile;
    Limits limits;
    bool help = false;
    bool version = false;
};

extern const char* const kUsage;

// Options from the arguments after the program's name; false with a one-line why.
bool parseOptions(const std::vector<std::string>& args, Options& o, std::string& why);

// The secret, read once: a regular file no one but its owner may read or write, holding one
// line of 1..256 bytes. False with a one-line why.
bool readSecretFile(const std::string& path, std::string& secret, std::string& why);

}  // namespace hopshot::meet
