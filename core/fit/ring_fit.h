// Measuring particles: a joint least-squares fit of every particle's model,
// the hologram's background level and its offset to a recorded hologram,
// by Levenberg-Marquardt steps on the model's analytic derivatives, with
// standard errors from the curvature at the solution (the Cramer-Rao bound
// of the fitted model at the estimate).
//
// Models of the data d at each pixel, with s_k the complex term of particle
// k (the field synthplate sums) and m_k = Re s_k:
//   intensity  d = b |1 - sum_k a_k s_k|^2 + c
//   linear     d = c + b (1 - 2 sum_k a_k m_k)
// b is the background level, c the offset, a_k the contrast of particle k.
// A sphere's field has two more components t_k, u_k, across the
// polarization and along the axis, whose intensity adds:
//   intensity  d = b (|1 - sum a_k s_k|^2 + |sum a_k t_k|^2 + |sum a_k u_k|^2) + c
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "model/particle_pattern.h"
#include "numerics/whole_range.h"
#include "core/sensor.h"

namespace partiscope {

enum class FitModel { intensity, linear };

// Every option of the fit, with its default.
struct FitOptions {
    FitModel model = FitModel::intensity;  // which form of the hologram is fitted
    ParticleKind particle = ParticleKind::disc;  // which particle's term s_k is
    bool contrast_free = false;            // true: one contrast a_k per particle, fitted
    double contrast = 1.0;                 // the contrast of every particle when not free
    bool background_fixed = false;         // true: b = background, not fitted
    double background = 0.0;
    bool offset_fixed = false;  // true: c = offset, not fitted
    double offset = 0.0;
    const double* weights = nullptr;  // M*N relative inverse variances (0 masks); null: all 1
    bool free[5] = {true, true, true, true, true};  // which of x, y, z, r and (a sphere's)
                                                    // index are fitted
    double medium_index = 0.0;  // a sphere's medium: its refractive index (required)
    double index = 1.5;         // a sphere's start index (absolute), when index_start is null
    const double* index_start = nullptr;  // n start indices; null: all `index`
    double polarization = 0.0;  // the illumination's polarization angle from the rows' axis
    std::optional<double> sigma;  // noise standard deviation at weight 1; none: from the residual
    std::optional<double> K;   // > 0: pixels integrate the model over K pixels (synthplate's
                               // rule); not given: the particle's default (pixel_width)
    int max_iter = 50;         // most Levenberg-Marquardt iterations
    double tolerance = 0.1;    // converged when no parameter moves by more than
                               // tolerance times its standard error
    bool cut_patterns = true;  // evaluate each pattern only where it informs the fit
    const bool* held = nullptr;  // n flags, true: that particle (x, y, z, r, contrast) held
                                 // at its start; null: none held
    const double* contrast_start = nullptr;  // n start contrasts when free; null: all 1
    bool settled = false;  // the starts are an earlier fit's optimum: whole windows at once
};

struct FitInput : Hologram {
    const double* p0 = nullptr;      // n-by-4 start table [x y z r], column-major:
    std::size_t n = 0;               // x, y in pixels from the grid centre, z, r in metres
};

struct FitResult {
    std::vector<double> p, se;                  // n-by-4 tables, column-major, as p0
    std::vector<double> contrast, contrast_se;  // n each (se 0 when not fitted)
    std::vector<double> index, index_se;        // n each for spheres (se 0 when held); else empty
    double background = 0, background_se = 0, offset = 0, offset_se = 0;
    double sigma = 0;  // the noise standard deviation used for se
    double chi2 = 0;   // sum of weight * residual^2
    int iterations = 0;
    std::vector<bool> converged;         // n
    std::vector<double> zr_correlation;  // n
    std::size_t pixels_ignored = 0;      // weight 0 (non-finite pixels included)
    std::string message;                 // why the fit stopped
};

// The info fields of a fit, the one table both hosts build their reports
// from (MEX struct, Python dict): field(name, value) in the order reported,
// each value a number, a per-particle vector or the message.
template <class Field>
void info_fields(const FitResult& r, Field&& field) {
    field("background", r.background);
    field("background_se", r.background_se);
    field("offset", r.offset);
    field("offset_se", r.offset_se);
    field("sigma", r.sigma);
    field("chi2", r.chi2);
    field("iterations", r.iterations);
    field("converged", r.converged);
    field("zr_correlation", r.zr_correlation);
    field("contrast", r.contrast);
    field("contrast_se", r.contrast_se);
    if (!r.index.empty()) {
        field("index", r.index);
        field("index_se", r.index_se);
    }
    field("pixels_ignored", r.pixels_ignored);
    field("message", r.message);
}

// The most iterations a fit may be asked for.
constexpr WholeRange kMaxIterRange{"MaxIter", 0, 10000};

// The options' rules, in the words every host shows (Error).
void validate(const FitOptions& options);

// Which parameters are fitted, from a host's list: four (x, y, z, r) or
// five (x, y, z, r, index) flags (Error otherwise).
void set_free(FitOptions& options, const std::vector<bool>& free);

// Checks the input and the options (throws Error with the reason) and fits.
// A fit that does not converge is reported in the result, never thrown:
// p then holds the last accepted estimate.
FitResult ring_fit(const FitInput& in, const FitOptions& options);

// chi^2 of the particles held at p0, with the level and offset fitted to
// them (unless fixed): one pass over the pixels, what a scan of starts
// compares. Checks like ring_fit.
double held_chi2(const FitInput& in, const FitOptions& options);

// The half-width, in pixels, of the square around particle p (x, y in metres
// from the grid origin) outside which its pattern adds less than about 1% to
// the standard errors of its fitted parameters (from the angle-averaged
// Fisher information of its pattern over the sensor).
double pattern_half_width(ParticleKind kind, const ModelParams& p, std::size_t M, std::size_t N,
                          const bool free[5], bool contrast_free);

}  // namespace partiscope
