#include "net/lockstep.h"
#include "replay/recorder.h"

#include "testing/script_events.h"

#include <gtest/gtest.h>

namespace hopshot {
namespace {

using testing::key;

std::vector<std::string> words(const std::vector<ScriptEvent>& events) {
    std::vector<std::string> v;
    for (const ScriptEvent& e : events) {
        const std::string line = eventLine(e);   // "at 3 key down 37 0\n"
        v.push_back(line.substr(3, line.size() - 4));
    }
    return v;
}

TEST(Lockstep, AStepWaitsForEveryMachineThenTheHostsEventsComeFirstThenTheGuestsInJoinOrder) {
    Lockstep l;
    l.begin(1, 2, {0, 1, 2}, {{true, false, false, false}, {false, false, true, false},
                              {false, true, false, false}});
    EXPECT_TRUE(l.ready(1));
    EXPECT_TRUE(l.ready(2));
    EXPECT_TRUE(l.take(2).empty());
    l.put(2, 3, {key(true, 65, 0)});
    l.put(0, 3, {key(true, 37, 0), key(true, 17, 2)});
    EXPECT_FALSE(l.ready(3));
    l.put(1, 3, {});
    l.put(1, 5, {key(true, 70, 0)});   // a gap before it: not taken
    ASSERT_TRUE(l.ready(3));
    EXPECT_EQ(words(l.take(3)),
              (std::vector<std::string>{"3 key down 37 0", "3 key down 17 2", "3 key down 65 0"}));
    EXPECT_EQ(l.have(1), 3);
}

TEST(Lockstep, ALeavingMachineIsLetGoAtItsLastStepAndNoLongerAwaited) {
    Lockstep l;
    l.begin(1, 1, {0, 1}, {{true, false, false, false}, {false, true, false, false}});
    l.put(0, 2, {});
    l.put(0, 3, {});
    l.put(0, 4, {});
    l.drop(1, 3, releaseEvents({false, true, false, false}));
    EXPECT_FALSE(l.ready(2));          // its step 2 may still come through the host
    l.put(1, 2, {key(true, 68, 0)});
    l.put(1, 3, {key(true, 65, 0)});   // after it left: not taken
    EXPECT_EQ(words(l.take(2)), (std::vector<std::string>{"2 key down 68 0"}));
    ASSERT_TRUE(l.ready(3));
    EXPECT_EQ(words(l.take(3)), (std::vector<std::string>{"3 key up 65 1", "3 key up 68 1",
                                                          "3 key up 87 1", "3 key up 83 1",
                                                          "3 key up 70 1"}));
    EXPECT_TRUE(l.ready(4));
}

TEST(Lockstep, TheHostsFingerprintIsTheReferenceAndTheFirstStepAMachineDiffersIsNamed) {
    Lockstep l;
    l.begin(1, 3, {0, 1, 2}, {});
    for (long s = 1; s <= 6; ++s) {
        l.fingerprint(0, s, 100 + s);
        l.fingerprint(1, s, 100 + s);
    }
    l.fingerprint(2, 5, 9);   // later steps arrive first
    l.fingerprint(2, 4, 9);
    l.fingerprint(2, 3, 103);
    EXPECT_EQ(l.disagreesAfter(2), 4);
    EXPECT_EQ(l.disagreesAfter(1), 0);
    EXPECT_EQ(l.disagreeing(), std::vector<int>{2});
    // Two guests that differ from each other, one of them with the host: only that one.
    Lockstep three;
    three.begin(1, 3, {0, 1, 2}, {});
    three.fingerprint(1, 1, 5);
    three.fingerprint(2, 1, 6);
    EXPECT_TRUE(three.disagreeing().empty());
    three.fingerprint(0, 1, 6);
    EXPECT_EQ(three.disagreeing(), std::vector<int>{1});
}

// Every machine merges with the same rule: what a machine sends counts only for its own players,
// and the host's commands only from the host.
TEST(Lockstep, WhereStepsMergeAMachinesEventsCountOnlyForItsOwnPlayers) {
    auto joy = [](int j) {
        ScriptEvent e;
        e.kind = ScriptEvent::Kind::Joy;
        e.joystick = j;
        return e;
    };
    auto of = [](ScriptEvent::Kind k) {
        ScriptEvent e;
        e.kind = k;
        return e;
    };
    const Players p1{true, false, false, false}, p2{false, true, false, false},
        p34{false, false, true, true}, p12{true, true, false, false};
    struct Case {
        Players brings;
        bool host;
        ScriptEvent e;
        bool counts;
    };
    const std::vector<Case> cases = {
        {p2, false, key(true, 37, 0), false},  {p2, false, key(true, 39, 0), false},
        {p2, false, key(true, 17, 2), false},  // Ctrl arms player 1's fire
        {p2, false, key(true, 70, 2), false},  // F with Ctrl: player 2's fire and player 1's
        {p2, false, key(true, 70, 0), true},   {p2, false, key(false, 70, 1), true},
        {p2, false, key(false, 70, 0), true},  // player 2's own key coming up, as in one window
        {p2, false, key(false, 81, 0), false}, // another key up with no modifier: player 1's fire
        {p2, false, key(false, 17, 0), false},
        {p1, false, key(true, 65, 0), false},  {p1, false, key(false, 81, 0), true},
        {p12, false, key(true, 70, 2), true},  {p1, true, key(true, 27, 0), true},
        {p12, false, key(true, 27, 0), false}, // Esc from a guest
        {p1, true, of(ScriptEvent::Kind::Tick), true},
        {p12, false, of(ScriptEvent::Kind::Tick), false},
        {p12, false, of(ScriptEvent::Kind::Menu), false},
        {p34, false, joy(0), true},            {p34, false, joy(1), true},
        {p2, false, joy(0), false},            {p2, true, joy(1), false},
        {p2, false, key(true, 81, 0), true},   // moves no one
    };
    for (const Case& c : cases)
        EXPECT_EQ(counts(c.brings, c.host, c.e), c.counts)
            << playersDigits(c.brings) << (c.host ? " host " : " guest ") << eventLine(c.e);

    // In the lockstep: dropped, counted and named once.
    Lockstep l;
    l.begin(1, 1, {0, 1}, {p1, p2});
    l.put(0, 2, {key(true, 37, 0)});
    l.put(1, 2, {key(true, 39, 0), key(true, 27, 0), of(ScriptEvent::Kind::Tick), key(true, 68, 0)});
    EXPECT_EQ(words(l.take(2)), (std::vector<std::string>{"2 key down 37 0", "2 key down 68 0"}));
    EXPECT_EQ(l.refused(1), 3);
    EXPECT_EQ(l.refused(0), 0);
    const std::vector<std::string> notices = l.takeNotices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("machine 2 (players 2) sent `at 2 key down 39 0`"), std::string::npos)
        << notices[0];
}

struct OwnCase {
    Players mine;
    ScriptEvent in;
    bool sent;
    int16_t mask;   // as sent
};

TEST(Lockstep, AMachineSendsOnlyWhatMovesItsOwnPlayers) {
    ScriptEvent joy1;
    joy1.kind = ScriptEvent::Kind::Joy;
    joy1.joystick = 1;
    ScriptEvent tick;
    tick.kind = ScriptEvent::Kind::Tick;
    const Players p1{true, false, false, false}, p2{false, true, false, false},
        p12{true, true, false, false}, p4{false, false, false, true};
    const std::vector<OwnCase> cases = {
        {p1, key(true, 37, 0), true, 0},    {p2, key(true, 37, 0), false, 0},
        {p1, key(true, 17, 2), true, 2},    {p2, key(true, 17, 2), false, 0},
        {p2, key(true, 70, 2), true, 0},    // Ctrl+F on a machine without player 1: F alone
        {p2, key(false, 70, 0), true, 1},   // its key-up cannot let go of player 1's fire
        {p12, key(false, 70, 0), true, 0},  // both players here: as in one window
        {p1, key(true, 27, 0), false, 0},   // Esc is the window's own
        {p4, joy1, true, 0},                {p2, joy1, false, 0},
        {p1, tick, false, 0},
    };
    for (const OwnCase& c : cases) {
        ScriptEvent e = c.in;
        EXPECT_EQ(ownEvent(c.mine, e), c.sent) << playersDigits(c.mine) << " " << eventLine(c.in);
        if (c.sent) {
            EXPECT_EQ(e.mask, c.mask) << eventLine(c.in);
        }
    }
}

}  // namespace
}  // namespace hopshot
