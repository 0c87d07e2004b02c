// Sine and cosine of whole arrays on the widest vector unit the processor
// has (AVX-512, AVX2 or SSE2, chosen at run time), accurate to 1 ulp.
#pragma once

#include <cstddef>

namespace partiscope {

void sincos_array(const double* x, double* s, double* c, std::size_t n);

}  // namespace partiscope
