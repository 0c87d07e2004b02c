// The noise the simulators add to a recorded hologram, pixel by pixel in
// index order: Gaussian of standard deviation sigma, or photon shot noise
// where a background pixel (level I0) counts `photons` photons on average.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <random>

namespace partiscope {

inline void add_plate_noise(double sigma, double photons, double I0, std::size_t pixels,
                            std::mt19937_64& rng, double* hologram, double* noise) {
    for (std::size_t k = 0; k < pixels; ++k) {
        double e = 0.0;
        if (sigma > 0.0) {
            e = sigma * std::normal_distribution<double>()(rng);
        } else if (photons > 0.0) {
            const double mean = photons * std::max(hologram[k], 0.0) / I0;
            // Beyond 1e12 photons a count is Gaussian to far below its
            // rounding (and the integer draw would overflow).
            const double count =
                mean > 1e12 ? mean + std::sqrt(mean) * std::normal_distribution<double>()(rng)
                            : static_cast<double>(std::poisson_distribution<long long>(mean)(rng));
            e = count * I0 / photons - hologram[k];
        }
        noise[k] = e;
        hologram[k] += e;
    }
}

}  // namespace partiscope
