#include "plate_synthesis.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <system_error>
#include <thread>

#include "model/particle_model.h"
#include "model/reference_model.h"
#include "numerics/error.h"
#include "numerics/parallel.h"
#include "numerics/vecmath.h"
#include "numerics/constants.h"

namespace partiscope {
namespace {

constexpr double kNoNoise = 1e-16;  // SNR at or below this draws no noise
constexpr double kLogOffset = 1e-16;  // keeps log(a q) finite when rand() gives 0

}  // namespace

#ifdef _WIN32
Generator::Generator(std::uint32_t seed) : state_(seed) {}

int Generator::next() {
    state_ = state_ * 214013u + 2531011u;
    return static_cast<int>((state_ >> 16) & 0x7fffu);
}
#else
Generator::Generator(std::uint32_t seed) {
    // initstate_r seeds the state as srand does for the 128-byte default.
    initstate_r(seed, state_, sizeof state_, &data_);
}

int Generator::next() {
    std::int32_t v;
    random_r(&data_, &v);
    return v;
}
#endif

std::uint32_t next_call_seed() {
    static std::uint32_t next = 0;
    static bool started = false;
    if (!started) {
        // Fold the clock through a 64-bit mixer: calls made in the same
        // second by different loads start far apart.
        std::uint64_t x = static_cast<std::uint64_t>(
            std::chrono::system_clock::now().time_since_epoch().count());
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
            const std::size_t stride = p.coordinate_rows ? p.coordinate_rows : n;
            x[i] = p.coordinates[i];
            y[i] = p.coordinates[i + stride];
            z[i] = p.coordinates[i + 2 * stride];
            r[i] = p.coordinates[i + 3 * stride];
        }
        if (z[i] < e.zmin) e.zmin = z[i];
        if (r[i] > e.rmax) e.rmax = r[i];
    }
    return e;
}

namespace {

// The particles' model parameters from the table (pixels to metres). The
// round trip through pix may change the last bit of the table's x and y.
std::vector<ModelParams> particle_models(const SynthParams& p, double* particles) {
    const std::size_t n = static_cast<std::size_t>(p.n);
    std::vector<ModelParams> models(n);
    for (std::size_t i = 0; i < n; ++i) {
        ModelParams& m = models[i];
        m.pix = p.pix;
        m.lambda = p.lambda;
        m.M = static_cast<double>(p.sX);
        m.N = static_cast<double>(p.sY);
        m.K = p.K;
        particles[i] *= p.pix;
        particles[i + n] *= p.pix;
        m.x = particles[i];
        m.y = particles[i + n];
        m.z = particles[i + 2 * n];
        m.r = particles[i + 3 * n];
        particles[i] /= p.pix;
        particles[i + n] /= p.pix;
    }
    return models;
}

// Particle after particle into zero-filled fields: the reference's way.
void add_particle_models(const SynthParams& p, double* particles, std::vector<double>& re,
                         std::vector<double>& im) {
    re.assign(p.sX * p.sY, 0.0);
    im.assign(p.sX * p.sY, 0.0);
    for (const ModelParams& m : particle_models(p, particles)) reference::add_particle_field(re.data(), im.data(), m);
}

// The plate's scale: without particles it is the uniform background I0.
double plate_scale(const SynthParams& p, const Extremes& e) {
    return p.n > 0 ? ((p.I0 / kPi) / (e.rmax * e.rmax)) * (p.lambda * e.zmin) : p.I0;
}

}  // namespace

Field sum_particle_models(const SynthParams& p, double* particles) {
    const std::vector<ModelParams> models = particle_models(p, particles);
    // Written whole by the model, column blocks on every core.
    Field f{std::unique_ptr<double[]>(new double[p.sX * p.sY]),
            std::unique_ptr<double[]>(new double[p.sX * p.sY])};
    model_field(f.re.get(), f.im.get(), models.data(), models.size(), static_cast<double>(p.sX),
                static_cast<double>(p.sY));
    return f;
}

// The draws are taken in pixel order on this thread (the generator is a
// sequence); the noise, the intensity and the sum are then formed over
// fixed blocks of pixels on every core, the blocks' sums added in order, so
// the mean does not depend on the thread count.
std::vector<std::int32_t> draw_noise(const SynthParams& p, Generator& g) {
    std::vector<std::int32_t> draws(p.SNR > kNoNoise ? 2 * p.sX * p.sY : 0);
    for (std::int32_t& d : draws) d = g.next();
    return draws;
}

void render_hologram(const SynthParams& p, const double* re, const double* im, const Extremes& e,
                     const std::vector<std::int32_t>& draws, const PlateOutputs& out) {
    const std::size_t N = p.sX * p.sY;
    const double sigma = p.I0 / p.SNR;
    const double q = 1.0 / (Generator::kRandMax + 1.0);
    const double F = plate_scale(p, e);
    const bool noisy = !draws.empty();

    constexpr std::size_t kBlock = 4096;
    const std::size_t blocks = (N + kBlock - 1) / kBlock;
    std::vector<double> sums(blocks, 0.0);
    parallel_for(blocks, [&](std::size_t first, std::size_t last) {
        double angle[kBlock], cosine[kBlock], sine[kBlock];
        for (std::size_t b = first; b < last; ++b) {
            const std::size_t i0 = b * kBlock, n = std::min(kBlock, N - i0);
            if (noisy) {
                for (std::size_t k = 0; k < n; ++k)
                    angle[k] = (draws[2 * (i0 + k) + 1] * q + kLogOffset) * kTwoPi;
                sincos_array(angle, sine, cosine, n);
                for (std::size_t k = 0; k < n; ++k) {
                    const double a = draws[2 * (i0 + k)];
                    out.noise[i0 + k] = cosine[k] * std::sqrt(std::log(a * q + kLogOffset) * (-2)) * sigma;
                }
            } else {
                for (std::size_t k = 0; k < n; ++k) out.noise[i0 + k] = 0.0;
            }
            double sum = 0.0;
            for (std::size_t i = i0; i < i0 + n; ++i) {
                const double dr = 1 - re[i];
                out.hologram[i] = F * (dr * dr + im[i] * im[i]) + out.noise[i];
                sum += out.hologram[i];
            }
            sums[b] = sum;
        }
    });
    if (p.meanh == 0) {
        double sum = 0.0;
        for (double s : sums) sum += s;
        const double mean = sum / static_cast<double>(N);
        *out.Mean = mean;
        parallel_for(N, [&](std::size_t first, std::size_t last) {
            for (std::size_t i = first; i < last; ++i) out.hologram[i] -= mean;
        });
    } else {
        *out.Mean = 0.0;  // the mean kept: none removed
    }
}

void synthesize_plate(const SynthParams& p, std::uint32_t seed, const PlateOutputs& out) {
    Generator g(seed);
    const Extremes e = draw_particles(p, g, out.particles);
    // The draws need only the generator, the field only the particles: the
    // one sequential part runs beside the field's threads (or before them
    // when no thread is to be had).
    std::vector<std::int32_t> draws;
    std::exception_ptr failure;
    const auto draw = [&] {
        try {
            draws = draw_noise(p, g);
        } catch (...) {
            failure = std::current_exception();
        }
    };
    std::thread drawing;
    try {
        drawing = std::thread(draw);
    } catch (const std::system_error&) {
        draw();
    }
    Field field;
    try {
        field = sum_particle_models(p, out.particles);
    } catch (...) {
        if (drawing.joinable()) drawing.join();
        throw;
    }
    if (drawing.joinable()) drawing.join();
    if (failure) std::rethrow_exception(failure);
    render_hologram(p, field.re.get(), field.im.get(), e, draws, out);
}

namespace reference {

void synthesize_plate(const SynthParams& p, std::uint32_t seed, const PlateOutputs& out) {
    Generator g(seed);
    const Extremes e = draw_particles(p, g, out.particles);
    std::vector<double> re, im;
    add_particle_models(p, out.particles, re, im);
    const std::size_t N = p.sX * p.sY;
    const double sigma = p.I0 / p.SNR;
    const double q = 1.0 / (Generator::kRandMax + 1.0);
    const double F = plate_scale(p, e);
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
    } else {
        *out.Mean = 0.0;
    }
}

}  // namespace reference
std::size_t coordinate_table_rows(int n, std::size_t rows, std::size_t cols) {
    const std::size_t count = static_cast<std::size_t>(n);
    if (rows * cols < 4 * count)
        throw Error("Error: coordinates must hold at least 4*n doubles (x, y, z, r of each particle)");
    if (count == 0 || rows == 1 || cols == 1) return 0;
    if (cols != 4) throw Error("Error: coordinates must be an n-by-4 table [x y z r]");
    return rows;
}

int particle_count(double n) {
    const double v = std::trunc(n);
    if (!(v >= 0.0 && v <= 2147483647.0))
        throw Error("Error: n must be a non-negative whole number of particles");
    return static_cast<int>(v);
}

}  // namespace partiscope
