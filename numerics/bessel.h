// Single-precision Bessel functions J0 and J1 and the quotients J0(x)/x and
// J1(x)/x used by every particle model.
//
// The approximations are the classic rational form for |x| < 8 and the
// asymptotic Hankel form beyond, with double intermediates. Argument and
// result are single precision on purpose: the particle models are defined on
// these rounded values, so every step here is bit-reproducible and must stay
// free of fast-math and of vectorised sin/cos replacements.
#pragma once

#include <cstddef>

namespace partiscope {

// Below this the small-argument rule of J1(x)/x applies in the models that
// work with single quotients (hologram model grid, detection template,
// cylinder quotients).
constexpr double kCylThresholdCoarse = 1e-4;
// The finer threshold of the simulation and precision-bound models.
constexpr double kCylThresholdFine = 1e-6;

// How J1(x)/x is formed once x is above the threshold.
enum class Quotient {
    single_precision,  // J1(x) rounded to single, divided by x in single
    double_precision,  // unrounded J1(x) divided by double(x), rounded once
};

float bessj0(float x);
float bessj1(float x);

// J1(x) in double, before the final rounding of bessj1.
double bessj1_unrounded(float x);

// J0(x)/x, or 0.5 when double(x) < 1e-4 (including every negative x).
float besscylzero(float x);

// J1(x)/x, or its limit 0.5 when double(x) < threshold (including every
// negative x).
float besscylone(float x, double threshold, Quotient quotient);

}  // namespace partiscope

namespace partiscope {

// besscylone over an array, with the sines and cosines of the asymptotic
// branch evaluated on vector units (1 ulp): each result equals the scalar
// one, or differs from it by one single-precision ulp where a vector sine or
// cosine moved the value across a rounding boundary. scratch holds
// besscylone_scratch(n) doubles.
void besscylone_array(const float* x, float* J, std::size_t n, double threshold, Quotient quotient,
                      double* scratch);

// Doubles of scratch besscylone_array needs for n arguments.
constexpr std::size_t besscylone_scratch(std::size_t n) { return 7 * n; }

}  // namespace partiscope
