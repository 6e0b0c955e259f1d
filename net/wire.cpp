#include "net/wire.h"

#include "play/script.h"

#include <algorithm>

namespace hopshot {

namespace {

class Writer {
public:
    explicit Writer(MsgKind kind) {
        out_.push_back(char(kWireVersion));
        out_.push_back(char(kind));
    }
    void byte(uint8_t b) { out_.push_back(char(b)); }
    void number(uint64_t v) {
        while (v >= 0x80) {
            out_.push_back(char(uint8_t(v) | 0x80));
            v >>= 7;
        }
        out_.push_back(char(v));
    }
    void signedNumber(int64_t v) { number((uint64_t(v) << 1) ^ uint64_t(v >> 63)); }
    void text(std::string_view s) {
        s = s.substr(0, kMaxTextBytes);
        number(s.size());
        out_.append(s);
    }
    void u32(uint32_t v) {
        for (int i = 0; i < 4; ++i) out_.push_back(char(uint8_t(v >> (8 * i))));
    }
    void players(const Players& p) {
        uint8_t bits = 0;
        for (int i = 0; i < kPlayers; ++i) bits = uint8_t(bits | (p[size_t(i)] ? 1 << i : 0));
        byte(bits);
    }
    const std::string& bytes() const { return out_; }

private:
    std::string out_;
};

// Reads a body; the first thing out of range or past the end makes it fail, and it stays failed.
class Reader {
public:
    // A body of this wire's version only, unless `anyVersion` (a hello names its version).
    explicit Reader(std::string_view bytes, bool anyVersion = false)
        : p_(bytes.data() + 2), end_(bytes.data() + bytes.size()) {
        ok_ = bytes.size() >= 2 && (anyVersion || uint8_t(bytes[0]) == kWireVersion);
        if (!ok_) p_ = end_;
    }
    bool ok() const { return ok_; }
    bool done() const { return ok_ && p_ == end_; }   // all read, nothing left over

    uint8_t byte() {
        if (p_ == end_) return fail();
        return uint8_t(*p_++);
    }
    // A whole number in lo..hi.
    int64_t number(int64_t lo, int64_t hi) {
        uint64_t v = 0;
        for (int shift = 0;; shift += 7) {
            if (p_ == end_ || shift > 63) return fail();
            const uint8_t b = uint8_t(*p_++);
            v |= uint64_t(b & 0x7f) << shift;
            if (!(b & 0x80)) break;
        }
        if (v > uint64_t(INT64_MAX) || int64_t(v) < lo || int64_t(v) > hi) return fail();
        return int64_t(v);
    }
    int64_t signedNumber(int64_t lo, int64_t hi) {
        const int64_t raw = number(0, INT64_MAX);
        const int64_t v = int64_t(uint64_t(raw) >> 1) ^ -(raw & 1);
        if (!ok_ || v < lo || v > hi) return fail();
        return v;
    }
    std::string text() {
        const size_t n = size_t(number(0, int64_t(kMaxTextBytes)));
        if (!ok_ || size_t(end_ - p_) < n) return fail(), std::string();
        std::string s(p_, n);
        p_ += n;
        return s;
    }
    uint32_t u32() {
        if (end_ - p_ < 4) return fail();
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= uint32_t(uint8_t(*p_++)) << (8 * i);
        return v;
    }
    Players players() {
        const uint8_t bits = byte();
        if (bits > 15) fail();
        Players p{};
        for (int i = 0; i < kPlayers; ++i) p[size_t(i)] = bits & (1 << i);
        return p;
    }

private:
    int fail() {
        ok_ = false;
        p_ = end_;
        return 0;
    }
    const char* p_;
    const char* end_;
    bool ok_ = true;
};

// A step's commands: a byte naming the players' slots that follow (bits 0..3) and whether the
// host's commands do (bit 4), never 0 (a step without commands is counted as empty). Players 1
// and 2 fill a byte each: turn, gun (3 bits each) and fire (2); players 3 and 4 their stick's
// reading; the host a count and a byte for each command.
constexpr uint8_t kHostPart = 1 << kPlayers;

void writeCommands(Writer& w, const StepCommands& c) {
    uint8_t head = c.hostCount > 0 ? kHostPart : 0;
    for (int p = 0; p < kPlayers; ++p)
        if (!c.players[size_t(p)].empty()) head = uint8_t(head | 1 << p);
    w.byte(head);
    for (int p = 0; p < kPlayers; ++p) {
        const PlayerCommand& pc = c.players[size_t(p)];
        if (!(head & 1 << p)) continue;
        if (p < 2) {
            w.byte(uint8_t(uint8_t(pc.turn) | uint8_t(pc.gun) << 3 | uint8_t(pc.fire) << 6));
        } else {
            w.number(uint64_t(pc.stick.x));
            w.number(uint64_t(pc.stick.y));
            w.number(pc.stick.buttons);
        }
    }
    if (c.hostCount == 0) return;
    w.number(c.hostCount);
    for (int i = 0; i < c.hostCount; ++i) w.byte(c.host[size_t(i)]);
}

bool readCommands(Reader& r, StepCommands& c) {
    c = StepCommands{};
    const uint8_t head = r.byte();
    if (head == 0 || head > (kHostPart | (kHostPart - 1))) return false;
    for (int p = 0; p < kPlayers; ++p) {
        if (!(head & 1 << p)) continue;
        PlayerCommand& pc = c.players[size_t(p)];
        if (p < 2) {
            const uint8_t b = r.byte();
            if (b == 0 || (b & 7) >= kAims || (b >> 3 & 7) >= kAims) return false;   // named, so not empty
            pc.turn = Aim(b & 7);
            pc.gun = Aim(b >> 3 & 7);
            pc.fire = Fire(b >> 6);
        } else {
            pc.stick.moved = true;
            pc.stick.x = int32_t(r.number(0, 65535));
            pc.stick.y = int32_t(r.number(0, 65535));
            pc.stick.buttons = uint32_t(r.number(0, 0xFFFFFFFFll));
        }
    }
    if (head & kHostPart) {
        c.hostCount = uint8_t(r.number(1, kMaxHostCommands));
        for (int i = 0; i < c.hostCount; ++i) {
            c.host[size_t(i)] = r.byte();
            if (c.host[size_t(i)] >= kHostCommandCodes) return false;
        }
    }
    return r.ok();
}

}  // namespace

bool wireKind(std::string_view bytes, MsgKind& kind) {
    if (bytes.size() < 2 || uint8_t(bytes[0]) != kWireVersion) return false;
    const uint8_t k = uint8_t(bytes[1]);
    if (k < uint8_t(MsgKind::Hello) || k > uint8_t(MsgKind::Pause)) return false;
    kind = MsgKind(k);
    return true;
}

std::string wireSimple(MsgKind kind) { return Writer(kind).bytes(); }

std::string wireText(MsgKind kind, std::string_view text) {
    Writer w(kind);
    w.text(text);
    return w.bytes();
}

bool readText(std::string_view bytes, std::string& text) {
    Reader r(bytes);
    text = r.text();
    return r.done();
}

std::string wireNumber(MsgKind kind, long n) {
    Writer w(kind);
    w.number(uint64_t(std::max(0L, n)));
    return w.bytes();
}

bool readNumber(std::string_view bytes, long lo, long hi, long& n) {
    Reader r(bytes);
    n = long(r.number(lo, hi));
    return r.done();
}

// A hello keeps its shape across versions: whatever the version byte, kind Hello, the version's
// text, then the players. (Before this wire, a hello was the text "hello PLAYERS VERSION".)
std::string wireHello(const HelloMessage& m) {
    Writer w(MsgKind::Hello);
    w.text(m.version);
    w.players(m.players);
    return w.bytes();
}

bool readHello(std::string_view bytes, HelloMessage& m) {
    m = HelloMessage{};
    if (bytes.substr(0, 6) == "hello ") {   // an old text hello: its version is named all the same
        const size_t sp = bytes.find(' ', 6);
        const size_t nl = bytes.find('\n');
        if (sp != std::string_view::npos) m.version = std::string(bytes.substr(sp + 1, nl == std::string_view::npos ? nl : nl - sp - 1)).substr(0, kMaxTextBytes);
        return false;
    }
    if (bytes.size() < 2 || uint8_t(bytes[1]) != uint8_t(MsgKind::Hello)) return false;
    Reader r(bytes, true);
    m.version = r.text();
    if (uint8_t(bytes[0]) != kWireVersion) return false;
    m.players = r.players();
    return r.done();
}

std::string wirePlayers(const Players& p) {
    Writer w(MsgKind::Players);
    w.players(p);
    return w.bytes();
}

bool readPlayers(std::string_view bytes, Players& p) {
    Reader r(bytes);
    p = r.players();
    return r.done();
}

std::string wireRoster(const std::vector<std::pair<int, Players>>& roster) {
    Writer w(MsgKind::Roster);
    w.number(roster.size());
    for (const auto& [id, players] : roster) {
        w.number(uint64_t(id));
        w.players(players);
    }
    return w.bytes();
}

bool readRoster(std::string_view bytes, std::vector<std::pair<int, Players>>& roster) {
    Reader r(bytes);
    roster.clear();
    const int64_t n = r.number(1, kMaxMachines);
    for (int64_t i = 0; i < n && r.ok(); ++i) {
        const int id = int(r.number(0, kMaxMachineId));
        roster.push_back({id, r.players()});
    }
    return r.done();
}

std::string wireLeft(const LeftMessage& m) {
    Writer w(MsgKind::Left);
    w.number(uint64_t(m.machine));
    w.players(m.players);
    w.number(uint64_t(m.game));
    w.number(uint64_t(m.from));
    return w.bytes();
}

bool readLeft(std::string_view bytes, LeftMessage& m) {
    Reader r(bytes);
    m.machine = int(r.number(1, kMaxMachineId));
    m.players = r.players();
    m.game = int(r.number(0, kMaxStep));
    m.from = long(r.number(0, kMaxStep));
    return r.done();
}

std::string wireStart(const StartMessage& m) {
    Writer w(MsgKind::Start);
    w.number(uint64_t(m.game));
    w.number(uint64_t(m.delay));
    w.number(uint64_t(m.stepLimit));
    w.number(m.machines.size());
    for (size_t i = 0; i < m.machines.size(); ++i) {
        w.number(uint64_t(m.machines[i]));
        w.players(i < m.machinePlayers.size() ? m.machinePlayers[i] : Players{});
    }
    w.number(m.draws);
    const CarriedValues& c = m.carried;
    for (const auto* table : {&c.shellKind, &c.steerX, &c.steerY})
        for (int16_t v : *table) w.signedNumber(v);
    for (int16_t v : c.hopperVY) w.signedNumber(v);
    w.signedNumber(c.bloodBudget);
    for (const StartMessage::Joy& j : m.joys) {
        w.number(uint64_t(j.x));
        w.number(uint64_t(j.y));
        w.number(j.buttons);
    }
    w.number(m.predicts ? 1 : 0);
    return w.bytes();
}

// The players taking part are every machine's together; the host is machine 0 and comes first.
bool readStart(std::string_view bytes, StartMessage& m) {
    Reader r(bytes);
    m = StartMessage{};
    m.game = int(r.number(1, kMaxStep));
    m.delay = int(r.number(1, kMaxDelay));
    m.stepLimit = long(r.number(0, kMaxStepLimit));
    const int64_t machines = r.number(1, kMaxMachines);
    for (int64_t i = 0; i < machines && r.ok(); ++i) {
        const int id = int(r.number(i == 0 ? 0 : 1, i == 0 ? 0 : kMaxMachineId));
        if (std::count(m.machines.begin(), m.machines.end(), id)) return false;
        m.machines.push_back(id);
        m.machinePlayers.push_back(r.players());
        for (int p = 0; p < kPlayers; ++p) {
            if (m.players[size_t(p)] && m.machinePlayers.back()[size_t(p)]) return false;
            m.players[size_t(p)] = m.players[size_t(p)] || m.machinePlayers.back()[size_t(p)];
        }
    }
    m.draws = uint64_t(r.number(0, kMaxDraws));
    CarriedValues& c = m.carried;
    for (auto* table : {&c.shellKind, &c.steerX, &c.steerY})
        for (int16_t& v : *table) v = int16_t(r.signedNumber(INT16_MIN, INT16_MAX));
    for (int16_t& v : c.hopperVY) v = int16_t(r.signedNumber(INT16_MIN, INT16_MAX));
    c.bloodBudget = int16_t(r.signedNumber(INT16_MIN, INT16_MAX));
    for (StartMessage::Joy& j : m.joys) {
        j.x = int32_t(r.number(0, 65535));
        j.y = int32_t(r.number(0, 65535));
        j.buttons = uint32_t(r.number(0, 0xFFFFFFFFll));
    }
    m.predicts = r.number(0, 1) == 1;
    return r.done();
}

size_t wireCommandBytes(const StepCommands& c) {
    Writer w(MsgKind::Steps);
    writeCommands(w, c);
    return w.bytes().size() - 2;
}

// A run: its machine, first step and number of steps, then, step by step, a count of steps with
// no commands followed by one step's commands, until the run is told; then the
// fingerprint, or a 0 byte where it has none.
std::string wireSteps(const StepsPacket& p) {
    Writer w(MsgKind::Steps);
    w.number(uint64_t(p.game));
    w.number(p.have.size());
    for (const auto& [machine, step] : p.have) {
        w.number(uint64_t(machine));
        w.number(uint64_t(step));
    }
    w.number(p.runs.size());
    for (const StepRun& run : p.runs) {
        w.number(uint64_t(run.machine));
        w.number(uint64_t(run.first));
        w.number(run.steps.size());
        size_t empty = 0;
        for (const StepCommands& step : run.steps) {
            if (step.empty()) {
                ++empty;
                continue;
            }
            w.number(empty);
            empty = 0;
            writeCommands(w, step);
        }
        if (empty > 0) w.number(empty);
        w.byte(run.hasFingerprint ? 1 : 0);
        if (run.hasFingerprint) w.u32(run.fingerprint);
    }
    return w.bytes();
}

bool readSteps(std::string_view bytes, StepsPacket& p) {
    Reader r(bytes);
    p = StepsPacket{};
    p.game = int(r.number(1, kMaxStep));
    const int64_t haves = r.number(0, kMaxMachines);
    for (int64_t i = 0; i < haves && r.ok(); ++i) {
        const int machine = int(r.number(0, kMaxMachineId));
        p.have.push_back({machine, long(r.number(0, kMaxStep))});
    }
    const int64_t runs = r.number(0, kMaxMachines);
    for (int64_t i = 0; i < runs && r.ok(); ++i) {
        StepRun run;
        run.machine = int(r.number(0, kMaxMachineId));
        run.first = long(r.number(1, kMaxStep));
        const int64_t count = r.number(1, kMaxStepsPerRun);
        while (r.ok() && int64_t(run.steps.size()) < count) {
            const int64_t empty = r.number(0, count - int64_t(run.steps.size()));
            run.steps.resize(run.steps.size() + size_t(empty));
            if (int64_t(run.steps.size()) == count) break;
            StepCommands step;
            if (!readCommands(r, step)) return false;
            run.steps.push_back(step);
        }
        if (run.last() > kMaxStep) return false;
        const uint8_t has = r.byte();
        if (has > 1) return false;
        run.hasFingerprint = has == 1;
        if (run.hasFingerprint) run.fingerprint = r.u32();
        p.runs.push_back(std::move(run));
    }
    return r.done();
}

}  // namespace hopshot
