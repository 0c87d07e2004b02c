// The recording's geometry, spelt one way by every computation, and the
// inputs built on it.
#pragma once

#include <cstddef>

namespace partiscope {

// M rows (along x) by N columns (along y) of pixels of pitch pix, under light
// of wavelength lambda in the medium; metres.
struct Sensor {
    std::size_t M = 0, N = 0;
    double lambda = 0.0, pix = 0.0;
};

// A hologram recorded on a sensor: M-by-N values, column-major.
struct Hologram : Sensor {
    const double* hol = nullptr;
};

// A hologram and the grid of depths and radii a scan tries.
struct ScanInput : Hologram {
    const double* depths = nullptr;  // nz depths, metres
    std::size_t nz = 0;
    const double* radii = nullptr;  // nr radii, metres
    std::size_t nr = 0;
};

}  // namespace partiscope
