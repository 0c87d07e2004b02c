// Hologram simulation: the generator, the particle draws and the rendering.
#include <gtest/gtest.h>

#include "platform.h"

#include <cmath>
#include <cstdlib>
#include <vector>

#include "model/particle_model.h"
#include "core/synthesis/plate_synthesis.h"
#include "numerics/error.h"

using namespace partiscope;

namespace {

constexpr double kPi = 3.141592653589793;

// A plate of the particles in `table`, which must outlive the parameters.
SynthParams table_plate(std::size_t sX, std::size_t sY, const std::vector<double>& table) {
    SynthParams p;
    p.n = static_cast<int>(table.size() / 4);
    p.lambda = 5e-7;
    p.pix = 1e-5;
    p.sX = sX;
    p.sY = sY;
    p.I0 = 1;
    p.SNR = 0;
    p.random_coordinates = 0;
    p.coordinates = table.data();
    p.meanh = 1;
    return p;
}

struct Plate {
    std::vector<double> hologram, particles, noise;
    double Mean = 0;
    explicit Plate(const SynthParams& p)
        : hologram(p.sX * p.sY), particles(4 * static_cast<std::size_t>(p.n)), noise(p.sX * p.sY) {}
    PlateOutputs outputs() { return {hologram.data(), particles.data(), &Mean, noise.data()}; }
};

Plate simulate(const SynthParams& p, std::uint32_t seed = 7) {
    Plate plate(p);
    synthesize_plate(p, seed, plate.outputs());
    return plate;
}

}  // namespace

// The private generator reproduces the C library's rand() after srand().
TEST(Generator, ReproducesTheCLibrarySequence) {
    for (std::uint32_t seed : {1u, 42u, 4000000000u}) {
        srand(seed);
        Generator g(seed);
        for (int k = 0; k < 1000; ++k) ASSERT_EQ(g.next(), rand()) << seed << " " << k;
    }
}

TEST(Generator, CallSeedsNeverRepeatWithinALoad) {
    const std::uint32_t a = next_call_seed(), b = next_call_seed(), c = next_call_seed();
    EXPECT_NE(a, b);
    EXPECT_NE(b, c);
    EXPECT_NE(a, c);
}

TEST(Draws, StayInTheirRangesAndFollowTheDrawOrder) {
    const std::vector<double> none;
    SynthParams p = table_plate(32, 48, none);
    p.n = 200;
    p.random_coordinates = 1;
    p.rangeZ[0] = 0.05;
    p.rangeZ[1] = 0.15;
    p.rangeR[0] = 2e-5;
    p.rangeR[1] = 2e-5;  // equal bounds: exactly that radius
    std::vector<double> t(800);
    Generator g(99);
    const Extremes e = draw_particles(p, g, t.data());
    double zmin = 1;
    for (int i = 0; i < 200; ++i) {
        EXPECT_GE(t[i], -16.0);
        EXPECT_LT(t[i], 16.0);
        EXPECT_GE(t[i + 200], -24.0);
        EXPECT_LT(t[i + 200], 24.0);
        EXPECT_GE(t[i + 400], 0.05);
        EXPECT_LT(t[i + 400], 0.15);
        EXPECT_EQ(t[i + 600], 2e-5);
        zmin = std::min(zmin, t[i + 400]);
    }
    EXPECT_EQ(e.zmin, zmin);
    EXPECT_EQ(e.rmax, 2e-5);
    // x, y, z, r of the first particle are the first four draws.
    Generator h(99);
    EXPECT_EQ(t[0], h.next() / (Generator::kRandMax / 32 + 1.0) - 16);
    EXPECT_EQ(t[200], h.next() / (Generator::kRandMax / 48 + 1.0) - 24);
    EXPECT_EQ(t[400], h.next() / (Generator::kRandMax / 0.1 + 1.0) + 0.05);
}

// Without noise a centred particle gives a mirror-symmetric plate; pixels
// outside the model's grid (the last row of an odd plate) read F.
TEST(Rendering, CentredParticleWithoutNoise) {
    const std::vector<double> one = {0, 0, 0.1, 5e-5};
    const Plate even = simulate(table_plate(64, 64, one));
    for (std::size_t d = 1; d <= 31; ++d) {
        for (std::size_t j = 0; j < 64; ++j) {
            EXPECT_EQ(even.hologram[32 + d + 64 * j], even.hologram[32 - d + 64 * j]);
            EXPECT_EQ(even.hologram[j + 64 * (32 + d)], even.hologram[j + 64 * (32 - d)]);
        }
    }
    for (double v : even.noise) EXPECT_EQ(v, 0.0);
    const Plate odd = simulate(table_plate(65, 64, one));
    const double F = ((1 / kPi) / (5e-5 * 5e-5)) * (5e-7 * 0.1);
    for (std::size_t j = 0; j < 64; ++j) EXPECT_EQ(odd.hologram[64 + 65 * j], F);
    // Particles deeper than 1 leave zmin at 1.
    const std::vector<double> deeper = {0, 0, 2.5, 5e-5};
    const Plate deep = simulate(table_plate(65, 64, deeper));
    EXPECT_EQ(deep.hologram[64], ((1 / kPi) / (5e-5 * 5e-5)) * (5e-7 * 1.0));
}

// The plate is F |1 - S|^2 with S the sum of every particle's model.
TEST(Rendering, FieldIsTheSumOfTheParticles) {
    // Two rows of [x y z r], column-major.
    const std::vector<double> two = {3, -4.5, -2, 6, 0.1, 0.08, 5e-5, 3e-5};
    SynthParams p = table_plate(32, 40, two);
    p.K = -1;  // no pixel factor, like K = 0
    const Plate plate = simulate(p);
    std::vector<double> re(32 * 40), im(32 * 40);
    for (int k = 0; k < 2; ++k) {
        ModelParams m;
        m.x = two[k] * p.pix;
        m.y = two[2 + k] * p.pix;
        m.z = two[4 + k];
        m.r = two[6 + k];
        m.pix = p.pix;
        m.lambda = p.lambda;
        m.M = 32;
        m.N = 40;
        add_particle_field(re.data(), im.data(), m);
    }
    const double F = ((1 / kPi) / (5e-5 * 5e-5)) * (5e-7 * 0.08);
    for (std::size_t i = 0; i < re.size(); ++i) {
        EXPECT_NEAR(plate.hologram[i], F * ((1 - re[i]) * (1 - re[i]) + im[i] * im[i]),
                    1e-12 * F);
    }
    // The table comes back, x and y after their round trip through metres.
    for (std::size_t k = 0; k < 8; ++k) EXPECT_NEAR(plate.particles[k], two[k], 1e-15 * std::fabs(two[k]));
}

TEST(Rendering, NoiseAndMeanRemoval) {
    const std::vector<double> one = {0, 0, 0.1, 5e-5};
    SynthParams p = table_plate(256, 256, one);
    p.SNR = 20;
    p.I0 = 3;
    p.meanh = 0;
    const Plate plate = simulate(p, 1234);
    double sum = 0, sum2 = 0, hsum = 0;
    for (double v : plate.noise) {
        sum += v;
        sum2 += v * v;
    }
    for (double v : plate.hologram) hsum += v;
    const double n = 65536;
    EXPECT_NEAR(sum / n, 0.0, 0.15 * 5 / 256);  // 5 standard errors of the mean
    EXPECT_NEAR(std::sqrt(sum2 / n), 3.0 / 20, 0.15 * 0.02);
    EXPECT_NEAR(hsum, 0.0, 1e-9 * n * std::fabs(plate.Mean));
    // hologram + Mean - noise is the noiseless plate of the same particles.
    SynthParams quiet = p;
    quiet.SNR = 0;
    quiet.meanh = 1;
    const Plate clean = simulate(quiet);
    for (std::size_t i = 0; i < n; ++i)
        EXPECT_NEAR(plate.hologram[i] + plate.Mean - plate.noise[i], clean.hologram[i], 1e-12 * plate.Mean);
    // Same seed, same plate; another seed, other noise.
    EXPECT_EQ(simulate(p, 1234).noise, plate.noise);
    EXPECT_NE(simulate(p, 1235).noise, plate.noise);
}

TEST(Rendering, NoParticleIsTheUniformBackground) {
    const std::vector<double> none;
    SynthParams p = table_plate(8, 8, none);
    p.I0 = 2.5;
    for (double v : simulate(p).hologram) EXPECT_EQ(v, 2.5);
}

TEST(Rendering, NonPositiveRadiusEndsTheSimulation) {
    const std::vector<double> table = {0, 1, 0, 1, 0.1, 0.1, 5e-5, 0};
    EXPECT_THROW(simulate(table_plate(16, 16, table)), Error);
}

// The threaded simulation against the reference, on a noisy random plate;
// the noise is drawn in the same order, so it agrees too.
TEST(Rendering, FastSimulationAgreesWithTheReference) {
    const std::vector<double> none;
    SynthParams p = table_plate(129, 100, none);
    p.n = 5;
    p.random_coordinates = 1;
    p.rangeZ[0] = 0.05;
    p.rangeZ[1] = 0.1;
    p.rangeR[0] = 2e-5;
    p.rangeR[1] = 5e-5;
    p.SNR = 4;
    p.meanh = 0;
    p.K = 1;
    Plate ref(p);
    reference::synthesize_plate(p, 77, ref.outputs());
    double largest = 0;
    for (double v : ref.hologram) largest = std::max(largest, std::fabs(v));
    for (unsigned threads : {1u, 2u, 5u}) {
        const UseContext use(test::on_threads(threads));
        const Plate fast = simulate(p, 77);
        EXPECT_EQ(fast.particles, ref.particles);
        EXPECT_NEAR(fast.Mean, ref.Mean, 1e-12 * std::fabs(ref.Mean));
        for (std::size_t i = 0; i < ref.hologram.size(); ++i) {
            ASSERT_NEAR(fast.hologram[i], ref.hologram[i], 1e-12 * largest) << i;
            ASSERT_NEAR(fast.noise[i], ref.noise[i], 1e-12 * largest) << i;
        }
    }
}
