#include "j0.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "j0_tables.h"
#include "vecmath.h"

namespace partiscope {
namespace {

using namespace j0_tables;

constexpr double kInvSqrtPi = 0.5641895835477563;  // 1/sqrt(pi)
constexpr double kHuge = 1e300;                    // beyond: 2x may overflow

// c[0] + t (c[1] + t (c[2] + ...)), written out so that it stays straight
// code inside vector loops.
template <std::size_t N, std::size_t... K>
inline double horner(const double (&c)[N], double t, std::index_sequence<K...>) {
    double p = c[N - 1];
    ((p = p * t + c[N - 2 - K]), ...);
    return p;
}
template <std::size_t N>
inline double horner(const double (&c)[N], double t) {
    return horner(c, t, std::make_index_sequence<N - 1>());
}

// Below kSmall: the Taylor piece of the unit interval holding a.
double j0_small(double a) {
    const int k = static_cast<int>(a);
    return horner(kTaylor[k], a - kCentre[k]);
}

// From kSmall on, J0(x) = (P (cos x + sin x) - Q (sin x - cos x)) / sqrt(pi x):
// the modulus form, with P and Q slowly varying. Where cos x + sin x (or
// sin x - cos x) cancels, it is recovered from the other as
// -cos(2x) / (sin x - cos x), since (s + c)(s - c) = -cos 2x: the two
// factors keep their relative accuracy near the zeros.
PARTISCOPE_VECTOR_CLONES void modulus_form(const double* a, const double* s, const double* c,
                                           const double* c2, double* J, std::size_t m) {
    for (std::size_t i = 0; i < m; ++i) {
        const double ai = a[i];
        const double w = 64.0 / (ai * ai);
        const double P = horner(kP, w), Q = horner(kQ, w) / ai;
        const double si = s[i], co = c[i];
        const double sum = si + co, difference = si - co, z = -c2[i];
        const double sum_from_difference = z / difference, difference_from_sum = z / sum;
        const bool opposite = si * co < 0.0;  // the sum cancels, else the difference
        const double cc = opposite ? sum_from_difference : sum;
        const double ss = opposite ? difference : difference_from_sum;
        J[i] = kInvSqrtPi * (P * cc - Q * ss) / std::sqrt(ai);
    }
}

}  // namespace

void j0_array(const double* x, double* J, std::size_t n) {
    constexpr std::size_t kChunk = 256;
    double a[kChunk], twice[kChunk], s[kChunk], c[kChunk], s2[kChunk], c2[kChunk];
    for (std::size_t base = 0; base < n; base += kChunk) {
        const std::size_t m = std::min(kChunk, n - base);
        const double* xb = x + base;
        double* Jb = J + base;
        // Small, huge, infinite and NaN arguments take the modulus form at
        // kSmall (finite, harmless) and are replaced below.
        bool exceptions = false;
        for (std::size_t i = 0; i < m; ++i) {
            const double ai = std::fabs(xb[i]);
            const bool regular = (ai >= kSmall) & (ai <= kHuge);
            a[i] = regular ? ai : kSmall;
            twice[i] = 2.0 * a[i];
            exceptions |= !regular;
        }
        sincos_array(a, s, c, m);
        sincos_array(twice, s2, c2, m);
        modulus_form(a, s, c, c2, Jb, m);
        if (!exceptions) continue;
        for (std::size_t i = 0; i < m; ++i) {
            const double ai = std::fabs(xb[i]);
            if (ai < kSmall) {
                Jb[i] = j0_small(ai);
            } else if (!(ai <= kHuge)) {
                // P = 1 and Q = 0 to double precision; J0(inf) = 0, NaN stays.
                Jb[i] = std::isinf(ai) ? 0.0
                                       : kInvSqrtPi * (std::sin(ai) + std::cos(ai)) / std::sqrt(ai);
            }
        }
    }
}

}  // namespace partiscope
