#include "fuzz/fuzz_targets.h"

#include "meet/protocol.h"
#include "meet/service.h"
#include "net/session.h"
#include "net/turn_client.h"
#include "net/wire.h"
#include "records/records.h"
#include "play/script.h"
#include "scene/scene.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

namespace hopshot::fuzz {

namespace {

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "fuzz target: %s\n", what);
    std::abort();
}

// The meeting service as the target runs it: small bounds, so that the fuzzer reaches them, and
// codes drawn from a fixed sequence, so that its seeds can name them.
meet::Service meetService() {
    meet::Limits l;
    l.codeSeconds = 5;
    l.maxCodes = 6;
    l.maxCodesPerSource = 3;
    l.maxSources = 4;
    auto state = std::make_shared<uint32_t>(2463534242u);
    return meet::Service(l, {{0xC6336401, 3478}, "fuzz"}, [state](uint8_t* bytes, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            *state ^= *state << 13;
            *state ^= *state >> 17;
            *state ^= *state << 5;
            bytes[i] = uint8_t(*state);
        }
    });
}

meet::Endpoint meetSource(uint8_t b) {
    switch (b % 4) {
    case 0: return {0xCB007107, 40001};
    case 1: return {0xC6336402, 50002};
    case 2: return {0xC6336402, 50003};
    default: return {0x7F000001, uint16_t(1024 + b)};
    }
}

}  // namespace

// A script either runs or is refused with the line it went wrong on; what runs holds only
// values the script format allows.
int scriptParser(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Script script;
    ScriptError error;
    if (!parseScript(text, script, error)) {
        if (error.line < 1 || error.message.empty()) broken("a refused script names no line");
        return 0;
    }
    if (script.joysticks < 0 || script.joysticks > 2) broken("joysticks out of range");
    for (const ScriptCommand& c : script.commands) {
        if (c.timerPhase < 1 || c.timerPhase > 50) broken("timer out of range");
        long last = 1;
        for (const ScriptEvent& e : c.events) {
            if (e.step < last) broken("events out of step order");
            last = e.step;
            if (e.keyCode < 0 || e.keyCode > 255 || e.mask < 0 || e.mask > 7) broken("key out of range");
            if (e.joystick < 0 || e.joystick > 1 || e.x < 0 || e.x > 65535 || e.y < 0 || e.y > 65535)
                broken("joystick reading out of range");
        }
    }
    return 0;
}

// Whatever the file held, the records read from it, written back and read again are the same
// records (names as the file keeps them). The input's bytes are also taken as the names
// themselves, split at the first line feed, with scores from its first bytes.
int recordsFile(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    auto kept = [](const Records& r) {
        return Records{storedName(r.nameSolo), r.scoreSolo, storedName(r.nameCoop), r.scoreCoop};
    };
    const Records read = parseRecords(text);
    if (parseRecords(formatRecords(read)) != kept(read)) broken("records read from a file do not read back");

    const size_t split = text.find('\n');
    int32_t score = 0;
    for (size_t i = 0; i < size && i < 4; ++i) score = int32_t(uint32_t(score) << 8 | data[i]);
    const Records held{text.substr(0, split), score,
                       split == std::string::npos ? std::string() : text.substr(split + 1), int32_t(uint32_t(score) * 7u)};
    if (parseRecords(formatRecords(held)) != kept(held)) broken("held records do not read back");
    return 0;
}

// Any bytes: refused with why, or a mesh of finite triangles.
int meshFile(const uint8_t* data, size_t size) {
    std::vector<scene::Triangle> triangles;
    std::string problem;
    const bool ok = scene::ParseMeshFile(
        std::string_view(reinterpret_cast<const char*>(data), size), triangles, problem);
    if (!ok && problem.empty()) broken("a refused mesh says no why");
    if (ok && triangles.empty()) broken("an accepted mesh has no triangles");
    for (const scene::Triangle& t : triangles)
        for (int k = 0; k < 3; ++k)
            if (!scene::finite(t.p[k])) broken("a corner that is not finite");
    return 0;
}

// Whatever arrives, a session keeps to its bounds: no machine's steps run further ahead than the
// window, and both sides go on answering. Each side takes the host's start as a guest would, and
// the host starts a game once its guest has joined, so steps reach a game being played.
int networkMessages(const uint8_t* data, size_t size) {
    auto host = NetSession::detached(true);
    auto guest = NetSession::detached(false);
    long step = 0;
    for (size_t at = 0; at + 3 <= size;) {
        const bool toHost = data[at] % 2 == 0;
        const size_t length = std::min<size_t>(data[at + 1] | size_t(data[at + 2]) << 8, size - at - 3);
        const std::string bytes(reinterpret_cast<const char*>(data) + at + 3, length);
        at += 3 + length;
        (toHost ? host : guest)->receive(0, bytes);

        if (!host->gameOn() && host->roster().size() >= 2) {
            StartMessage m;
            m.game = 1;
            m.delay = 2;
            for (const Machine& mc : host->roster()) {
                m.machines.push_back(mc.id);
                m.machinePlayers.push_back(mc.players);
            }
            m.players = host->everyonesPlayers();
            host->startGame(m);
        }
        StartMessage taken;
        while (guest->takeStart(taken)) {}
        // Each side makes its own next step, as its game would.
        ++step;
        for (NetSession* s : {host.get(), guest.get()}) {
            if (!s->gameOn()) continue;
            const Lockstep& l = s->lockstep();
            s->sendStep(l.have(s->self()) + 1, {}, 0, 0);
            for (int m : l.machines())
                if (m != s->self() && l.have(m) > l.have(s->self()) + kStepWindow)
                    broken("a machine's steps run past the window");
            StepCommands merged;
            const long next = l.have(s->self()) - l.delay();
            if (next >= 1 && s->lockstep().ready(next)) merged = s->lockstep().take(next);
            if (merged.hostCount > kMaxHostCommands) broken("more host commands than a step holds");
        }
        host->service(0);
        guest->service(0);
    }
    return 0;
}

// Whatever arrives, the service answers only in its own well-formed answers, never more bytes
// than it took, to the sender (or, telling of a guest, to a host); what it reads as a message
// writes back as the same message; its codes and followed addresses stay within their bounds.
int meetMessages(const uint8_t* data, size_t size) {
    meet::Service service = meetService();
    int64_t nowMs = 0;
    for (size_t at = 0; at + 4 <= size;) {
        const meet::Endpoint from = meetSource(data[at]);
        if (data[at] & 0x80) service.sweep(nowMs);
        nowMs += int64_t(data[at + 1]) * 100;
        const size_t length = std::min<size_t>(data[at + 2] | size_t(data[at + 3]) << 8, size - at - 4);
        const std::string_view bytes(reinterpret_cast<const char*>(data) + at + 4, length);
        at += 4 + length;

        meet::Message in;
        const bool ours = meet::decode(bytes, in) == meet::Decoded::Ok;
        if (ours) {
            meet::Message again;
            if (meet::decode(meet::encode(in), again) != meet::Decoded::Ok || !(again == in))
                broken("a message read does not write back as itself");
        }
        for (const meet::Outgoing& o : service.take(from, bytes, nowMs, 1800000000)) {
            meet::Message out;
            if (o.bytes.size() > bytes.size()) broken("an answer larger than its request");
            if (meet::decode(o.bytes, out) != meet::Decoded::Ok) broken("an answer that does not read");
            if (meet::isRequest(out.type)) broken("the service sends a request");
            if (out.type == meet::Type::GuestComing) {
                if (!ours || in.type != meet::Type::Lookup || !(out.peer == from)) broken("a guest told of from nowhere");
            } else if (out.type == meet::Type::GuestRelayed) {
                if (!ours || in.type != meet::Type::Relayed || !(out.peer == from) || !(out.relayed == in.relayed))
                    broken("a relayed guest told of from nowhere");
            } else if (out.type == meet::Type::HostRelay) {
                if (!ours || in.type != meet::Type::HostRelayed || !(o.to == in.peer) || !(out.relayed == in.relayed))
                    broken("a host's relay told of from nowhere");
            } else if (!(o.to == from) || out.nonce != in.nonce) {
                broken("an answer to another address or request");
            }
            if (out.type == meet::Type::Registered && out.turn.username.find(":" + out.code) == std::string::npos)
                broken("relay credentials of another code");
        }
        if (service.liveCodes() > 6 || service.followedSources() > 4) broken("bounds overrun");
    }
    return 0;
}

std::vector<std::pair<std::string, std::string>> meetSeeds() {
    meet::Service service = meetService();
    auto frame = [](uint8_t source, uint8_t tenths, const std::string& bytes) {
        return std::string{char(source), char(tenths), char(bytes.size() & 0xff), char(bytes.size() >> 8)} + bytes;
    };
    meet::Message reg;
    reg.type = meet::Type::Register;
    reg.nonce = 1;
    reg.lan = {{0xC0A80114, 7310}};
    reg.game = {"alice", 1, 14};
    // The code the target's service gives its first game.
    meet::Message registered;
    meet::decode(service.take(meetSource(0), meet::encode(reg), 0, 1800000000).at(0).bytes, registered);
    auto keyed = [&](meet::Type t) {
        meet::Message m;
        m.type = t;
        m.nonce = 2;
        m.code = registered.code;
        m.hostKey = registered.hostKey;
        m.game = {"", 2, 12};
        m.lan = {{0xC0A80107, 7310}};
        m.relayed = {0xCB00710A, 49152};
        return meet::encode(m);
    };
    // The host tells the guest that said it is relayed where its own relay is.
    meet::Message toGuest;
    meet::decode(keyed(meet::Type::Relayed), toGuest);
    toGuest.type = meet::Type::HostRelayed;
    toGuest.peer = meetSource(1);
    toGuest.relayed = {0xCB00710A, 49153};
    const std::string hostRelayed = meet::encode(toGuest);
    meet::Message otherVersion = reg;
    otherVersion.version = meet::kVersion + 1;
    const std::string start = frame(0, 0, meet::encode(reg));
    return {
        {"register", start},
        {"register-lookup", start + frame(1, 1, keyed(meet::Type::Lookup))},
        {"register-refresh-lookup-end", start + frame(0, 40, keyed(meet::Type::Refresh)) +
                                            frame(3, 10, keyed(meet::Type::Lookup)) + frame(0, 1, keyed(meet::Type::End))},
        {"register-expired-lookup", start + frame(2, 255, keyed(meet::Type::Lookup))},
        {"other-version", frame(1, 0, meet::encode(otherVersion))},
        {"register-lookup-relayed", start + frame(1, 1, keyed(meet::Type::Lookup)) + frame(1, 20, keyed(meet::Type::Relayed))},
        {"register-relayed-host-relayed", start + frame(1, 1, keyed(meet::Type::Relayed)) + frame(0, 2, hostRelayed)},
    };
}

// Whatever a relay sends, the client keeps to its bounds: data only from the peers it added and
// no larger than a peer may send, a bounded number of requests out and bytes held, a failure
// told in one sentence, and an end that stays the end.
int turnClient(const uint8_t* data, size_t size) {
    using turn::Client;
    const turn::Address server = turn::Address::v4(0x7F000001, 3478);
    auto client = Client::detached(server, {"1700000000:FUZZ2345", "secret"});
    std::vector<turn::Address> peers;
    client->setReceiver([&](const turn::Address& from, std::string_view payload) {
        bool known = false;
        for (const turn::Address& p : peers) known = known || p == from;
        if (!known) broken("data from a peer the client never added, or removed");
        if (payload.size() > turn::kMaxPayloadBytes) broken("a payload larger than a peer may send");
    });
    int64_t now = 0;
    client->service(now);
    bool ended = false;
    for (size_t at = 0; at + 3 <= size;) {
        const uint8_t control = data[at];
        const size_t length = data[at + 1] | size_t(data[at + 2]) << 8;
        at += 3;
        if (control & 0x40 && !(control & 0x80)) {
            now += int64_t(length);
        } else {
            const size_t n = std::min(length, size - at);
            std::string bytes(reinterpret_cast<const char*>(data) + at, n);
            at += n;
            if (control & 0x80) {
                if (bytes.size() >= 6) {
                    const auto* b = reinterpret_cast<const uint8_t*>(bytes.data());
                    const turn::Address peer = turn::Address::v4(
                        uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3],
                        uint16_t(b[4] << 8 | b[5]));
                    if (control & 0x40) {
                        client->removePeer(peer);
                        peers.erase(std::remove(peers.begin(), peers.end(), peer), peers.end());
                    } else if (client->addPeer(peer) && std::find(peers.begin(), peers.end(), peer) == peers.end()) {
                        peers.push_back(peer);
                    }
                }
            } else {
                const auto ids = client->outstanding();
                if ((control & 3) < 3 && (control & 3) < int(ids.size()) && bytes.size() >= turn::kHeaderBytes)
                    std::copy(ids[control & 3].begin(), ids[control & 3].end(), bytes.begin() + 8);
                turn::Message m;
                std::string why;
                if (control & 4 && !client->key().empty() && turn::decode(bytes, m, why))
                    turn::reseal(bytes, m, client->key());
                client->take(bytes, now);
            }
        }
        client->service(now);
        // Each peer is sent a datagram, some too large to go (at most 1,499 bytes).
        for (const turn::Address& p : peers) client->send(p, std::string(at % 1500, 'p'));

        const bool over = client->state() == Client::State::Failed || client->state() == Client::State::Closed;
        if (ended && !over) broken("a failed or closed allocation came back");
        ended = over;
        if (client->state() == Client::State::Failed) {
            const std::string& f = client->failure();
            if (f.empty() || f.back() != '.' || f.find('\n') != std::string::npos) broken("a failure not told in one sentence");
        }
        if (client->state() == Client::State::Ready && client->relayed().family != 1) broken("a relayed address that is not IPv4");
        if (client->outstanding().size() > size_t(2 + 2 * turn::kMaxPeers)) broken("too many requests out");
        if (client->heldBytes() > size_t(turn::kMaxPeers) * turn::kMaxHeldBytes) broken("too many bytes held");
    }
    client->close();
    return 0;
}

}  // namespace hopshot::fuzz
