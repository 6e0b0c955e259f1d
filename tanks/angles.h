#pragma once

namespace hopshot {

// Whole degrees to radians the game's way: 3.14 stands for pi everywhere.
constexpr double kPi = 3.14;
constexpr double radians(double degrees) { return degrees * kPi / 180; }

}  // namespace hopshot
