#include "cylinder.h"

#include "bessel.h"
#include "parallel.h"

namespace partiscope {

// The model code only ever passes non-negative arguments to the quotients
// and relies on their plain small-argument rule. A user evaluating the
// quotients over a signed range expects the symmetry of the true functions,
// so the sign is handled here, at the module's edge.

// Elements are independent: the work is split over the cores, each element
// computed exactly as alone. A part is worth a thread from this many on.
constexpr std::size_t kElementGrain = 1 << 15;
void cylzero_elements(const double* in, double* out, std::size_t count) {
    parallel_for(count, [&](std::size_t first, std::size_t last) {
        for (std::size_t i = first; i < last; ++i) {
            const float x = static_cast<float>(in[i]);
            out[i] = x < 0.0f ? -besscylzero(-x) : besscylzero(x);
        }
    }, kElementGrain);
}

void cylone_elements(const double* in, double* out, std::size_t count) {
    parallel_for(count, [&](std::size_t first, std::size_t last) {
        for (std::size_t i = first; i < last; ++i) {
            const float x = static_cast<float>(in[i]);
            out[i] = besscylone(x < 0.0f ? -x : x, kCylThresholdCoarse, Quotient::single_precision);
        }
    }, kElementGrain);
}

}  // namespace partiscope
