#include "detection_map.h"


#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/detection/fftw_buffers.h"
#include "core/detection/detection_stack.h"
#include "numerics/error.h"
#include "numerics/parallel.h"
#include "numerics/vecmath.h"

namespace partiscope {
namespace {

using Complex = std::complex<double>;

using fftw::ComplexBuffer;
using fftw::complex_buffer;
using fftw::as_complex;
using fftw::Plan;
using fftw::plan_2d;

// The template of a particle centred at offset (floor(M/2), floor(N/2)) from
// the grid's corner: element (i, j) holds the model at offset
// (i - floor(M/2), j - floor(N/2)) pixels, for every element. The model
// evaluates the nodes of an even grid; an odd size is evaluated on the grid
// one larger, whose nodes cover every offset of the odd one.
std::vector<double> detection_kernel(const DetectionInput& in) {
    const std::size_t oi = in.M % 2, oj = in.N % 2;
    const std::size_t Me = in.M + oi, Ne = in.N + oj;
    ModelParams p;
    p.z = in.z;
    p.r = in.r;
    p.pix = in.pix;
    p.lambda = in.lambda;
    p.M = static_cast<double>(Me);
    p.N = static_cast<double>(Ne);
    p.K = in.K;
    std::vector<double> padded(Me * Ne);
    detection_template(padded.data(), p);
    if (oi == 0 && oj == 0) return padded;
    std::vector<double> m(in.M * in.N);
    for (std::size_t j = 0; j < in.N; ++j) {
        for (std::size_t i = 0; i < in.M; ++i) m[i + j * in.M] = padded[(i + oi) + (j + oj) * Me];
    }
    return m;
}

// Plain complex product (a + ib)(c + id) = (ac - bd) + i(ad + bc), no
// conjugation: the kernel is the model itself, so this is a correlation
// with the model mirrored through its centre, which the model equals.
Complex product(Complex x, Complex y) {
    return {x.real() * y.real() - x.imag() * y.imag(), x.real() * y.imag() + x.imag() * y.real()};
}

std::size_t checked_index(double v, std::size_t limit) {
    return v >= 1.0 && v <= static_cast<double>(limit) && v == std::floor(v)
               ? static_cast<std::size_t>(v)
               : 0;
}

}  // namespace

FieldOfView field_of_view(const double x[2], const double y[2], std::size_t M, std::size_t N) {
    const std::size_t x0 = checked_index(x[0], M), x1 = checked_index(x[1], M);
    if (x0 == 0 || x1 < x0)
        throw Error("Error: MapFOVx must be a whole-number range within the hologram rows");
    const std::size_t y0 = checked_index(y[0], N), y1 = checked_index(y[1], N);
    if (y0 == 0 || y1 < y0)
        throw Error("Error: MapFOVy must be a whole-number range within the hologram columns");
    return {x0, x1, y0, y1};
}

unsigned planner_flags(const ComputeContext& context) {
    if (context.reproducible) return FFTW_ESTIMATE | FFTW_NO_SIMD;
    switch (context.planner) {
        case Planner::estimate: return FFTW_ESTIMATE;
        case Planner::patient: return FFTW_PATIENT;
        case Planner::exhaustive: return FFTW_EXHAUSTIVE;
        case Planner::measure: break;
    }
    return FFTW_MEASURE;
}

void ifftShift_in(Complex* a, std::size_t M, std::size_t N, Complex* scratch) {
    const std::size_t hM = M / 2, hN = N / 2;
    std::memcpy(static_cast<void*>(scratch), a, M * N * sizeof(Complex));
    for (std::size_t j = 0; j < N; ++j) {
        const std::size_t to_col = (j + N - hN) % N;
        for (std::size_t i = 0; i < M; ++i) a[(i + M - hM) % M + to_col * M] = scratch[i + j * M];
    }
}

void check_masked_data(const DetectionInput& in, const char* weights_name) {
    const std::size_t n = in.M * in.N;
    std::size_t bad_weights = 0, bad_data = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const double w = in.w ? in.w[k] : 1.0;
        if (!std::isfinite(w)) ++bad_weights;
        else if (w != 0.0 && !std::isfinite(in.hol[k])) ++bad_data;
    }
    if (bad_weights > 0)
        throw Error("Error: " + std::string(weights_name) + " has " + std::to_string(bad_weights) +
                    " non-finite values; weights must be finite (0 masks a pixel)");
    if (bad_data > 0)
        throw Error("Error: hol has " + std::to_string(bad_data) +
                    " non-finite pixels with non-zero weight; set " + weights_name +
                    " to 0 there to mask them");
}

namespace reference {

DetectionResult detection_map(const DetectionInput& in, double* q0, unsigned planner_flags) {
    check_masked_data(in);
    const std::size_t M = in.M, N = in.N, n = M * N;
    std::vector<double> m = detection_kernel(in);

    // Four complex grids carry the whole computation: the forward spectra of
    // w, m, m^2 and w d, then, in place, the three products transformed back.
    // Both plans are made before anything is written into their arrays.
    ComplexBuffer fw = complex_buffer(n), fm = complex_buffer(n), fm2 = complex_buffer(n),
                  fwd = complex_buffer(n);
    const Plan forward = plan_2d(fw, M, N, FFTW_FORWARD, planner_flags);
    const Plan backward = plan_2d(fm, M, N, FFTW_BACKWARD, planner_flags);

    Complex *Fw = as_complex(fw), *Fm = as_complex(fm), *Fm2 = as_complex(fm2),
            *Fwd = as_complex(fwd);
    double S = 0.0;  // total weight, summed in ascending order
    for (std::size_t k = 0; k < n; ++k) {
        Fw[k] = in.w[k];
        Fm[k] = m[k];
        S = S + in.w[k];
        Fwd[k] = weighted_data(in.w[k], in.hol[k]);
        Fm2[k] = m[k] * m[k];
    }
    m = std::vector<double>();

    fftw_execute(forward.get());
    fftw_execute_dft(forward.get(), fm.get(), fm.get());
    fftw_execute_dft(forward.get(), fm2.get(), fm2.get());
    fftw_execute_dft(forward.get(), fwd.get(), fwd.get());

    // Cw = Fw Fm into Fw, Cwd = Fwd Fm into Fwd, Cwm2 = Fw Fm2 into Fm2.
    for (std::size_t k = 0; k < n; ++k) {
        const Complex w = Fw[k], model = Fm[k];
        Fw[k] = product(w, model);
        Fwd[k] = product(Fwd[k], model);
        Fm2[k] = product(w, Fm2[k]);
    }
    // Fm is no longer needed: it serves as the swap's scratch.
    for (fftw_complex* c : {fw.get(), fwd.get(), fm2.get()}) {
        fftw_execute_dft(backward.get(), c, c);
        ifftShift_in(reinterpret_cast<Complex*>(c), M, N, Fm);
    }
    const Complex *Cw = Fw, *Cwd = Fwd, *Cwm2 = Fm2;

    // Neither direction is normalised: each circular sum is n times its value.
    const double nd = static_cast<double>(n);
    const FieldOfView& v = in.fov;
    DetectionResult best;
    std::size_t t = 0;
    for (std::size_t col = v.y0 - 1; col < v.y1; ++col) {
        for (std::size_t row = v.x0 - 1; row < v.x1; ++row, ++t) {
            const std::size_t k = row + col * M;
            const double e = Cw[k].real(), f = Cwd[k].real(), g = Cwm2[k].real();
            const double q = ((S * f / nd) * f / nd) / ((S * g / nd) - (e * (e / nd)) / nd) *
                             in.w_prim[k];
            q0[t] = q;
            if (q > best.maxim) {
                best.maxim = q;
                best.best = t;
            }
        }
    }
    return best;
}

}  // namespace reference

// The fast map is the stack's with a single pair: real transforms, the
// template's spectrum from its quadrant, the transforms side by side.
DetectionResult detection_map(const DetectionInput& in, double* q0, unsigned planner_flags) {
    StackInput s;
    static_cast<Hologram&>(s) = in;
    s.w = in.w;
    s.w_prim = in.w_prim;
    s.K = in.K;
    s.depths = &in.z;
    s.nz = 1;
    s.radii = &in.r;
    s.nr = 1;
    s.fov = in.fov;
    s.weights_name = "w";
    StackMaps maps;
    maps.best = q0;
    return detection_stack(s, maps, planner_flags)[0];
}

}  // namespace partiscope
