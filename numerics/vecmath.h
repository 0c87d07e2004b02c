// Sine and cosine of whole arrays on the widest vector unit the processor
// has (AVX-512, AVX2 or SSE2, chosen at run time), accurate to 1 ulp.
#pragma once

#include <cstddef>

#if defined(__ELF__)
// Straight loops over arrays compiled once per instruction set, the clone
// chosen when the library loads (ELF ifuncs). Every clone does the same
// operations in the same order (no contraction into FMA), so they agree
// bit for bit.
#define PARTISCOPE_VECTOR_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define PARTISCOPE_VECTOR_CLONES
#endif

namespace partiscope {

// The compute context's reproducible arithmetic takes the SSE2 kernel every
// x86-64 processor has.
void sincos_array(const double* x, double* s, double* c, std::size_t n);

}  // namespace partiscope
