// The disc's pattern against the exact diffraction of a disc: the
// Rayleigh-Sommerfeld axis value, and discplate's angular-spectrum
// holograms; its derivatives against differences of patterns; and every
// kind's window columns, the fit's view of a model, against differences of
// their own values.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "model/disc_pattern.h"
#include "core/optics/disc_plate.h"

namespace partiscope {
namespace {

constexpr double kLambda = 632.8e-9, kPix = 6.7e-6, kPi = 3.141592653589793;

// Fresnel numbers 0.003 to 0.8: from the far field to the disc's own
// Fresnel zone filling the pattern.
const double kDiscs[][2] = {{0.2, 20e-6}, {0.05, 60e-6}, {0.02, 100e-6}};

TEST(DiscPattern, OnTheAxisIsTheFresnelIntegral) {
    for (const auto& d : kDiscs) {
        const DiscPattern pattern(kLambda, d[0], d[1], 1e-3);
        const std::complex<double> exact = 1.0 - std::polar(1.0, kPi * d[1] * d[1] / (kLambda * d[0]));
        EXPECT_LT(std::abs(pattern.at(0.0).D - exact), 1e-12) << d[0];
    }
}

// discplate's point samples (pixel centres) of one disc [x y z r] on an
// M-by-M sensor, against the pattern: the largest difference of |1 - D|^2
// within `reach` (metres) of the disc's axis.
double worst_against_discplate(std::vector<double> disc, std::size_t M, double reach) {
    std::vector<double> h(M * M), noise(M * M);
    DiscPlateInput in;
    in.lambda = kLambda;
    in.pix = kPix;
    in.M = in.N = M;
    in.particles = disc.data();
    in.n = 1;
    DiscPlateOptions o;
    o.area_pixels = false;
    std::mt19937_64 rng(1);
    disc_plate(in, o, rng, h.data(), noise.data());
    const DiscPattern pattern(kLambda, disc[2], disc[3], 2.0 * M * kPix);
    double worst = 0.0;
    for (std::size_t j = 0; j < M; ++j) {
        for (std::size_t i = 0; i < M; ++i) {
            const double rho = std::hypot((i - M / 2.0 - disc[0]) * kPix, (j - M / 2.0 - disc[1]) * kPix);
            if (rho > reach) continue;
            worst = std::max(worst, std::fabs(std::norm(1.0 - pattern.at(rho).D) - h[i + j * M]));
        }
    }
    return worst;
}

// With the field band at twice the sensor's Nyquist frequency (the default),
// within 0.6 of that band's reach from the axis, |1 - D|^2 agrees to 3e-4
// (the pattern's signal is up to 0.95).
TEST(DiscPattern, IsTheExactHologramOfADisc) {
    for (const auto& d : kDiscs)
        EXPECT_LT(worst_against_discplate({0.0, 0.0, d[0], d[1]}, 384, 0.6 * kLambda * d[0] / kPix), 3e-4)
            << "z " << d[0] << " r " << d[1];
}

// A disc near a corner: its pattern reaches the far corner, farther than
// the sensor's size, and discplate's padding must hold it all (a padding of
// twice the sensor left errors of 1e-2 there). On a small sensor far from
// the disc its Fresnel zone, sqrt(lambda z), is half the sensor wide: the
// band must reach zones past the far corner (without them, 1e-2 everywhere).
TEST(DiscPattern, NearACornerIsTheExactHologramOverTheWholeSensor) {
    EXPECT_LT(worst_against_discplate({80.0, -85.0, 0.03, 50e-6}, 192, 1.0), 3e-4);
    EXPECT_LT(worst_against_discplate({31.0, 38.5, 0.2, 78e-6}, 160, 1.0), 3e-4);
    EXPECT_LT(worst_against_discplate({-70.0, 60.0, 0.15, 40e-6}, 160, 1.0), 3e-4);
}

TEST(DiscPattern, DerivativesAreThoseOfThePattern) {
    for (const auto& d : kDiscs) {
        // Within 0.5 mm of the axis the phase moves by millirad over the
        // differences' steps, and the tables' interpolation stays below
        // their differences.
        const double z = d[0], r = d[1], reach = 0.5e-3;
        const DiscPattern pattern(kLambda, z, r, reach);
        const double dz = 1e-4 * z, dr = 1e-4 * r, drho = 1e-3 * kPix;
        const DiscPattern zp(kLambda, z + dz, r, reach), zm(kLambda, z - dz, r, reach);
        const DiscPattern rp(kLambda, z, r + dr, reach), rm(kLambda, z, r - dr, reach);
        double scale[3] = {}, err[3] = {};
        for (double rho = 0.3 * kPix; rho < reach * 0.9; rho += 1.7 * kPix) {
            const DiscPattern::Value v = pattern.at(rho);
            const std::complex<double> fd[3] = {
                (zp.at(rho).D - zm.at(rho).D) / (2 * dz), (rp.at(rho).D - rm.at(rho).D) / (2 * dr),
                (pattern.at(rho + drho).D - pattern.at(rho - drho).D) / (2 * drho)};
            const std::complex<double> an[3] = {v.dD_dz, v.dD_dr, v.dD_drho};
            for (int q = 0; q < 3; ++q) {
                scale[q] = std::max(scale[q], std::abs(an[q]));
                err[q] = std::max(err[q], std::abs(an[q] - fd[q]));
            }
        }
        for (int q = 0; q < 3; ++q) EXPECT_LT(err[q], 1.5e-3 * scale[q]) << "z " << z << " q " << q;
    }
}

// Each kind, with point samples and with pixels of area: a column's values
// are the same whether derivatives are asked for or not, and its derivatives
// along x, y, z and r are the differences of its values.
TEST(WindowPattern, ColumnsAreThePatternAndItsDerivatives) {
    const std::size_t R = 40, C = 40;
    NodeWindow w;
    w.row0 = 10;
    w.col0 = 14;
    w.rows = R;
    w.cols = C;
    for (ParticleKind kind : {ParticleKind::toolbox, ParticleKind::disc}) {
        for (double K : {0.0, 1.0}) {
            ModelParams p;
            p.x = 3.3 * kPix;
            p.y = -2.6 * kPix;
            p.z = 0.02;
            p.r = 60e-6;
            p.pix = kPix;
            p.lambda = kLambda;
            p.M = p.N = 64;
            p.K = K;
            // Steps wide enough for the toolbox's single-precision Bessel steps.
            const double step[4] = {1e-2 * kPix, 1e-2 * kPix, 1e-3 * p.z, 1e-3 * p.r};
            auto values = [&](const ModelParams& q, std::size_t col) {
                std::vector<double> v(2 * R);
                JacobianColumn out;
                out.re = v.data();
                out.im = v.data() + R;
                PatternScratch scratch;
                window_pattern(kind, q, w)->column(col, &out, scratch);
                return v;
            };
            const std::unique_ptr<WindowPattern> pattern = window_pattern(kind, p, w);
            std::vector<double> v(10 * R);
            JacobianColumn out;
            out.re = v.data();
            out.im = v.data() + R;
            for (int q = 0; q < 4; ++q) {
                out.d_re[q] = v.data() + (2 + 2 * q) * R;
                out.d_im[q] = v.data() + (3 + 2 * q) * R;
            }
            PatternScratch scratch;
            double scale[4] = {}, err[4] = {};
            for (std::size_t col : {0, 11, 21, 39}) {
                pattern->column(col, &out, scratch);
                const std::vector<double> alone = values(p, col);
                for (std::size_t i = 0; i < 2 * R; ++i) ASSERT_EQ(alone[i], v[i]) << "value " << i;
                for (int q = 0; q < 4; ++q) {
                    ModelParams hi = p, lo = p;
                    double* hq[4] = {&hi.x, &hi.y, &hi.z, &hi.r};
                    double* lq[4] = {&lo.x, &lo.y, &lo.z, &lo.r};
                    *hq[q] += step[q];
                    *lq[q] -= step[q];
                    const std::vector<double> a = values(hi, col), b = values(lo, col);
                    for (std::size_t i = 0; i < 2 * R; ++i) {
                        const double fd = (a[i] - b[i]) / (2 * step[q]);
                        scale[q] = std::max(scale[q], std::fabs(fd));
                        err[q] = std::max(err[q], std::fabs(fd - v[(2 + 2 * q) * R + i]));
                    }
                }
            }
            for (int q = 0; q < 4; ++q)
                EXPECT_LT(err[q], 2e-3 * scale[q])
                    << "kind " << static_cast<int>(kind) << " K " << K << " q " << q;
        }
    }
}

}  // namespace
}  // namespace partiscope
