#include "controls/commands.h"
#include "replay/command_events.h"

#include <gtest/gtest.h>

#include <random>

namespace hopshot {
namespace {

// Commands written down as key lines read back as the same commands, and each player's lines
// touch that player alone: a network game's recording replays as it was played.
TEST(CommandEvents, KeyLinesReadBackAsTheCommandsTheyWereWrittenFrom) {
    std::mt19937 random(4);
    for (int n = 0; n < 2000; ++n) {
        StepCommands c;
        for (int p = 0; p < 2; ++p) {
            c.players[size_t(p)].turn = Aim(random() % kAims);
            c.players[size_t(p)].gun = Aim(random() % kAims);
            c.players[size_t(p)].fire = Fire(random() % kFires);
        }
        for (int p = 2; p < kPlayers; ++p)
            if (random() % 2) c.players[size_t(p)].stick = {true, int32_t(random() % 65536), int32_t(random() % 65536), uint32_t(random() % 4)};
        for (int h = int(random() % 4); h > 0; --h) c.addHost(uint8_t(random() % kHostCommandCodes));
        const StepCommands back = commandsOf(commandEvents(c, 9));
        EXPECT_TRUE(back == c) << n;
        for (int p = -1; p < kPlayers; ++p) {
            const StepCommands alone = commandsOf(commandEvents(c, 9, p));
            for (int q = 0; q < kPlayers; ++q)
                if (q != p) EXPECT_TRUE(alone.players[size_t(q)].empty()) << "player " << p + 1 << " touches " << q + 1;
            if (p >= 0) EXPECT_EQ(alone.hostCount, 0) << "player " << p + 1;
        }
    }
}

}  // namespace
}  // namespace hopshot
