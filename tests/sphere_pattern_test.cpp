// The sphere's field against identities of scattering theory (its far field
// is the amplitude scattering matrix), its table against the series summed
// at each node, and its derivatives against differences.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

#include "core/fit/ring_fit.h"
#include "core/optics/sphere_plate.h"
#include "model/disc_pattern.h"
#include "model/sphere_pattern.h"

namespace partiscope {
namespace {

using cplx = std::complex<double>;
constexpr double kPi = 3.141592653589793;

// A 1 um polystyrene bead in water under 447 nm light (lambda in the
// medium), 10 um above the focal plane, seen through 60 nm pixels.
ModelParams bead() {
    ModelParams p;
    p.medium = 1.33;
    p.lambda = 447e-9 / p.medium;
    p.index = 1.59;
    p.r = 1e-6;
    p.z = 10e-6;
    p.pix = 60e-9;
    p.M = p.N = 120;
    p.x = 0.3 * p.pix;
    p.y = -0.45 * p.pix;
    p.polarization = 0.4;
    return p;
}

// Far away, E_theta -> e^(ikR)/(-ikR) cos(phi) S2 and
// E_phi -> -e^(ikR)/(-ikR) sin(phi) S1: along the polarization the field
// in the plane of incidence is S2's, across it S1's.
TEST(SpherePattern, FarFieldIsTheAmplitudeScatteringMatrix) {
    ModelParams p = bead();
    p.polarization = 0.0;
    const SphereOptics s = sphere_optics(p, false);
    // Far enough that the near-field terms, n^2/(kR) of the field, are gone.
    const double R = 1e9 / s.k;
    for (double theta : {0.1, 0.6, 1.2}) {
        const double mu = std::cos(theta), rho = R * std::sin(theta), z = R * mu;
        cplx S1, S2;
        mie_amplitudes(s.c, mu, S1, S2);
        // The field relative to the illumination at the point: undo e^(-ikz).
        const cplx to_amplitude = -cplx(0, 1) * (s.k * R) * std::polar(1.0, s.k * (z - R));
        const SphereField in_plane = sphere_field_at(s, rho, 0.0, z, 0.0);
        const SphereField across = sphere_field_at(s, 0.0, rho, z, 0.0);
        EXPECT_LT(std::abs(in_plane.par * to_amplitude / mu - S2), 1e-5 * std::abs(S2)) << theta;
        EXPECT_LT(std::abs(across.par * to_amplitude - S1), 1e-5 * std::abs(S1)) << theta;
        EXPECT_LT(std::abs(in_plane.perp) + std::abs(across.perp), 1e-12 * std::abs(S1) / (s.k * R));
    }
}

// A large opaque (strongly absorbing) sphere casts a disc's shadow: in the
// forward lobe its scattered field is the diffraction of its cross-section,
// -D of the disc's exact pattern, up to the light its surface reflects
// (a few percent at this index) and the ray-optics corrections of order
// 1/x, x = 2 pi a/lambda = 126 here.
TEST(SpherePattern, AnOpaqueSphereCastsADiscsShadow) {
    const double lambda = 0.5e-6, a = 10e-6, z = 2e-3;  // Fresnel number 0.1
    SphereOptics s;
    s.k = 2 * kPi / lambda;
    s.m = {1.5, 0.5};
    s.x = s.k * a;
    s.c = mie_coefficients(s.m, s.x, false);
    const DiscPattern disc(lambda, z, a, 200e-6);
    double worst = 0;
    for (double rho = 0; rho <= 100e-6; rho += 2e-6) {
        const SphereField e = sphere_field_at(s, rho, 0.0, z, 0.0);
        worst = std::max(worst, std::abs(e.par + disc.at(rho).D));
    }
    // The shadow's field reaches 2 on the axis (Poisson's spot aside, 1 - D).
    EXPECT_LT(worst, 0.04);  // 0.02 measured
}

// The window's columns: its three components against the series summed at
// each node, and (turned) the polarization as a rotation of the pattern.
TEST(SpherePattern, TableMatchesTheSeriesAtEveryNode) {
    for (double z : {3e-6, 10e-6, 40e-6}) {
        ModelParams p = bead();
        p.z = z;
        p.r = std::min(2e-6, 0.5 * z);
        NodeWindow w;
        w.rows = w.cols = 120;
        const std::unique_ptr<WindowPattern> pattern = sphere_window_pattern(p, w);
        const SphereOptics s = sphere_optics(p, false);
        std::vector<double> v(6 * w.rows);
        JacobianColumn out[3];
        for (int c = 0; c < 3; ++c) {
            out[c].re = v.data() + 2 * c * w.rows;
            out[c].im = out[c].re + w.rows;
        }
        PatternScratch scratch;
        double worst = 0, largest = 0;
        for (std::size_t j = 0; j < w.cols; j += 7) {
            pattern->column(j, out, scratch);
            for (std::size_t i = 0; i < w.rows; ++i) {
                const double dx = (static_cast<double>(i) - 60) * p.pix - p.x;
                const double dy = (static_cast<double>(j) - 60) * p.pix - p.y;
                const SphereField e = sphere_field_at(s, dx, dy, p.z, p.polarization);
                const cplx expected[3] = {-e.par, e.perp, e.axial};
                for (int c = 0; c < 3; ++c) {
                    const cplx got(out[c].re[i], out[c].im[i]);
                    worst = std::max(worst, std::abs(got - expected[c]));
                    largest = std::max(largest, std::abs(expected[c]));
                }
            }
        }
        EXPECT_LT(worst, 2e-6 * largest) << z;
    }
}

TEST(SpherePattern, DerivativesMatchDifferences) {
    const ModelParams p = bead();
    NodeWindow w;
    w.row0 = 20;
    w.col0 = 35;
    w.rows = w.cols = 50;
    const std::size_t R = w.rows;
    auto values = [&](const ModelParams& q, std::size_t col) {
        std::vector<double> v(6 * R);
        JacobianColumn out[3];
        for (int c = 0; c < 3; ++c) {
            out[c].re = v.data() + 2 * c * R;
            out[c].im = out[c].re + R;
        }
        PatternScratch scratch;
        sphere_window_pattern(q, w)->column(col, out, scratch);
        return v;
    };
    const std::unique_ptr<WindowPattern> pattern = sphere_window_pattern(p, w);
    std::vector<double> v(36 * R);
    JacobianColumn out[3];
    for (int c = 0; c < 3; ++c) {
        double* B = v.data() + 12 * c * R;
        out[c].re = B;
        out[c].im = B + R;
        for (int q = 0; q < 5; ++q) {
            out[c].d_re[q] = B + (2 + 2 * q) * R;
            out[c].d_im[q] = B + (3 + 2 * q) * R;
        }
    }
    const double step[5] = {1e-3 * p.pix, 1e-3 * p.pix, 1e-5 * p.z, 1e-5 * p.r, 1e-5};
    PatternScratch scratch;
    for (std::size_t col : {0, 17, 49}) {
        pattern->column(col, out, scratch);
        const std::vector<double> alone = values(p, col);
        for (int q = 0; q < 5; ++q) {
            ModelParams hi = p, lo = p;
            double* hq[5] = {&hi.x, &hi.y, &hi.z, &hi.r, &hi.index};
            double* lq[5] = {&lo.x, &lo.y, &lo.z, &lo.r, &lo.index};
            *hq[q] += step[q];
            *lq[q] -= step[q];
            const std::vector<double> a = values(hi, col), b = values(lo, col);
            for (int c = 0; c < 3; ++c) {
                double scale = 0, err = 0;
                for (std::size_t i = 0; i < 2 * R; ++i) {
                    const std::size_t at = 2 * c * R + i;
                    EXPECT_EQ(alone[at], v[12 * c * R + i]);
                    const double fd = (a[at] - b[at]) / (2 * step[q]);
                    scale = std::max(scale, std::fabs(fd));
                    err = std::max(err, std::fabs(fd - v[12 * c * R + (2 + 2 * q) * R + i]));
                }
                EXPECT_LT(err, 1e-4 * scale) << "component " << c << " parameter " << q;
            }
        }
    }
}

// The fit of two beads, on the simulator's noiseless hologram, from starts
// 5% off in depth and radius and with the index unknown (1.5): the truth.
TEST(SphereFit, RecoversNoiselessBeads) {
    const ModelParams b = bead();
    const std::size_t M = 128, N = 112;
    // A polystyrene bead and a silica one: [x y z a n_p].
    const std::vector<double> truth = {-20.3, 25.6, 14.2, -18.7, 12e-6, 20e-6,
                                       0.8e-6, 0.5e-6, 1.59, 1.45};
    SpherePlateInput in;
    in.M = M;
    in.N = N;
    in.lambda = b.lambda;
    in.pix = b.pix;
    in.particles = truth.data();
    in.n = 2;
    SpherePlateOptions so;
    so.medium_index = b.medium;
    so.polarization = b.polarization;
    std::vector<double> hol(M * N), noise(M * N);
    std::mt19937_64 rng(1);
    sphere_plate(in, so, rng, hol.data(), noise.data());

    const std::vector<double> p0 = {-19.9, 25.2, 14.2 * 1.05, -18.7 * 0.95, 12e-6 * 1.05,
                                     20e-6 * 0.95, 0.8e-6 * 0.95, 0.5e-6 * 1.05};
    FitInput f;
    f.hol = hol.data();
    f.M = M;
    f.N = N;
    f.lambda = b.lambda;
    f.pix = b.pix;
    f.p0 = p0.data();
    f.n = 2;
    FitOptions o;
    o.particle = ParticleKind::sphere;
    o.medium_index = b.medium;
    o.polarization = b.polarization;
    const FitResult r = ring_fit(f, o);
    ASSERT_TRUE(r.converged[0] && r.converged[1]) << r.message;
    for (std::size_t k = 0; k < 2; ++k) {
        EXPECT_NEAR(r.p[k], truth[k], 1e-4);
        EXPECT_NEAR(r.p[k + 2], truth[k + 2], 1e-4);
        EXPECT_NEAR(r.p[k + 4] / truth[k + 4], 1.0, 1e-6);
        EXPECT_NEAR(r.p[k + 6] / truth[k + 6], 1.0, 1e-5);
        EXPECT_NEAR(r.index[k], truth[k + 8], 1e-5);
        EXPECT_GT(r.index_se[k], 0.0);
    }
    EXPECT_NEAR(r.background, 1.0, 1e-6);
}

}  // namespace
}  // namespace partiscope
