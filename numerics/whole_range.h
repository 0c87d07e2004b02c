// A whole-number option and its range, named once in the core: hosts read
// the number, and the core's rule decides, in the same words for every
// host.
#pragma once

#include <cmath>
#include <string>

#include "numerics/error.h"

namespace partiscope {

struct WholeRange {
    const char* name;
    int lo, hi;

    bool holds(double v) const { return v >= lo && v <= hi && v == std::floor(v); }

    // v as a whole number within the range, else an Error naming the option.
    int of(double v) const {
        if (!holds(v))
            throw Error(std::string("Error: ") + name + " must be a whole number from " +
                        std::to_string(lo) + " to " + std::to_string(hi));
        return static_cast<int>(v);
    }
};

}  // namespace partiscope
