#include "testing/fake_host.h"
#include "controls/commands.h"
#include "controls/joystick.h"
#include "core/setup.h"
#include "game/game_routine.h"
#include "play/command_events.h"
#include "play/feed.h"
#include "play/headless.h"

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
            for (int q = 0; q < kPlayers; ++q) {
                if (q != p) {
                    EXPECT_TRUE(alone.players[size_t(q)].empty()) << "player " << p + 1 << " touches " << q + 1;
                }
            }
            if (p >= 0) {
                EXPECT_EQ(alone.hostCount, 0) << "player " << p + 1;
            }
        }
    }
}

// A game fed a step's events one by one, and one fed them as the commands they make, step for
// step: the same world after every step, the same menu commands in the same order. Some steps
// hold more host commands than one step's commands do.
TEST(CommandEvents, AGameFedCommandsPlaysAsOneFedItsEventsOneByOne) {
    struct Fed {
        Fed() {
            host.play({0, 1, 2, 3});
            joysticks.attach(2);
            g.joysticks = &joysticks;
            detectJoystick(g.controller, g.joysticks, kJoystickMargin);
            gameSetup(g);
        }
        testing::FakeHost host;
        RecordingSound sound;
        ScriptJoysticks joysticks;
        Game g{host, sound, std::getenv("HOPSHOT_ASSETS") ? std::getenv("HOPSHOT_ASSETS") : "."};
        std::vector<MenuItem> flips;
    };
    Fed oneByOne, asCommands;
    std::mt19937 random(11);
    const int16_t codes[] = {kVkLeft, kVkRight, kVkUp, kVkDown, kVkCtrl, kVkA, kVkD, kVkW, kVkS, kVkF, 81, kVkEscape};
    for (long step = 1; step <= 400; ++step) {
        std::vector<ScriptEvent> events;
        for (int n = int(random() % 4); n > 0; --n) {
            ScriptEvent e;
            const unsigned kind = random() % 10;
            e.kind = kind < 7 ? (random() % 2 ? ScriptEvent::Kind::KeyDown : ScriptEvent::Kind::KeyUp)
                     : kind < 9 ? ScriptEvent::Kind::Joy : ScriptEvent::Kind::Menu;
            e.keyCode = codes[random() % (step > 350 ? 12 : 11)];   // Esc near the end only
            e.mask = int16_t(random() % 4);
            e.joystick = int(random() % 2);
            e.x = int32_t(random() % 3) * 32767;
            e.y = int32_t(random() % 3) * 32767;
            e.buttons = random() % 2;
            e.item = MenuItem(random() % 8);
            events.push_back(e);
        }
        ScriptEvent tick;
        tick.kind = ScriptEvent::Kind::Tick;
        if (step % 50 == 0) events.insert(events.begin() + long(random() % (events.size() + 1)), tick);
        if (step == 300) events.insert(events.end(), kMaxHostCommands + 3, tick);
        for (const ScriptEvent& e : events)
            applyEvent(e, oneByOne.g, oneByOne.joysticks, [&](MenuItem m) { oneByOne.flips.push_back(m); });
        applyEvents(events, asCommands.g, asCommands.joysticks, [&](MenuItem m) { asCommands.flips.push_back(m); });
        frameStep(oneByOne.g);
        frameStep(asCommands.g);
        ASSERT_TRUE(oneByOne.g.w == asCommands.g.w) << "after step " << step;
        ASSERT_EQ(oneByOne.flips, asCommands.flips) << "after step " << step;
    }
    EXPECT_EQ(oneByOne.g.w.running, 0);   // the ticks and Esc ended it, the same way
}

}  // namespace
}  // namespace hopshot
