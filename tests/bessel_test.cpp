#include <gtest/gtest.h>

#include "platform.h"

#include <cmath>
#include <limits>
#include <vector>

#include "numerics/bessel.h"
#include "numerics/cylinder.h"
#include "numerics/j0.h"

using namespace partiscope;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

float cylone_dq(float x) { return besscylone(x, kCylThresholdCoarse, Quotient::double_precision); }
float cylone_sq(float x) { return besscylone(x, kCylThresholdCoarse, Quotient::single_precision); }

std::vector<double> cylzero_of(std::vector<double> in) {
    std::vector<double> out(in.size());
    cylzero_elements(in.data(), out.data(), in.size());
    return out;
}
std::vector<double> cylone_of(std::vector<double> in) {
    std::vector<double> out(in.size());
    cylone_elements(in.data(), out.data(), in.size());
    return out;
}

}  // namespace

// Published single-precision values of the approximations, to their digits.
TEST(Bessel, ReferenceValues) {
    EXPECT_EQ(bessj0(0.0f), 1.0f);  // P/Q = 1.0000000028 rounds to 1
    EXPECT_EQ(bessj1(0.0f), 0.0f);
    EXPECT_NEAR(bessj0(1.0f), 0.7651977, 5e-8);
    EXPECT_NEAR(bessj1(1.0f), 0.4400506, 5e-8);
    EXPECT_NEAR(bessj0(5.0f), -0.1775968, 5e-8);
    EXPECT_NEAR(bessj1(5.0f), -0.3275791, 5e-8);
    EXPECT_NEAR(bessj0(10.0f), -0.2459358, 5e-8);
    EXPECT_NEAR(bessj1(10.0f), 0.04347274, 5e-9);
}

// The two branches meet at |x| = 8; a wrong switch or a sign slip in either
// form shows up as a jump there.
TEST(Bessel, BranchesAgreeAroundEight) {
    const float below = std::nextafter(8.0f, 0.0f);
    EXPECT_NEAR(bessj0(7.999999f), 0.171651, 5e-7);
    EXPECT_NEAR(bessj0(8.0f), 0.171651, 5e-7);
    EXPECT_NEAR(bessj1(8.0f), 0.234636, 5e-7);
    EXPECT_NEAR(bessj0(below), bessj0(8.0f), 2e-6);
    EXPECT_NEAR(bessj1(below), bessj1(8.0f), 2e-6);
    EXPECT_NEAR(bessj1(-below), bessj1(-8.0f), 2e-6);
}

// Against the C library's double-precision J0 and J1 over both branches.
TEST(Bessel, MatchesLibraryBesselFunctions) {
    for (int k = -4000; k <= 4000; ++k) {
        const float x = static_cast<float>(k * 0.0125);
        EXPECT_NEAR(bessj0(x), test::library_j0(x), 1e-6) << x;
        EXPECT_NEAR(bessj1(x), test::library_j1(x), 1e-6) << x;
    }
}

TEST(Bessel, NonFiniteArguments) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (float x : {nan, inf, -inf}) {
        EXPECT_TRUE(std::isnan(bessj0(x))) << x;
        EXPECT_TRUE(std::isnan(bessj1(x))) << x;
    }
    EXPECT_TRUE(std::isnan(besscylzero(nan)));
    EXPECT_TRUE(std::isnan(cylone_dq(nan)));
    EXPECT_TRUE(std::isnan(besscylzero(inf)));
    EXPECT_TRUE(std::isnan(cylone_sq(inf)));
    EXPECT_EQ(besscylzero(-inf), 0.5f);
    EXPECT_EQ(cylone_sq(-inf), 0.5f);
}

// The small-argument rule as the models rely on it: 0.5 below the threshold,
// every negative argument included, and the threshold compared in double.
TEST(Quotients, SmallArgumentRule) {
    EXPECT_EQ(besscylzero(0.0f), 0.5f);
    EXPECT_EQ(cylone_sq(0.0f), 0.5f);
    // 1e-4 rounds to 9.99999974737875e-05 in single precision, below 1e-4.
    EXPECT_EQ(besscylzero(1e-4f), 0.5f);
    EXPECT_EQ(cylone_sq(1e-4f), 0.5f);
    EXPECT_EQ(besscylone(-1.0f, kCylThresholdFine, Quotient::double_precision), 0.5f);
    EXPECT_EQ(besscylzero(-10.0f), 0.5f);
    EXPECT_EQ(besscylzero(9e-5f), 0.5f);
    EXPECT_EQ(besscylzero(1.0001e-4f), 9999.0f);
    // Between the two thresholds only the fine one computes the quotient,
    // which is 0.5 - u^2/16 within single precision.
    const float u = 5e-5f;
    EXPECT_EQ(besscylone(u, kCylThresholdCoarse, Quotient::double_precision), 0.5f);
    EXPECT_NEAR(besscylone(u, kCylThresholdFine, Quotient::double_precision),
                0.5 - double(u) * u / 16, 6e-8);
}

// The single quotient rounds J1 before dividing, the double one after: they
// may differ in the last bit, never more.
TEST(Quotients, SingleAndDoubleFormsDifferByAtMostOneUlp) {
    int differing = 0;
    for (int k = 1; k <= 20000; ++k) {
        const float x = static_cast<float>(k * 0.002);
        const float s = cylone_sq(x), d = cylone_dq(x);
        if (s != d) {
            ++differing;
            EXPECT_TRUE(std::nextafter(s, d) == d) << x;
        }
    }
    EXPECT_GT(differing, 0);  // the forms are really distinct
    EXPECT_EQ(cylone_dq(1.0f),
              static_cast<float>(bessj1_unrounded(1.0f) / 1.0));
}

// J1(x)/x is even and J0(x)/x odd; negative elements follow the true
// functions, with the small-argument value taken at |x|.
TEST(CylinderModules, NegativeElementsFollowTheFunctionsSymmetry) {
    const std::vector<double> xs = {1.0, 5.0, 9.5, 50.0, 5e-5, 1e-4, 3e-4};
    std::vector<double> neg;
    for (double x : xs) neg.push_back(-x);
    const auto one_pos = cylone_of(xs), one_neg = cylone_of(neg);
    const auto zero_pos = cylzero_of(xs), zero_neg = cylzero_of(neg);
    for (std::size_t i = 0; i < xs.size(); ++i) {
        EXPECT_EQ(one_neg[i], one_pos[i]) << xs[i];
        EXPECT_EQ(zero_neg[i], -zero_pos[i]) << xs[i];
    }
    EXPECT_EQ(cylzero_of({-5e-5})[0], -0.5);
    EXPECT_EQ(cylone_of({-1.0})[0], cylone_of({1.0})[0]);
}

TEST(CylinderModules, NonFiniteElements) {
    for (double v : {kNaN, kInf, -kInf, 1e39, -1e39}) {
        EXPECT_TRUE(std::isnan(cylone_of({v})[0])) << v;
        EXPECT_TRUE(std::isnan(cylzero_of({v})[0])) << v;
    }
}

namespace {

std::vector<double> j0_of(const std::vector<double>& x) {
    std::vector<double> J(x.size());
    j0_array(x.data(), J.data(), x.size());
    return J;
}

// sqrt(2/(pi x)): the size of J0's oscillation, 1 below x = 1.
double envelope(double x) { return x < 1.0 ? 1.0 : std::sqrt(2.0 / (test::kPi * x)); }

}  // namespace

// The vector J0 against the C library's over the arguments the precision
// bound meets (up to about 2e4) and beyond: a few ulp where J0 is not near a
// zero, and everywhere an absolute error far below the envelope's rounding.
// The Windows build takes its sines and cosines from the C runtime, whose
// last bits at large arguments are less sure: there a looser absolute bound
// only.
TEST(DoubleJ0, AgreesWithTheLibrary) {
#ifdef _WIN32
    constexpr double kAbsolute = 1e-14;
#else
    constexpr double kAbsolute = 1e-15;
#endif
    std::vector<double> x;
    for (double hi : {2.0, 8.0, 30.0, 1e3, 2e4, 1e6}) {
        for (int k = 0; k < 20011; ++k) x.push_back(hi * (k + 0.37) / 20011.0);
    }
    const std::vector<double> J = j0_of(x);
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double ref = test::library_j0(x[i]), env = envelope(x[i]);
        ASSERT_LE(std::fabs(J[i] - ref), kAbsolute * env) << x[i];
#ifndef _WIN32
        if (std::fabs(ref) > 0.1 * env) {
            const double ulp = std::nextafter(std::fabs(ref), kInf) - std::fabs(ref);
            ASSERT_LE(std::fabs(J[i] - ref), 6 * ulp) << x[i];
        }
#endif
    }
}

// Near the first zeros the expansion about the zero keeps the relative
// accuracy (values of J0 to 20 digits, computed in 50-digit arithmetic).
TEST(DoubleJ0, RelativeAccuracyNearZeros) {
    const std::vector<double> x = {2.4048240305977822, 2.4048226049698869, 5.5200781102863115,
                                   1.9615091949193677};
    const std::vector<double> truth = {7.9278935165693113002e-7, 1.532901194919070096e-6,
                                       2.746932087359583788e-16, 0.24613332753112987534};
    const std::vector<double> J = j0_of(x);
    EXPECT_NEAR(J[0], truth[0], 4e-16 * std::fabs(truth[0]));
    EXPECT_NEAR(J[1], truth[1], 4e-16 * std::fabs(truth[1]));
    EXPECT_NEAR(J[2], truth[2], 4e-16 * std::fabs(truth[2]));
    EXPECT_NEAR(J[3], truth[3], 4e-16 * std::fabs(truth[3]));
}

// Signs, special values and arrays that are not a whole number of the
// function's internal chunks, with small and huge arguments among large ones.
TEST(DoubleJ0, SpecialValuesAndChunks) {
    std::vector<double> x(1000);
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = 0.731 * static_cast<double>(i) - 300.0;
    x[3] = kNaN;
    x[400] = kInf;
    x[401] = -kInf;
    x[402] = 0.0;
    x[403] = 1e305;
    const std::vector<double> J = j0_of(x);
    EXPECT_TRUE(std::isnan(J[3]));
    EXPECT_EQ(J[400], 0.0);
    EXPECT_EQ(J[401], 0.0);
    EXPECT_EQ(J[402], 1.0);
    // Beyond 1e300 only the leading term is kept; C runtimes disagree on
    // sines of such arguments, so the value is held to its envelope.
    EXPECT_LE(std::fabs(J[403]), 1.0000001 * envelope(1e305));
#ifndef _WIN32
    EXPECT_LE(std::fabs(J[403] - test::library_j0(1e305)), 1e-15 * envelope(1e305));
#endif
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (i == 3 || (i >= 400 && i <= 403)) continue;
        EXPECT_EQ(J[i], j0_of({-x[i]})[0]) << x[i];
        EXPECT_LE(std::fabs(J[i] - test::library_j0(x[i])), 1e-15 * envelope(std::fabs(x[i]))) << x[i];
    }
}
