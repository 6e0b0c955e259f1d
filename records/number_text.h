// Numbers as the player sees them, on the labels, in the record boxes and in the high-score file.
#pragma once

#include <string>

namespace hopshot {

// A leading space when the number is not negative, else its minus sign.
inline std::string signedNumber(long value) { return (value >= 0 ? " " : "") + std::to_string(value); }

}  // namespace hopshot
