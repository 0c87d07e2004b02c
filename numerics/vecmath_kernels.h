// The per-width kernels of sincos_array, each compiled for its instruction
// set in a file of its own (vecmath_avx2.cpp, vecmath_avx512.cpp): only the
// dispatcher, which checks the processor first, calls them.
#pragma once

#include <cstddef>

namespace partiscope::vecmath {

void sincos_avx512(const double* x, double* s, double* c, std::size_t n);
void sincos_avx2(const double* x, double* s, double* c, std::size_t n);

// Whole vectors of width W, then the tail through a padded buffer. Kept free
// of library templates: these files are compiled for wider instruction sets
// than the rest, and nothing they define may be shared with it.
#define PARTISCOPE_SINCOS_BY_VECTORS(W, KERNEL)                       \
    std::size_t i = 0;                                              \
    for (; i + (W) <= n; i += (W)) KERNEL(x + i, s + i, c + i);     \
    if (i < n) {                                                    \
        double xb[W] = {}, sb[W], cb[W];                            \
        for (std::size_t k = 0; i + k < n; ++k) xb[k] = x[i + k];   \
        KERNEL(xb, sb, cb);                                         \
        for (std::size_t k = 0; i + k < n; ++k) {                   \
            s[i + k] = sb[k];                                       \
            c[i + k] = cb[k];                                       \
        }                                                           \
    }

}  // namespace partiscope::vecmath
