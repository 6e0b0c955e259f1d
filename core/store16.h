// The one way a value reaches a 16-bit table. A value outside -32768..32767 is not stored: the
// statement is skipped and the table keeps what it held, as the game's error policy wants.
// Real values are first brought to the nearest whole number, halves to the even neighbour.
#pragma once

#include <cmath>
#include <concepts>
#include <cstdint>

namespace hopshot {

template <std::integral T>
bool store16(int16_t& dst, T value) {
    if (value < -32768 || value > 32767) return false;
    dst = static_cast<int16_t>(value);
    return true;
}

inline bool store16(int16_t& dst, double value) {
    if (!std::isfinite(value)) return false;
    double whole = std::nearbyint(value);   // the default rounding mode: halves to even
    if (whole < -32768.0 || whole > 32767.0) return false;
    dst = static_cast<int16_t>(whole);
    return true;
}

// Int(v): the largest whole number not above v.
inline double Int(double v) { return std::floor(v); }

}  // namespace hopshot
