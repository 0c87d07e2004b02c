// The stack scan against the literal single-pair map, its tie rule, and the
// candidates it gives.
#include <gtest/gtest.h>

#include "platform.h"

#include <fftw3.h>

#include <cmath>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "model/particle_model.h"
#include "core/detection/detection_stack.h"
#include "numerics/error.h"

using namespace partiscope;

namespace {

constexpr double kLambda = 6.328e-7, kPix = 6.7e-6;

struct Plate {
    std::size_t M, N;
    std::vector<double> hol, w, w_prim;
    std::vector<double> depths, radii;
    std::vector<double> unmasked;
    // Without weights the masked pixels hold 0, not NaN.
    StackInput input(bool weights, bool position_weights) const {
        StackInput in;
        in.hol = weights ? hol.data() : unmasked.data();
        in.M = M;
        in.N = N;
        in.w = weights ? w.data() : nullptr;
        in.w_prim = position_weights ? w_prim.data() : nullptr;
        in.lambda = kLambda;
        in.pix = kPix;
        in.depths = depths.data();
        in.nz = depths.size();
        in.radii = radii.data();
        in.nr = radii.size();
        in.fov = {1, M, 1, N};
        return in;
    }
};

// Particles' linear patterns (-2 Re s) on noise of standard deviation sigma,
// with masked pixels (weight 0, NaN data) and uneven weights.
Plate plate(std::size_t M, std::size_t N, const std::vector<std::array<double, 4>>& particles,
            double sigma, unsigned seed) {
    Plate p{M, N, std::vector<double>(M * N, 0.0), std::vector<double>(M * N, 1.0),
            std::vector<double>(M * N, 1.0), {0.03, 0.045, 0.06}, {2e-5, 4e-5}, {}};
    std::vector<double> re(M * N), im(M * N);
    for (const auto& q : particles) {
        ModelParams m;
        m.x = q[0] * kPix;
        m.y = q[1] * kPix;
        m.z = q[2];
        m.r = q[3];
        m.pix = kPix;
        m.lambda = kLambda;
        m.M = static_cast<double>(M);
        m.N = static_cast<double>(N);
        std::fill(re.begin(), re.end(), 0.0);
        std::fill(im.begin(), im.end(), 0.0);
        add_particle_field(re.data(), im.data(), m);
        for (std::size_t k = 0; k < M * N; ++k) p.hol[k] -= 2.0 * re[k];
    }
    std::mt19937 g(seed);
    std::normal_distribution<double> noise(0.0, sigma);
    std::uniform_real_distribution<double> u(0.5, 1.5);
    for (std::size_t k = 0; k < M * N; ++k) {
        p.hol[k] += noise(g);
        p.w[k] = u(g);
        p.w_prim[k] = u(g);
    }
    p.unmasked = p.hol;
    for (std::size_t k = 7; k < M * N; k += 97) {
        p.w[k] = 0.0;
        p.hol[k] = std::nan("");
        p.unmasked[k] = 0.0;
    }
    return p;
}

}  // namespace

// The best map is the largest of the single-pair maps, each pair's winner is
// that map's, and neither depends on the thread count; even and odd sizes.
TEST(DetectionStack, EqualsTheLargestOfTheSinglePairMaps) {
    for (auto [M, N] : {std::pair<std::size_t, std::size_t>{64, 48}, {45, 50}, {33, 31}}) {
        const Plate p = plate(M, N, {{{3.0, -5.0, 0.045, 4e-5}}}, 0.2, 7);
        for (bool weights : {false, true}) {
            StackInput in = p.input(weights, weights);
            in.fov = {2, M - 1, 3, N};
            const std::size_t n = in.fov.rows() * in.fov.cols();
            std::vector<double> largest(n, -INFINITY);
            std::vector<DetectionResult> single;
            for (double r : p.radii) {
                for (double z : p.depths) {
                    DetectionInput d;
                    d.hol = in.hol;
                    d.M = M;
                    d.N = N;
                    std::vector<double> ones(M * N, 1.0), q(n);
                    d.w = weights ? in.w : ones.data();
                    d.w_prim = weights ? in.w_prim : ones.data();
                    d.lambda = kLambda;
                    d.pix = kPix;
                    d.r = r;
                    d.z = z;
                    d.fov = in.fov;
                    single.push_back(reference::detection_map(d, q.data(), FFTW_ESTIMATE));
                    for (std::size_t t = 0; t < n; ++t) largest[t] = std::max(largest[t], q[t]);
                }
            }
            double scale = 0;
            for (double q : largest) scale = std::max(scale, std::fabs(q));
            for (unsigned threads : {1u, 2u}) {
                const UseContext use(test::on_threads(threads));
                std::vector<double> best(n);
                std::vector<std::int32_t> pair(n);
                const std::vector<DetectionResult> winners =
                    detection_stack(in, {best.data(), pair.data()}, FFTW_ESTIMATE);
                ASSERT_EQ(winners.size(), 6u);
                for (std::size_t k = 0; k < single.size(); ++k) {
                    EXPECT_EQ(winners[k].best, single[k].best) << M << "x" << N << " pair " << k;
                    EXPECT_NEAR(winners[k].maxim, single[k].maxim, 1e-9 * scale);
                }
                for (std::size_t t = 0; t < n; ++t) {
                    ASSERT_NEAR(best[t], largest[t], 1e-9 * scale) << t;
                    ASSERT_GE(pair[t], 0);
                }
            }
        }
    }
}

// Equal scores of two pairs go to the lower pair, whichever thread finishes
// first; all-NaN positions (no weight at all) keep NaN and no pair.
TEST(DetectionStack, TiesGoToTheLowerPairAndNaNKeepsNone) {
    Plate p = plate(32, 32, {{{0.0, 0.0, 0.03, 2e-5}}}, 0.1, 3);
    p.depths = {0.03, 0.03, 0.03, 0.03};
    StackInput in = p.input(false, false);
    std::vector<double> best(32 * 32);
    std::vector<std::int32_t> pair(32 * 32);
    const UseContext use(test::on_threads(2));
    for (int repeat = 0; repeat < 5; ++repeat) {
        detection_stack(in, {best.data(), pair.data()}, FFTW_ESTIMATE);
        for (std::size_t t = 0; t < pair.size(); ++t) {
            if (!std::isnan(best[t])) {
                ASSERT_TRUE(pair[t] == 0 || pair[t] == 4) << t;
            }
        }
    }
    std::vector<double> zero(32 * 32, 0.0);
    in.w = zero.data();
    detection_stack(in, {best.data(), pair.data()}, FFTW_ESTIMATE);
    for (std::size_t t = 0; t < pair.size(); ++t) {
        EXPECT_TRUE(std::isnan(best[t])) << best[t];
        EXPECT_EQ(pair[t], -1);
    }
}

// Planted particles come out at their pixel and pair, strongest first; the
// noise level comes out of the data; separation and count limits hold.
TEST(DetectionStack, CandidatesAreThePlantedParticles) {
    const double sigma = 0.05;
    const Plate p = plate(128, 128, {{{20.0, -30.0, 0.045, 4e-5}, {-25.0, 15.0, 0.03, 2e-5}}},
                          sigma, 11);
    const StackInput in = p.input(true, false);
    std::vector<double> best(128 * 128);
    std::vector<std::int32_t> pair(best.size());
    StackOptions o;
    const StackDetection d = detect_stack(in, o, {best.data(), pair.data()}, FFTW_ESTIMATE);
    EXPECT_NEAR(d.sigma, sigma, 0.05 * sigma);
    ASSERT_GE(d.candidates.size(), 2u);
    const std::size_t n = d.candidates.size();
    std::vector<std::array<double, 4>> found;
    for (std::size_t k = 0; k < 2; ++k)
        found.push_back({d.table[k], d.table[k + n], d.table[k + 2 * n], d.table[k + 3 * n]});
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found[0], (std::array<double, 4>{-25.0, 15.0, 0.03, 2e-5}));
    EXPECT_EQ(found[1], (std::array<double, 4>{20.0, -30.0, 0.045, 4e-5}));
    for (std::size_t k = 0; k < n; ++k) {
        EXPECT_GE(d.table[k + 4 * n], o.threshold);
        if (k > 0) {
            EXPECT_LE(d.table[k + 4 * n], d.table[k - 1 + 4 * n]);
        }
        for (std::size_t l = 0; l < k; ++l)
            EXPECT_GE(std::hypot(d.table[k] - d.table[l], d.table[k + n] - d.table[l + n]),
                      o.min_separation);
    }
    StackOptions one = o;
    one.max_count = 1;
    one.sigma = 2 * sigma;
    const StackDetection d1 = detect_stack(in, one, {best.data(), pair.data()}, FFTW_ESTIMATE);
    ASSERT_EQ(d1.candidates.size(), 1u);
    // The scores are in units of the noise level given.
    EXPECT_DOUBLE_EQ(d1.table[4], 0.5 * d.table[4 * n] * d.sigma / sigma);
}

TEST(DetectionStack, RefusesBadGridsAndTinyHolograms) {
    Plate p = plate(16, 16, {}, 0.1, 1);
    std::vector<double> best(16 * 16);
    std::vector<std::int32_t> pair(best.size());
    const auto message = [&](const StackInput& in, StackOptions o = {}) {
        try {
            detect_stack(in, o, {best.data(), pair.data()}, FFTW_ESTIMATE);
        } catch (const Error& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    const std::vector<double> down = {0.05, 0.04}, same = {0.05, 0.05}, negative = {-0.01, 0.05},
                              bad = {0.05, NAN};
    StackInput in = p.input(false, false);
    in.depths = down.data();
    EXPECT_EQ(message(in), "Error: depths must be increasing");
    in.depths = same.data();
    EXPECT_EQ(message(in), "Error: depths must be increasing");
    in.depths = negative.data();
    EXPECT_EQ(message(in), "Error: depths must be positive finite lengths (metres)");
    in = p.input(false, false);
    in.radii = bad.data();
    EXPECT_EQ(message(in), "Error: radii must be positive finite lengths (metres)");
    in = p.input(false, false);
    in.nr = 0;
    EXPECT_EQ(message(in), "Error: radii must not be empty");
    in = p.input(false, false);
    in.M = 3;
    in.fov = {1, 3, 1, 16};
    EXPECT_EQ(message(in), "Error: hol must be at least 4 by 4 pixels");
    in = p.input(false, false);
    StackOptions o;
    o.threshold = NAN;
    EXPECT_EQ(message(in, o), "Error: Threshold must be a non-negative finite number");
    // A plate without particles gives no candidate, not an error.
    EXPECT_EQ(message(p.input(true, true)), "no error");
}

// Calls from several threads at once (a Python program's threads, a host's
// workers): FFTW's planner is shared, so planning and plan destruction take
// turns; every call still gives the values of a call made alone.
TEST(DetectionStack, CallsFromSeveralThreadsAtOnce) {
    std::vector<Plate> plates;
    for (std::size_t k = 0; k < 4; ++k)
        plates.push_back(plate(40 + 6 * k, 36 + 4 * k, {{{1.0, -2.0, 0.045, 4e-5}}}, 0.1, 3));
    std::vector<std::vector<double>> alone(plates.size());
    for (std::size_t k = 0; k < plates.size(); ++k) {
        const StackInput in = plates[k].input(true, false);
        alone[k].resize(in.M * in.N);
        std::vector<std::int32_t> pair(alone[k].size());
        detection_stack(in, {alone[k].data(), pair.data()}, FFTW_ESTIMATE);
    }
    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 20; ++round) {
                const std::size_t k = static_cast<std::size_t>(t + round) % plates.size();
                const StackInput in = plates[k].input(true, false);
                std::vector<double> best(in.M * in.N);
                std::vector<std::int32_t> pair(best.size());
                detection_stack(in, {best.data(), pair.data()}, FFTW_ESTIMATE);
                for (std::size_t i = 0; i < best.size(); ++i)
                    mismatches[static_cast<std::size_t>(t)] +=
                        std::fabs(best[i] - alone[k][i]) > 1e-12 * std::fabs(alone[k][i]);
            }
        });
    }
    for (std::thread& th : threads) th.join();
    for (int m : mismatches) EXPECT_EQ(m, 0);
}
