#include "core/optics/free_space.h"

#include <cmath>
#include <string>

#include "core/detection/fftw_buffers.h"
#include "numerics/error.h"
#include "numerics/parallel.h"
#include "numerics/units.h"
#include "numerics/constants.h"

namespace partiscope {

namespace {


// The band limit along one axis of a grid of physical size `extent`.
double band_limit(double lambda, double z, double extent) {
    const double t = 2.0 * z / extent;
    return 1.0 / (lambda * std::sqrt(t * t + 1.0));
}

}  // namespace

double frequency(std::size_t k, std::size_t n, double df) {
    return (k < (n + 1) / 2 ? static_cast<double>(k) : static_cast<double>(k) - static_cast<double>(n)) *
           df;
}

Transfer::Transfer(double lambda, double z, double extent_x, double extent_y)
    : z_(z),
      inv_lambda_(1.0 / lambda),
      fx_limit_(band_limit(lambda, z, extent_x)),
      fy_limit_(band_limit(lambda, z, extent_y)) {}

std::complex<double> Transfer::operator()(double fx, double fy) const {
    if (std::fabs(fx) > fx_limit_ || std::fabs(fy) > fy_limit_) return 0.0;
    const double f2 = fx * fx + fy * fy;
    const double w2 = inv_lambda_ * inv_lambda_ - f2;
    if (!(w2 > 0.0)) return 0.0;
    // sqrt(1/lambda^2 - f^2) - 1/lambda without the cancellation of two
    // nearly equal terms (z f^2 lambda is a few radians where 1/lambda z is
    // 10^5 of them).
    const double phase = -2.0 * kPi * z_ * f2 / (inv_lambda_ + std::sqrt(w2));
    return {std::cos(phase), std::sin(phase)};
}

void propagate_field(const double* re, const double* im, std::size_t M, std::size_t N,
                     double lambda, double pix, double z, double* out_re, double* out_im) {
    check_setup_lengths(lambda, pix);
    if (!std::isfinite(z)) throw Error("Error: z must be a finite distance in metres");
    // The padded grid's transforms take 32-bit sizes.
    if (M > 0 && N > 0 && M * N > (std::size_t{1} << 29))
        throw Error("Error: field must have at most 2^29 elements");
    const std::size_t count = M * N;
    if (count == 0) return;
    if (z == 0.0) {
        for (std::size_t k = 0; k < count; ++k) {
            out_re[k] = re[k];
            out_im[k] = im ? im[k] : 0.0;
        }
        return;
    }
    const std::size_t P = 2 * M, Q = 2 * N;
    fftw::ComplexBuffer buffer = fftw::complex_buffer(P * Q);
    std::complex<double>* u = fftw::as_complex(buffer);
    const fftw::Plan forward = fftw::plan_2d(buffer, P, Q, FFTW_FORWARD, FFTW_ESTIMATE),
                     backward = fftw::plan_2d(buffer, P, Q, FFTW_BACKWARD, FFTW_ESTIMATE);
    for (std::size_t j = 0; j < Q; ++j) {
        for (std::size_t i = 0; i < P; ++i) {
            const bool inside = i < M && j < N;
            u[i + j * P] = inside ? std::complex<double>(re[i + j * M], im ? im[i + j * M] : 0.0)
                                  : 0.0;
        }
    }
    fftw_execute(forward.get());
    const Transfer H(lambda, z, static_cast<double>(P) * pix, static_cast<double>(Q) * pix);
    const double dfx = 1.0 / (static_cast<double>(P) * pix),
                 dfy = 1.0 / (static_cast<double>(Q) * pix);
    const double scale = 1.0 / static_cast<double>(P * Q);  // FFTW's round trip is unnormalised
    parallel_for(
        Q,
        [&](std::size_t j0, std::size_t j1) {
            for (std::size_t j = j0; j < j1; ++j) {
                const double fy = frequency(j, Q, dfy);
                for (std::size_t i = 0; i < P; ++i)
                    u[i + j * P] *= scale * H(frequency(i, P, dfx), fy);
            }
        },
        64);
    fftw_execute(backward.get());
    for (std::size_t j = 0; j < N; ++j) {
        for (std::size_t i = 0; i < M; ++i) {
            out_re[i + j * M] = u[i + j * P].real();
            out_im[i + j * M] = u[i + j * P].imag();
        }
    }
}

}  // namespace partiscope
