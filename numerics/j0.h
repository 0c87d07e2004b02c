// The Bessel function J0 in double precision over whole arrays, for the
// precision bound's sums: the C library's j0 has no vector form and would
// dominate them. Within a few ulp of the C library's j0 where |J0| is not
// near a zero; near a zero of J0 beyond x = 8 the absolute error stays
// below 3e-17 times the envelope sqrt(2/(pi x)).
#pragma once

#include <cstddef>

namespace partiscope {

// J[i] = J0(x[i]) for i < n (x and J may not overlap). J0(+-inf) = 0, NaN stays NaN.
void j0_array(const double* x, double* J, std::size_t n);

}  // namespace partiscope
