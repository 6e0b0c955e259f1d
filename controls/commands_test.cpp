#include "controls/commands.h"
#include "controls/keyboard.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace hopshot {
namespace {

struct Key { bool down; int16_t code; int16_t mask; };

// A step's keys gathered into one command do what they do one by one, from whatever state the
// controls are in (values a `set` line may leave beyond -1..1 included), for either player and
// any modifiers.
TEST(PlayerCommands, AStepsKeysGatheredDoWhatTheyDoOneByOne) {
    const int16_t codes[] = {kVkLeft, kVkRight, kVkUp, kVkDown, kVkCtrl, kVkA, kVkD, kVkW, kVkS, kVkF, 81};
    const int16_t masks[] = {0, kMaskShift, kMaskCtrl, kMaskShift | kMaskCtrl, kMaskAlt};
    const int16_t steers[] = {-1, 0, 1, 5};
    const int16_t fires[] = {0, 1, 2};
    std::mt19937 random(27);
    int differ = 0;
    for (int n = 0; n < 3000; ++n) {
        std::vector<Key> keys(1 + random() % 6);
        for (Key& k : keys) k = {random() % 2 == 0, codes[random() % 11], masks[random() % 5]};
        World start;
        for (int p = 0; p < 2; ++p) {
            start.steerX[size_t(p)] = steers[random() % 4];
            start.steerY[size_t(p)] = steers[random() % 4];
            start.fireState[size_t(p)] = fires[random() % 3];
        }
        World oneByOne = start, gathered = start;
        StepCommands c;
        for (const Key& k : keys) {
            (k.down ? keyDown : keyUp)(oneByOne, k.code, k.mask);
            addKey(c, k.down, k.code, k.mask);
        }
        applyPlayerCommands(gathered, c);
        differ += !(oneByOne == gathered);
        if (!(oneByOne == gathered)) {
            std::string text;
            for (const Key& k : keys)
                text += (k.down ? " down " : " up ") + std::to_string(k.code) + " " + std::to_string(k.mask);
            ADD_FAILURE() << "keys" << text;
            if (differ > 5) break;
        }
    }
}

}  // namespace
}  // namespace hopshot
