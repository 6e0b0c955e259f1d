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

}  // namespace hopshot::fuzz
