#include "meet/protocol.h"

#include <enet/protocol.h>
#include <gtest/gtest.h>

#include <functional>

namespace hopshot::meet {
namespace {

constexpr uint32_t kLan = 0xC0A80114;   // 192.168.1.20

Message full(Type t) {
    Message m;
    m.type = t;
    m.nonce = 0xDEADBEEF;
    if (t == Type::Refresh || t == Type::End || t == Type::Lookup || t == Type::Registered ||
        t == Type::GuestComing || t == Type::Relayed || t == Type::GuestRelayed || t == Type::HostRelayed ||
        t == Type::HostRelay)
        m.code = "K7MQ4XZ9";
    if (t == Type::Refresh || t == Type::End || t == Type::Registered || t == Type::HostRelayed) m.hostKey = {1, 2, 3, 4, 5, 6, 7, 250};
    if (t == Type::Register || t == Type::Lookup || t == Type::Found || t == Type::GuestComing)
        m.lan = {{kLan, 7310}, {kLan + 1, 7310}, {0x0A000002, 1}, {0xDFFFFFFF, 65535}};
    if (t == Type::Registered || t == Type::Refreshed || t == Type::Found) {
        m.seen = {0xCB007107, 40001};
        m.turn = {true, {0xC6336401, 3478}, std::string(kMaxUsername, 'u'), std::string(kMaxPassword, '=')};
    }
    if (t == Type::Found || t == Type::GuestComing || t == Type::GuestRelayed || t == Type::HostRelayed)
        m.peer = {0x7F000001, 50000};
    if (t == Type::Relayed || t == Type::GuestRelayed || t == Type::HostRelayed || t == Type::HostRelay) m.relayed = {0xCB00710A, 49152};
    if (t == Type::Register || t == Type::Found) m.game.hostName = std::string(kMaxNameBytes, '\xC3');
    if (t == Type::Register || t == Type::Refresh || t == Type::Found) m.game = {m.game.hostName, 4, 15};
    if (t == Type::Registered || t == Type::Refreshed) m.secondsToLive = kMaxSecondsToLive;
    if (t == Type::Error) m.error = ErrorCode::GameFull;
    if (!isRequest(t)) m.padTo = 0;
    return m;
}

const Type kTypes[] = {Type::Register, Type::Registered, Type::Refresh, Type::Refreshed, Type::End,
                       Type::Ended, Type::Lookup, Type::Found, Type::GuestComing, Type::Relayed,
                       Type::RelayNoted, Type::GuestRelayed, Type::HostRelayed, Type::HostRelay, Type::Error};

TEST(MeetProtocol, EveryMessageAtItsLargestReadsBackAndNoAnswerOutgrowsARequest) {
    for (Type t : kTypes) {
        Message m = full(t);
        const std::string bytes = encode(m);
        if (isRequest(t)) {
            EXPECT_EQ(bytes.size(), kMinRequest) << int(t);
            m.padTo = bytes.size();
        } else {
            EXPECT_LE(bytes.size(), kMinRequest) << int(t);
        }
        Message back;
        std::string why;
        ASSERT_EQ(decode(bytes, back, &why), Decoded::Ok) << int(t) << ": " << why;
        if (!isRequest(t)) back.padTo = 0;
        EXPECT_EQ(back, m) << int(t);
    }
}

// Offsets below count from the start of the datagram; the header is 10 bytes.
TEST(MeetProtocol, EveryFieldOutOfRangeIsRefused) {
    using Edit = std::function<void(std::string&)>;
    struct Case { const char* what; Type type; Edit edit; Decoded expected; };
    auto set = [](size_t at, uint8_t v) { return Edit([=](std::string& b) { b[at] = char(v); }); };
    auto cut = [](size_t n) { return Edit([=](std::string& b) { b.resize(b.size() - n); }); };
    const Case cases[] = {
        {"another magic", Type::Lookup, set(1, 0xFE), Decoded::NotOurs},
        {"header cut", Type::Lookup, [](std::string& b) { b.resize(9); }, Decoded::NotOurs},
        {"too long", Type::Lookup, [](std::string& b) { b.resize(kMaxDatagram + 1); }, Decoded::NotOurs},
        {"another version", Type::Lookup, set(4, kVersion + 1), Decoded::BadVersion},
        {"unknown type", Type::Lookup, set(5, 10), Decoded::Malformed},
        {"request not padded", Type::Lookup, cut(1), Decoded::Malformed},
        {"padding not zero", Type::Lookup, set(kMinRequest - 1, 1), Decoded::Malformed},
        {"code character 0", Type::Lookup, set(10, '0'), Decoded::Malformed},
        {"code lowercase", Type::Lookup, set(17, 'k'), Decoded::Malformed},
        {"LAN count 5", Type::Lookup, set(18, 5), Decoded::Malformed},
        {"LAN address 0.x", Type::Register, set(11, 0), Decoded::Malformed},
        {"LAN address loopback", Type::Register, set(11, 127), Decoded::Malformed},
        {"LAN address multicast", Type::Register, set(11, 224), Decoded::Malformed},
        {"LAN port 0", Type::Register, [](std::string& b) { b[15] = b[16] = 0; }, Decoded::Malformed},
        {"host name empty", Type::Register, set(35, 0), Decoded::Malformed},
        {"host name 33 bytes", Type::Register, set(35, 33), Decoded::Malformed},
        {"host name control", Type::Register, set(36, '\n'), Decoded::Malformed},
        {"machines 0", Type::Register, set(68, 0), Decoded::Malformed},
        {"machines 5", Type::Register, set(68, 5), Decoded::Malformed},
        {"free players 16", Type::Register, set(69, 16), Decoded::Malformed},
        {"refresh machines 0", Type::Refresh, set(26, 0), Decoded::Malformed},
        {"error 0", Type::Error, set(10, 0), Decoded::Malformed},
        {"error 6", Type::Error, set(10, 6), Decoded::Malformed},
        {"answer with a byte more", Type::Error, [](std::string& b) { b.push_back(0); }, Decoded::Malformed},
        {"answer cut", Type::Registered, cut(1), Decoded::Malformed},
        {"seen port 0", Type::Registered, [](std::string& b) { b[30] = b[31] = 0; }, Decoded::Malformed},
        {"seconds to live 0", Type::Registered, [](std::string& b) { b[32] = b[33] = 0; }, Decoded::Malformed},
        {"seconds to live 3601", Type::Registered, [](std::string& b) { b[32] = 0x0E; b[33] = 0x11; }, Decoded::Malformed},
        {"relay flag 2", Type::Registered, set(34, 2), Decoded::Malformed},
        {"relay address 255.x", Type::Registered, set(35, 255), Decoded::Malformed},
        {"username 33 long", Type::Registered, set(41, 33), Decoded::Malformed},
        {"username space", Type::Registered, set(42, ' '), Decoded::Malformed},
        {"password not base64", Type::Registered, set(75, '-'), Decoded::Malformed},
        {"relayed to loopback", Type::Relayed, set(18, 127), Decoded::Malformed},
        {"guest relayed to port 0", Type::GuestRelayed, [](std::string& b) { b[28] = b[29] = 0; }, Decoded::Malformed},
        {"host relayed to loopback", Type::HostRelayed, set(32, 127), Decoded::Malformed},
        {"host relay with an address but no port", Type::HostRelay, [](std::string& b) { b[22] = b[23] = 0; }, Decoded::Malformed},
        {"guest coming port 0", Type::GuestComing, [](std::string& b) { b[22] = b[23] = 0; }, Decoded::Malformed},
    };
    for (const Case& c : cases) {
        std::string bytes = encode(full(c.type));
        Message m;
        ASSERT_EQ(decode(bytes, m), Decoded::Ok) << c.what;
        c.edit(bytes);
        std::string why;
        EXPECT_EQ(decode(bytes, m, &why), c.expected) << c.what;
        if (c.expected == Decoded::Malformed) { EXPECT_FALSE(why.empty()) << c.what; }
    }
}

TEST(MeetProtocol, TheMagicIsNoHeaderEnetSends) {
    const unsigned first = unsigned(kMagic[0]) << 8 | kMagic[1];
    // ENet's unassigned peer (a connect) always goes with session 0.
    EXPECT_EQ(first & ENET_PROTOCOL_MAXIMUM_PEER_ID, unsigned(ENET_PROTOCOL_MAXIMUM_PEER_ID));
    EXPECT_NE(first & ENET_PROTOCOL_HEADER_SESSION_MASK, 0u);
    EXPECT_NE(kMagic[2] & 0x0F, unsigned(ENET_PROTOCOL_COMMAND_CONNECT));
    // Every first two bytes ENet writes: any flags, session bits only beside an assigned peer.
    for (unsigned flags : {0u, 0x4000u, 0x8000u, 0xC000u})
        for (unsigned peer : {0u, 1u, 0xFFEu, 0xFFFu})
            for (unsigned session = 0; session < 4; ++session)
                if (peer != ENET_PROTOCOL_MAXIMUM_PEER_ID || session == 0) {
                    const unsigned v = flags | session << 12 | peer;
                    EXPECT_FALSE(isMeetingDatagram(std::string{char(v >> 8), char(v), 'h', 'm', 1, 7})) << v;
                }
    EXPECT_TRUE(isMeetingDatagram(encode(full(Type::Lookup))));
}

TEST(MeetProtocol, CodesAsPlayersTypeThem) {
    const struct { const char* typed; const char* code; } cases[] = {
        {"K7MQ4XZ9", "K7MQ4XZ9"}, {"k7mq4xz9", "K7MQ4XZ9"}, {"k7mq-4xz9", "K7MQ4XZ9"},
        {" K7MQ 4XZ9 ", "K7MQ4XZ9"}, {"K7MQ4XZ", ""}, {"K7MQ4XZ99", ""}, {"K7MQ4XZO", ""},
        {"K7MQ4XZ1", ""}, {"K7MQ4XZI", ""}, {"K7MQ4XZL", ""}, {"K7MQ4XZU", ""}, {"K7MQ4XZ\xC3", ""}, {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(parseCode(c.typed).value_or(""), c.code) << c.typed;
}

}  // namespace
}  // namespace hopshot::meet
