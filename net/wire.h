// The wire: every message between machines as bytes. A message is a header (the wire's version,
// then its kind) and a body of numbers as varints (zigzag for signed ones) and short texts.
// Everything read is checked against its range before use: a message that fails is refused
// whole. The steps packet carries, for each machine, a run of consecutive steps of its commands in
// which a run of steps with none is one count, with the fingerprint of the step it must name. A
// step's commands name the players' slots they fill and whether the host's commands follow.
#pragma once

#include "core/commands.h"
#include "net/messages.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hopshot {

constexpr uint8_t kWireVersion = 4;
constexpr size_t kMaxMessageBytes = 4096;    // the largest message any machine sends
constexpr size_t kMaxTextBytes = 400;        // a notice, a refusal, a version
constexpr long kMaxStepsPerRun = 128;        // steps of one machine in one packet
constexpr long kMaxMachineId = 1000000;      // guests are numbered in join order
constexpr long kMaxStep = 2000000000;

enum class MsgKind : uint8_t {
    Hello = 1, Welcome, Refuse, Roster, Start, Players, Left, Notice, Over, Bye, Ends, Steps, Alive,
    Pause,   // the host holds every machine's game (1) or lets it go on (0)
};

// One machine's run of steps in a packet: its commands step by step from `first`, and the
// fingerprint after step (last - D - 1) when that step exists.
struct StepRun {
    int machine = 0;
    long first = 1;
    std::vector<StepCommands> steps;
    bool hasFingerprint = false;
    uint32_t fingerprint = 0;
    long last() const { return first + long(steps.size()) - 1; }
};

struct StepsPacket {
    int game = 0;
    std::vector<std::pair<int, long>> have;   // what the sender holds: machine, its last step
    std::vector<StepRun> runs;
};

struct HelloMessage {
    std::string version;
    Players players{};
};

struct LeftMessage {
    int machine = 0;
    Players players{};
    int game = 0;
    long from = 0;
};

// The kind of a message whose header this version reads; false for any other version or kind.
bool wireKind(std::string_view bytes, MsgKind& kind);
std::string wireSimple(MsgKind kind);                        // Over, Alive: a header alone
std::string wireText(MsgKind kind, std::string_view text);   // Refuse, Notice, Bye
bool readText(std::string_view bytes, std::string& text);
std::string wireNumber(MsgKind kind, long n);                // Welcome, Ends, Pause
bool readNumber(std::string_view bytes, long lo, long hi, long& n);

std::string wireHello(const HelloMessage& m);
// A hello of any version: the version it names is read whatever else differs.
bool readHello(std::string_view bytes, HelloMessage& m);
std::string wirePlayers(const Players& p);
bool readPlayers(std::string_view bytes, Players& p);
std::string wireRoster(const std::vector<std::pair<int, Players>>& roster);
bool readRoster(std::string_view bytes, std::vector<std::pair<int, Players>>& roster);
std::string wireLeft(const LeftMessage& m);
bool readLeft(std::string_view bytes, LeftMessage& m);
std::string wireStart(const StartMessage& m);
bool readStart(std::string_view bytes, StartMessage& m);
std::string wireSteps(const StepsPacket& p);
bool readSteps(std::string_view bytes, StepsPacket& p);

// The bytes one step's commands take in a run (the sender's measure of how much fits in a packet).
size_t wireCommandBytes(const StepCommands& c);

}  // namespace hopshot
