#include "vecmath.h"

#include "numerics/compute_context.h"

#ifdef PARTISCOPE_NO_SLEEF

#include <cmath>

namespace partiscope {

// Without the vector library (the Windows cross-build): the C library's.
void sincos_array(const double* x, double* s, double* c, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = std::sin(x[i]);
        c[i] = std::cos(x[i]);
    }
}

}  // namespace partiscope

#else

#include <emmintrin.h>
#include <sleef.h>

#include "vecmath_kernels.h"

namespace partiscope {
namespace {

inline void kernel_sse2(const double* x, double* s, double* c) {
    const Sleef___m128d_2 r = Sleef_sincosd2_u10sse2(_mm_loadu_pd(x));
    _mm_storeu_pd(s, r.x);
    _mm_storeu_pd(c, r.y);
}

void sincos_sse2(const double* x, double* s, double* c, std::size_t n) {
    PARTISCOPE_SINCOS_BY_VECTORS(2, kernel_sse2)
}

using Impl = void (*)(const double*, double*, double*, std::size_t);

Impl widest() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) return vecmath::sincos_avx512;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return vecmath::sincos_avx2;
    return sincos_sse2;
}

}  // namespace

void sincos_array(const double* x, double* s, double* c, std::size_t n) {
    // The wider kernels round the last bit differently from the SSE2 one.
    static const Impl best = widest();
    (compute_context().reproducible ? sincos_sse2 : best)(x, s, c, n);
}

}  // namespace partiscope

#endif
