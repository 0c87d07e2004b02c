// Elementwise J0(x)/x and J1(x)/x over a matrix of doubles, as the cylzero
// and cylone modules return them to the user.
#pragma once

#include <cstddef>

namespace partiscope {

// out[i] = J0(x)/x with x = in[i] rounded to single precision; the quotient
// is odd, so a negative x gives -(J0(|x|)/|x|), with the small-argument
// value 0.5 taken at |x|.
void cylzero_elements(const double* in, double* out, std::size_t count);

// out[i] = J1(x)/x with x = in[i] rounded to single precision; the quotient
// is even, so a negative x gives the value at |x|.
void cylone_elements(const double* in, double* out, std::size_t count);

}  // namespace partiscope
