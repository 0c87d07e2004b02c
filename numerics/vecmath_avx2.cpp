// Compiled with -mavx2 -mfma.
#include <immintrin.h>
#include <sleef.h>

#include "vecmath_kernels.h"

namespace partiscope::vecmath {
namespace {

inline void kernel(const double* x, double* s, double* c) {
    const Sleef___m256d_2 r = Sleef_sincosd4_u10avx2(_mm256_loadu_pd(x));
    _mm256_storeu_pd(s, r.x);
    _mm256_storeu_pd(c, r.y);
}

}  // namespace

void sincos_avx2(const double* x, double* s, double* c, std::size_t n) {
    PARTISCOPE_SINCOS_BY_VECTORS(4, kernel)
}

}  // namespace partiscope::vecmath
