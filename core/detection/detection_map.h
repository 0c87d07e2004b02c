// The detection-criterion map: every position of a field of view on a
// recorded hologram scored by how well the model of one particle (given
// depth and radius) centred there explains the data, all positions at once
// through 2-D FFT correlations.
//
// For the model m displaced to a position, weights w and data d, the score
// is S c_wd^2 / (S c_wm2 - c_w^2) w', with S = sum w and the circular sums
// c_w = sum w m, c_wd = sum w d m, c_wm2 = sum w m^2: the squared weighted
// inner product of data and model over the weighted variance of the model,
// times the per-position factor w'.
#pragma once

#include <complex>
#include <cstddef>

#include "model/particle_model.h"
#include "numerics/compute_context.h"
#include "core/sensor.h"

namespace partiscope {

// A field of view: hologram rows x0..x1 and columns y0..y1, 1-based and
// inclusive, within the hologram.
struct FieldOfView {
    std::size_t x0, x1, y0, y1;
    std::size_t rows() const { return x1 - x0 + 1; }
    std::size_t cols() const { return y1 - y0 + 1; }
};

// Validates the ranges the user gave as doubles against an M-by-N hologram;
// a range that is not whole, empty, inverted or reaching outside the
// hologram is an Error naming it.
FieldOfView field_of_view(const double x[2], const double y[2], std::size_t M, std::size_t N);

struct DetectionInput : Hologram {
    const double* w = nullptr;       // M*N weights (check_masked_data: null is all 1)
    const double* w_prim = nullptr;  // M*N per-position factors
    double r = 0, z = 0, K = 0;
    FieldOfView fov{1, 1, 1, 1};
};

struct DetectionResult {
    double maxim = 0.0;    // largest positive score, 0 when none is positive
    std::size_t best = 0;  // its 0-based index in the map (column-major), 0 when none
};

// FFTW's planner flags of a compute context: its planner's effort; with
// reproducible arithmetic FFTW_ESTIMATE without SIMD codelets, whatever the
// planner (a timed plan depends on the machine and its load, the SIMD
// codelets on the processor: either changes the map's last bits).
unsigned planner_flags(const ComputeContext& context);

// Where a weight is 0 the pixel's data does not enter, whatever it holds (a
// dead or saturated pixel masked by its weight). A non-finite weight, or a
// non-finite data value under a non-zero weight, would turn every score
// into NaN: both are Errors that say how many pixels are affected.
void check_masked_data(const DetectionInput& in, const char* weights_name = "w");

// The weighted data w d of one pixel; a masked pixel contributes 0 even
// when its value is not finite (0 * NaN would be NaN).
inline double weighted_data(double w, double d) { return w * (w == 0.0 ? 0.0 : d); }

// Fills q0 (fov.rows() by fov.cols(), column-major) with the score of every
// position and returns the first largest one in column-major order.
// check_masked_data comes first.
// Throws std::bad_alloc when memory runs out and Error when FFTW cannot plan;
// nothing of its own is left behind either way. Real transforms run side by
// side on threads joined before it returns, about 36 bytes of working
// memory a pixel; the map agrees with the reference to 1e-9 of its largest
// magnitude.
DetectionResult detection_map(const DetectionInput& in, double* q0, unsigned planner_flags);

// Seven complex transforms and the literal quadrant swap, one thread:
// the reference the map is held to.
namespace reference {
DetectionResult detection_map(const DetectionInput& in, double* q0, unsigned planner_flags);
}

// Moves every element (i, j) of an M-by-N column-major grid to
// ((i - floor(M/2)) mod M, (j - floor(N/2)) mod N): the circular sums, indexed
// by the model's displacement from the kernel's centre, become indexed by the
// pixel the model is centred on. scratch holds M*N elements.
void ifftShift_in(std::complex<double>* a, std::size_t M, std::size_t N,
                  std::complex<double>* scratch);

}  // namespace partiscope
