// The limits of a sensor grid given as two sizes in doubles, shared by every
// caller of the core (the MEX gateways, the Python binding).
#pragma once

#include <cmath>
#include <string>

#include "numerics/error.h"

namespace partiscope {

// Bounds each dimension by the 32-bit index range and the element count by
// what an array of doubles can address, so that truncating the sizes and
// forming trunc(M) * trunc(N) * 8 never overflows. Negative or non-finite
// sizes fail too; the message is the caller's.
inline void check_sizes(double rows, double cols, const std::string& message) {
    constexpr double kMaxDimension = 2147483647.0;
    constexpr double kMaxElements = 281474976710656.0;  // 2^48
    const bool valid = rows >= 0.0 && cols >= 0.0 && rows <= kMaxDimension &&
                       cols <= kMaxDimension && std::trunc(rows) * std::trunc(cols) <= kMaxElements;
    if (!valid) throw Error(message);
}

}  // namespace partiscope
