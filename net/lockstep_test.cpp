#include "controls/commands.h"
#include "net/lockstep.h"
#include "play/command_events.h"
#include "play/recorder.h"

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

// A merged step as the key lines that do it.
std::vector<std::string> words(const StepCommands& c, long step) { return words(commandEvents(c, step)); }

StepCommands cmds(const std::vector<ScriptEvent>& events) { return commandsOf(events); }

TEST(Lockstep, AStepWaitsForEveryMachineThenTheHostsEventsComeFirstThenTheGuestsInJoinOrder) {
    Lockstep l;
    l.begin(1, 2, {0, 1, 2}, {{true, false, false, false}, {false, false, true, false},
                              {false, true, false, false}});
    EXPECT_TRUE(l.ready(1));
    EXPECT_TRUE(l.ready(2));
    EXPECT_TRUE(l.take(2).empty());
    l.put(2, 3, cmds({key(true, 65, 0)}));
    l.put(0, 3, cmds({key(true, 37, 0), key(true, 17, 2)}));
    EXPECT_FALSE(l.ready(3));
    l.put(1, 3, {});
    l.put(1, 5, cmds({key(true, 70, 0)}));   // a gap before it: not taken
    ASSERT_TRUE(l.ready(3));
    EXPECT_EQ(words(l.take(3), 3),
              (std::vector<std::string>{"3 key down 37 0", "3 key down 17 2", "3 key down 65 0"}));
    EXPECT_EQ(l.have(1), 3);
}

// A machine that predicts runs a step with what is held of it so far: the machines whose
// events are in, merged under the same rule, and nothing of the others; taking it later gives
// the whole step.
TEST(Lockstep, AStepPeekedAtHoldsWhatIsInSoFarUnderTheSameRule) {
    Lockstep l;
    l.begin(1, 1, {0, 1, 2}, {{true, false, false, false}, {false, true, false, false},
                              {false, false, true, false}}, true);
    EXPECT_EQ(l.fingerprintLag(), 1 + 1 + kRunAhead);
    struct Case {
        int machine;
        std::vector<ScriptEvent> events;
        std::vector<std::string> peeked;   // step 2 as held after this machine's events came
    };
    const Case cases[] = {
        {2, {key(true, 65, 0)}, {}},   // player 2's key from the machine of player 3: not its own
        {0, {key(true, 37, 0)}, {"2 key down 37 0"}},
        {1, {key(true, 68, 0), key(true, 39, 0)}, {"2 key down 37 0", "2 key down 68 0"}},
    };
    for (const Case& c : cases) {
        l.put(c.machine, 2, cmds(c.events));
        EXPECT_EQ(words(l.peek(2), 2), c.peeked) << "after machine " << c.machine + 1;
    }
    ASSERT_TRUE(l.ready(2));
    EXPECT_EQ(l.refused(2), 0);   // counted when the step is taken, once
    EXPECT_EQ(words(l.take(2), 2), (std::vector<std::string>{"2 key down 37 0", "2 key down 68 0"}));
    EXPECT_TRUE(l.peek(2).empty());
    EXPECT_EQ(l.refused(2), 1);
    EXPECT_EQ(l.refused(1), 1);
}

TEST(Lockstep, ALeavingMachineIsLetGoAtItsLastStepAndNoLongerAwaited) {
    Lockstep l;
    l.begin(1, 1, {0, 1}, {{true, false, false, false}, {false, true, false, false}});
    l.put(0, 2, {});
    l.put(0, 3, {});
    l.put(0, 4, {});
    l.drop(1, 3, releaseCommands({false, true, false, false}));
    EXPECT_FALSE(l.ready(2));          // its step 2 may still come through the host
    l.put(1, 2, cmds({key(true, 68, 0)}));
    l.put(1, 3, cmds({key(true, 65, 0)}));   // after it left: not taken
    EXPECT_EQ(words(l.take(2), 2), (std::vector<std::string>{"2 key down 68 0"}));
    ASSERT_TRUE(l.ready(3));
    EXPECT_EQ(words(l.take(3), 3), (std::vector<std::string>{"3 key up 65 1", "3 key up 68 1",
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

// Every machine merges with the same rule: a machine's slots count only for its own players, and
// the host's commands only from the host. Each row: what one machine sent in step 2 (the other
// machine brings the players it does not), and what reaches the game of it.
TEST(Lockstep, WhereStepsMergeAMachinesCommandsCountOnlyForItsOwnPlayers) {
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
        std::vector<std::string> reaches;
    };
    const std::vector<Case> cases = {
        {p2, false, key(true, 37, 0), {}},
        {p2, false, key(true, 17, 2), {}},                  // Ctrl arms player 1's fire
        {p2, false, key(true, 70, 2), {"2 key down 70 0"}}, // F with Ctrl: player 2's part only
        {p2, false, key(false, 70, 0), {"2 key up 70 1"}},  // its key-up lets go of F alone
        {p2, false, key(false, 65, 0), {"2 key up 65 1"}},
        {p2, false, key(false, 81, 0), {}},                 // player 1's fire let go
        {p1, false, key(true, 65, 0), {}},
        {p1, false, key(false, 81, 0), {"2 key up 17 0"}},
        {p12, false, key(true, 70, 2), {"2 key down 17 2", "2 key down 70 0"}},
        {p1, true, key(true, 27, 0), {"2 key down 27 0"}},
        {p12, false, key(true, 27, 0), {}},                 // Esc from a guest
        {p1, true, of(ScriptEvent::Kind::Tick), {"2 tick"}},
        {p12, false, of(ScriptEvent::Kind::Tick), {}},
        {p12, false, of(ScriptEvent::Kind::Menu), {}},
        {p34, false, joy(0), {"2 joy 0 0 0 0"}},
        {p34, false, joy(1), {"2 joy 1 0 0 0"}},
        {p2, false, joy(0), {}},
        {p2, true, joy(1), {}},
    };
    for (const Case& c : cases) {
        Players others{};
        for (size_t p = 0; p < others.size(); ++p) others[p] = !c.brings[p];
        Lockstep l;
        l.begin(1, 1, {0, 1}, c.host ? std::vector<Players>{c.brings, others} : std::vector<Players>{others, c.brings});
        l.put(c.host ? 0 : 1, 2, cmds({c.e}));
        l.put(c.host ? 1 : 0, 2, {});
        EXPECT_EQ(words(l.take(2), 2), c.reaches)
            << playersDigits(c.brings) << (c.host ? " host " : " guest ") << eventLine(c.e);
    }

    // Dropped, counted and named once.
    Lockstep l;
    l.begin(1, 1, {0, 1}, {p1, p2});
    l.put(0, 2, cmds({key(true, 37, 0)}));
    l.put(1, 2, cmds({key(true, 39, 0), key(true, 27, 0), of(ScriptEvent::Kind::Tick), key(true, 68, 0)}));
    EXPECT_EQ(words(l.take(2), 2), (std::vector<std::string>{"2 key down 37 0", "2 key down 68 0"}));
    EXPECT_EQ(l.refused(1), 2);   // player 1's slot and the host's commands
    EXPECT_EQ(l.refused(0), 0);
    const std::vector<std::string> notices = l.takeNotices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("machine 2 (players 2) sent `at 2 key down 39 0`"), std::string::npos)
        << notices[0];
}

// What a machine sends holds its own players' slots and, on the host, the host's commands: the
// same in the window and headless, since both go through this one rule.
TEST(Lockstep, AMachineSendsOnlyItsOwnPlayersCommands) {
    ScriptEvent joy1;
    joy1.kind = ScriptEvent::Kind::Joy;
    joy1.joystick = 1;
    joy1.x = 7;
    ScriptEvent tick;
    tick.kind = ScriptEvent::Kind::Tick;
    const Players p1{true, false, false, false}, p2{false, true, false, false},
        p12{true, true, false, false}, p4{false, false, false, true};
    struct Case {
        Players mine;
        bool host;
        std::vector<ScriptEvent> in;
        std::vector<std::string> sent;
    };
    const std::vector<Case> cases = {
        {p1, false, {key(true, 37, 0)}, {"5 key down 37 0"}},
        {p2, false, {key(true, 37, 0)}, {}},
        {p1, false, {key(true, 17, 2)}, {"5 key down 17 2"}},
        {p2, false, {key(true, 17, 2)}, {}},
        {p2, false, {key(true, 70, 2)}, {"5 key down 70 0"}},   // Ctrl+F without player 1: F alone
        {p2, false, {key(false, 65, 0)}, {"5 key up 65 1"}},     // cannot let go of player 1's fire
        {p12, false, {key(false, 65, 0)}, {"5 key up 65 1", "5 key up 17 0"}},   // as one keyboard
        {p1, false, {key(true, 27, 0)}, {}},                     // a guest's Esc is its own
        {p1, true, {key(true, 27, 0), tick}, {"5 key down 27 0", "5 tick"}},
        {p1, false, {tick}, {}},
        {p4, false, {joy1}, {"5 joy 1 7 0 0"}},
        {p2, false, {joy1}, {}},
        {p1, false, {key(true, 37, 0), key(false, 37, 1), key(true, 39, 0)}, {"5 key down 39 0"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> sent = words(ownCommands(c.mine, c.host, cmds(c.in)), 5);
        std::sort(sent.begin(), sent.end());
        std::vector<std::string> want = c.sent;
        std::sort(want.begin(), want.end());
        EXPECT_EQ(sent, want) << playersDigits(c.mine) << " " << eventLine(c.in.front());
    }
}

}  // namespace
}  // namespace hopshot
