// Recorded holograms of opaque discs by exact scalar diffraction: the
// physical truth the fits are measured against, computed by a route of its
// own (the angular spectrum of each disc's analytic spectrum) and sharing
// nothing with the models that are fitted.
//
// Under a unit plane wave, the field behind opaque discs of radii r_k at
// distances z_k from the sensor is U = 1 - sum_k D_k, with D_k the disc's
// aperture field propagated over z_k (single scattering: the discs do not
// shadow one another). Each D_k comes from the disc's spectrum
// r J1(2 pi r f)/f, shifted to its centre and multiplied by the band-limited
// transfer function of free space, so the disc's edge is not staircased. The
// recorded intensity is |U|^2, integrated over each pixel's area or sampled
// at its centre, times the background level I0, plus noise.
#pragma once

#include <cstddef>
#include <random>
#include "core/sensor.h"

namespace partiscope {

struct DiscPlateOptions {
    double I0 = 1.0;          // the background level: the hologram where no disc is
    double snr = 0.0;         // > 0: Gaussian noise of standard deviation
                              // I0 pi rmax^2/(lambda zmin)/snr, the noise synthplate
                              // adds at this SNR to the same particles
    double sigma = 0.0;       // > 0: Gaussian noise of this standard deviation instead
    double photons = 0.0;     // > 0: photon shot noise instead: a background pixel
                              // counts this many photons on average
    bool area_pixels = true;  // true: intensity integrated over each pixel's area;
                              // false: sampled at the pixel's centre
    int oversampling = 4;     // the field is computed at pitch pix/oversampling and
                              // band-limited to oversampling/(4 pix): 4 reaches 1/pix,
                              // where an area pixel's response ends; 2 reaches the
                              // sensor's Nyquist frequency
};

struct DiscPlateInput : Sensor {
    // n-by-4 [x y z r] column-major: x, y in pixels from the grid centre
    // (0-based pixel floor(M/2), floor(N/2)), z and r in metres.
    const double* particles = nullptr;
    std::size_t n = 0;
};

// The number of discs given as a double: a whole number from 0 to 10000.
std::size_t disc_count(double n);

// Checks the setup and the options (Error): lengths, the grid's size, the
// noise. disc_plate checks them again, and the discs; a host calls this
// first, before it makes the result arrays.
void check_plate_setup(const DiscPlateInput& in, const DiscPlateOptions& o);

// Draws n discs as synthplate draws particles: x uniform over [-M/2, M/2)
// pixels, y over [-N/2, N/2), z and r uniform within their ranges (a range
// given low to high), four draws a disc in that order.
void draw_discs(std::size_t n, std::size_t M, std::size_t N, const double rangeZ[2],
                const double rangeR[2], std::mt19937_64& rng, double* particles);

// The hologram (M-by-N) and the noise added to it, drawn pixel by pixel in
// index order. Checks its input first (Error).
void disc_plate(const DiscPlateInput& in, const DiscPlateOptions& o, std::mt19937_64& rng,
                double* hologram, double* noise);

}  // namespace partiscope
