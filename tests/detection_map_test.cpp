// The FFT detection map against direct evaluation, and its safety rules.
#include <gtest/gtest.h>

#include "platform.h"

#include <fftw3.h>

#include <cmath>
#include <complex>
#include <cstdlib>
#include <vector>

#include "model/particle_model.h"
#include "core/detection/detection_map.h"
#include "numerics/error.h"

using namespace partiscope;

namespace {

// Deterministic pseudo-random values in [lo, hi).
struct Lcg {
    unsigned long long s = 12345;
    double next(double lo, double hi) {
        s = s * 6364136223846793005ULL + 1442695040888963407ULL;
        return lo + (hi - lo) * static_cast<double>(s >> 11) / 9007199254740992.0;
    }
};

struct Problem {
    std::size_t M, N;
    std::vector<double> hol, w, w_prim;
    DetectionInput input() const {
        DetectionInput in;
        in.hol = hol.data();
        in.M = M;
        in.N = N;
        in.w = w.data();
        in.w_prim = w_prim.data();
        in.lambda = 6.328e-7;
        in.pix = 6.7e-6;
        in.r = 3e-5;
        in.z = 0.02;
        in.K = 1;
        in.fov = {1, M, 1, N};
        return in;
    }
};

Problem random_problem(std::size_t M, std::size_t N) {
    Lcg g;
    Problem p{M, N, {}, {}, {}};
    for (std::size_t k = 0; k < M * N; ++k) {
        p.hol.push_back(g.next(-1, 1));
        p.w.push_back(g.next(0.2, 1));
        p.w_prim.push_back(g.next(0.5, 1.5));
    }
    return p;
}

std::vector<double> map_of(const DetectionInput& in, DetectionResult* best = nullptr) {
    std::vector<double> q0(in.fov.rows() * in.fov.cols());
    const DetectionResult r = detection_map(in, q0.data(), FFTW_ESTIMATE);
    if (best) *best = r;
    return q0;
}

// The score of the model centred on pixel (pi, pj), summed directly over the
// grid with circular displacements. The model at a pixel offset comes from a
// grid twice the size, where every offset of the hologram grid is a node.
double direct_score(const Problem& p, const DetectionInput& in, std::size_t pi, std::size_t pj) {
    const std::ptrdiff_t M = static_cast<std::ptrdiff_t>(p.M), N = static_cast<std::ptrdiff_t>(p.N);
    ModelParams big;
    big.z = in.z;
    big.r = in.r;
    big.pix = in.pix;
    big.lambda = in.lambda;
    big.K = in.K;
    big.M = 2.0 * M;
    big.N = 2.0 * N;
    static std::vector<double> model;
    model.assign(4 * p.M * p.N, 0.0);
    detection_template(model.data(), big);
    const auto at_offset = [&](std::ptrdiff_t oi, std::ptrdiff_t oj) {
        return model[static_cast<std::size_t>(oi + M) + static_cast<std::size_t>(oj + N) * 2 * p.M];
    };
    const std::ptrdiff_t hM = M / 2, hN = N / 2;
    double S = 0, cw = 0, cwd = 0, cwm2 = 0;
    for (std::ptrdiff_t lj = 0; lj < N; ++lj) {
        for (std::ptrdiff_t li = 0; li < M; ++li) {
            // Kernel element of the circular difference, and its offset.
            const std::ptrdiff_t ei = ((static_cast<std::ptrdiff_t>(pi) + hM - li) % M + M) % M;
            const std::ptrdiff_t ej = ((static_cast<std::ptrdiff_t>(pj) + hN - lj) % N + N) % N;
            const double m = at_offset(ei - hM, ej - hN);
            const std::size_t l = static_cast<std::size_t>(li + lj * M);
            S += p.w[l];
            cw += p.w[l] * m;
            cwd += p.w[l] * p.hol[l] * m;
            cwm2 += p.w[l] * m * m;
        }
    }
    return S * cwd * cwd / (S * cwm2 - cw * cw) * p.w_prim[pi + pj * p.M];
}

}  // namespace

TEST(DetectionMap, EqualsDirectEvaluationOnEvenAndOddGrids) {
    for (auto [M, N] : {std::pair<std::size_t, std::size_t>{8, 8}, {6, 10}, {7, 9}, {5, 4}, {1, 6}}) {
        const Problem p = random_problem(M, N);
        const DetectionInput in = p.input();
        const std::vector<double> q0 = map_of(in);
        double largest = 0;
        for (double q : q0) largest = std::max(largest, std::fabs(q));
        for (std::size_t j = 0; j < N; ++j) {
            for (std::size_t i = 0; i < M; ++i) {
                EXPECT_NEAR(q0[i + j * M], direct_score(p, in, i, j), 1e-10 * largest)
                    << M << "x" << N << " at " << i << "," << j;
            }
        }
    }
}

TEST(QuadrantSwap, MovesEveryElementByHalfTheGrid) {
    using C = std::complex<double>;
    std::vector<C> a = {0, 1, 2, 3}, scratch(4);  // 2x2: (0,0) (1,0) (0,1) (1,1)
    ifftShift_in(a.data(), 2, 2, scratch.data());
    EXPECT_EQ(a, (std::vector<C>{3, 2, 1, 0}));
    std::vector<C> b = {0, 1, 2, 3, 4, 5, 6, 7};  // 4x2: element (i, j) holds i + 4j
    scratch.resize(8);
    ifftShift_in(b.data(), 4, 2, scratch.data());
    // (0,0) -> (2,1), (1,0) -> (3,1), (2,1) -> (0,0), (3,0) -> (1,1)
    EXPECT_EQ(b[2 + 4], C(0));
    EXPECT_EQ(b[3 + 4], C(1));
    EXPECT_EQ(b[0], C(6));
    EXPECT_EQ(b[1 + 4], C(3));
    // Odd: 3x1, every element moves up by one row, circularly.
    std::vector<C> c = {0, 1, 2};
    ifftShift_in(c.data(), 3, 1, scratch.data());
    EXPECT_EQ(c, (std::vector<C>{1, 2, 0}));
}

TEST(DetectionMap, DegenerateScores) {
    Problem p = random_problem(8, 6);
    p.w.assign(48, 0.0);  // no weight: every score is 0/0
    DetectionResult best;
    for (double q : map_of(p.input(), &best)) EXPECT_TRUE(std::isnan(q));
    EXPECT_EQ(best.maxim, 0.0);
    EXPECT_EQ(best.best, 0u);

    p = random_problem(8, 6);
    p.w_prim.assign(48, 0.0);  // no position counts: no positive score
    map_of(p.input(), &best);
    EXPECT_EQ(best.maxim, 0.0);
    EXPECT_EQ(best.best, 0u);
}

TEST(DetectionMap, FieldOfViewAndPositionFactors) {
    Problem p = random_problem(10, 10);
    DetectionInput in = p.input();
    const std::vector<double> full = map_of(in);
    // Rows 3..5 of column 2 (1-based), in that order.
    in.fov = {3, 5, 2, 2};
    const std::vector<double> part = map_of(in);
    ASSERT_EQ(part.size(), 3u);
    for (std::size_t a = 0; a < 3; ++a) EXPECT_EQ(part[a], full[2 + a + 10]);
    // A one-pixel field of view, and w' scaling only its own entry.
    in.fov = {7, 7, 4, 4};
    EXPECT_EQ(map_of(in)[0], full[6 + 30]);
    p.w_prim[6 + 30] *= 2;
    in = p.input();
    const std::vector<double> scaled = map_of(in);
    for (std::size_t k = 0; k < full.size(); ++k) EXPECT_EQ(scaled[k], k == 36 ? 2 * full[k] : full[k]);
}

// A particle planted off-centre, in noise, is found on its own pixel.
TEST(DetectionMap, FindsAPlantedParticle) {
    for (auto [M, N] : {std::pair<std::size_t, std::size_t>{64, 64}, {63, 65}, {48, 57}}) {
        Problem p = random_problem(M, N);
        DetectionInput in = p.input();
        ModelParams particle;
        particle.x = 7 * in.pix;
        particle.y = -5 * in.pix;
        particle.z = in.z;
        particle.r = in.r;
        particle.pix = in.pix;
        particle.lambda = in.lambda;
        particle.M = static_cast<double>(M);
        particle.N = static_cast<double>(N);
        std::vector<double> model(M * N), jinc(M * N);
        GridOutputs out;
        out.real_p = model.data();
        out.jinc = jinc.data();
        model_grid(particle, false, out);
        Lcg g;
        for (std::size_t k = 0; k < M * N; ++k) {
            p.hol[k] = model[k] + 0.02 * g.next(-1, 1);
            p.w[k] = 1;
            p.w_prim[k] = 1;
        }
        in = p.input();
        in.K = 0;
        DetectionResult best;
        map_of(in, &best);
        EXPECT_EQ(best.best % M, M / 2 + 7) << M << "x" << N;
        EXPECT_EQ(best.best / M, N / 2 - 5) << M << "x" << N;
        EXPECT_GT(best.maxim, 0.0);
    }
}

// Ranges outside the hologram, fractional, empty or inverted would make the
// scan read outside the grid or write outside the map.
TEST(DetectionMap, RejectsUnsafeFieldsOfView) {
    const double ok[2] = {1, 10};
    for (auto [a, b] : {std::pair{0.0, 3.0}, {1.0, 11.0}, {1.5, 3.0}, {4.0, 3.0}, {NAN, 3.0},
                        {2.0, INFINITY}, {-1.0, 2.0}}) {
        const double bad[2] = {a, b};
        EXPECT_THROW(field_of_view(bad, ok, 10, 10), Error) << a << " " << b;
        EXPECT_THROW(field_of_view(ok, bad, 10, 10), Error) << a << " " << b;
    }
    const double one[2] = {10, 10};
    const FieldOfView v = field_of_view(ok, one, 10, 10);
    EXPECT_EQ(v.rows(), 10u);
    EXPECT_EQ(v.cols(), 1u);
}

TEST(DetectionMap, PlannerFlagsOfTheContext) {
    ComputeContext c;
    EXPECT_EQ(planner_flags(c), unsigned(FFTW_MEASURE));
    c.planner = planner_named("estimate", "bad");
    EXPECT_EQ(planner_flags(c), unsigned(FFTW_ESTIMATE));
    c.reproducible = true;
    EXPECT_EQ(planner_flags(c), unsigned(FFTW_ESTIMATE | FFTW_NO_SIMD));
    EXPECT_THROW(planner_named("quick", "Error: bad planner"), Error);
}

// The real-transform map against the seven-complex-transform reference:
// entries within 1e-9 of the map's largest magnitude, the same winner.
TEST(DetectionMap, FastMapAgreesWithTheReference) {
    for (auto [M, N] : {std::pair<std::size_t, std::size_t>{64, 64}, {63, 65}, {40, 31}, {1, 9}}) {
        Problem p = random_problem(M, N);
        DetectionInput in = p.input();
        in.fov = {1, M, 2, N};
        std::vector<double> fast(in.fov.rows() * in.fov.cols()), ref(fast.size());
        for (unsigned threads : {1u, 2u}) {
            const UseContext use(test::on_threads(threads));
            const DetectionResult f = detection_map(in, fast.data(), FFTW_ESTIMATE);
            const DetectionResult r = reference::detection_map(in, ref.data(), FFTW_ESTIMATE);
            double largest = 0;
            for (double q : ref) largest = std::max(largest, std::fabs(q));
            for (std::size_t k = 0; k < ref.size(); ++k) ASSERT_NEAR(fast[k], ref[k], 1e-9 * largest) << k;
            EXPECT_EQ(f.best, r.best);
            EXPECT_NEAR(f.maxim, r.maxim, 1e-9 * largest);
        }
    }
}
