#include "tanks/chase_camera.h"

#include "tanks/angles.h"

#include <cmath>

namespace hopshot {

// The front vector's y is the elevation in radians itself, not its sine, so the tank shows a
// tilt of arctan(e): 80 degrees of elevation look like about 54.
void aimPose(Game& g, int p) {
    const double a = radians(g.w.tankHeading[p]);
    const double e = radians(g.w.gunElevation[p]);
    scene::SetOrientation(g.s.tankBodyFrames[p], nullptr, float(std::cos(a)), float(e),
                          float(std::sin(a)), 0, 1, 0);
}

// 200 units behind the tank along its heading, 65 up, looking at the tank. The gun's elevation
// does not move the camera.
void chaseCamera(Game& g, int p) {
    const double a = radians(g.w.tankHeading[p]);
    scene::SetPosition(g.s.cameraFrame, nullptr, float(tankX(p) - 200 * std::cos(a)), 65.0f,
                       float(kTankZ - 200 * std::sin(a)));
    scene::LookAt(g.s.cameraFrame, g.s.tankBodyFrames[p], nullptr, 0);
}

}  // namespace hopshot
