#include "input/sdl_joysticks.h"
#include "controls/joystick.h"

#include <SDL.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace hopshot {
namespace {

// A joystick made up inside SDL: it goes through SDL's own joystick path, so the service sees it
// as it would see a real one plugged in.
class VirtualJoystick {
public:
    explicit VirtualJoystick(SDL_JoystickType type, int axes, int buttons) {
        const int index = SDL_JoystickAttachVirtual(type, axes, buttons, 0);
        EXPECT_GE(index, 0) << SDL_GetError();
        handle_ = SDL_JoystickOpen(index);
        EXPECT_NE(handle_, nullptr) << SDL_GetError();
    }
    ~VirtualJoystick() { pullOut(); }

    // SDL's own values: axes -32768..32767, buttons from 0 (button 1).
    void axis(int a, int16_t value) { SDL_JoystickSetVirtualAxis(handle_, a, value); }
    void button(int b, bool down) { SDL_JoystickSetVirtualButton(handle_, b, down ? 1 : 0); }

    void pullOut() {
        if (!handle_) return;
        const SDL_JoystickID instance = SDL_JoystickInstanceID(handle_);
        SDL_JoystickClose(handle_);
        handle_ = nullptr;
        for (int i = 0; i < SDL_NumJoysticks(); ++i)
            if (SDL_JoystickGetDeviceInstanceID(i) == instance) SDL_JoystickDetachVirtual(i);
    }

private:
    SDL_Joystick* handle_ = nullptr;
};

class SdlJoystickTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(startSdl(&error)) << error;
        if (SDL_NumJoysticks() > 0) GTEST_SKIP() << "a real joystick is attached";
        service = std::make_unique<SdlJoysticks>();
    }
    void TearDown() override {
        sticks.clear();
        service.reset();
        stopSdl();
    }
    // a plain joystick of two axes and four buttons unless told otherwise
    VirtualJoystick& plugIn(SDL_JoystickType type = SDL_JOYSTICK_TYPE_UNKNOWN, int axes = 2,
                            int buttons = 4) {
        sticks.push_back(std::make_unique<VirtualJoystick>(type, axes, buttons));
        return *sticks.back();
    }

    std::vector<std::unique_ptr<VirtualJoystick>> sticks;
    std::unique_ptr<SdlJoysticks> service;
    Controller c;
    World w;
};

TEST_F(SdlJoystickTest, DetectionFindsJoystickZeroWithTheUsualThresholds) {
    plugIn();
    plugIn();
    detectJoystick(c, service.get(), kJoystickMargin);
    EXPECT_EQ(c.joyId, 0);
    EXPECT_EQ(c.joyXLow, 16384);
    EXPECT_EQ(c.joyXHigh, 49151);
    EXPECT_EQ(c.joyYLow, 16384);
    EXPECT_EQ(c.joyYHigh, 49151);
}

TEST_F(SdlJoystickTest, NoJoystickLeavesNoneFoundAndPlayersCentred) {
    detectJoystick(c, service.get(), kJoystickMargin);
    EXPECT_EQ(c.joyId, -1);
    w.steerX[2] = 1;
    joystickStep(w, c, service.get(), 2);
    EXPECT_EQ(w.steerX[2], 0);
}

// SDL's value v reads as v + 32768; the thresholds are 16384 and 49151 and a reading equal to
// one is centred.
TEST_F(SdlJoystickTest, AxesReadAgainstTheThresholdsStrictly) {
    VirtualJoystick& stick = plugIn();
    detectJoystick(c, service.get(), kJoystickMargin);
    struct Case { int16_t sdl; int16_t steer; };
    const Case cases[] = {
        {-32768, -1}, {-16385, -1}, {-16384, 0}, {0, 0}, {16383, 0}, {16384, 1}, {32767, 1},
    };
    for (const Case& k : cases) {
        stick.axis(0, k.sdl);
        stick.axis(1, int16_t(-k.sdl - 1));   // the mirror reading, on the other axis
        joystickStep(w, c, service.get(), 2);
        EXPECT_EQ(w.steerX[2], k.steer) << "x " << k.sdl;
        EXPECT_EQ(w.steerY[2], -k.steer) << "y " << -k.sdl - 1;
    }
}

TEST_F(SdlJoystickTest, ButtonOneAloneArmsAndEveryButtonUpReleases) {
    VirtualJoystick& stick = plugIn();
    detectJoystick(c, service.get(), kJoystickMargin);
    struct Case { std::vector<int> down; int16_t before, after; };
    const Case cases[] = {
        {{0}, 0, 1},      // button 1 alone arms
        {{1}, 0, 0},      // button 2 alone does not
        {{0, 1}, 0, 0},   // buttons 1 and 2 together neither arm
        {{0, 1}, 2, 2},   // ... nor release
        {{}, 2, 0},       // all up releases a fired shot
        {{}, 1, 1},       // a pending shot stays pending
    };
    for (const Case& k : cases) {
        for (int b = 0; b < 4; ++b)
            stick.button(b, std::find(k.down.begin(), k.down.end(), b) != k.down.end());
        w.fireState[2] = k.before;
        joystickStep(w, c, service.get(), 2);
        EXPECT_EQ(w.fireState[2], k.after) << "mask " << c.joyButtons;
    }
}

TEST_F(SdlJoystickTest, PlayerFourReadsJoystickOneAndFailsWithoutIt) {
    VirtualJoystick& first = plugIn();
    detectJoystick(c, service.get(), kJoystickMargin);
    first.axis(0, 32767);
    first.button(0, true);
    joystickStep(w, c, service.get(), 3);
    EXPECT_EQ(w.steerX[3], 0);
    EXPECT_EQ(w.fireState[3], 0);

    VirtualJoystick& second = plugIn();
    second.axis(0, -32768);
    joystickStep(w, c, service.get(), 3);
    EXPECT_EQ(w.steerX[3], -1);
    joystickStep(w, c, service.get(), 2);
    EXPECT_EQ(w.steerX[2], 1);
    EXPECT_EQ(w.fireState[2], 1);
}

TEST_F(SdlJoystickTest, AJoystickPulledOutMidGameReadsCentredWithNoButtons) {
    VirtualJoystick& stick = plugIn();
    detectJoystick(c, service.get(), kJoystickMargin);
    stick.axis(0, -32768);
    stick.axis(1, 32767);
    stick.button(0, true);
    joystickStep(w, c, service.get(), 2);
    ASSERT_EQ(w.steerX[2], -1);
    ASSERT_EQ(w.steerY[2], 1);
    ASSERT_EQ(w.fireState[2], 1);
    w.fireState[2] = 2;   // the shot went off

    stick.pullOut();
    joystickStep(w, c, service.get(), 2);
    EXPECT_EQ(w.steerX[2], 0);
    EXPECT_EQ(w.steerY[2], 0);
    EXPECT_EQ(w.fireState[2], 0);
    JoystickService::Reading r;
    EXPECT_FALSE(service->position(0, r));
}

TEST_F(SdlJoystickTest, AJoystickPluggedInAfterStartIsFoundAndNotReadAsPushed) {
    detectJoystick(c, service.get(), kJoystickMargin);
    ASSERT_EQ(c.joyId, -1);
    EXPECT_TRUE(service->takeArrivals().empty());

    plugIn();
    EXPECT_EQ(service->takeArrivals(), std::vector<int>{0});
    EXPECT_TRUE(service->takeArrivals().empty());
    detectJoystick(c, service.get(), kJoystickMargin);   // as the window does on an arrival
    EXPECT_EQ(c.joyId, 0);
    joystickStep(w, c, service.get(), 2);
    EXPECT_EQ(w.steerX[2], 0);   // centred, where the thresholds of none (0, 0) would read right
    EXPECT_EQ(w.steerY[2], 0);
}

TEST_F(SdlJoystickTest, IdsFollowAttachmentAndAFreedIdIsTakenAgain) {
    VirtualJoystick& a = plugIn();
    VirtualJoystick& b = plugIn();
    b.axis(0, 32767);
    EXPECT_EQ(service->numDevs(), 2);
    a.pullOut();
    JoystickService::Reading r;
    EXPECT_FALSE(service->position(0, r));
    ASSERT_TRUE(service->position(1, r));   // the other keeps its id
    EXPECT_EQ(r.x, 65535);

    VirtualJoystick& c2 = plugIn();
    c2.axis(0, -32768);
    EXPECT_EQ(service->takeArrivals(), (std::vector<int>{0, 1, 0}));
    ASSERT_TRUE(service->position(0, r));
    EXPECT_EQ(r.x, 0);
    EXPECT_EQ(service->numDevs(), 2);
}

TEST_F(SdlJoystickTest, AGameControllerReadsLeftStickDpadAndFaceButtons) {
    VirtualJoystick& pad = plugIn(SDL_JOYSTICK_TYPE_GAMECONTROLLER, SDL_CONTROLLER_AXIS_MAX,
                                  SDL_CONTROLLER_BUTTON_MAX);
    ASSERT_TRUE(SDL_IsGameController(0));
    JoystickService::Reading r;
    struct Case {
        int16_t leftX, leftY;
        std::vector<SDL_GameControllerButton> down;
        int32_t x, y;
        uint32_t buttons;
    };
    const Case cases[] = {
        {0, 0, {}, 32768, 32768, 0},
        {-32768, 32767, {}, 0, 65535, 0},
        {0, 0, {SDL_CONTROLLER_BUTTON_A}, 32768, 32768, 1},
        {0, 0, {SDL_CONTROLLER_BUTTON_B}, 32768, 32768, 2},
        {0, 0, {SDL_CONTROLLER_BUTTON_A, SDL_CONTROLLER_BUTTON_B}, 32768, 32768, 3},
        {0, 0, {SDL_CONTROLLER_BUTTON_DPAD_LEFT, SDL_CONTROLLER_BUTTON_DPAD_UP}, 0, 0, 0},
        {0, 0, {SDL_CONTROLLER_BUTTON_DPAD_RIGHT, SDL_CONTROLLER_BUTTON_DPAD_DOWN}, 65535, 65535,
         0},
    };
    for (const Case& k : cases) {
        pad.axis(SDL_CONTROLLER_AXIS_LEFTX, k.leftX);
        pad.axis(SDL_CONTROLLER_AXIS_LEFTY, k.leftY);
        for (int b = 0; b < SDL_CONTROLLER_BUTTON_MAX; ++b)
            pad.button(b, std::find(k.down.begin(), k.down.end(), b) != k.down.end());
        ASSERT_TRUE(service->position(0, r));
        EXPECT_EQ(r.x, k.x);
        EXPECT_EQ(r.y, k.y);
        EXPECT_EQ(r.buttons, k.buttons);
    }
}

}  // namespace
}  // namespace hopshot
