// What the joystick module reads and keeps: the system's joysticks behind a small interface (SDL's
// in the program, fakes in tests) and the module's own state, which the Game holds.
#pragma once

#include <cstdint>

namespace hopshot {

// The system's joysticks, as the module sees them: positions in the device's own range (0..65535
// for the usual stick), buttons as a mask with bit 0 for button 1.
class JoystickService {
public:
    struct Reading { int32_t x = 0, y = 0; uint32_t buttons = 0; };
    struct Range { int32_t xMin = 0, xMax = 0, yMin = 0, yMax = 0; };
    virtual ~JoystickService() = default;
    virtual int numDevs() = 0;                           // ids the driver supports
    virtual bool position(int id, Reading& out) = 0;     // false: no joystick there
    virtual bool capabilities(int id, Range& out) = 0;
};

constexpr int32_t kJoystickMargin = 16384;   // dead zone, from each end of an axis

struct Controller {
    int32_t joyId = 0;          // the joystick the poll reads; -1 = none
    int32_t joyXLow = 0, joyXHigh = 0;
    int32_t joyYLow = 0, joyYHigh = 0;
    int16_t joyX = 0, joyY = 0;  // last poll: -1, 0 or 1
    uint32_t joyButtons = 0;     // last poll: bit 0 = button 1

    bool operator==(const Controller&) const = default;
};

}  // namespace hopshot
