// Compiled with -mavx512f.
#include <immintrin.h>
#include <sleef.h>

#include "vecmath_kernels.h"

namespace partiscope::vecmath {
namespace {

inline void kernel(const double* x, double* s, double* c) {
    const Sleef___m512d_2 r = Sleef_sincosd8_u10avx512f(_mm512_loadu_pd(x));
    _mm512_storeu_pd(s, r.x);
    _mm512_storeu_pd(c, r.y);
}

}  // namespace

void sincos_avx512(const double* x, double* s, double* c, std::size_t n) {
    PARTISCOPE_SINCOS_BY_VECTORS(8, kernel)
}

}  // namespace partiscope::vecmath
