#include "bessel.h"

#include <cmath>

#include "vecmath.h"

namespace partiscope {
namespace {

// Both branches switch at |x| = 8, compared in single precision.
constexpr float kSwitch = 8.0f;
constexpr float kSmallArgument = 0.5f;

// Asymptotic form shared by J0 and J1 for |x| >= 8:
// sqrt(2/(pi ax)) (cos(xx) p - z sin(xx) q), with z = 8/ax rounded to single.
struct Asymptotic {
    float z;   // 8/ax in single precision
    double y;  // z*z in single precision, widened
};

Asymptotic asymptotic_argument(float ax) {
    const float z = static_cast<float>(8.0 / ax);
    return {z, static_cast<double>(z * z)};
}

double asymptotic_value(float ax, double xx, float z, double p, double q) {
    return std::sqrt(0.636619772 / ax) * (std::cos(xx) * p - z * std::sin(xx) * q);
}

// J1's rational form for |x| < 8: x P(y)/Q(y) with y = x*x in single precision.
inline double j1_rational(float x) {
    const double y = static_cast<double>(x * x);
    const double p =
        static_cast<double>(x) *
        (72362614232.0 +
         y * (-7895059235.0 +
              y * (242396853.1 + y * (-2972611.439 + y * (15704.4826 + y * (-30.16036606))))));
    const double q =
        144725228442.0 +
        y * (2300535178.0 +
             y * (18583304.74 + y * (99447.43394 + y * (376.9991397 + y * 1.0))));
    return p / q;
}

// The corrections of J1's asymptotic form, in y = (8/|x|)^2.
inline double j1_p(double y) {
    return 1.0 + y * (0.00183105 +
                      y * (-3.516396496e-05 + y * (2.457520174e-06 + y * (-2.40337019e-07))));
}

inline double j1_q(double y) {
    return 0.04687499995 +
           y * (-0.0002002690873 +
                y * (8.449199096e-06 + y * (-8.8228987e-07 + y * 1.05787412e-07)));
}

}  // namespace

float bessj0(float x) {
    const float ax = std::fabs(x);
    if (ax < kSwitch) {
        const double y = static_cast<double>(x * x);
        const double p =
            57568490574.0 +
            y * (-13362590354.0 +
                 y * (651619640.7 + y * (-11214424.18 + y * (77392.33017 + y * (-184.9052456)))));
        const double q =
            57568490411.0 +
            y * (1029532985.0 +
                 y * (9494680.718 + y * (59272.64853 + y * (267.8532712 + y * 1.0))));
        return static_cast<float>(p / q);
    }
    const Asymptotic a = asymptotic_argument(ax);
    const double y = a.y;
    const double xx = ax - 0.785398164;
    const double p =
        1.0 + y * (-0.001098628627 +
                   y * (2.734510407e-05 + y * (-2.073370639e-06 + y * 2.093887211e-07)));
    const double q =
        -0.01562499995 +
        y * (0.0001430488765 +
             y * (-6.911147651e-06 + y * (7.621095161e-07 + y * (-9.34945152e-08))));
    return static_cast<float>(asymptotic_value(ax, xx, a.z, p, q));
}

double bessj1_unrounded(float x) {
    const float ax = std::fabs(x);
    if (ax < kSwitch) return j1_rational(x);
    const Asymptotic a = asymptotic_argument(ax);
    const double xx = ax - 2.356194491;
    const double value = asymptotic_value(ax, xx, a.z, j1_p(a.y), j1_q(a.y));
    return x < 0.0f ? -value : value;
}

float bessj1(float x) { return static_cast<float>(bessj1_unrounded(x)); }

float besscylzero(float x) {
    if (static_cast<double>(x) < kCylThresholdCoarse) return kSmallArgument;
    return bessj0(x) / x;
}

float besscylone(float x, double threshold, Quotient quotient) {
    // A NaN fails this test and propagates through the quotient.
    if (static_cast<double>(x) < threshold) return kSmallArgument;
    if (quotient == Quotient::single_precision) return bessj1(x) / x;
    return static_cast<float>(bessj1_unrounded(x) / static_cast<double>(x));
}

}  // namespace partiscope

namespace partiscope {

// Both branches are evaluated for every argument in straight loops that
// the compiler turns into vector code (on Linux a clone for AVX2, chosen at
// run time), and each result then takes the branch the scalar function takes.
// Every operation is the scalar one, in the same order: only the sines and
// cosines come from the vector library.
PARTISCOPE_VECTOR_CLONES void besscylone_array(
    const float* x, float* J, std::size_t n, double threshold, Quotient quotient, double* scratch) {
    double* xx = scratch;
    double* p = xx + n;
    double* q = p + n;
    double* zs = q + n;
    double* s = zs + n;
    double* c = s + n;
    double* rational = c + n;
    for (std::size_t i = 0; i < n; ++i) {
        const float xi = x[i];
        const float ax = std::fabs(xi);
        const Asymptotic a = asymptotic_argument(ax);
        xx[i] = ax - 2.356194491;
        p[i] = j1_p(a.y);
        q[i] = j1_q(a.y);
        zs[i] = a.z;
        rational[i] = j1_rational(xi);
    }
    sincos_array(xx, s, c, n);
    // J1(x) of the branch the scalar function takes, then the quotient.
    const auto j1 = [&](std::size_t i) {
        const float xi = x[i];
        const float ax = std::fabs(xi);
        const double asymptotic = std::sqrt(0.636619772 / ax) * (c[i] * p[i] - zs[i] * s[i] * q[i]);
        const double signed_asymptotic = xi < 0.0f ? -asymptotic : asymptotic;
        return ax < kSwitch ? rational[i] : signed_asymptotic;
    };
    if (quotient == Quotient::single_precision) {
        for (std::size_t i = 0; i < n; ++i) {
            const float value = static_cast<float>(j1(i)) / x[i];
            J[i] = static_cast<double>(x[i]) < threshold ? kSmallArgument : value;
        }
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            const float value = static_cast<float>(j1(i) / static_cast<double>(x[i]));
            J[i] = static_cast<double>(x[i]) < threshold ? kSmallArgument : value;
        }
    }
}

}  // namespace partiscope
