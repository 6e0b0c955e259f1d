// The system's joysticks through SDL2's joystick and game-controller subsystems, with no SDL
// window: the JoystickService that the joystick module reads in the program.
#pragma once

#include "core/joystick_seam.h"

#include <string>
#include <vector>

struct _SDL_Joystick;
struct _SDL_GameController;

namespace hopshot {

// SDL for the whole program: joysticks, game controllers and events. Sets the hints that keep
// SDL's hands off SIGINT and SIGTERM and that let joysticks report without an SDL window. Audio
// is brought up by the sound module itself, so that an audio driver that cannot start leaves the
// joysticks working. False (and *error says why) when SDL cannot start.
bool startSdl(std::string* error = nullptr);
// At the very end: after the sound device is released and the SdlJoysticks is gone.
void stopSdl();

// Joystick ids are kept slots: a joystick takes the lowest id with no joystick in it when it
// appears, at start in SDL's order and later in order of attachment, so a pad pulled out and put
// back is the same player's again. An id whose joystick is gone reads as failed. Positions are
// 0..65535 (SDL's value + 32768) on X (axis 0) and Y (axis 1), buttons a mask with bit 0 for
// button 1. A device SDL knows as a game controller reads its left stick and its d-pad (as full
// deflection), with A as button 1 and B as button 2.
class SdlJoysticks : public JoystickService {
public:
    SdlJoysticks();   // after startSdl: opens every joystick already there
    ~SdlJoysticks() override;
    SdlJoysticks(const SdlJoysticks&) = delete;
    SdlJoysticks& operator=(const SdlJoysticks&) = delete;

    int numDevs() override;                                // ids handed out so far
    bool position(int id, Reading& out) override;
    bool capabilities(int id, Range& out) override;

    // Takes in what SDL has seen of joysticks coming and going, and the latest readings. Every
    // query does it; the window calls it too, to learn of arrivals outside a game.
    void update();
    // The ids that got a joystick since the last call (the window detects again for them).
    std::vector<int> takeArrivals();

private:
    struct Slot {
        int32_t instance = -1;                  // SDL's id of the joystick; -1 = none there
        _SDL_Joystick* joystick = nullptr;
        _SDL_GameController* controller = nullptr;   // when SDL knows it as one
    };

    void attach(int deviceIndex);
    void detach(int32_t instance);
    Slot* slot(int id);

    std::vector<Slot> slots_;
    std::vector<int> arrivals_;
};

}  // namespace hopshot
