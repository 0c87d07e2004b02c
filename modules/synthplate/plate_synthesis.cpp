#include "plate_synthesis.h"

#include <time.h>

#include <cmath>

#include "model/particle_model.h"

namespace partiscope {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kNoNoise = 1e-16;  // SNR at or below this draws no noise
constexpr double kLogOffset = 1e-16;  // keeps log(a q) finite when rand() gives 0

}  // namespace

Generator::Generator(std::uint32_t seed) {
    // initstate_r seeds the state as srand does for the 128-byte default.
    initstate_r(seed, state_, sizeof state_, &data_);
}

int Generator::next() {
    std::int32_t v;
    random_r(&data_, &v);
    return v;
}

std::uint32_t next_call_seed() {
    static std::uint32_t next = 0;
    static bool started = false;
    if (!started) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        // Fold seconds and nanoseconds through a 64-bit mixer: calls made
        // in the same second by different loads start far apart.
        std::uint64_t x = static_cast<std::uint64_t>(now.tv_sec) * 1000000000ull +
                          static_cast<std::uint64_t>(now.tv_nsec);
        x ^= x >> 33;
        x *= 0xff51afd7ed558ccdull;
        x ^= x >> 33;
        next = static_cast<std::uint32_t>(x);
        started = true;
    }
    const std::uint32_t seed = next;
    next += 0x9E3779B9u;  // odd: 2^32 calls pass before a seed repeats
    return seed;
}

double uniform_draw(Generator& g, double lo, double w) {
    const double u = g.next() / (Generator::kRandMax / w + 1.0);
    return u + lo;
}

Extremes draw_particles(const SynthParams& p, Generator& g, double* particles) {
    const std::size_t n = static_cast<std::size_t>(p.n);
    double* x = particles;
    double* y = particles + n;
    double* z = particles + 2 * n;
    double* r = particles + 3 * n;
    const double sX = static_cast<double>(p.sX), sY = static_cast<double>(p.sY);
    Extremes e;
    for (std::size_t i = 0; i < n; ++i) {
        if (p.random_coordinates == 1) {
            x[i] = g.next() / (Generator::kRandMax / sX + 1.0) - 0.5 * sX;
            y[i] = g.next() / (Generator::kRandMax / sY + 1.0) - 0.5 * sY;
            z[i] = uniform_draw(g, p.rangeZ[0], p.rangeZ[1] - p.rangeZ[0]);
            r[i] = uniform_draw(g, p.rangeR[0], p.rangeR[1] - p.rangeR[0]);
        } else {
            x[i] = p.coordinates[i];
            y[i] = p.coordinates[i + n];
            z[i] = p.coordinates[i + 2 * n];
            r[i] = p.coordinates[i + 3 * n];
        }
        if (z[i] < e.zmin) e.zmin = z[i];
        if (r[i] > e.rmax) e.rmax = r[i];
    }
    return e;
}

void sum_particle_models(const SynthParams& p, double* particles, std::vector<double>& re,
                         std::vector<double>& im) {
    const std::size_t n = static_cast<std::size_t>(p.n);
    re.assign(p.sX * p.sY, 0.0);
    im.assign(p.sX * p.sY, 0.0);
    ModelParams m;
    m.pix = p.pix;
    m.lambda = p.lambda;
    m.M = static_cast<double>(p.sX);
    m.N = static_cast<double>(p.sY);
    m.K = p.K;
    for (std::size_t i = 0; i < n; ++i) {
        // The table keeps pixels; the model takes metres. The round trip
        // through pix may change the last bit of x and y.
        particles[i] *= p.pix;
        particles[i + n] *= p.pix;
        m.x = particles[i];
        m.y = particles[i + n];
        m.z = particles[i + 2 * n];
        m.r = particles[i + 3 * n];
        model_calc(re.data(), im.data(), m);
        particles[i] /= p.pix;
        particles[i + n] /= p.pix;
    }
}

void render_hologram(const SynthParams& p, const std::vector<double>& re,
                     const std::vector<double>& im, const Extremes& e, Generator& g,
                     const PlateOutputs& out) {
    const std::size_t N = p.sX * p.sY;
    const double sigma = p.I0 / p.SNR;
    const double q = 1.0 / (Generator::kRandMax + 1.0);
    // Without particles the plate is the uniform background I0.
    const double F = p.n > 0 ? ((p.I0 / kPi) / (e.rmax * e.rmax)) * (p.lambda * e.zmin) : p.I0;
    double sum = 0.0;
    for (std::size_t i = 0; i < N; ++i) {
        if (p.SNR > kNoNoise) {
            // Box-Muller, cosine branch: two draws per Gaussian value.
            const double a = g.next();
            const double b = g.next();
            out.noise[i] = std::cos((b * q + kLogOffset) * kTwoPi) *
                           std::sqrt(std::log(a * q + kLogOffset) * (-2)) * sigma;
        } else {
            out.noise[i] = 0.0;
        }
        const double dr = 1 - re[i];
        out.hologram[i] = F * (dr * dr + im[i] * im[i]) + out.noise[i];
        sum += out.hologram[i];
    }
    if (p.meanh == 0) {
        const double mean = sum / static_cast<double>(N);
        *out.Mean = mean;
        for (std::size_t i = 0; i < N; ++i) out.hologram[i] -= mean;
    }
}

void synthesize_plate(const SynthParams& p, std::uint32_t seed, const PlateOutputs& out) {
    Generator g(seed);
    const Extremes e = draw_particles(p, g, out.particles);
    std::vector<double> re, im;
    sum_particle_models(p, out.particles, re, im);
    render_hologram(p, re, im, e, g, out);
}

}  // namespace partiscope
