// The particle model in its three forms, on plain arrays.
#include <gtest/gtest.h>

#include "platform.h"

#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "model/particle_model.h"
#include "model/reference_model.h"
#include "numerics/parallel.h"
#include "numerics/error.h"

using namespace partiscope;

namespace {

constexpr double kPi = 3.141592653589793;

// lambda = 500 nm, z = 10 cm, r = 50 um, pix = 10 um: c = 1/(lambda z) = 2e7.
ModelParams setup(double M = 128, double N = 128) {
    ModelParams p;
    p.z = 0.1;
    p.r = 5e-5;
    p.pix = 1e-5;
    p.lambda = 5e-7;
    p.M = M;
    p.N = N;
    return p;
}

struct Grid {
    std::size_t rows, cols;
    std::vector<double> real, re, im, jinc;
    Grid(const ModelParams& p)
        : rows(static_cast<std::size_t>(p.M)),
          cols(static_cast<std::size_t>(p.N)),
          real(rows * cols),
          re(rows * cols),
          im(rows * cols),
          jinc(rows * cols) {}
    double at(const std::vector<double>& v, std::size_t i, std::size_t j) const {
        return v[i + j * rows];
    }
};

// Both models and J on one grid, as ringform computes them.
Grid grid_of(const ModelParams& p) {
    Grid g(p);
    GridOutputs real_out, complex_out;
    real_out.real_p = g.real.data();
    real_out.jinc = g.jinc.data();
    complex_out.complex_re = g.re.data();
    complex_out.complex_im = g.im.data();
    complex_out.jinc = g.jinc.data();
    model_grid(p, false, real_out);
    model_grid(p, true, complex_out);
    return g;
}

std::vector<double> template_of(const ModelParams& p) {
    std::vector<double> out(static_cast<std::size_t>(p.M) * static_cast<std::size_t>(p.N));
    detection_template(out.data(), p);
    return out;
}

}  // namespace

TEST(ModelGrid, ReferenceValues) {
    ModelParams p = setup();
    const Grid g = grid_of(p);
    // Node b = 10, a = 0 (rho = 1e-4): u = 0.6283185, J = 0.4757285, A = 0.07472726.
    const std::size_t b10 = 64 + 10, a0 = 64;
    EXPECT_NEAR(g.at(g.jinc, b10, a0), 0.4757285, 5e-8);
    EXPECT_NEAR(g.at(g.real, b10, a0), 0.04392358, 5e-9);
    EXPECT_NEAR(g.at(g.re, b10, a0), 0.04392358, 5e-9);
    EXPECT_NEAR(g.at(g.im, b10, a0), -0.06045563, 5e-9);
    // Node b = 60, a = -25 (rho = 6.5e-4): u = 4.084071.
    EXPECT_NEAR(g.at(g.jinc, 64 + 60, 64 - 25), -0.02386342, 5e-9);
    EXPECT_NEAR(g.at(g.real, 64 + 60, 64 - 25), -0.003702308, 5e-10);
    // With the pixel factor (K = 1) the value shrinks by 0.9993422.
    p.K = 1;
    EXPECT_NEAR(grid_of(p).at(grid_of(p).real, b10, a0), 0.04389469, 5e-9);
}

// On the particle's axis u = 0: J = 0.5, phi = 0, P = 1.
TEST(ModelGrid, OnTheAxis) {
    ModelParams p = setup(64, 64);
    p.K = 2;
    const Grid g = grid_of(p);
    EXPECT_EQ(g.at(g.real, 32, 32), 0.0);
    EXPECT_EQ(g.at(g.jinc, 32, 32), 0.5);
    EXPECT_EQ(g.at(g.re, 32, 32), 0.0);
    EXPECT_NEAR(g.at(g.im, 32, 32), -kPi * p.r * p.r / (2 * p.lambda * p.z), 1e-15);
}

// A centred particle is mirror-symmetric about the grid origin: row 32 + d
// mirrors row 32 - d, and likewise the columns. Row and column 0 have no
// mirror. An off-by-one in the grid breaks this.
TEST(ModelGrid, CentredParticleIsMirrorSymmetric) {
    ModelParams p = setup(64, 64);
    p.K = 1;
    const Grid g = grid_of(p);
    for (std::size_t d = 1; d <= 31; ++d) {
        for (std::size_t j = 0; j < 64; ++j) {
            EXPECT_EQ(g.at(g.real, 32 + d, j), g.at(g.real, 32 - d, j));
            EXPECT_EQ(g.at(g.real, j, 32 + d), g.at(g.real, j, 32 - d));
        }
    }
}

// Moving the particle by whole pixels moves its pattern by as many rows and
// columns, x along the rows and y along the columns.
TEST(ModelGrid, WholePixelShiftMovesThePattern) {
    ModelParams p = setup(64, 48);
    const Grid centred = grid_of(p);
    p.x = 3 * p.pix;
    p.y = -5 * p.pix;
    const Grid shifted = grid_of(p);
    for (std::size_t i = 0; i + 3 < 64; ++i) {
        for (std::size_t j = 5; j < 48; ++j) {
            EXPECT_NEAR(shifted.at(shifted.real, i + 3, j - 5), centred.at(centred.real, i, j),
                        1e-12);
        }
    }
}

TEST(ModelGrid, RealModelIsRealPartOfComplexModel) {
    for (double K : {0.0, 1.0, -2.5}) {
        ModelParams p = setup(40, 30);
        p.K = K;
        p.x = 1.3e-5;
        const Grid g = grid_of(p);
        EXPECT_EQ(g.real, g.re) << K;
    }
}

// Odd sizes' last row / column is no node and holds 0; a 1-row grid has no node.
TEST(ModelGrid, OddAndDegenerateSizes) {
    const double marker = -7.0;
    for (auto [M, N] : {std::pair{5.0, 4.0}, std::pair{4.0, 5.0}, std::pair{1.0, 1.0},
                        std::pair{1.0, 6.0}, std::pair{5.9, 4.2}}) {
        ModelParams p = setup(M, N);
        const std::size_t rows = static_cast<std::size_t>(M), cols = static_cast<std::size_t>(N);
        std::vector<double> v(rows * cols, marker);
        GridOutputs out;
        out.real_p = v.data();
        std::vector<double> j(rows * cols, marker);
        out.jinc = j.data();
        model_grid(p, false, out);
        const std::size_t nodes_r = 2 * static_cast<std::size_t>(std::floor(M / 2));
        const std::size_t nodes_c = 2 * static_cast<std::size_t>(std::floor(N / 2));
        for (std::size_t c = 0; c < cols; ++c) {
            for (std::size_t r = 0; r < rows; ++r) {
                const bool node = r < nodes_r && c < nodes_c;
                EXPECT_EQ(v[r + c * rows], node ? v[r + c * rows] : 0.0)
                    << M << "x" << N << " " << r << "," << c;
                EXPECT_NE(v[r + c * rows], marker);
            }
        }
    }
}

TEST(ModelGrid, PixelFactorIsEvenInK) {
    ModelParams p = setup(32, 32);
    p.x = 2e-6;
    p.K = -1;
    const Grid minus = grid_of(p);
    p.K = 1;
    const Grid plus = grid_of(p);
    EXPECT_EQ(minus.real, plus.real);
}

// Radius 0: the Fresnel kernel exp(i phi)/(i lambda z) of the grid origin,
// wherever x and y put the particle.
TEST(FresnelKernel, CentredWhateverThePosition) {
    for (double K : {0.0, 1.0}) {
        ModelParams p = setup(16, 20);
        p.r = 0;
        p.K = K;
        const Grid at_origin = grid_of(p);
        p.x = 7 * p.pix;
        p.y = -2 * p.pix;
        const Grid moved = grid_of(p);
        EXPECT_EQ(at_origin.re, moved.re);
        EXPECT_EQ(at_origin.im, moved.im);
        EXPECT_EQ(at_origin.real, moved.real);
    }
    ModelParams p = setup(16, 20);
    p.r = std::numeric_limits<double>::quiet_NaN();
    const Grid g = grid_of(p);
    const double c = 1.0 / p.lambda / p.z;
    // Pixel (11, 13) is node b = 3, a = 3: rho^2 = 18 pix^2.
    const double phi = kPi * 18 * p.pix * p.pix * c;
    EXPECT_NEAR(g.at(g.re, 11, 13), c * std::sin(phi), 1e-7 * c);
    EXPECT_NEAR(g.at(g.im, 11, 13), -c * std::cos(phi), 1e-7 * c);
    EXPECT_EQ(g.at(g.re, 8, 10), 0.0);
    EXPECT_EQ(g.at(g.im, 8, 10), -c);
}

// The detection template is the ringform model of a centred particle with
// K mapped to 1 or 0, up to the last bit of the single-precision quotient.
TEST(DetectionTemplate, AgreesWithTheGridModel) {
    for (double K : {0.0, 0.5, -3.0}) {
        ModelParams p = setup(64, 64);
        p.K = K;
        const std::vector<double> t = template_of(p);
        p.K = K != 0.0 ? 1.0 : 0.0;
        const Grid g = grid_of(p);
        for (std::size_t i = 0; i < t.size(); ++i) {
            // One single-precision ulp of J (2^-24 relative) on the value.
            EXPECT_NEAR(t[i], g.real[i], std::fabs(g.real[i]) * 1.2e-7 + 1e-18) << i;
        }
    }
    // Any non-zero K gives exactly the K = 1 template.
    ModelParams p = setup(32, 32);
    p.K = 1;
    const auto one = template_of(p);
    p.K = 0.5;
    EXPECT_EQ(template_of(p), one);
    p.K = -3;
    EXPECT_EQ(template_of(p), one);
}

TEST(AccumulatingModel, AddsParticleAfterParticle) {
    ModelParams a = setup(32, 24), b = setup(32, 24);
    a.x = 3e-5;
    b.y = -4e-5;
    b.r = 2e-5;
    b.K = 1;
    const std::size_t n = 32 * 24;
    std::vector<double> re_a(n), im_a(n), re_b(n), im_b(n), re(n), im(n);
    add_particle_field(re_a.data(), im_a.data(), a);
    add_particle_field(re_b.data(), im_b.data(), b);
    add_particle_field(re.data(), im.data(), a);
    add_particle_field(re.data(), im.data(), b);
    for (std::size_t i = 0; i < n; ++i) {
        EXPECT_EQ(re[i], re_a[i] + re_b[i]);
        EXPECT_EQ(im[i], im_a[i] + im_b[i]);
    }
    // Its real part is the ringform model up to the quotient's last bit.
    const Grid g = grid_of(a);
    for (std::size_t i = 0; i < n; ++i) EXPECT_NEAR(re_a[i], g.re[i], std::fabs(g.re[i]) * 1.2e-7);
}

// The plate's field from column blocks over the threads: the same bits as
// particle after particle, on odd sizes (whose last row and column stay 0),
// with and without the pixel factor, at any thread count.
TEST(AccumulatingModel, FieldOfManyParticlesIsTheSumInTableOrder) {
    for (const auto& [M, N] : {std::pair<double, double>{33, 27}, {16, 40}, {1, 9}}) {
        std::vector<ModelParams> particles(5, setup(M, N));
        for (std::size_t k = 0; k < particles.size(); ++k) {
            particles[k].x = (static_cast<double>(k) - 2.0) * 1.3e-5;
            particles[k].y = 2.1e-5 * static_cast<double>(k % 3);
            particles[k].z = 0.05 + 0.02 * static_cast<double>(k);
            particles[k].r = 1.5e-5 * static_cast<double>(k + 1);
            particles[k].K = k % 2 ? 1.0 : 0.0;
        }
        const std::size_t n = static_cast<std::size_t>(M) * static_cast<std::size_t>(N);
        std::vector<double> re(n), im(n);
        for (const ModelParams& p : particles) add_particle_field(re.data(), im.data(), p);
        for (unsigned threads : {1u, 3u}) {
            const UseContext use(test::on_threads(threads));
            std::vector<double> fre(n, 7.0), fim(n, 7.0);
            model_field(fre.data(), fim.data(), particles.data(), particles.size(), M, N);
            EXPECT_EQ(fre, re) << M << "x" << N << ", " << threads << " threads";
            EXPECT_EQ(fim, im) << M << "x" << N << ", " << threads << " threads";
        }
    }
    std::vector<ModelParams> bad(2, setup(8, 8));
    bad[1].r = 0.0;
    std::vector<double> re(64, 1.5), im(64, 1.5);
    EXPECT_THROW(model_field(re.data(), im.data(), bad.data(), 2, 8, 8), Error);
    EXPECT_EQ(re, std::vector<double>(64, 1.5));
}

// Only a positive K switches the simulation's pixel factor on.
TEST(AccumulatingModel, NegativeKMeansNoPixelFactor) {
    ModelParams p = setup(16, 16);
    const std::size_t n = 256;
    std::vector<double> re0(n), im0(n), re1(n), im1(n);
    add_particle_field(re0.data(), im0.data(), p);
    p.K = -1;
    add_particle_field(re1.data(), im1.data(), p);
    EXPECT_EQ(re0, re1);
    EXPECT_EQ(im0, im1);
}

TEST(AccumulatingModel, NonPositiveRadiusLeavesTheFieldUntouched) {
    for (double r : {0.0, -1e-5, std::numeric_limits<double>::quiet_NaN()}) {
        ModelParams p = setup(8, 8);
        p.r = r;
        std::vector<double> re(64, 1.5), im(64, -2.5);
        try {
            add_particle_field(re.data(), im.data(), p);
            ADD_FAILURE() << "no error for r = " << r;
        } catch (const Error& e) {
            EXPECT_STREQ(e.what(),
                         "Error: one of values of R is not positive - please recheck the inputs");
        }
        EXPECT_EQ(re, std::vector<double>(64, 1.5));
        EXPECT_EQ(im, std::vector<double>(64, -2.5));
    }
}

// The fast forms the modules use against the reference evaluation: doubles
// within 1e-12 of the array's largest magnitude, J1(u)/u within one
// single-precision ulp (a vector sine or cosine may move it across a
// rounding boundary), whatever the thread count.
namespace {

double largest(const std::vector<double>& v) {
    double m = 0;
    for (double x : v) m = std::max(m, std::fabs(x));
    return m;
}

void expect_close(const std::vector<double>& fast, const std::vector<double>& ref, const char* what) {
    const double tol = 1e-12 * largest(ref);
    for (std::size_t i = 0; i < ref.size(); ++i) {
        ASSERT_NEAR(fast[i], ref[i], tol) << what << " at " << i;
    }
}

void expect_within_ulp(const std::vector<double>& fast, const std::vector<double>& ref) {
    for (std::size_t i = 0; i < ref.size(); ++i) {
        const float f = static_cast<float>(fast[i]), r = static_cast<float>(ref[i]);
        ASSERT_TRUE(f == r || std::nextafter(r, f) == f) << "J at " << i << ": " << f << " vs " << r;
    }
}

}  // namespace

TEST(FastModel, AgreesWithTheReference) {
    for (unsigned threads : {1u, 2u, 3u}) {
        const UseContext use(test::on_threads(threads));
        for (double K : {0.0, 1.0, -0.7}) {
            ModelParams p = setup(301, 256);   // u up to ~90: both branches of J1
            p.x = 37.3e-6;
            p.y = -81.9e-6;
            p.K = K;
            const std::size_t n = 301 * 256;
            Grid fast(p), ref(p);
            GridOutputs fo{fast.real.data(), fast.re.data(), fast.im.data(), fast.jinc.data()};
            GridOutputs ro{ref.real.data(), ref.re.data(), ref.im.data(), ref.jinc.data()};
            model_grid(p, true, fo);
            reference::model_grid(p, true, ro);
            expect_close(fast.re, ref.re, "complex re");
            expect_close(fast.im, ref.im, "complex im");
            expect_within_ulp(fast.jinc, ref.jinc);
            model_grid(p, false, fo);
            reference::model_grid(p, false, ro);
            expect_close(fast.real, ref.real, "real");

            std::vector<double> t(n), tr(n);
            detection_template(t.data(), p);
            reference::detection_template(tr.data(), p);
            expect_close(t, tr, "template");

            std::vector<double> re(n, 0.25), im(n, -0.5), rre(n, 0.25), rim(n, -0.5);
            add_particle_field(re.data(), im.data(), p);
            reference::add_particle_field(rre.data(), rim.data(), p);
            expect_close(re, rre, "field re");
            expect_close(im, rim, "field im");
        }
    }
}

// With the pixel factor, the kernel's squared index distance is rounded to
// single precision; the Windows build also takes its root in single
// precision, the Linux build in double.
TEST(FresnelKernel, SquareRootPrecisionOfThePlatform) {
    ModelParams p = setup(64, 64);
    p.r = 0;
    p.K = 1;
    const Grid g = grid_of(p);
    const double c = 1.0 / p.lambda / p.z;
    const int b = 29, a = -31;  // b^2 + a^2 = 1802
    const float q = static_cast<float>(b * b + a * a);
#ifdef _WIN32
    const double rho = p.pix * static_cast<double>(std::sqrt(q));
#else
    const double rho = p.pix * std::sqrt(static_cast<double>(q));
#endif
    const double phi = kPi * rho * rho * c;
    const double sx = std::sin(p.K * kPi * p.pix * (b * p.pix) * c) / (p.K * kPi * p.pix * (b * p.pix) * c);
    const double sy = std::sin(p.K * kPi * p.pix * (a * p.pix) * c) / (p.K * kPi * p.pix * (a * p.pix) * c);
    EXPECT_EQ(g.at(g.re, 32 + b, 32 + a), sx * sy * c * std::sin(phi));
}

// The grid is written whole: an odd size's last row and column (no node of
// the model) hold 0 whatever the arrays held, so no host has to zero them.
TEST(ModelGrid, WritesEveryElement) {
    for (double r : {3e-5, 0.0}) {
        ModelParams p;
        p.z = 0.05;
        p.r = r;
        p.pix = 6.7e-6;
        p.lambda = 6.328e-7;
        p.M = 7;
        p.N = 5;
        std::vector<double> re(35, NAN), im(35, NAN), jinc(35, NAN);
        GridOutputs out;
        out.complex_re = re.data();
        out.complex_im = im.data();
        out.jinc = r > 0 ? jinc.data() : nullptr;
        model_grid(p, true, out);
        for (std::size_t k = 0; k < 35; ++k) {
            const bool node = k % 7 < 6 && k / 7 < 4;
            EXPECT_TRUE(std::isfinite(re[k]) && std::isfinite(im[k])) << k;
            EXPECT_TRUE(node || re[k] == 0.0) << k;
            EXPECT_TRUE(r == 0 || node || jinc[k] == 0.0) << k;
        }
    }
}

// A context chosen for a thread's calls holds there and in the parts they
// run on other threads (a nested split), and lapses when the choice ends.
TEST(ComputeContext, ChosenCountReachesNestedParts) {
    const unsigned before = thread_count();
    {
        const UseContext chosen(test::on_threads(3));
        EXPECT_EQ(thread_count(), 3u);
        std::vector<unsigned> seen(3, 0);
        parallel_for(3, [&](std::size_t first, std::size_t last) {
            for (std::size_t k = first; k < last; ++k) seen[k] = thread_count();
        });
        for (unsigned s : seen) EXPECT_EQ(s, 3u);
    }
    EXPECT_EQ(thread_count(), before);
}
