// A peer that speaks the network game's wire as any program could: a real ENet connection on the
// loopback interface, saying whatever a test makes it say. It says hello like a guest and then
// sends the steps, fingerprints and lines a dishonest or broken machine would; it never runs a
// game, so each step it sends is what the test hands it.
#pragma once

#include "net/session.h"
#include "net/wire.h"
#include "play/command_events.h"

#include <enet/enet.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace hopshot::testing {

class HostilePeer {
public:
    HostilePeer() {
        static const bool ready = enet_initialize() == 0;
        (void)ready;
        enet_ = enet_host_create(nullptr, 1, 1, 0, 0);
    }
    ~HostilePeer() {
        if (peer_) enet_peer_disconnect_now(peer_, 0);
        if (enet_) {
            enet_host_flush(enet_);
            enet_host_destroy(enet_);
        }
    }
    HostilePeer(const HostilePeer&) = delete;
    HostilePeer& operator=(const HostilePeer&) = delete;

    // Connects and, unless `hello` is empty, says it (wireHello). True once the host has welcomed
    // it (or, without a hello, once the connection stands).
    bool join(uint16_t port, const std::string& hello, int timeoutMs = 5000) {
        ENetAddress to{};
        enet_address_set_host(&to, "127.0.0.1");
        to.port = port;
        peer_ = enet_host_connect(enet_, &to, 1, 0);
        if (!peer_) return false;
        const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Clock::now() < until) {
            pump(10);
            if (connected_ && hello.empty()) return true;
            if (connected_ && !saidHello_) {
                send(hello);
                saidHello_ = true;
            }
            if (id_ > 0) return true;
        }
        return false;
    }

    void send(const std::string& text, bool reliable = true) {
        ENetPacket* p = enet_packet_create(text.data(), text.size(),
                                           reliable ? ENET_PACKET_FLAG_RELIABLE : ENET_PACKET_FLAG_UNSEQUENCED);
        if (enet_peer_send(peer_, 0, p) != 0) enet_packet_destroy(p);
        enet_host_flush(enet_);
    }
    void sendAlive() { send(wireSimple(MsgKind::Alive), false); }
    // The same message `count` times at once, unreliably (nothing holds a flood back), in one
    // flush: a few million a second on loopback.
    void flood(const std::string& text, int count) {
        if (!peer_ || disconnected_) return;
        for (int k = 0; k < count; ++k) {
            ENetPacket* p = enet_packet_create(text.data(), text.size(), ENET_PACKET_FLAG_UNSEQUENCED);
            if (enet_peer_send(peer_, 0, p) != 0) enet_packet_destroy(p);
        }
        enet_host_flush(enet_);
    }

    // A packet of this machine's steps `first`.. for its game, the last carrying `fingerprint`
    // (what the host takes as the fingerprint after step last - D - 1), confirming what it holds
    // of the host's. Each step's events fill every slot they give, its players' or not.
    void sendSteps(long first, const std::vector<std::vector<ScriptEvent>>& steps, bool withFingerprint,
                   uint32_t fingerprint) {
        StepsPacket p;
        p.game = start_.game;
        p.have = {{0, hostHave_}};
        std::vector<StepCommands> commands;
        for (const std::vector<ScriptEvent>& step : steps) commands.push_back(commandsOf(step));
        p.runs.push_back(StepRun{id_, first, commands, withFingerprint, fingerprint});
        send(wireSteps(p), false);
    }

    // Takes what has come, waiting up to waitMs for the first packet.
    void pump(int waitMs) {
        ENetEvent e;
        int wait = waitMs;
        while (enet_host_service(enet_, &e, enet_uint32(wait)) > 0) {
            wait = 0;
            if (e.type == ENET_EVENT_TYPE_CONNECT) connected_ = true;
            if (e.type == ENET_EVENT_TYPE_DISCONNECT) disconnected_ = true;
            if (e.type != ENET_EVENT_TYPE_RECEIVE) continue;
            const std::string text(reinterpret_cast<const char*>(e.packet->data), e.packet->dataLength);
            enet_packet_destroy(e.packet);
            take(text);
        }
    }
    // Pumps until `done` or the time is up.
    template <class Done>
    bool pumpUntil(Done done, int timeoutMs) {
        const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Clock::now() < until) {
            if (done()) return true;
            pump(5);
        }
        return done();
    }

    int id() const { return id_; }
    bool started() const { return started_; }
    const StartMessage& start() const { return start_; }
    long hostHave() const { return hostHave_; }   // the host's last step block seen
    bool disconnected() const { return disconnected_; }
    const std::vector<std::string>& byes() const { return byes_; }     // why the host let it go
    const std::vector<std::string>& refusals() const { return refusals_; }   // why it would not have it

private:
    using Clock = std::chrono::steady_clock;

    void take(const std::string& text) {
        MsgKind kind;
        if (!wireKind(text, kind)) return;
        if (kind == MsgKind::Steps) {
            StepsPacket p;
            if (readSteps(text, p))
                for (const StepRun& run : p.runs)
                    if (run.machine == 0 && run.first <= hostHave_ + 1) hostHave_ = std::max(hostHave_, run.last());
            return;
        }
        if (kind == MsgKind::Alive) return;
        std::string said;
        long number = 0;
        if (kind == MsgKind::Bye && readText(text, said)) byes_.push_back(said);
        if (kind == MsgKind::Refuse && readText(text, said)) refusals_.push_back(said);
        if (kind == MsgKind::Over) enet_peer_disconnect(peer_, 0);   // as a guest says goodbye
        if (kind == MsgKind::Welcome && readNumber(text, 1, kMaxMachineId, number)) id_ = int(number);
        if (kind == MsgKind::Start && readStart(text, start_)) {
            started_ = true;
            hostHave_ = start_.delay;
        }
    }

    ENetHost* enet_ = nullptr;
    ENetPeer* peer_ = nullptr;
    bool connected_ = false;
    bool saidHello_ = false;
    bool disconnected_ = false;
    int id_ = -1;
    bool started_ = false;
    StartMessage start_;
    long hostHave_ = 0;
    std::vector<std::string> byes_;
    std::vector<std::string> refusals_;
};

// A connection whose handshake is never finished: ENet's connect goes out and the host's answer
// is never read. renew() lets it go (unannounced) and makes a new one from another port.
class HalfOpen {
public:
    explicit HalfOpen(uint16_t port) : port_(port) { renew(); }
    ~HalfOpen() { close(); }
    HalfOpen(const HalfOpen&) = delete;
    HalfOpen& operator=(const HalfOpen&) = delete;
    void renew() {
        close();
        enet_ = enet_host_create(nullptr, 1, 1, 0, 0);
        ENetAddress to{};
        enet_address_set_host(&to, "127.0.0.1");
        to.port = port_;
        if (enet_ && enet_host_connect(enet_, &to, 1, 0)) enet_host_flush(enet_);
    }

private:
    void close() {
        if (enet_) enet_host_destroy(enet_);
        enet_ = nullptr;
    }
    uint16_t port_;
    ENetHost* enet_ = nullptr;
};

// A host of the test's own on the wire: it welcomes one guest, starts its game and then says
// what the test makes it say (or nothing at all), answering ENet's pings all the while.
class HostileHost {
public:
    explicit HostileHost(uint16_t port) {
        static const bool ready = enet_initialize() == 0;
        (void)ready;
        ENetAddress at{};
        at.host = ENET_HOST_ANY;
        at.port = port;
        enet_ = enet_host_create(&at, 4, 1, 0, 0);
    }
    ~HostileHost() {
        if (enet_) enet_host_destroy(enet_);
    }
    HostileHost(const HostileHost&) = delete;
    HostileHost& operator=(const HostileHost&) = delete;
    bool listening() const { return enet_ != nullptr; }

    // Takes what comes; a hello is welcomed as machine 1 and, with `start`, its game begins.
    void pump(int waitMs, const StartMessage* start = nullptr) {
        ENetEvent e;
        for (int wait = waitMs; enet_host_service(enet_, &e, enet_uint32(wait)) > 0; wait = 0) {
            if (e.type == ENET_EVENT_TYPE_CONNECT) guest_ = e.peer;
            if (e.type == ENET_EVENT_TYPE_DISCONNECT && e.peer == guest_) {
                guest_ = nullptr;
                left_ = true;
            }
            if (e.type != ENET_EVENT_TYPE_RECEIVE) continue;
            const std::string text(reinterpret_cast<const char*>(e.packet->data), e.packet->dataLength);
            enet_packet_destroy(e.packet);
            MsgKind kind;
            if (wireKind(text, kind) && kind == MsgKind::Steps) heardSteps_ = true;
            if (!welcomed_ && wireKind(text, kind) && kind == MsgKind::Hello) {
                HelloMessage hello;
                if (!readHello(text, hello)) continue;
                welcomed_ = true;
                send(wireNumber(MsgKind::Welcome, 1));
                send(wireRoster({{0, {true, false, false, false}}, {1, hello.players}}));
                if (start) send(wireStart(*start));
            }
        }
    }
    void send(const std::string& text, bool reliable = true) {
        if (!guest_) return;
        ENetPacket* p = enet_packet_create(text.data(), text.size(),
                                           reliable ? ENET_PACKET_FLAG_RELIABLE : ENET_PACKET_FLAG_UNSEQUENCED);
        if (enet_peer_send(guest_, 0, p) != 0) enet_packet_destroy(p);
        enet_host_flush(enet_);
    }
    bool welcomed() const { return welcomed_; }
    bool heardSteps() const { return heardSteps_; }   // the guest has begun its game
    bool guestLeft() const { return left_; }   // it said goodbye, or ENet gave up on it

private:
    ENetHost* enet_ = nullptr;
    ENetPeer* guest_ = nullptr;
    bool welcomed_ = false;
    bool heardSteps_ = false;
    bool left_ = false;
};

}  // namespace hopshot::testing
