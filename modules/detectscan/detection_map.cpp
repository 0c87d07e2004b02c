#include "detection_map.h"

#include <fftw3.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "numerics/error.h"
#include "numerics/parallel.h"
#include "numerics/vecmath.h"

namespace partiscope {
namespace {

using Complex = std::complex<double>;

struct FftwFree {
    void operator()(fftw_complex* p) const { fftw_free(p); }
};
using ComplexBuffer = std::unique_ptr<fftw_complex[], FftwFree>;

ComplexBuffer complex_buffer(std::size_t n) {
    fftw_complex* p = fftw_alloc_complex(n);
    if (!p) throw std::bad_alloc();
    return ComplexBuffer(p);
}

Complex* as_complex(const ComplexBuffer& b) { return reinterpret_cast<Complex*>(b.get()); }

struct PlanDestroy {
    void operator()(fftw_plan p) const { fftw_destroy_plan(p); }
};
using Plan = std::unique_ptr<std::remove_pointer_t<fftw_plan>, PlanDestroy>;

// A 2-D in-place transform over the column-major grid: the row index is the
// contiguous dimension, which is FFTW's last (row-major) one. Planning
// overwrites the array, so it is made before the array is filled.
Plan plan_2d(const ComplexBuffer& on, std::size_t M, std::size_t N, int sign, unsigned flags) {
    fftw_plan p = fftw_plan_dft_2d(static_cast<int>(N), static_cast<int>(M), on.get(), on.get(),
                                   sign, flags);
    if (!p) throw Error("Error: FFTW could not make a transform plan");
    return Plan(p);
}

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
    model_calc(padded.data(), p);
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

unsigned planner_flags_from_environment() {
    // A timed plan depends on the machine and its load, the SIMD codelets
    // on the processor: either changes the map's last bits.
    if (reproducible_arithmetic()) return FFTW_ESTIMATE | FFTW_NO_SIMD;
    const char* v = std::getenv("PARTISCOPE_FFTW_PLANNER");
    if (!v || *v == '\0' || std::strcmp(v, "measure") == 0) return FFTW_MEASURE;
    if (std::strcmp(v, "estimate") == 0) return FFTW_ESTIMATE;
    if (std::strcmp(v, "patient") == 0) return FFTW_PATIENT;
    if (std::strcmp(v, "exhaustive") == 0) return FFTW_EXHAUSTIVE;
    throw Error(
        "Error: PARTISCOPE_FFTW_PLANNER must be estimate, measure, patient or exhaustive");
}

void ifftShift_in(Complex* a, std::size_t M, std::size_t N, Complex* scratch) {
    const std::size_t hM = M / 2, hN = N / 2;
    std::memcpy(static_cast<void*>(scratch), a, M * N * sizeof(Complex));
    for (std::size_t j = 0; j < N; ++j) {
        const std::size_t to_col = (j + N - hN) % N;
        for (std::size_t i = 0; i < M; ++i) a[(i + M - hM) % M + to_col * M] = scratch[i + j * M];
    }
}

void check_masked_data(const DetectionInput& in) {
    const std::size_t n = in.M * in.N;
    std::size_t bad_weights = 0, bad_data = 0;
    for (std::size_t k = 0; k < n; ++k) {
        if (!std::isfinite(in.w[k])) ++bad_weights;
        else if (in.w[k] != 0.0 && !std::isfinite(in.hol[k])) ++bad_data;
    }
    if (bad_weights > 0)
        throw Error("Error: w has " + std::to_string(bad_weights) +
                    " non-finite values; weights must be finite (0 masks a pixel)");
    if (bad_data > 0)
        throw Error("Error: hol has " + std::to_string(bad_data) +
                    " non-finite pixels with non-zero weight; set w to 0 there to mask them");
}

namespace {

// The weighted data w d of one pixel; a masked pixel contributes 0 even
// when its value is not finite (0 * NaN would be NaN).
double weighted_data(double w, double d) { return w * (w == 0.0 ? 0.0 : d); }

}  // namespace

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

namespace {

// What FFTW's planner keeps between calls (it makes later calls of a size
// plan at once) is released when the module is unloaded, so `clear
// detectscan` leaves nothing behind.
struct PlannerRelease {
    ~PlannerRelease() { fftw_cleanup(); }
} planner_release;

// The default effort's planning time is bounded: the first call of a size
// should take seconds, not a minute. A stronger effort asked for by name
// plans without a bound.
void bound_planning(unsigned flags) {
    fftw_set_timelimit(flags == FFTW_MEASURE ? 0.9 : FFTW_NO_TIMELIMIT);
}

// A real grid of M rows by N columns stored for in-place real-to-complex
// transforms: columns padded to 2 (M/2 + 1) doubles, so the same buffer
// holds the M/2 + 1 complex rows of each column's half spectrum.
struct HalfSpectrum {
    std::size_t stride;
    ComplexBuffer buffer;
    HalfSpectrum(std::size_t M, std::size_t N)
        : stride(2 * (M / 2 + 1)), buffer(complex_buffer((M / 2 + 1) * N)) {}
    double* real() const { return reinterpret_cast<double*>(buffer.get()); }
    fftw_complex* spectrum() const { return buffer.get(); }
};

}  // namespace

// The same sums with real transforms: the three circular sums are real, so
// half spectra suffice (four forward real-to-complex transforms, three
// backward complex-to-real), all in place in four buffers of about 8 bytes a
// pixel each. The transforms run side by side on our own threads (FFTW may
// execute plans concurrently; only planning is single-threaded), and every
// thread is joined before the call returns, so the module can be unloaded
// at any time. The template is evaluated on one quadrant and mirrored; the
// quadrant swap becomes an index shift in the scan.
DetectionResult detection_map(const DetectionInput& in, double* q0, unsigned planner_flags) {
    check_masked_data(in);
    const std::size_t M = in.M, N = in.N, n = M * N;
    const std::size_t hM = M / 2, hN = N / 2;
    const std::size_t half = (M / 2 + 1) * N;  // complex values of a half spectrum

    // The template is even in both offsets; its offsets run over
    // -hM .. M-1-hM, within +-hM (and +-hN for the columns).
    std::vector<double> quadrant((hM + 1) * (hN + 1));
    {
        ModelParams p;
        p.z = in.z;
        p.r = in.r;
        p.pix = in.pix;
        p.lambda = in.lambda;
        p.K = in.K;
        model_calc_quadrant(quadrant.data(), hM + 1, hN + 1, p);
    }

    HalfSpectrum w(M, N), m(M, N), m2(M, N), wd(M, N);
    bound_planning(planner_flags);
    fftw_plan fp = fftw_plan_dft_r2c_2d(static_cast<int>(N), static_cast<int>(M), w.real(),
                                        w.spectrum(), planner_flags);
    if (!fp) throw Error("Error: FFTW could not make a transform plan");
    const Plan forward(fp);
    fftw_plan bp = fftw_plan_dft_c2r_2d(static_cast<int>(N), static_cast<int>(M), m.spectrum(),
                                        m.real(), planner_flags);
    if (!bp) throw Error("Error: FFTW could not make a transform plan");
    const Plan backward(bp);

    // Fill, column by column; the total weight is summed per column and the
    // columns' sums added in order.
    std::vector<double> column_weight(N, 0.0);
    parallel_for(N, [&](std::size_t first, std::size_t last) {
        for (std::size_t j = first; j < last; ++j) {
            const std::size_t oj = j >= hN ? j - hN : hN - j;
            const double* Q = quadrant.data() + oj * (hM + 1);
            const double* wj = in.w + j * M;
            const double* dj = in.hol + j * M;
            double* W = w.real() + j * w.stride;
            double* Mo = m.real() + j * m.stride;
            double* M2 = m2.real() + j * m2.stride;
            double* WD = wd.real() + j * wd.stride;
            double S = 0.0;
            for (std::size_t i = 0; i < M; ++i) {
                const double mi = Q[i >= hM ? i - hM : hM - i];
                W[i] = wj[i];
                Mo[i] = mi;
                M2[i] = mi * mi;
                WD[i] = weighted_data(wj[i], dj[i]);
                S += wj[i];
            }
            column_weight[j] = S;
        }
    });
    quadrant = std::vector<double>();
    double S = 0.0;
    for (double s : column_weight) S += s;

    HalfSpectrum* const inputs[4] = {&w, &m, &m2, &wd};
    parallel_for(4, [&](std::size_t first, std::size_t last) {
        for (std::size_t t = first; t < last; ++t)
            fftw_execute_dft_r2c(forward.get(), inputs[t]->real(), inputs[t]->spectrum());
    });

    // Cw = Fw Fm into w, Cwd = Fwd Fm into wd, Cwm2 = Fw Fm2 into m2.
    Complex* Fw = as_complex(w.buffer);
    Complex* Fm = as_complex(m.buffer);
    Complex* Fm2 = as_complex(m2.buffer);
    Complex* Fwd = as_complex(wd.buffer);
    parallel_for(half, [&](std::size_t first, std::size_t last) {
        for (std::size_t k = first; k < last; ++k) {
            const Complex fw = Fw[k], fm = Fm[k];
            Fw[k] = product(fw, fm);
            Fwd[k] = product(Fwd[k], fm);
            Fm2[k] = product(fw, Fm2[k]);
        }
    });
    HalfSpectrum* const sums[3] = {&w, &wd, &m2};
    parallel_for(3, [&](std::size_t first, std::size_t last) {
        for (std::size_t t = first; t < last; ++t)
            fftw_execute_dft_c2r(backward.get(), sums[t]->spectrum(), sums[t]->real());
    });

    // Score: the sums for the template centred on pixel (i, j) lie at
    // ((i + hM) mod M, (j + hN) mod N) of the transformed-back grids.
    const double nd = static_cast<double>(n);
    const FieldOfView& v = in.fov;
    const std::size_t nx = v.rows(), ny = v.cols();
    std::vector<DetectionResult> best(ny);
    parallel_for(ny, [&](std::size_t first, std::size_t last) {
        for (std::size_t bcol = first; bcol < last; ++bcol) {
            const std::size_t col = v.y0 - 1 + bcol;
            const std::size_t shifted_col = col + hN;  // below 2N: one subtraction wraps it
            const std::size_t src = (shifted_col >= N ? shifted_col - N : shifted_col) * w.stride;
            const double* Cw = w.real() + src;
            const double* Cwd = wd.real() + src;
            const double* Cwm2 = m2.real() + src;
            const double* wp = in.w_prim + col * M;
            DetectionResult& b = best[bcol];
            for (std::size_t a = 0; a < nx; ++a) {
                const std::size_t row = v.x0 - 1 + a;
                const std::size_t shifted = row + hM;
                const std::size_t k = shifted >= M ? shifted - M : shifted;
                const double e = Cw[k], f = Cwd[k], g = Cwm2[k];
                const double q =
                    ((S * f / nd) * f / nd) / ((S * g / nd) - (e * (e / nd)) / nd) * wp[row];
                const std::size_t t = a + bcol * nx;
                q0[t] = q;
                if (q > b.maxim) {
                    b.maxim = q;
                    b.best = t;
                }
            }
        }
    });
    // The first largest score in scan order wins.
    DetectionResult result;
    for (const DetectionResult& b : best) {
        if (b.maxim > result.maxim) result = b;
    }
    return result;
}

}  // namespace partiscope
