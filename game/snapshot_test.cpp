#include "testing/fake_host.h"
#include "testing/game_state.h"
#include "controls/keyboard.h"
#include "game/game_routine.h"
#include "game/lifecycle.h"
#include "game/snapshot.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <new>

// Every allocation of this test program goes through here, counted while `counting` is on. The
// memory comes from malloc, so free is its right partner (GCC cannot see the replacement).
namespace {
thread_local bool counting = false;
thread_local long allocations = 0;
}  // namespace

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t n) {
    if (counting) ++allocations;
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace hopshot {
namespace {

using testing::GameState;
using testing::TestGame;
using testing::expectSameState;
using testing::stateOf;

constexpr int16_t kCtrl = 17, kRight = 39, kLeft = 37, kUp = 38, kA = 65, kF = 70;

// Busy hands for players 1 and 2, the same for every game given the same step: player 1 taps
// fire every 12 steps and sweeps left and right, player 2 charges for 30 steps out of 40.
void handsBefore(World& w, int step) {
    if (step % 12 == 1) keyDown(w, kCtrl, kMaskCtrl);
    if (step % 12 == 4) keyUp(w, kCtrl, 0);
    if (step % 40 == 5) keyDown(w, kRight, 0);
    if (step % 40 == 15) keyUp(w, kRight, 0);
    if (step % 40 == 20) keyDown(w, kLeft, 0);
    if (step % 40 == 30) keyUp(w, kLeft, 0);
    if (step % 30 == 10) keyDown(w, kUp, 0);
    if (step % 30 == 20) keyUp(w, kUp, 0);
    if (step % 40 == 2) keyDown(w, kF, 0);
    if (step % 40 == 32) keyUp(w, kF, 0);
    if (step % 50 == 7) keyDown(w, kA, 0);
    if (step % 50 == 17) keyUp(w, kA, 0);
}

void setUp(TestGame& t, std::initializer_list<int> players, bool liveCamera) {
    t.host.hasWindow = true;
    t.host.play(players);
    t.host.marks[MenuItem::LiveCamera] = liveCamera;
    gameSetup(t.g);
}

// The same game twice, one drawn and heard, the other run silently: after every step the two
// stand alike, and only the first has drawn or played anything.
TEST(SilentStep, LeavesWhatADrawnStepLeavesWithNothingDrawnOrHeard) {
    struct Case {
        const char* name;
        std::initializer_list<int> players;
        bool liveCamera;
    };
    const Case cases[] = {
        {"one player, the whole view", {0}, true},
        {"two players", {0, 1}, true},
        {"three players with the overview", {0, 1, 2}, true},
        {"three players without the live camera", {0, 1, 3}, false},
        {"four players", {0, 1, 2, 3}, true},
    };
    constexpr int kSteps = 400;   // long enough for shells, charged shots, kills and contacts
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestGame drawn, silent;
        setUp(drawn, c.players, c.liveCamera);
        setUp(silent, c.players, c.liveCamera);
        const size_t callsAtSetup = silent.host.window.log->calls.size();
        MutedSound muted;
        for (int s = 1; s <= kSteps; ++s) {
            handsBefore(drawn.g.w, s);
            handsBefore(silent.g.w, s);
            frameStep(drawn.g);
            silentFrameStep(silent.g, muted);
            SCOPED_TRACE("step " + std::to_string(s));
            expectSameState(stateOf(drawn.g), stateOf(silent.g));
            if (::testing::Test::HasFailure()) break;
        }
        EXPECT_GT(drawn.host.window.log->calls.size(), callsAtSetup);
        EXPECT_EQ(silent.host.window.log->calls.size(), callsAtSetup) << "the silent game drew";
        EXPECT_TRUE(silent.sound.played.empty()) << "the silent game was heard";
        std::array<int, kSoundBanks> banks{};
        for (int bank : drawn.sound.played) ++banks[bank];
        EXPECT_EQ(muted.dropped, banks) << "the muted counts are not the banks the game played";
        EXPECT_GT(banks[kGunBank], 0);
        EXPECT_EQ(silent.g.sound, &silent.sound) << "the game's own sound was not put back";
    }
}

// Events handed over before a step run again are not heard twice either: a countdown tick.
TEST(SoundRedirect, SendsTheSoundsOfEventsElsewhereWhileItLasts) {
    TestGame t;
    setUp(t, {0}, true);
    t.g.w.timeLeft = 5;
    MutedSound muted;
    {
        SoundRedirect unheard(t.g, muted);
        countdownTick(t.g);
    }
    EXPECT_EQ(muted.dropped[kTimeBank], 1);
    EXPECT_TRUE(t.sound.played.empty());
    countdownTick(t.g);
    EXPECT_EQ(t.sound.played, std::vector<int>{kTimeBank});
}

// Saved after some steps, run on with other events and effects, put back: every part of the
// game stands as it did at the save.
TEST(GameSnapshot, PutsBackEverythingTheStepsAndEventsChanged) {
    struct Case {
        const char* name;
        std::function<void(Game&)> meanwhile;   // done once right after the save
    };
    const Case cases[] = {
        {"steps only", [](Game&) {}},
        {"the sky flashes red", [](Game& g) { g.w.flashTimer = 100; }},
        {"the light flickers", [](Game& g) { g.w.flickerTimer = 100; }},
        {"a bomb rolls and draws the light along", [](Game& g) { g.w.bombX = 0; g.w.bombZ = -300; }},
        {"a view shakes", [](Game& g) { g.w.damageTimer[2] = 30; }},
        {"a record is set", [](Game& g) {
             g.w.hiNameCoop = "a name too long to sit inside the string itself";
             g.w.hiScoreCoop = 99999;
         }},
        {"forced draws are queued", [](Game& g) { g.rng.force({0.0, 0.0, 0.0, 0.0}); }},
        {"the game ends", [](Game& g) { keyDown(g.w, 27, 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestGame t;
        setUp(t, {0, 1, 2, 3}, true);
        for (int s = 1; s <= 60; ++s) {
            handsBefore(t.g.w, s);
            frameStep(t.g);
        }
        const GameState atSave = stateOf(t.g);
        GameSnapshot snapshot;
        save(t.g, snapshot);
        c.meanwhile(t.g);
        for (int s = 61; s <= 120; ++s) {
            handsBefore(t.g.w, s + 7);   // other hands than the saved game's future
            silentFrameStep(t.g);
        }
        EXPECT_FALSE(stateOf(t.g).w == atSave.w);
        restore(t.g, snapshot);
        expectSameState(atSave, stateOf(t.g));
    }
}

// The game goes back; the frame loop's clock does not, so the next step still waits its tick.
TEST(GameSnapshot, RestoreLeavesTheFrameLoopsClockAsItStands) {
    TestGame t;
    setUp(t, {0}, true);
    t.g.w.lastTick = 100;
    GameSnapshot snapshot;
    save(t.g, snapshot);
    frameStep(t.g);
    t.g.w.lastTick = 250;
    restore(t.g, snapshot);
    EXPECT_EQ(t.g.w.lastTick, 250);
}

// Once a snapshot has been saved into, saving into it and putting it back take no memory from
// the system: a step saved every frame costs a copy, nothing more.
TEST(GameSnapshot, SavingAndRestoringAgainAllocateNothing) {
    TestGame t;
    setUp(t, {0, 1, 2, 3}, true);
    t.g.w.hiNameSolo = "a name too long to sit inside the string itself";
    GameSnapshot snapshot;
    save(t.g, snapshot);
    long during = 0;
    for (int s = 1; s <= 200; ++s) {
        handsBefore(t.g.w, s);
        frameStep(t.g);
        allocations = 0;
        counting = true;
        save(t.g, snapshot);
        if (s % 10 == 0) restore(t.g, snapshot);
        counting = false;
        during += allocations;
    }
    EXPECT_EQ(during, 0);
}

}  // namespace
}  // namespace hopshot
