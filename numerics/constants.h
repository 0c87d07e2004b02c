// The constants every part shares, defined once.
#pragma once

namespace partiscope {

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 2.0 * kPi;  // exact: a power of two

}  // namespace partiscope
