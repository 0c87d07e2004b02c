// The fit: the model's derivatives against central differences, noiseless
// plates recovered, standard errors against the precision bound, bad input.
#include "core/fit/ring_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "model/particle_model.h"
#include "core/bound/precision_bound.h"
#include "core/synthesis/plate_synthesis.h"
#include "numerics/error.h"
#include "platform.h"

using namespace partiscope;

namespace {

// synthplate's plates are of the toolbox's model: fitted with it.
FitOptions toolbox_fit() {
    FitOptions o;
    o.particle = ParticleKind::toolbox;
    return o;
}

constexpr double kPix = 6.7e-6, kLambda = 632.8e-9;

ModelParams particle(double M, double N, double K) {
    ModelParams p;
    p.x = 2.3 * kPix;
    p.y = -1.7 * kPix;
    p.z = 0.06;
    p.r = 4e-5;
    p.pix = kPix;
    p.lambda = kLambda;
    p.M = M;
    p.N = N;
    p.K = K;
    return p;
}

struct Columns {
    std::vector<double> v[10];  // re, im, then d re, d im for x, y, z, r
    explicit Columns(std::size_t rows) {
        for (auto& c : v) c.resize(rows);
    }
    JacobianColumn out() {
        JacobianColumn o;
        o.re = v[0].data();
        o.im = v[1].data();
        for (int q = 0; q < 4; ++q) {
            o.d_re[q] = v[2 + 2 * q].data();
            o.d_im[q] = v[3 + 2 * q].data();
        }
        return o;
    }
};

// The model and its derivatives over the whole grid, column after column.
std::vector<Columns> jacobian_of(const ModelParams& p) {
    NodeWindow w;
    w.rows = static_cast<std::size_t>(p.M);
    w.cols = static_cast<std::size_t>(p.N);
    const JacobianAxesPtr axes = jacobian_axes(p, w);
    std::vector<Columns> cols(w.cols, Columns(w.rows));
    JacobianScratch scratch;
    for (std::size_t j = 0; j < w.cols; ++j)
        model_jacobian_column(p, *axes, j, cols[j].out(), scratch);
    return cols;
}

double& parameter(ModelParams& p, int q) {
    double* all[4] = {&p.x, &p.y, &p.z, &p.r};
    return *all[q];
}

// A noiseless plate as synthplate renders it (mean removed) with its table.
struct Plate {
    std::vector<double> hologram, particles, noise;
    double Mean = 0;
};

Plate plate_of(std::size_t M, std::size_t N, const std::vector<double>& table, double K = 0) {
    SynthParams s;
    s.n = static_cast<int>(table.size() / 4);
    s.lambda = kLambda;
    s.pix = kPix;
    s.sX = M;
    s.sY = N;
    s.I0 = 1;
    s.SNR = 0;
    s.coordinates = table.data();
    s.meanh = 0;
    s.K = K;
    Plate plate;
    plate.hologram.resize(M * N);
    plate.noise.resize(M * N);
    plate.particles.resize(table.size());
    synthesize_plate(
        s, 1, {plate.hologram.data(), plate.particles.data(), &plate.Mean, plate.noise.data()});
    return plate;
}

FitInput input_of(const std::vector<double>& hol, std::size_t M, std::size_t N,
                  const std::vector<double>& p0) {
    FitInput in;
    in.hol = hol.data();
    in.M = M;
    in.N = N;
    in.lambda = kLambda;
    in.pix = kPix;
    in.p0 = p0.data();
    in.n = p0.size() / 4;
    return in;
}

// A start off the truth by about a pixel, 1% in depth and 10% in radius.
std::vector<double> perturbed(const std::vector<double>& t) {
    std::vector<double> p = t;
    const std::size_t n = t.size() / 4;
    for (std::size_t k = 0; k < n; ++k) {
        p[k] += 0.9;
        p[k + n] -= 0.7;
        p[k + 2 * n] *= 1.01;
        p[k + 3 * n] *= 0.9;
    }
    return p;
}

}  // namespace

// The values are the accumulating model's bit for bit; each derivative
// agrees with central differences of the model (whose Bessel factor is
// single precision: differences of a step of 1e-3 px, 1e-5 relative in z and r,
// carry about 1e-4 of noise), with and without the pixel factor.
TEST(FitModel, JacobianMatchesCentralDifferences) {
    for (double K : {0.0, 1.0}) {
        const ModelParams p = particle(48, 40, K);
        const std::vector<Columns> J = jacobian_of(p);
        std::vector<double> re(48 * 40), im(48 * 40);
        add_particle_field(re.data(), im.data(), p);
        for (std::size_t j = 0; j < 40; ++j) {
            for (std::size_t i = 0; i < 48; ++i) {
                ASSERT_EQ(J[j].v[0][i], re[i + 48 * j]);
                ASSERT_EQ(J[j].v[1][i], im[i + 48 * j]);
            }
        }
        const double steps[4] = {1e-2 * kPix, 1e-2 * kPix, 1e-4 * p.z, 1e-4 * p.r};
        for (int q = 0; q < 4; ++q) {
            ModelParams lo = p, hi = p;
            parameter(lo, q) -= steps[q];
            parameter(hi, q) += steps[q];
            const std::vector<Columns> L = jacobian_of(lo), H = jacobian_of(hi);
            double largest = 0;
            for (const Columns& c : J)
                for (int part = 0; part < 2; ++part)
                    for (double v : c.v[2 + 2 * q + part])
                        largest = std::max(largest, std::fabs(v));
            for (std::size_t j = 0; j < 40; ++j) {
                for (int part = 0; part < 2; ++part) {
                    for (std::size_t i = 0; i < 48; ++i) {
                        const double fd = (H[j].v[part][i] - L[j].v[part][i]) / (2 * steps[q]);
                        ASSERT_NEAR(J[j].v[2 + 2 * q + part][i], fd, 2e-4 * largest)
                            << "K " << K << " parameter " << q << " part " << part << " at " << i
                            << "," << j;
                    }
                }
            }
        }
    }
}

// synthplate's noiseless plates, one particle and an overlapping pair, from a
// start a pixel, 1% in depth and 10% in radius away: recovered to 1e-6 px
// and 1e-9 relative, with the plate's scale and removed mean as b and c.
TEST(RingFit, RecoversNoiselessPlates) {
    const std::vector<std::vector<double>> tables = {
        {3.25, -4.5, 0.07, 3.5e-5},
        {-12.5, 14.0, 2.0, -9.5, 0.06, 0.09, 3e-5, 4.5e-5},
    };
    for (const auto& table : tables) {
        const Plate plate = plate_of(96, 80, table);
        const std::vector<double> p0 = perturbed(plate.particles);
        const FitResult fit = ring_fit(input_of(plate.hologram, 96, 80, p0), toolbox_fit());
        const std::size_t n = table.size() / 4;
        ASSERT_TRUE(fit.converged[0]) << fit.message;
        for (std::size_t k = 0; k < n; ++k) {
            EXPECT_NEAR(fit.p[k], plate.particles[k], 1e-6);
            EXPECT_NEAR(fit.p[k + n], plate.particles[k + n], 1e-6);
            EXPECT_NEAR(fit.p[k + 2 * n], plate.particles[k + 2 * n],
                        1e-9 * plate.particles[k + 2 * n]);
            EXPECT_NEAR(fit.p[k + 3 * n], plate.particles[k + 3 * n],
                        1e-9 * plate.particles[k + 3 * n]);
        }
        const double zmin = std::min(table[2 * n], table[3 * n - 1]);
        const double rmax = std::max(table[3 * n], table[4 * n - 1]);
        const double F = ((1 / 3.141592653589793) / (rmax * rmax)) * (kLambda * zmin);
        EXPECT_NEAR(fit.background, F, 1e-9 * F);
        EXPECT_NEAR(fit.offset, -plate.Mean, 1e-9 * F);
    }
}

// A free contrast finds the model's own (1) on synthplate's plate, and twice
// the field (an opaque disc's) is found as 2.
TEST(RingFit, FreeContrastIsFound) {
    const Plate plate = plate_of(96, 80, {3.25, -4.5, 0.07, 3.5e-5});
    FitOptions o = toolbox_fit();
    o.contrast_free = true;
    // Contrast and radius both scale the amplitude: without noise the fit
    // follows that narrow valley down to the rounding in many short steps.
    o.max_iter = 500;
    const FitResult fit = ring_fit(input_of(plate.hologram, 96, 80, perturbed(plate.particles)), o);
    ASSERT_TRUE(fit.converged[0]) << fit.message;
    EXPECT_NEAR(fit.contrast[0], 1.0, 1e-6);
    EXPECT_NEAR(fit.p[3], plate.particles[3], 1e-6 * plate.particles[3]);

    // hol = b |1 - 2 s|^2 + c: the same particle at twice the field.
    std::vector<double> re(96 * 80), im(96 * 80);
    ModelParams m = particle(96, 80, 0);
    m.x = 3.25 * kPix;
    m.y = -4.5 * kPix;
    m.z = 0.07;
    m.r = 3.5e-5;
    add_particle_field(re.data(), im.data(), m);
    std::vector<double> hol(96 * 80);
    for (std::size_t i = 0; i < hol.size(); ++i)
        hol[i] = 3.0 * ((1 - 2 * re[i]) * (1 - 2 * re[i]) + 4 * im[i] * im[i]) - 0.5;
    const FitResult disc =
        ring_fit(input_of(hol, 96, 80, perturbed({3.25, -4.5, 0.07, 3.5e-5})), o);
    ASSERT_TRUE(disc.converged[0]) << disc.message;
    EXPECT_NEAR(disc.contrast[0], 2.0, 2e-6);
    EXPECT_NEAR(disc.background, 3.0, 1e-6);
    EXPECT_NEAR(disc.offset, -0.5, 1e-6);
    EXPECT_NEAR(disc.p[2], 0.07, 1e-9);
}

// For one particle, the linear model with b and c held and no weights, the
// standard errors are the precision bound of the same particle, whose
// amplitude A is then b pi r^2/(lambda z) (1%: the pattern is cut where it
// no longer informs the fit).
TEST(RingFit, StandardErrorsAreThePrecisionBound) {
    const std::size_t M = 160, N = 128;
    for (const auto& t : {std::vector<double>{0.0, 0.0, 0.08, 4e-5},
                          std::vector<double>{20.5, -31.0, 0.05, 2.5e-5},
                          std::vector<double>{-10.5, 4.0, 0.012, 2e-5}}) {
        const double b = 2.5, sigma = 0.3;
        // Data: the linear model itself, so that the fit stays at the truth.
        std::vector<double> re(M * N), im(M * N);
        ModelParams m = particle(static_cast<double>(M), static_cast<double>(N), 0);
        m.x = t[0] * kPix;
        m.y = t[1] * kPix;
        m.z = t[2];
        m.r = t[3];
        add_particle_field(re.data(), im.data(), m);
        std::vector<double> hol(M * N);
        for (std::size_t i = 0; i < M * N; ++i) hol[i] = b * (1 - 2 * re[i]);
        FitOptions o = toolbox_fit();
        o.model = FitModel::linear;
        o.background_fixed = o.offset_fixed = true;
        o.background = b;
        o.offset = 0;
        o.sigma = sigma;
        const FitResult fit = ring_fit(input_of(hol, M, N, t), o);
        BoundParams bp;
        bp.x = m.x;
        bp.y = m.y;
        bp.z = m.z;
        bp.r = m.r;
        bp.pix = kPix;
        bp.lambda = kLambda;
        bp.M = static_cast<double>(M);
        bp.N = static_cast<double>(N);
        bp.sigm = sigma;
        bp.A = b * 3.141592653589793 * m.r * m.r / (kLambda * m.z);
        const Bounds bound = precision_bounds(bp);
        EXPECT_NEAR(fit.se[0] * kPix, bound.deltax, 0.01 * bound.deltax);
        EXPECT_NEAR(fit.se[1] * kPix, bound.deltay, 0.01 * bound.deltay);
        EXPECT_NEAR(fit.se[2], bound.deltaz, 0.01 * bound.deltaz);
        EXPECT_NEAR(fit.se[3], bound.deltar, 0.01 * bound.deltar);
        EXPECT_TRUE(fit.zr_correlation[0] > -1 && fit.zr_correlation[0] < 1);
        // No iteration from a start off the truth: the errors at the start,
        // over the whole window, not the first stage's narrower one.
        std::vector<double> off = t;
        off[0] += 0.3;
        o.max_iter = 0;
        const FitResult start = ring_fit(input_of(hol, M, N, off), o);
        EXPECT_NEAR(start.se[2], bound.deltaz, 0.03 * bound.deltaz);
        EXPECT_NEAR(start.se[3], bound.deltar, 0.03 * bound.deltar);
    }
}

// Masked pixels do not enter, whatever they hold; unmasked non-finite ones
// are refused; every unusable input is an Error with its reason.
TEST(RingFit, MasksAndBadInput) {
    const Plate plate = plate_of(64, 64, {1.0, -2.0, 0.07, 3e-5});
    std::vector<double> dead = plate.hologram, zeroed = plate.hologram, w(64 * 64, 1.0);
    for (std::size_t k : {100u, 2000u, 4095u}) {
        dead[k] = NAN;
        zeroed[k] = 0.0;
        w[k] = 0.0;
    }
    const std::vector<double> p0 = perturbed(plate.particles);
    FitOptions masked = toolbox_fit();
    masked.weights = w.data();
    const FitResult a = ring_fit(input_of(dead, 64, 64, p0), masked);
    const FitResult b = ring_fit(input_of(zeroed, 64, 64, p0), masked);
    EXPECT_EQ(a.p, b.p);
    EXPECT_EQ(a.pixels_ignored, 3u);
    try {
        ring_fit(input_of(dead, 64, 64, p0), toolbox_fit());
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(),
                     "Error: hol has 3 non-finite pixels with non-zero weight; give them weight 0 "
                     "in Weights");
    }
    const auto fails = [&](std::vector<double> start, FitOptions o, const char* message) {
        try {
            ring_fit(input_of(plate.hologram, 64, 64, start), o);
            ADD_FAILURE() << "no error for " << message;
        } catch (const Error& e) {
            EXPECT_STREQ(e.what(), message);
        }
    };
    fails({1, 2, 0.0, 3e-5}, toolbox_fit(), "Error: p0 must have z > 0 and r > 0 in every row");
    fails({1, 2, 0.07, -3e-5}, toolbox_fit(), "Error: p0 must have z > 0 and r > 0 in every row");
    fails({1, INFINITY, 0.07, 3e-5}, toolbox_fit(), "Error: p0 must hold finite values");
    fails({1, 65, 0.07, 3e-5}, toolbox_fit(),
          "Error: p0's x and y must lie within one sensor size of the grid centre");
    std::vector<double> negative(64 * 64, 1.0), none(64 * 64, 0.0);
    negative[5] = -1;
    FitOptions o = toolbox_fit();
    o.weights = negative.data();
    fails(p0, o, "Error: Weights must be finite and non-negative");
    o.weights = none.data();
    fails(p0, o, "Error: Weights must not all be zero");
    o = toolbox_fit();
    o.contrast = 0;
    fails(p0, o, "Error: Contrast must be a finite non-zero number or 'free'");
}

// A fit stopped early says so and returns its last accepted estimate.
TEST(RingFit, NonConvergenceIsReported) {
    const Plate plate = plate_of(64, 64, {1.0, -2.0, 0.07, 3e-5});
    std::vector<double> p0 = perturbed(plate.particles);
    FitOptions o = toolbox_fit();
    o.max_iter = 1;
    const FitResult fit = ring_fit(input_of(plate.hologram, 64, 64, p0), o);
    EXPECT_FALSE(fit.converged[0]);
    EXPECT_EQ(fit.iterations, 1);
    EXPECT_EQ(fit.message, "not converged: MaxIter iterations reached");
    for (double v : fit.p) EXPECT_TRUE(std::isfinite(v));
    EXPECT_NE(fit.p, p0);
}
