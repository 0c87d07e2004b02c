// The in-line hologram model of one opaque spherical particle on a sensor
// grid, in the three forms the modules use.
//
// A particle of radius r at lateral position (x, y) and distance z from the
// sensor diffracts like a disc: at a pixel at distance rho from its axis its
// complex term is s = -i P A e^(i phi), with the disc's Bessel factor
// J = J1(u)/u (single precision), u = 2 pi r rho/(lambda z),
// A = J pi r^2/(lambda z), the Fresnel phase phi = pi rho^2/(lambda z) and an
// optional pixel-integration factor P = sinc(dx) sinc(dy). The real part of s
// is the particle's first-order term in the recorded hologram.
//
// Grid: M rows by N columns (doubles), h = floor(M/2), g = floor(N/2); node
// (b, a), b = -h..h-1, a = -g..g-1, is the pixel at row b+h, column a+g, with
// coordinates X = b pix, Y = a pix from the grid origin. For odd M (N) the
// last row (column) is not a node and is never written. Arrays are
// column-major with trunc(M) rows.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace partiscope {

// A particle seen on a sensor grid: what its model and its precision bound
// are computed from. Lengths in metres; M and N are the sensor's rows and
// columns as doubles, as given (non-negative and finite: callers validate
// them).
struct ParticleOnSensor {
    double x = 0.0;  // particle position along the rows, from the grid origin
    double y = 0.0;  // along the columns
    double z = 0.0;  // distance from the particle to the sensor
    double r = 0.0;  // particle radius
    double pix = 0.0;     // pixel pitch
    double lambda = 0.0;  // wavelength
    double M = 0.0;
    double N = 0.0;
};

struct ModelParams : ParticleOnSensor {
    double K = 0.0;  // pixel-factor parameter: its switch and, in two forms, its width
    // A sphere's optics (the other kinds ignore them): its refractive index,
    // the medium's, and the illumination's polarization angle from the rows'
    // axis (radians).
    double index = 0.0, medium = 1.0, polarization = 0.0;
};

// The depth and the radius a model or a detection map takes: neither may be
// negative ("Error: Z should be positive", then R; 0 and NaN pass).
void check_depth_radius(double z, double r);

// sin(t)/t of a pixel's aperture along one axis at offset d from the
// particle, t = w pi pix d c (w the pixel factor's width, c = 1/(lambda z));
// exactly 1 on the particle's axis.
double pixel_aperture(double w, double pix, double d, double c);

// Destinations of model_grid, each trunc(M)-by-trunc(N), every element
// written. Unused ones may be null.
struct GridOutputs {
    double* real_p = nullptr;   // real model, when flag is 0
    double* complex_re = nullptr;  // complex model, when flag is not 0
    double* complex_im = nullptr;
    double* jinc = nullptr;     // J1(u)/u at every node, when r > 0
};

// The model in its three forms, split over the processor's cores, with the
// Fresnel phase factored into row and column terms and the Bessel factor's
// sines and cosines on vector units. Each value agrees with the reference
// form below to 1e-12 of the largest magnitude of its array (J1(u)/u to one
// single-precision ulp).
//
// The model of the ringform module. r > 0: the particle at (x, y), J stored
// into out.jinc. Otherwise (r = 0 or not a number) the bare Fresnel kernel
// (1/(i lambda z)) e^(i phi) centred on the grid origin, x and y unused.
// complex_model selects which of real_p and the complex pair is written.
// Pixel factor with width K whenever K != 0 (a NaN K included).
void model_grid(const ModelParams& p, bool complex_model, const GridOutputs& out);

// The detection template: the real model of a particle centred on the grid
// origin (x and y unused), written into out (trunc(M) rows). Pixel factor of
// width 1 whenever K != 0.
void detection_template(double* out, const ModelParams& p);

// The detection template at non-negative offsets only: out[b + a*rows] is
// the value detection_template writes at offset (b, a) pixels from the grid origin,
// for b < rows and a < cols. The template is even in both offsets, so this
// quadrant gives all of it.
void detection_template_quadrant(double* out, std::size_t rows, std::size_t cols, const ModelParams& p);

// Adds the complex model of one particle into a field (trunc(M) rows). Pixel
// factor of width K only when K > 0. A radius that is not positive is an
// Error thrown before the field is touched.
void add_particle_field(double* field_re, double* field_im, const ModelParams& p);

// The field of several particles: field_re/field_im (trunc(M)-by-trunc(N),
// written whole, no need to zero them) receive the sum of every particle's
// complex model, added in table order: the values of zero-filled fields
// passed to add_particle_field once per particle, bit for bit. The particles' grid
// sizes M and N must be the ones given. A radius that is not positive is an
// Error thrown before the field is touched.
// amplitudes, when given, scales each particle's model (a fitted contrast).
void model_field(double* field_re, double* field_im, const ModelParams* particles,
                 std::size_t count, double M, double N, const double* amplitudes = nullptr);

// A rectangle of nodes: array rows [row0, row0 + rows) and columns
// [col0, col0 + cols), within the model's grid (rows below 2 floor(M/2),
// columns below 2 floor(N/2)).
struct NodeWindow {
    std::size_t row0 = 0, rows = 0, col0 = 0, cols = 0;
};

// The row and column terms of one particle over a window, computed once and
// shared by its columns (see model_jacobian_column).
struct JacobianAxes;
struct JacobianAxesDeleter {
    void operator()(JacobianAxes* a) const;
};
using JacobianAxesPtr = std::unique_ptr<JacobianAxes, JacobianAxesDeleter>;
JacobianAxesPtr jacobian_axes(const ModelParams& p, const NodeWindow& w);

// One column of a window (column col of the window, 0-based): the complex
// model of the accumulating form (synthplate's: threshold 1e-6, double
// quotient, pixel factor of width K when K > 0), bit for bit its values, and
// its derivatives with respect to the particle's x, y, z and r in metres.
// Each output holds w.rows values. re/im may be null when only derivatives
// are wanted; d_re/d_im null when only the values are.
struct JacobianColumn {
    double* re = nullptr;
    double* im = nullptr;
    double* d_re[5] = {};  // along x, y, z, r and (a sphere's) index
    double* d_im[5] = {};
};
// Working arrays of a column, kept by the caller from column to column.
struct JacobianScratch {
    std::vector<float> u, J;
    std::vector<double> ud, J0, bessel;
};
void model_jacobian_column(const ModelParams& p, const JacobianAxes& axes, std::size_t col,
                           const JacobianColumn& out, JacobianScratch& scratch);


}  // namespace partiscope
