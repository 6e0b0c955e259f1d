#include "testing/fake_host.h"
#include "game/lifecycle.h"

#include <gtest/gtest.h>

namespace hopshot {
namespace {

using testing::TestGame;

TEST(Countdown, AFullGameCountsFrom59ToZeroWithTheWarningAt9To1) {
    TestGame t;
    t.g.w.running = -1;
    t.g.w.timeLeft = 60;
    std::vector<std::string> labels;
    for (int i = 0; i < 60; ++i) {
        countdownTick(t.g);
        labels.push_back(t.host.captions[Label::Time]);
    }
    EXPECT_EQ(labels.front(), "Time : 59");
    EXPECT_EQ(labels[50], "Time : 9");
    EXPECT_EQ(labels.back(), "Time : 0");
    EXPECT_EQ(t.sound.played, std::vector<int>(9, 7));
    EXPECT_EQ(t.g.w.running, 0);
    countdownTick(t.g);   // nothing after the end
    EXPECT_EQ(t.g.w.timeLeft, 0);
}

TEST(Countdown, ActsOnlyWhileAGameRuns) {
    for (int16_t running : {0, 1}) {
        TestGame t;
        t.g.w.running = running;
        t.g.w.timeLeft = 5;
        countdownTick(t.g);
        EXPECT_EQ(t.g.w.timeLeft, 5);
        EXPECT_TRUE(t.host.captions.empty());
    }
}

TEST(Countdown, TheRecordTestAtZero) {
    struct Case {
        const char* name;
        std::initializer_list<int> players;
        int32_t score, solo, coop;
        int prompts;
        int32_t soloAfter, coopAfter;
        std::string nameSolo, nameCoop;
    };
    const Case cases[] = {
        {"one player, a tie is no record", {0}, 500, 500, 0, 0, 500, 0, "OLD", "OLDC"},
        {"one player above the record", {0}, 501, 500, 9999, 1, 501, 9999, "NEW", "OLDC"},
        {"three players: 1000 / 3 = 333 beats 300", {0, 1, 2}, 1000, 0, 300, 1, 0, 333, "OLD", "NEW"},
        {"two players: -1501 / 2 floors to -751", {0, 1}, -1501, 0, -800, 1, 0, -751, "OLD", "NEW"},
        {"no player: no test", {}, 100000, 0, 0, 0, 0, 0, "OLD", "OLDC"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestGame t;
        t.g.w.running = -1;
        t.g.w.timeLeft = 1;
        t.g.w.score = c.score;
        t.g.w.hiScoreSolo = c.solo;
        t.g.w.hiScoreCoop = c.coop;
        t.g.w.hiNameSolo = "OLD";
        t.g.w.hiNameCoop = "OLDC";
        t.host.play(c.players);
        for (int p = 0; p < kPlayers; ++p) t.g.w.playerIn[p] = t.host.checked(MenuItem(p)) ? 1 : 0;
        countdownTick(t.g);
        ASSERT_EQ(int(t.host.asked.size()), c.prompts);
        for (RecordKind asked : t.host.asked) nameRecord(t.g.w, asked, "NEW");   // the answer
        EXPECT_EQ(t.g.w.hiScoreSolo, c.soloAfter);
        EXPECT_EQ(t.g.w.hiScoreCoop, c.coopAfter);
        EXPECT_EQ(t.g.w.hiNameSolo, c.nameSolo);
        EXPECT_EQ(t.g.w.hiNameCoop, c.nameCoop);
    }
}

}  // namespace
}  // namespace hopshot
