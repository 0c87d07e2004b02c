// Small dense algebra for the fits' normal equations, and the sums over
// rows their columns need, in a fixed order of operations (the results do
// not depend on the processor's vector width).
#pragma once

#include <cstddef>
#include <vector>

namespace partiscope {

// In-place Cholesky factor (lower triangle) of the n-by-n matrix a
// (row-major); false when it is not positive definite.
bool cholesky(std::vector<double>& a, std::size_t n);

// Solves L L^T x = b with the factor from cholesky.
std::vector<double> cholesky_solve(const std::vector<double>& L, std::size_t n,
                                   std::vector<double> b);

// The inverse of a symmetric positive definite matrix (row-major), or an
// empty vector when it is singular.
std::vector<double> spd_inverse(std::vector<double> a, std::size_t n);

// sum a[i] b[i] c[i] and sum a[i] b[i] over [lo, hi), in 32 interleaved
// partial sums added pairwise at the end: a fixed order that vector units
// can follow with several registers in flight.
double dot3(const double* a, const double* b, const double* c, std::size_t lo, std::size_t hi);
double dot2(const double* a, const double* b, std::size_t lo, std::size_t hi);

}  // namespace partiscope
