#include "controls/keyboard.h"

#include <gtest/gtest.h>

#include <vector>

namespace hopshot {
namespace {

struct Event { bool down; int16_t key; int16_t mask; };
constexpr Event Down(int16_t k, int16_t m = 0) { return {true, k, m}; }
constexpr Event Up(int16_t k, int16_t m = 0) { return {false, k, m}; }

constexpr int16_t kLeft = 37, kUp = 38, kRight = 39, kDown = 40, kCtrl = 17, kShift = 16;
constexpr int16_t kA = 65, kD = 68, kF = 70, kS = 83, kW = 87, kEsc = 27, kSpace = 32;

struct Expect { int16_t steerX0, steerY0, fire0, steerX1, steerY1, fire1; };

// Each case runs its events on a fresh world (fire states as the case starts them) and checks
// players 1 and 2's controls afterwards.
TEST(KeyHandlers, EventSequences) {
    struct Case {
        const char* name;
        std::array<int16_t, 2> fireAtStart;
        std::vector<Event> events;
        Expect expect;
    };
    const Case cases[] = {
        {"left then right held: right wins", {0, 0}, {Down(kLeft), Down(kRight)}, {1, 0, 0, 0, 0, 0}},
        {"releasing the opposite key does not stop it", {0, 0},
         {Down(kLeft), Down(kRight), Up(kLeft)}, {1, 0, 0, 0, 0, 0}},
        {"releasing the last key stops it", {0, 0},
         {Down(kLeft), Down(kRight), Up(kLeft), Up(kRight)}, {0, 0, 0, 0, 0, 0}},
        {"up and down", {0, 0}, {Down(kUp), Down(kDown), Up(kUp)}, {0, 1, 0, 0, 0, 0}},
        {"a direction key works with modifiers held", {0, 0}, {Down(kLeft, 5)}, {-1, 0, 0, 0, 0, 0}},
        {"Ctrl arms player 1", {0, 0}, {Down(kCtrl, 2)}, {0, 0, 1, 0, 0, 0}},
        {"any key with Ctrl alone arms player 1", {0, 0}, {Down(kSpace, 2)}, {0, 0, 1, 0, 0, 0}},
        {"Ctrl with Shift held does not arm", {0, 0}, {Down(kShift, 1), Down(kCtrl, 3)}, {0, 0, 0, 0, 0, 0}},
        {"a fired state is not armed again by repeats", {2, 0},
         {Down(kCtrl, 2), Down(kCtrl, 2)}, {0, 0, 2, 0, 0, 0}},
        {"releasing Ctrl clears a fired state", {2, 0}, {Up(kCtrl, 0)}, {0, 0, 0, 0, 0, 0}},
        {"a key-up with Ctrl still held keeps a pending shot", {1, 0}, {Up(kW, 2)}, {0, 0, 1, 0, 0, 0}},
        {"letting go of Ctrl while Shift is held keeps the state", {2, 0},
         {Down(kShift, 3), Up(kCtrl, 1)}, {0, 0, 2, 0, 0, 0}},
        {"... until a key comes up with no modifier", {2, 0},
         {Down(kShift, 3), Up(kCtrl, 1), Up(kShift, 0)}, {0, 0, 0, 0, 0, 0}},
        {"player 2 steers with WASD", {0, 0}, {Down(kA), Down(kW)}, {0, 0, 0, -1, -1, 0}},
        {"player 2 last direction wins", {0, 0}, {Down(kA), Down(kD), Up(kA), Down(kS)},
         {0, 0, 0, 1, 1, 0}},
        {"F arms player 2 with any modifiers", {0, 0}, {Down(kF, 7)}, {0, 0, 0, 0, 0, 1}},
        {"F while Ctrl is held arms both players", {0, 0}, {Down(kCtrl, 2), Down(kF, 2)},
         {0, 0, 1, 0, 0, 1}},
        {"releasing F clears player 2 from any state", {0, 2}, {Up(kF, 2)}, {0, 0, 0, 0, 0, 0}},
        {"a pending F press is lost when F comes up", {0, 1}, {Up(kF, 0)}, {0, 0, 0, 0, 0, 0}},
        {"keys the game does not use do nothing", {0, 0}, {Down(90), Up(90, 1), Down(0, 1)},
         {0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        World w;
        w.fireState[0] = c.fireAtStart[0];
        w.fireState[1] = c.fireAtStart[1];
        for (const Event& e : c.events) (e.down ? keyDown : keyUp)(w, e.key, e.mask);
        EXPECT_EQ(w.steerX[0], c.expect.steerX0);
        EXPECT_EQ(w.steerY[0], c.expect.steerY0);
        EXPECT_EQ(w.fireState[0], c.expect.fire0);
        EXPECT_EQ(w.steerX[1], c.expect.steerX1);
        EXPECT_EQ(w.steerY[1], c.expect.steerY1);
        EXPECT_EQ(w.fireState[1], c.expect.fire1);
        EXPECT_EQ(w.steerX[2] | w.steerY[2] | w.fireState[2] | w.steerX[3], 0);
    }
}

TEST(KeyHandlers, EscStopsTheGameEvenWhenNoneRuns) {
    World w;
    w.running = -1;
    keyDown(w, kEsc, 0);
    EXPECT_EQ(w.running, 0);
    keyDown(w, kEsc, 0);
    EXPECT_EQ(w.running, 0);
    keyUp(w, kEsc, 0);
    EXPECT_EQ(w.running, 0);
}

}  // namespace
}  // namespace hopshot
