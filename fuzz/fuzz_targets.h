// The fuzz targets: each takes one input as bytes and aborts when the code under test breaks a
// promise it makes about that input. libFuzzer calls them (built with clang, see CMakeLists.txt);
// the regression run feeds them the seed corpus and every crash input kept here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace hopshot::fuzz {

int scriptParser(const uint8_t* data, size_t size);   // a replay script
int recordsFile(const uint8_t* data, size_t size);    // the high-score file, written back
int meshFile(const uint8_t* data, size_t size);       // an .x mesh file held in memory
// Datagrams as they reach a host and a guest in a network game: each a byte saying which side
// it reaches (even: the host, from its guest; odd: the guest, from its host), two bytes of
// length (little-endian), then its bytes.
int networkMessages(const uint8_t* data, size_t size);
// Datagrams as they reach the meeting service: each a byte naming its source (its low two bits
// one of four: two ports of one address, another address, a loopback port; its high bit: the
// expired codes are swept first), a byte of tenths of a second since the one before, two bytes
// of length (little-endian), then its bytes.
int meetMessages(const uint8_t* data, size_t size);
// The meeting target's seeds, named: games registered, looked up, refreshed and ended with the
// codes the target's service hands out, in the framing above.
std::vector<std::pair<std::string, std::string>> meetSeeds();
// What a relay sends a TURN client that is allocating, then serving its peers: records of a
// control byte, two bytes of length (little-endian) and that many bytes. Control 0x80 adds the
// peer at the record's first 6 bytes (IPv4, port), 0xC0 removes it; 0x40 moves the clock on by
// the length in ms (no bytes follow); any other is a datagram from the relay, which takes the
// transaction id of the client's request number (control & 3) when that is below 3, and whose
// integrity is written again with the client's key when control & 4.
int turnClient(const uint8_t* data, size_t size);

}  // namespace hopshot::fuzz
