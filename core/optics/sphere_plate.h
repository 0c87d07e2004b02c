// Recorded holograms of spheres under a microscope: the Lorenz-Mie series
// summed at every pixel (no table, no interpolation), the physical truth
// the sphere fits are measured against. The spheres scatter independently
// (their fields add); the recorded intensity is
// I0 (|1 + alpha sum E_par|^2 + |alpha sum E_perp|^2 + |alpha sum E_z|^2),
// averaged over sub-pixels when asked, plus noise.
#pragma once

#include <cstddef>
#include <random>

#include "core/sensor.h"

namespace partiscope {

struct SpherePlateOptions {
    double medium_index = 0.0;  // the medium's refractive index (required)
    double polarization = 0.0;  // the illumination's angle from the rows' axis (radians)
    double contrast = 1.0;      // alpha, the factor on the scattered field
    double I0 = 1.0;            // the background level
    double sigma = 0.0;         // > 0: Gaussian noise of this standard deviation
    double photons = 0.0;       // > 0: shot noise, this many photons a background pixel
    int subpixels = 1;          // the intensity averaged over subpixels^2 points a
                                // pixel (1: sampled at its centre)
};

struct SpherePlateInput : Sensor {
    // n-by-5 [x y z a n_p] column-major: x, y in pixels from the grid centre
    // (0-based pixel floor(M/2), floor(N/2)), z and a in metres, n_p the
    // sphere's refractive index.
    const double* particles = nullptr;
    std::size_t n = 0;
};

// Checks everything (Error) before anything is computed: a host calls it
// before it makes its result arrays.
void check_sphere_plate(const SpherePlateInput& in, const SpherePlateOptions& o);

// The hologram (M-by-N) and the noise added to it.
void sphere_plate(const SpherePlateInput& in, const SpherePlateOptions& o, std::mt19937_64& rng,
                  double* hologram, double* noise);

}  // namespace partiscope
