// The Mie coefficients against published values, and their derivatives
// against differences.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>

#include "numerics/mie.h"

namespace partiscope {
namespace {

using cplx = std::complex<double>;

// Wiscombe's test cases (W. J. Wiscombe, "Mie scattering calculations:
// advances in technique and fast, vector-speed computer codes", NCAR
// TN-140+STR, 1979, revised 1996), Q_ext and Q_sca to the seven digits
// printed there (0 where not used). His absorbing indices are written
// n - ik; with our e^(-i omega t) they are n + ik.
struct Case {
    cplx m;
    double x, ext, sca;
};
const Case kWiscombe[] = {
    {0.75, 0.101, 8.033542e-6, 8.033542e-6},
    {0.75, 10.0, 2.232265, 2.232265},
    {0.75, 1000.0, 1.997908, 1.997908},
    {{1.33, 1e-5}, 1.0, 9.395198e-2, 9.392330e-2},
    {{1.33, 1e-5}, 100.0, 2.101321, 2.096594},
    {{1.33, 1e-5}, 10000.0, 2.004089, 1.723857},
    {{1.5, 1.0}, 0.055, 1.014910e-1, 1.131687e-5},
    {{1.5, 1.0}, 1.0, 2.336321, 6.634538e-1},
    {{1.5, 1.0}, 100.0, 2.097502, 1.283697},
    {{10.0, 10.0}, 1.0, 2.532993, 0.0},
    {{10.0, 10.0}, 100.0, 2.071124, 0.0},
};

TEST(Mie, EfficienciesMatchWiscombesTestCases) {
    for (const Case& t : kWiscombe) {
        const MieEfficiencies q = mie_efficiencies(mie_coefficients(t.m, t.x, false), t.x);
        EXPECT_NEAR(q.ext / t.ext, 1.0, 2e-6) << t.m << " " << t.x;
        if (t.sca > 0) {
            EXPECT_NEAR(q.sca / t.sca, 1.0, 2e-6) << t.m << " " << t.x;
        }
        if (t.m.imag() == 0) {
            EXPECT_NEAR(q.sca / q.ext, 1.0, 1e-12);
        }
    }
}

// Bohren and Huffman's worked example (Absorption and Scattering of Light by
// Small Particles, 1983, appendix A): a sphere of index 1.55 and radius
// 0.525 um in 0.6328 um light.
TEST(Mie, BohrenAndHuffmansExample) {
    const double x = 2 * 3.141592653589793 * 0.525 / 0.6328;
    const MieCoefficients c = mie_coefficients(1.55, x, false);
    const MieEfficiencies q = mie_efficiencies(c, x);
    EXPECT_NEAR(q.ext, 3.10543, 1e-5);
    EXPECT_NEAR(q.sca, 3.10543, 1e-5);
    EXPECT_NEAR(q.back, 2.92534, 1e-5);
    EXPECT_NEAR(q.g, 0.63314, 1e-5);
    // The optical theorem: Q_ext = 4 Re S(0)/x^2, S1 = S2 forward.
    cplx S1, S2;
    mie_amplitudes(c, 1.0, S1, S2);
    EXPECT_LT(std::abs(S1 - S2), 1e-12 * std::abs(S1));
    EXPECT_NEAR(4 * S1.real() / (x * x), q.ext, 1e-12);
}

TEST(Mie, DerivativesMatchDifferences) {
    const cplx ms[] = {1.2, {1.59, 0.01}, {1.5, 1.0}};
    for (const cplx m : ms) {
        for (const double x : {0.5, 8.0, 37.0}) {
            const MieCoefficients c = mie_coefficients(m, x, true);
            const double h = 1e-6 * x;
            const MieCoefficients xp = mie_coefficients(m, x + h, false),
                                  xm = mie_coefficients(m, x - h, false);
            const double hm = 1e-6;
            const MieCoefficients mp = mie_coefficients(m + hm, x, false),
                                  mm = mie_coefficients(m - hm, x, false);
            // Beyond x the upward recurrences leave every coefficient an
            // absolute error near 1e-16, which the differences divide by
            // their steps.
            const double floor = 1e-15 / std::min(h, hm);
            for (std::size_t n = 0; n < c.a.size() && n < xm.a.size(); ++n) {
                const auto near = [&](cplx difference, cplx exact) {
                    EXPECT_LT(std::abs(difference - exact), 1e-6 * std::abs(exact) + floor)
                        << m << " " << x << " n " << n + 1;
                };
                near((xp.a[n] - xm.a[n]) / (2 * h), c.a_x[n]);
                near((xp.b[n] - xm.b[n]) / (2 * h), c.b_x[n]);
                near((mp.a[n] - mm.a[n]) / (2 * hm), c.a_m[n]);
                near((mp.b[n] - mm.b[n]) / (2 * hm), c.b_m[n]);
            }
        }
    }
}

}  // namespace
}  // namespace partiscope
