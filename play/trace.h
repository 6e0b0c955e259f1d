// The state trace: one JSON object a line, after every frame step and after each game's end.
// Replays compare these line by line, so the field order and the number forms are fixed.
#pragma once

#include "core/world.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace hopshot {

// The object written after frame step `step` of game `game` (both counted from 1). `sounds` are
// the banks played since the previous object, `draws` the random draws since the program started.
void writeStepObject(std::ostream& out, int game, long step, const World& w, uint64_t draws,
                     const std::vector<int>& sounds);

// The object written after a game's teardown: its step count, result and the records as they
// stand.
void writeEndObject(std::ostream& out, int game, long steps, const World& w,
                    const std::vector<int>& sounds);

// A JSON string literal, quotes included. UTF-8 passes through; quotes, backslashes and control
// characters are escaped, and a byte that is not part of valid UTF-8 becomes U+FFFD so that the
// line stays valid JSON whatever a name holds.
std::string jsonString(std::string_view utf8);

// The length of the well-formed UTF-8 sequence that starts at s[i] (no overlong forms, no
// surrogates, at most U+10FFFF), or 0 when the bytes there are not one.
size_t utf8SequenceAt(std::string_view s, size_t i);

}  // namespace hopshot
