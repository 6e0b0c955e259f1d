#include "devices/joystick.h"

namespace hopshot {

// The first joystick whose position can be read gives the thresholds for both joysticks.
void Controller::detectJoystick(JoystickService* service, int32_t margin) {
    joyId = -1;
    const int n = service ? service->numDevs() : 0;
    if (n == 0) return;
    JoystickService::Reading r;
    for (int id = 0; id < n; ++id) {
        if (service->position(id, r)) {
            joyId = id;
            break;
        }
    }
    if (joyId == -1) return;
    JoystickService::Range range;
    if (!service->capabilities(joyId, range)) {
        joyId = -1;
        return;
    }
    joyXLow = range.xMin + margin;
    joyXHigh = range.xMax - margin;
    joyYLow = range.yMin + margin;
    joyYHigh = range.yMax - margin;
}

// A reading equal to a threshold is centred. A joystick that cannot be read is centred with
// no buttons.
void Controller::pollJoystick(JoystickService* service) {
    JoystickService::Reading r;
    if (joyId < 0 || !service || !service->position(joyId, r)) {
        joyX = joyY = 0;
        joyButtons = 0;
        return;
    }
    joyX = int16_t((r.x > joyXHigh ? 1 : 0) - (r.x < joyXLow ? 1 : 0));
    joyY = int16_t((r.y > joyYHigh ? 1 : 0) - (r.y < joyYLow ? 1 : 0));
    joyButtons = r.buttons;
}

// Button 1 alone arms; the state goes back to 0 only from 2 and only with every button up, so a
// press whose shot is still waiting stays pending after the button is let go.
void joystickStep(World& w, Controller& c, JoystickService* service, int p) {
    c.joyId = p - 2;
    c.pollJoystick(service);
    w.steerX[p] = c.joyX;
    w.steerY[p] = c.joyY;
    if (w.fireState[p] == 0 && c.joyButtons == 1) w.fireState[p] = 1;
    if (w.fireState[p] == 2 && c.joyButtons == 0) w.fireState[p] = 0;
}

}  // namespace hopshot
