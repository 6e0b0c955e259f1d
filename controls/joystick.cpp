#include "controls/joystick.h"

namespace hopshot {

// The first joystick whose position can be read gives the thresholds for both joysticks.
void detectJoystick(Controller& c, JoystickService* service, int32_t margin) {
    c.joyId = -1;
    const int n = service ? service->numDevs() : 0;
    if (n == 0) return;
    JoystickService::Reading r;
    for (int id = 0; id < n; ++id) {
        if (service->position(id, r)) {
            c.joyId = id;
            break;
        }
    }
    if (c.joyId == -1) return;
    JoystickService::Range range;
    if (!service->capabilities(c.joyId, range)) {
        c.joyId = -1;
        return;
    }
    c.joyXLow = range.xMin + margin;
    c.joyXHigh = range.xMax - margin;
    c.joyYLow = range.yMin + margin;
    c.joyYHigh = range.yMax - margin;
}

// A reading equal to a threshold is centred. A joystick that cannot be read is centred with
// no buttons.
void pollJoystick(Controller& c, JoystickService* service) {
    JoystickService::Reading r;
    if (c.joyId < 0 || !service || !service->position(c.joyId, r)) {
        c.joyX = c.joyY = 0;
        c.joyButtons = 0;
        return;
    }
    c.joyX = int16_t((r.x > c.joyXHigh ? 1 : 0) - (r.x < c.joyXLow ? 1 : 0));
    c.joyY = int16_t((r.y > c.joyYHigh ? 1 : 0) - (r.y < c.joyYLow ? 1 : 0));
    c.joyButtons = r.buttons;
}

// Button 1 alone arms; the state goes back to 0 only from 2 and only with every button up, so a
// press whose shot is still waiting stays pending after the button is let go.
void joystickStep(World& w, Controller& c, JoystickService* service, int p) {
    c.joyId = p - 2;
    pollJoystick(c, service);
    w.steerX[p] = c.joyX;
    w.steerY[p] = c.joyY;
    if (w.fireState[p] == 0 && c.joyButtons == 1) w.fireState[p] = 1;
    if (w.fireState[p] == 2 && c.joyButtons == 0) w.fireState[p] = 0;
}

std::vector<std::string> missingJoysticks(bool player3, bool player4, JoystickService* service) {
    std::vector<std::string> lines;
    const bool checkedPlayer[2] = {player3, player4};
    for (int id = 0; id < 2; ++id) {
        JoystickService::Reading r;
        if (!checkedPlayer[id] || (service && service->position(id, r))) continue;
        lines.push_back(std::to_string(id + 3) + "P: no joystick " + std::to_string(id + 1) +
                        "; player " + std::to_string(id + 3) + " stands idle");
    }
    return lines;
}

}  // namespace hopshot
