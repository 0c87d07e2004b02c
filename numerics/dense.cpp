#include "numerics/dense.h"

#include <cmath>

#include "numerics/vecmath.h"

namespace partiscope {

// In-place Cholesky factor (lower triangle) of the n-by-n matrix a
// (row-major); false when it is not positive definite.
bool cholesky(std::vector<double>& a, std::size_t n) {
    for (std::size_t j = 0; j < n; ++j) {
        double d = a[j * n + j];
        for (std::size_t k = 0; k < j; ++k) d -= a[j * n + k] * a[j * n + k];
        if (!(d > 0.0) || !std::isfinite(d)) return false;
        d = std::sqrt(d);
        a[j * n + j] = d;
        for (std::size_t i = j + 1; i < n; ++i) {
            double v = a[i * n + j];
            for (std::size_t k = 0; k < j; ++k) v -= a[i * n + k] * a[j * n + k];
            a[i * n + j] = v / d;
        }
    }
    return true;
}

// Solves L L^T x = b with the factor from cholesky.
std::vector<double> cholesky_solve(const std::vector<double>& L, std::size_t n,
                                   std::vector<double> b) {
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t k = 0; k < i; ++k) b[i] -= L[i * n + k] * b[k];
        b[i] /= L[i * n + i];
    }
    for (std::size_t i = n; i-- > 0;) {
        for (std::size_t k = i + 1; k < n; ++k) b[i] -= L[k * n + i] * b[k];
        b[i] /= L[i * n + i];
    }
    return b;
}

// The inverse of a symmetric positive definite matrix (row-major), or an
// empty vector when it is singular.
std::vector<double> spd_inverse(std::vector<double> a, std::size_t n) {
    // Scaled to a unit diagonal first: the parameters' units differ by many
    // orders of magnitude (metres against intensity levels).
    std::vector<double> scale(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (!(a[i * n + i] > 0.0)) return {};
        scale[i] = 1.0 / std::sqrt(a[i * n + i]);
    }
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j) a[i * n + j] *= scale[i] * scale[j];
    if (!cholesky(a, n)) return {};
    std::vector<double> inv(n * n);
    for (std::size_t j = 0; j < n; ++j) {
        std::vector<double> e(n, 0.0);
        e[j] = 1.0;
        const std::vector<double> col = cholesky_solve(a, n, e);
        for (std::size_t i = 0; i < n; ++i) inv[i * n + j] = col[i] * scale[i] * scale[j];
    }
    return inv;
}

// Sums over [lo, hi) in 32 interleaved partial sums, added pairwise at the
// end: a fixed order that vector units can follow with several registers
// in flight (one running sum would have to be kept in order, one element at
// a time).
namespace {

constexpr int kLanes = 32;

double pairwise(double (&acc)[kLanes]) {
    for (int width = kLanes / 2; width > 0; width /= 2)
        for (int l = 0; l < width; ++l) acc[l] += acc[l + width];
    return acc[0];
}

}  // namespace

PARTISCOPE_VECTOR_CLONES double dot3(const double* a, const double* b, const double* c,
                                     std::size_t lo, std::size_t hi) {
    double acc[kLanes] = {};
    std::size_t i = lo;
    for (; i + kLanes <= hi; i += kLanes)
        for (int l = 0; l < kLanes; ++l) acc[l] += a[i + l] * b[i + l] * c[i + l];
    double tail = 0.0;
    for (; i < hi; ++i) tail += a[i] * b[i] * c[i];
    return pairwise(acc) + tail;
}

PARTISCOPE_VECTOR_CLONES double dot2(const double* a, const double* b, std::size_t lo,
                                     std::size_t hi) {
    double acc[kLanes] = {};
    std::size_t i = lo;
    for (; i + kLanes <= hi; i += kLanes)
        for (int l = 0; l < kLanes; ++l) acc[l] += a[i + l] * b[i + l];
    double tail = 0.0;
    for (; i < hi; ++i) tail += a[i] * b[i];
    return pairwise(acc) + tail;
}

}  // namespace partiscope
