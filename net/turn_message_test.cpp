#include "net/turn_message.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hopshot::turn {
namespace {

std::string bytes(std::initializer_list<int> b) {
    std::string s;
    for (int v : b) s += char(v);
    return s;
}

// The published STUN test vectors (RFC 5769), byte for byte: padding there is spaces or zeros.
const std::string kSampleRequest = bytes({
    0x00, 0x01, 0x00, 0x58, 0x21, 0x12, 0xa4, 0x42, 0xb7, 0xe7, 0xa7, 0x01, 0xbc, 0x34, 0xd6, 0x86,
    0xfa, 0x87, 0xdf, 0xae, 0x80, 0x22, 0x00, 0x10, 0x53, 0x54, 0x55, 0x4e, 0x20, 0x74, 0x65, 0x73,
    0x74, 0x20, 0x63, 0x6c, 0x69, 0x65, 0x6e, 0x74, 0x00, 0x24, 0x00, 0x04, 0x6e, 0x00, 0x01, 0xff,
    0x80, 0x29, 0x00, 0x08, 0x93, 0x2f, 0xf9, 0xb1, 0x51, 0x26, 0x3b, 0x36, 0x00, 0x06, 0x00, 0x09,
    0x65, 0x76, 0x74, 0x6a, 0x3a, 0x68, 0x36, 0x76, 0x59, 0x20, 0x20, 0x20, 0x00, 0x08, 0x00, 0x14,
    0x9a, 0xea, 0xa7, 0x0c, 0xbf, 0xd8, 0xcb, 0x56, 0x78, 0x1e, 0xf2, 0xb5, 0xb2, 0xd3, 0xf2, 0x49,
    0xc1, 0xb5, 0x71, 0xa2, 0x80, 0x28, 0x00, 0x04, 0xe5, 0x7a, 0x3b, 0xcf});
const std::string kIpv4Response = bytes({
    0x01, 0x01, 0x00, 0x3c, 0x21, 0x12, 0xa4, 0x42, 0xb7, 0xe7, 0xa7, 0x01, 0xbc, 0x34, 0xd6, 0x86,
    0xfa, 0x87, 0xdf, 0xae, 0x80, 0x22, 0x00, 0x0b, 0x74, 0x65, 0x73, 0x74, 0x20, 0x76, 0x65, 0x63,
    0x74, 0x6f, 0x72, 0x20, 0x00, 0x20, 0x00, 0x08, 0x00, 0x01, 0xa1, 0x47, 0xe1, 0x12, 0xa6, 0x43,
    0x00, 0x08, 0x00, 0x14, 0x2b, 0x91, 0xf5, 0x99, 0xfd, 0x9e, 0x90, 0xc3, 0x8c, 0x74, 0x89, 0xf9,
    0x2a, 0xf9, 0xba, 0x53, 0xf0, 0x6b, 0xe7, 0xd7, 0x80, 0x28, 0x00, 0x04, 0xc0, 0x7d, 0x4c, 0x96});
const std::string kIpv6Response = bytes({
    0x01, 0x01, 0x00, 0x48, 0x21, 0x12, 0xa4, 0x42, 0xb7, 0xe7, 0xa7, 0x01, 0xbc, 0x34, 0xd6, 0x86,
    0xfa, 0x87, 0xdf, 0xae, 0x80, 0x22, 0x00, 0x0b, 0x74, 0x65, 0x73, 0x74, 0x20, 0x76, 0x65, 0x63,
    0x74, 0x6f, 0x72, 0x20, 0x00, 0x20, 0x00, 0x14, 0x00, 0x02, 0xa1, 0x47, 0x01, 0x13, 0xa9, 0xfa,
    0xa5, 0xd3, 0xf1, 0x79, 0xbc, 0x25, 0xf4, 0xb5, 0xbe, 0xd2, 0xb9, 0xd9, 0x00, 0x08, 0x00, 0x14,
    0xa3, 0x82, 0x95, 0x4e, 0x4b, 0xe6, 0x7b, 0xf1, 0x17, 0x84, 0xc9, 0x7c, 0x82, 0x92, 0xc2, 0x75,
    0xbf, 0xe3, 0xed, 0x41, 0x80, 0x28, 0x00, 0x04, 0xc8, 0xfb, 0x0b, 0x4c});
const std::string kLongTermRequest = bytes({
    0x00, 0x01, 0x00, 0x60, 0x21, 0x12, 0xa4, 0x42, 0x78, 0xad, 0x34, 0x33, 0xc6, 0xad, 0x72, 0xc0,
    0x29, 0xda, 0x41, 0x2e, 0x00, 0x06, 0x00, 0x12, 0xe3, 0x83, 0x9e, 0xe3, 0x83, 0x88, 0xe3, 0x83,
    0xaa, 0xe3, 0x83, 0x83, 0xe3, 0x82, 0xaf, 0xe3, 0x82, 0xb9, 0x00, 0x00, 0x00, 0x15, 0x00, 0x1c,
    0x66, 0x2f, 0x2f, 0x34, 0x39, 0x39, 0x6b, 0x39, 0x35, 0x34, 0x64, 0x36, 0x4f, 0x4c, 0x33, 0x34,
    0x6f, 0x4c, 0x39, 0x46, 0x53, 0x54, 0x76, 0x79, 0x36, 0x34, 0x73, 0x41, 0x00, 0x14, 0x00, 0x0b,
    0x65, 0x78, 0x61, 0x6d, 0x70, 0x6c, 0x65, 0x2e, 0x6f, 0x72, 0x67, 0x00, 0x00, 0x08, 0x00, 0x14,
    0xf6, 0x70, 0x24, 0x65, 0x6d, 0xd6, 0x4a, 0x3e, 0x02, 0xb8, 0xe0, 0x71, 0x2e, 0x85, 0xc9, 0xa2,
    0x8c, 0xa8, 0x96, 0x66});
const std::string kShortTermKey = "VOkJxbRl1RmTxUk/WvJxBt";
const std::string kMatrix = "\xe3\x83\x9e\xe3\x83\x88\xe3\x83\xaa\xe3\x83\x83\xe3\x82\xaf\xe3\x82\xb9";

TEST(TurnMessage, ReadsThePublishedVectorsAndChecksTheirIntegrity) {
    struct Case {
        const char* name;
        std::string bytes;
        std::string key;
        uint8_t cls;
        std::string mapped;       // XOR-MAPPED-ADDRESS in the clear, or empty
        std::string username;
        bool fingerprint;
    };
    const std::vector<Case> cases = {
        {"sample request", kSampleRequest, kShortTermKey, kRequest, "", "evtj:h6vY", true},
        {"IPv4 response", kIpv4Response, kShortTermKey, kSuccess, "192.0.2.1:32853", "", true},
        {"IPv6 response", kIpv6Response, kShortTermKey, kSuccess,
         "[2001:db8:1234:5678:11:2233:4455:6677]:32853", "", true},
        {"long-term request", kLongTermRequest, longTermKey(kMatrix, "example.org", "TheMatrIX"),
         kRequest, "", kMatrix, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Message m;
        std::string why;
        ASSERT_TRUE(decode(c.bytes, m, why)) << why;
        EXPECT_EQ(m.method, kBinding);
        EXPECT_EQ(m.cls, c.cls);
        EXPECT_EQ(m.xorMapped ? m.xorMapped->text() : "", c.mapped);
        EXPECT_EQ(m.username.value_or(""), c.username);
        EXPECT_EQ(m.fingerprint, c.fingerprint);
        EXPECT_TRUE(integrityMatches(c.bytes, m, c.key));
        EXPECT_FALSE(integrityMatches(c.bytes, m, c.key + "x"));
        // The same integrity written again over the bytes read gives the same bytes.
        std::string again = c.bytes;
        reseal(again, m, c.key);
        EXPECT_EQ(again, c.bytes);
    }
    Message m;
    std::string why;
    ASSERT_TRUE(decode(kLongTermRequest, m, why));
    EXPECT_EQ(m.realm.value_or(""), "example.org");
    EXPECT_EQ(m.nonce.value_or(""), "f//499k954d6OL34oL9FSTvy64sA");
}

TEST(TurnMessage, WhatItWritesReadsBackWithIntegrity) {
    Message m;
    m.method = kChannelBind;
    m.cls = kRequest;
    m.transaction = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    m.username = "1700000000:ABCD2345";
    m.realm = "hopshot";
    m.nonce = "abc";
    m.channel = 0x4001;
    m.lifetime = 600;
    m.requestedTransport = kTransportUdp;
    m.xorPeer = Address::v4(0x7F000001, 49200);
    m.data = "x";
    const std::string key = longTermKey(*m.username, "hopshot", "secret");
    const std::string b = encode(m, key);
    Message r;
    std::string why;
    ASSERT_TRUE(decode(b, r, why)) << why;
    EXPECT_EQ(r.method, kChannelBind);
    EXPECT_EQ(r.transaction, m.transaction);
    EXPECT_EQ(r.channel, 0x4001);
    EXPECT_EQ(r.lifetime, 600u);
    EXPECT_EQ(r.requestedTransport, kTransportUdp);
    EXPECT_EQ(r.xorPeer->text(), "127.0.0.1:49200");
    EXPECT_EQ(r.data, "x");
    EXPECT_TRUE(r.fingerprint);
    EXPECT_TRUE(integrityMatches(b, r, key));
    EXPECT_FALSE(integrityMatches(b, r, longTermKey(*m.username, "hopshot", "wrong")));
}

// Each case breaks one rule of the format in an otherwise good message.
TEST(TurnMessage, RefusesMalformedMessagesForTheirFault) {
    const std::string good = kIpv4Response;
    auto with = [&](size_t at, std::initializer_list<int> b) {
        std::string s = good;
        for (int v : b) s[at++] = char(v);
        return s;
    };
    auto header = [](uint16_t length, std::string body) {
        std::string s = bytes({0x01, 0x01, length >> 8, length & 0xFF, 0x21, 0x12, 0xa4, 0x42});
        return s + std::string(12, '\x07') + body;
    };
    struct Case {
        const char* name;
        std::string bytes;
        const char* why;
    };
    const std::vector<Case> cases = {
        {"empty", "", "shorter than a header"},
        {"19 bytes", good.substr(0, 19), "shorter than a header"},
        {"ChannelData bits", with(0, {0x40}), "first two bits"},
        {"length one short", with(2, {0x00, 0x3b}), "length does not match"},
        {"cut datagram", good.substr(0, good.size() - 4), "length does not match"},
        {"odd length", header(2, "ab"), "multiple of 4"},
        {"wrong cookie", with(4, {0x21, 0x12, 0xa4, 0x43}), "no magic cookie"},
        {"attribute past the end", header(8, bytes({0x00, 0x0d, 0x00, 0x08, 0, 0, 0, 0})), "runs past"},
        {"empty SOFTWARE, allowed", header(4, bytes({0x80, 0x22, 0x00, 0x00})), ""},
        {"lifetime of 2 bytes", header(8, bytes({0x00, 0x0d, 0x00, 0x02, 0, 0, 0, 0})), "LIFETIME"},
        {"address of family 3", header(12, bytes({0x00, 0x16, 0x00, 0x08, 0, 3, 0, 0, 0, 0, 0, 0})), "family"},
        {"IPv6 family, IPv4 length", header(12, bytes({0x00, 0x20, 0x00, 0x08, 0, 2, 0, 0, 0, 0, 0, 0})), "family"},
        {"channel 0x3FFF", header(8, bytes({0x00, 0x0c, 0x00, 0x04, 0x3f, 0xff, 0, 0})), "channel number"},
        {"channel 0x5000", header(8, bytes({0x00, 0x0c, 0x00, 0x04, 0x50, 0x00, 0, 0})), "channel number"},
        {"error class 2", header(8, bytes({0x00, 0x09, 0x00, 0x04, 0, 0, 2, 0})), "error code"},
        {"error number 100", header(8, bytes({0x00, 0x09, 0x00, 0x04, 0, 0, 4, 100})), "error code"},
        {"integrity of 16 bytes", header(20, bytes({0x00, 0x08, 0x00, 0x10}) + std::string(16, 'k')), "MESSAGE-INTEGRITY"},
        {"fingerprint flipped", with(good.size() - 1, {0x97}), "FINGERPRINT does not match"},
        {"attribute after fingerprint",
         header(16, bytes({0x80, 0x28, 0x00, 0x04, 0, 0, 0, 0, 0x00, 0x0d, 0x00, 0x04, 0, 0, 0, 0})), "FINGERPRINT"},
        {"realm too long", header(4 + 764, bytes({0x00, 0x14, 0x02, 0xfc}) + std::string(764, 'r')), "too long"},
        {"longer than a relay sends", header(1484, bytes({0x00, 0x13, 0x05, 0xc8}) + std::string(1480, 'd')), "longer"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Message m;
        std::string why;
        if (std::string(c.why).empty()) {   // a zero-length attribute is allowed
            EXPECT_TRUE(decode(c.bytes, m, why)) << why;
            continue;
        }
        EXPECT_FALSE(decode(c.bytes, m, why));
        EXPECT_NE(why.find(c.why), std::string::npos) << why;
    }
}

TEST(TurnMessage, ChannelDataFramesAreCheckedByChannelAndLength) {
    EXPECT_EQ(encodeChannelData(0x4000, "abcde"), bytes({0x40, 0x00, 0x00, 0x05, 'a', 'b', 'c', 'd', 'e', 0, 0, 0}));
    struct Case {
        const char* name;
        std::string bytes;
        bool ok;
        uint16_t channel;
        std::string payload;
    };
    const std::vector<Case> cases = {
        {"padded", bytes({0x40, 0x01, 0x00, 0x03, 'a', 'b', 'c', 0}), true, 0x4001, "abc"},
        {"unpadded over UDP", bytes({0x4f, 0xff, 0x00, 0x03, 'a', 'b', 'c'}), true, 0x4fff, "abc"},
        {"empty payload", bytes({0x40, 0x00, 0x00, 0x00}), true, 0x4000, ""},
        {"cut header", bytes({0x40, 0x00, 0x00}), false, 0, ""},
        {"length past the datagram", bytes({0x40, 0x00, 0x00, 0x05, 'a', 'b', 'c', 'd'}), false, 0, ""},
        {"more than padding after it", bytes({0x40, 0x00, 0x00, 0x01, 'a', 0, 0, 0, 0}), false, 0, ""},
        {"channel 0x5000", bytes({0x50, 0x00, 0x00, 0x00}), false, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint16_t channel = 0;
        std::string_view payload;
        ASSERT_EQ(decodeChannelData(c.bytes, channel, payload), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(channel, c.channel);
        EXPECT_EQ(payload, c.payload);
    }
}

}  // namespace
}  // namespace hopshot::turn
