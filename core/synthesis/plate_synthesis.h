// Simulation of a noisy in-line hologram of spherical particles: particles
// drawn at random within ranges or taken from a table, their complex
// diffraction terms summed over the sensor, the intensity |1 - S|^2 of the
// unit background wave minus that sum, scaled, plus white Gaussian noise,
// with the mean optionally removed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace partiscope {

struct SynthParams {
    int n = 0;             // number of particles
    double lambda = 0;     // wavelength, metres
    double pix = 0;        // pixel pitch, metres
    std::size_t sX = 0;    // sensor rows (x)
    std::size_t sY = 0;    // sensor columns (y)
    double I0 = 0;         // intensity scale; also sigma = I0/SNR
    double SNR = 0;        // signal-to-noise ratio; <= 1e-16 switches the noise off
    double rangeZ[2] = {0, 0};  // depth bounds of drawn particles
    double rangeR[2] = {0, 0};  // radius bounds of drawn particles
    int random_coordinates = 0;        // 1: draw the particles; otherwise take `coordinates`
    const double* coordinates = nullptr;  // table of x, y (pixels), z, r when not drawn
    std::size_t coordinate_rows = 0;      // the table's row count (>= n); 0: exactly n rows
    int meanh = 0;         // 0: remove the hologram's mean and report it
    double K = 0;          // > 0: pixel-integration factor of width K in the model
};

// The rows of a caller's particle table of rows-by-cols values for n
// particles: 0 for a vector (its storage order: the n x values, then the
// n y values, ...), the matrix's row count for an n-by-4 (or taller) table,
// of which the first n rows are taken. Too few values, or a matrix without
// four columns, is an Error.
std::size_t coordinate_table_rows(int n, std::size_t rows, std::size_t cols);

// The count of particles as the caller gave it (a double): a whole,
// non-negative number within an int, truncated toward zero.
int particle_count(double n);

// The C library's generator, drawn from a private state so that the
// generator the host and other libraries share is left alone: the sequence
// of rand() after srand(seed). Linux: glibc's additive feedback generator,
// RAND_MAX 2^31 - 1. Windows: the C runtime's linear congruential generator,
// RAND_MAX 32767.
class Generator {
public:
#ifdef _WIN32
    static constexpr double kRandMax = 32767.0;
#else
    static constexpr double kRandMax = 2147483647.0;
#endif
    explicit Generator(std::uint32_t seed);
    int next();

private:
#ifdef _WIN32
    std::uint32_t state_;
#else
    random_data data_{};
    char state_[128] = {};  // the size of srand's default state
#endif
};

// A seed for each call: the first call after the module is loaded starts
// from the calendar clock in its finest unit; every later call steps from there by an odd
// constant, so no two calls of one load share a seed.
std::uint32_t next_call_seed();

// rand() / (RAND_MAX/w + 1) + lo: uniform in [lo, lo + w), exactly lo for w = 0.
double uniform_draw(Generator& g, double lo, double w);

struct Extremes {
    double zmin = 1.0;  // least depth, but not above 1
    double rmax = 0.0;  // largest radius, but not below 0
};

// Fills the n-by-4 table (column-major) with drawn or given particles.
Extremes draw_particles(const SynthParams& p, Generator& g, double* particles);

// A complex field over the sensor, real and imaginary parts apart.
struct Field {
    std::unique_ptr<double[]> re, im;
};

// The sum S of every particle's complex model over the sensor. Throws Error
// for a particle whose radius is not positive.
Field sum_particle_models(const SynthParams& p, double* particles);

struct PlateOutputs {
    double* hologram = nullptr;   // sX-by-sY
    double* particles = nullptr;  // n-by-4
    double* Mean = nullptr;       // 1 value
    double* noise = nullptr;      // sX-by-sY
};

// The noise's draws, two a pixel in pixel order (none without noise): the
// generator is a sequence, so they are taken on one thread.
std::vector<std::int32_t> draw_noise(const SynthParams& p, Generator& g);

// Intensity, noise and mean of every pixel from the summed field and the
// noise's draws, split over the cores.
void render_hologram(const SynthParams& p, const double* re, const double* im, const Extremes& e,
                     const std::vector<std::int32_t>& draws, const PlateOutputs& out);

// The whole simulation with the generator seeded by `seed`. Every element
// of the outputs is written (Mean 0 when the mean is kept). The models, the noise and the sums run on every
// core; the values agree with the reference to 1e-12 of the hologram's
// largest magnitude, whatever the thread count.
void synthesize_plate(const SynthParams& p, std::uint32_t seed, const PlateOutputs& out);

// Particle after particle, pixel after pixel, with the C library's sin and
// cos: the reference the simulation is held to.
namespace reference {
void synthesize_plate(const SynthParams& p, std::uint32_t seed, const PlateOutputs& out);
}

}  // namespace partiscope
