// A busy four-player game, saved at one step, run on with other events, put back and run again
// with the real ones, writes from the saved step on the very trace lines of the game run
// straight through: the correction a network game makes when its prediction was wrong.
#include "testing/fake_host.h"
#include "testing/game_state.h"
#include "controls/joystick.h"
#include "game/game_routine.h"
#include "play/headless.h"
#include "play/snapshot.h"
#include "play/trace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

namespace hopshot {
namespace {

using testing::expectSameState;
using testing::stateOf;

using Events = std::vector<std::vector<ScriptEvent>>;   // by step, 1..n

constexpr long kSteps = 360;

ScriptEvent key(bool down, int16_t code, int16_t mask) {
    return {.kind = down ? ScriptEvent::Kind::KeyDown : ScriptEvent::Kind::KeyUp, .keyCode = code,
            .mask = mask};
}
ScriptEvent stick(int j, int32_t x, int32_t y, uint32_t buttons) {
    return {.kind = ScriptEvent::Kind::Joy, .joystick = j, .x = x, .y = y, .buttons = buttons};
}
const ScriptEvent kTick{.kind = ScriptEvent::Kind::Tick};

// Players 1 and 2 turn towards each other, charge together and let go together, so that their
// charged shots meet and set off the bomb; from step 61 they press their keys at random. Players
// 3 and 4 push their sticks about and hold their buttons, charging, throughout. The countdown
// ticks every 50 steps.
Events busyEvents(unsigned seed) {
    Events events(kSteps + 1);
    std::mt19937 r(seed);
    auto chance = [&](unsigned n) { return r() % n == 0; };
    events[1] = {key(true, 39, 0), key(true, 65, 0)};
    events[7] = {key(false, 39, 0), key(false, 65, 0)};
    events[8] = {key(true, 17, 2), key(true, 70, 0)};
    events[40] = {key(false, 17, 0), key(false, 70, 0)};
    const int16_t keys[2][5] = {{17, 37, 38, 39, 40}, {70, 65, 68, 87, 83}};
    const int32_t places[3] = {0, 32767, 65535};
    for (long s = 1; s <= kSteps; ++s) {
        for (int p = 0; p < 2 && s > 60; ++p) {
            if (!chance(6)) continue;
            const int16_t code = keys[p][r() % 5];
            const bool down = chance(2);
            events[s].push_back(key(down, code, code == 17 && down ? 2 : 0));
        }
        for (int j = 0; j < 2; ++j)
            if (chance(10)) events[s].push_back(stick(j, places[r() % 3], places[r() % 3], chance(3) ? 0 : 1));
        if (s % 50 == 0) events[s].push_back(kTick);
    }
    return events;
}

// What a machine guesses for the steps it has no events of yet.
enum class Guess {
    Nothing,      // no events: keys and sticks stay as they were
    Late,         // the real events, three steps late
    OtherHands,   // another game's events
};

std::vector<ScriptEvent> guessed(Guess guess, const Events& real, unsigned seed, long s, long saved) {
    switch (guess) {
    case Guess::Nothing: return {};
    case Guess::Late: return s - 3 > saved ? real[s - 3] : std::vector<ScriptEvent>{};
    case Guess::OtherHands: return busyEvents(seed + 1000)[s];
    }
    return {};
}

// Four players fed the way the frame loop's yields feed a game: the events before a step go to
// the game, the step runs, its trace object is written.
struct FedGame {
    FedGame() {
        host.play({0, 1, 2, 3});
        joysticks.attach(2);
        g.joysticks = &joysticks;
        detectJoystick(g.controller, g.joysticks, kJoystickMargin);
        gameSetup(g);
    }

    // A silent step's sounds are written from what it would have played.
    std::string step(long s, const std::vector<ScriptEvent>& events, bool silent = false) {
        for (const ScriptEvent& e : events) applyEvent(e, g, joysticks, [](MenuItem) {});
        if (silent) silentFrameStep(g, unheard);
        else frameStep(g);
        const std::vector<int> banks = silent ? unheard.take() : sound.take();
        played.insert(played.end(), banks.begin(), banks.end());
        std::ostringstream line;
        writeStepObject(line, 1, s, g.w, g.rng.draws(), banks);
        if (silent) {
            EXPECT_TRUE(sound.take().empty()) << "a silent step was heard at " << s;
        }
        return line.str();
    }

    testing::FakeHost host;
    RecordingSound sound, unheard;
    std::vector<int> played;   // every bank of every step, in order
    ScriptJoysticks joysticks;
    Game g{host, sound, std::getenv("HOPSHOT_ASSETS") ? std::getenv("HOPSHOT_ASSETS") : "."};
};

std::vector<std::string> straightRun(const Events& events, FedGame& f) {
    std::vector<std::string> lines(kSteps + 1);
    for (long s = 1; s <= kSteps; ++s) lines[s] = f.step(s, events[s]);
    return lines;
}

// The game the run-again test plays has in it what a correction must undo and redo.
TEST(RunAgain, TheBusyGameFiresChargesKillsAndSetsOffTheBomb) {
    for (unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        FedGame f;
        straightRun(busyEvents(seed), f);
        auto count = [&](int bank) { return std::count(f.played.begin(), f.played.end(), bank); };
        EXPECT_GT(count(kGunBank), 0);
        EXPECT_GT(count(kChargedBank), 0);
        EXPECT_GT(count(kBombBank), 0);
        EXPECT_GT(count(kHitBank) + count(kHit2Bank), 0);
        EXPECT_NE(f.g.w.tankHeading[2], 90) << "player 3's stick did nothing";
        EXPECT_NE(f.g.w.tankHeading[3], 90) << "player 4's stick did nothing";
        EXPECT_EQ(f.g.w.timeLeft, 60 - kSteps / 50);
    }
}

TEST(RunAgain, FromASavedStepWritesTheTraceOfTheStraightRun) {
    struct Case {
        unsigned seed;
        long saveAfter;   // steps run before the save
        long guessedTo;   // steps run on with guessed events, then put back
        Guess guess;
        bool silent;      // the guessed steps are run again silently, the rest drawn
        const char* what;
    };
    const Case cases[] = {
        {1, 0, 45, Guess::Nothing, false, "from the setup, over the turn, the charge and the shots"},
        {2, 38, 46, Guess::Late, true, "charged shots let go during the guess"},
        {3, 44, 52, Guess::OtherHands, true, "around the bomb's setting off"},
        {1, 50, 58, Guess::Nothing, true, "while the bomb rolls to the far end"},
        {3, 100, 108, Guess::Late, true, "mid-game"},
        {2, 146, 154, Guess::Late, false, "over a countdown tick"},
        {3, 200, 260, Guess::OtherHands, true, "a long guess"},
        {1, 300, 301, Guess::OtherHands, true, "one step"},
        {2, 352, 360, Guess::Nothing, true, "up to the last step"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) + ", seed " + std::to_string(c.seed) + ", saved after " +
                     std::to_string(c.saveAfter));
        const Events events = busyEvents(c.seed);
        FedGame straight;
        const std::vector<std::string> expected = straightRun(events, straight);

        FedGame f;
        for (long s = 1; s <= c.saveAfter; ++s) f.step(s, events[s]);
        FedGameSnapshot snapshot;
        save(f.g, f.joysticks, snapshot);
        std::string guessedLine;
        for (long s = c.saveAfter + 1; s <= c.guessedTo; ++s)
            guessedLine = f.step(s, guessed(c.guess, events, c.seed, s, c.saveAfter));
        EXPECT_NE(guessedLine, expected[c.guessedTo]) << "the guess was right: nothing to correct";

        restore(f.g, f.joysticks, snapshot);
        for (long s = c.saveAfter + 1; s <= kSteps; ++s) {
            const std::string line = f.step(s, events[s], c.silent && s <= c.guessedTo);
            ASSERT_EQ(line, expected[s]) << "step " << s;
        }
        expectSameState(stateOf(straight.g), stateOf(f.g));
        for (int j = 0; j < 2; ++j) {
            EXPECT_EQ(f.joysticks.reading(j).x, straight.joysticks.reading(j).x);
            EXPECT_EQ(f.joysticks.reading(j).buttons, straight.joysticks.reading(j).buttons);
        }
    }
}

}  // namespace
}  // namespace hopshot
