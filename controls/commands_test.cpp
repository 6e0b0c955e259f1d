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

// The fold of two commands of one axis or one fire control, from every state, against doing
// them in turn.
TEST(PlayerCommands, TwoCommandsFoldIntoOneThatDoesBoth) {
    for (int a = 0; a < kAims; ++a)
        for (int b = 0; b < kAims; ++b)
            for (int16_t v : {-1, 0, 1, 2}) {
                StepCommands first, second;
                first.players[0].turn = Aim(a);
                second.players[0].turn = Aim(b);
                World inTurn, folded;
                inTurn.steerX[0] = folded.steerX[0] = v;
                applyPlayerCommands(inTurn, first);
                applyPlayerCommands(inTurn, second);
                followedBy(first, second);
                applyPlayerCommands(folded, first);
                EXPECT_EQ(inTurn.steerX[0], folded.steerX[0]) << a << " then " << b << " from " << v;
            }
    for (int a = 0; a < kFires; ++a)
        for (int b = 0; b < kFires; ++b)
            for (int16_t v : {0, 1, 2}) {
                StepCommands first, second;
                first.players[1].fire = Fire(a);
                second.players[1].fire = Fire(b);
                World inTurn, folded;
                inTurn.fireState[1] = folded.fireState[1] = v;
                applyPlayerCommands(inTurn, first);
                applyPlayerCommands(inTurn, second);
                followedBy(first, second);
                applyPlayerCommands(folded, first);
                EXPECT_EQ(inTurn.fireState[1], folded.fireState[1]) << a << " then " << b << " from " << v;
            }
}

// Each key's event, as the translator reads it: whose slot it fills.
TEST(PlayerCommands, EachKeyFillsItsPlayersSlot) {
    struct Case {
        Key key;
        std::array<bool, 4> slots;
        bool stop;
    };
    const Case cases[] = {
        {{true, kVkLeft, 0}, {true, false, false, false}, false},
        {{true, kVkLeft, kMaskCtrl}, {true, false, false, false}, false},   // and player 1 fires
        {{false, kVkA, 0}, {true, true, false, false}, false},   // A up lets go of player 1's fire too
        {{false, kVkA, kMaskShift}, {false, true, false, false}, false},
        {{true, kVkF, kMaskCtrl}, {true, true, false, false}, false},
        {{true, kVkF, 0}, {false, true, false, false}, false},
        {{true, 81, 0}, {false, false, false, false}, false},
        {{true, kVkEscape, kMaskShift}, {false, false, false, false}, true},
        {{false, kVkEscape, kMaskShift}, {false, false, false, false}, false},
    };
    for (const Case& c : cases) {
        StepCommands cmd;
        addKey(cmd, c.key.down, c.key.code, c.key.mask);
        for (int p = 0; p < kPlayers; ++p)
            EXPECT_EQ(!cmd.players[size_t(p)].empty(), c.slots[size_t(p)]) << c.key.code << " player " << p + 1;
        EXPECT_EQ(cmd.hostCount == 1, c.stop) << c.key.code;
    }
}

}  // namespace
}  // namespace hopshot
