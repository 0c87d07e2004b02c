#include "core/optics/disc_plate.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include "core/detection/fftw_buffers.h"
#include "core/optics/free_space.h"
#include "core/optics/plate_noise.h"
#include "numerics/error.h"
#include "numerics/parallel.h"
#include "numerics/precise_bessel.h"
#include "numerics/units.h"
#include "numerics/constants.h"

namespace partiscope {

namespace {

constexpr double kTaperWidth = 0.2;  // the roll-off's share of the band
using cplx = std::complex<double>;

// The Fourier transform of a disc of radius r centred on the origin,
// r J1(2 pi r f)/f, at the radial frequency f (pi r^2 at f = 0).
double disc_spectrum(double r, double f) {
    const double u = 2.0 * kPi * r * f;
    if (u < 1e-4) return kPi * r * r * (1.0 - u * u / 8.0);
    return r * precise_j1(u) / f;
}

// A spectrum cut off sharply rings: the frequencies beyond the cut leave
// boundary terms of the size of the disc's spectrum there, a percent of
// the pattern for the largest Fresnel numbers. A raised-cosine roll-off
// over the band's outer part leaves the frequencies that form the
// pattern on the sensor (well inside the band) as they are.
double taper(double t) {
    const double start = 1.0 - kTaperWidth;
    t = std::fabs(t);
    if (t <= start) return 1.0;
    if (t >= 1.0) return 0.0;
    return 0.5 * (1.0 + std::cos(kPi * (t - start) / kTaperWidth));
}

}  // namespace

std::size_t disc_count(double n) {
    if (!(n >= 0.0 && n <= 10000.0) || n != std::floor(n))
        throw Error("Error: n must be a whole number from 0 to 10000");
    return static_cast<std::size_t>(n);
}

void check_plate_setup(const DiscPlateInput& in, const DiscPlateOptions& o) {
    check_setup_lengths(in.lambda, in.pix);
    if (!(o.oversampling >= 1 && o.oversampling <= 8))
        throw Error("Error: Oversampling must be a whole number from 1 to 8");
    const double fine = 4.0 * o.oversampling * o.oversampling * static_cast<double>(in.M) *
                        static_cast<double>(in.N);
    if (fine > 2147483647.0)
        throw Error("Error: sX*sY*4*Oversampling^2 must be below 2^31 (the padded grid's size)");
    if (!(o.I0 > 0.0) || !std::isfinite(o.I0)) throw Error("Error: I0 must be positive and finite");
    const int noises = (o.snr > 0.0) + (o.sigma > 0.0) + (o.photons > 0.0);
    if (!(o.snr >= 0.0) || !(o.sigma >= 0.0) || !(o.photons >= 0.0) || !std::isfinite(o.snr) ||
        !std::isfinite(o.sigma) || !std::isfinite(o.photons))
        throw Error("Error: SNR, Sigma and Photons must be non-negative finite numbers");
    if (noises > 1) throw Error("Error: give one noise: SNR, Sigma or Photons");
}

namespace {

void check_discs(const DiscPlateInput& in) {
    for (std::size_t k = 0; k < in.n; ++k) {
        const double x = in.particles[k], y = in.particles[k + in.n],
                     z = in.particles[k + 2 * in.n], r = in.particles[k + 3 * in.n];
        if (!std::isfinite(x) || !std::isfinite(y) || !(z > 0.0) || !(r > 0.0) ||
            !std::isfinite(z) || !std::isfinite(r))
            throw Error("Error: every disc needs finite x and y, z > 0 and r > 0 (row " +
                        std::to_string(k + 1) + ")");
    }
}

// The smallest length at least n whose only prime factors are 2, 3, 5 and 7
// (fast transforms), even.
std::size_t smooth_length(std::size_t n) {
    for (std::size_t m = n + (n & 1);; m += 2) {
        std::size_t k = m;
        for (std::size_t f : {2, 3, 5, 7})
            while (k % f == 0) k /= f;
        if (k == 1) return m;
    }
}

// The band's reach past the farthest pixel, in Fresnel-zone widths
// sqrt(lambda z): a pixel's field is not gathered from one frequency but
// from a Fresnel zone of them around its offset/(lambda z), and the band's
// end (tapered or not) disturbs every pixel within a few zones of the
// offset where it lies. With too little reach a 160-pixel sensor under a
// 0.3 mm zone was off by 3e-2 everywhere; five zones leave 1e-5.
constexpr double kFresnelZones = 5.0;

// The padded extent, in pixels, along one axis of count pixels (centre
// pixel floor(count/2)) for the discs of in at positions pos[0],
// pos[in.n - 1]: the transfer function's band limit reaches
// |offset| <= extent/2, and a pixel's field gathers frequencies up to its
// offset from the disc's far edge, which must lie inside the band's flat
// part, below (1 - kTaperWidth) of it, and kFresnelZones zones short of the
// band's end. Never less than twice the sensor. `geometric` gets the
// extent without the zones: how far outside the sensor or how large for
// its pixels a disc is.
double padded_extent(std::size_t count, const double* pos, const DiscPlateInput& in,
                     double& geometric) {
    const double first = -std::floor(0.5 * static_cast<double>(count)),
                 last = first + static_cast<double>(count) - 1.0;
    double half = 0.0, flat = 0.0;
    for (std::size_t k = 0; k < in.n; ++k) {
        const double edge = in.particles[k + 3 * in.n] / in.pix + 2.0;
        const double farthest = std::max(std::fabs(pos[k] - first), std::fabs(last - pos[k])) + edge;
        const double zone = std::sqrt(in.lambda * in.particles[k + 2 * in.n]) / in.pix;
        flat = std::max(flat, farthest / (1.0 - kTaperWidth));
        half = std::max(half, farthest + kFresnelZones * zone);
    }
    const double least = 2.0 * static_cast<double>(count);
    geometric = std::max(least, 2.0 * flat);
    // Zones far wider than the sensor would ask for grids out of all
    // proportion to the plate (and its time): at most four times the
    // geometric extent, which then holds fewer than five zones.
    return std::min(4.0 * geometric, std::max(geometric, 2.0 * half));
}

// The grid the field is computed on: the sensor padded (see padded_extent)
// at pitch pix/q. Node (a, b) lies at ((a < P/2 ? a : a - P) pix/q, ...)
// from the sensor's grid centre.
struct FineGrid {
    std::size_t q, P, Q;
    double dfx, dfy;  // frequency steps of the padded grid
    std::size_t kx_end, ky_end;  // the field's band: |k| below these
    // extent_x, extent_y: the fine grid's least size along each axis, below 2^31.
    FineGrid(const DiscPlateInput& in, int oversampling, double extent_x, double extent_y)
        : q(static_cast<std::size_t>(oversampling)),
          P(smooth_length(static_cast<std::size_t>(std::ceil(extent_x)))),
          Q(smooth_length(static_cast<std::size_t>(std::ceil(extent_y)))),
          dfx(static_cast<double>(q) / (static_cast<double>(P) * in.pix)),
          dfy(static_cast<double>(q) / (static_cast<double>(Q) * in.pix)),
          // |f| < q/(4 pix): |U|^2 then has no frequency beyond the fine
          // grid's Nyquist, so its samples hold it exactly.
          kx_end((P / 2 + 1) / 2),
          ky_end((Q / 2 + 1) / 2) {}
    std::size_t node(std::size_t pixel, std::size_t centre, std::size_t period) const {
        const std::size_t off = pixel >= centre ? (pixel - centre) * q : period - (centre - pixel) * q;
        return off % period;
    }
};

// The summed spectrum of every disc's propagated field, written into the
// fine grid's buffer (which must be zero), one column pair (+ky, -ky) per
// task. The spectrum of a disc at (X, Y) is its centred spectrum, radial,
// times exp(-2 pi i (fx X + fy Y)): evaluated once per |fx|, |fy| and
// spread to the four signs by the shift's row and column factors.
void disc_spectra(const DiscPlateInput& in, const FineGrid& g, cplx* u) {
    const std::size_t n = in.n;
    std::vector<Transfer> H;
    std::vector<std::vector<cplx>> row_shift(n);
    for (std::size_t k = 0; k < n; ++k) {
        H.emplace_back(in.lambda, in.particles[k + 2 * n], 1.0 / g.dfx, 1.0 / g.dfy);
        const double X = in.particles[k] * in.pix;
        row_shift[k].resize(g.kx_end);
        for (std::size_t a = 0; a < g.kx_end; ++a)
            row_shift[k][a] = std::polar(1.0, -2.0 * kPi * static_cast<double>(a) * g.dfx * X);
    }
    const double cell = g.dfx * g.dfy;  // the inverse transform's frequency cell
    // Each disc's spectrum ends where the field's band or the transfer
    // function's band limit ends, whichever comes first; it ends smoothly.
    std::vector<double> cut_x(n), cut_y(n);
    for (std::size_t k = 0; k < n; ++k) {
        cut_x[k] = std::min(H[k].fx_limit(), static_cast<double>(g.kx_end) * g.dfx);
        cut_y[k] = std::min(H[k].fy_limit(), static_cast<double>(g.ky_end) * g.dfy);
    }
    parallel_for(
        g.ky_end,
        [&](std::size_t b0, std::size_t b1) {
            std::vector<cplx> radial(g.kx_end);
            for (std::size_t b = b0; b < b1; ++b) {
                const double fy = static_cast<double>(b) * g.dfy;
                cplx* plus = u + b * g.P;
                cplx* minus = u + (b == 0 ? 0 : g.Q - b) * g.P;
                for (std::size_t k = 0; k < n; ++k) {
                    const double r = in.particles[k + 3 * n];
                    const double Y = in.particles[k + n] * in.pix;
                    for (std::size_t a = 0; a < g.kx_end; ++a) {
                        const double fx = static_cast<double>(a) * g.dfx;
                        radial[a] = cell * disc_spectrum(r, std::hypot(fx, fy)) * H[k](fx, fy) *
                                    taper(fx / cut_x[k]) * taper(fy / cut_y[k]);
                    }
                    const cplx cy = std::polar(1.0, -2.0 * kPi * fy * Y);
                    const std::vector<cplx>& sx = row_shift[k];
                    // The four quadrants: (+fx, +fy), (-fx, +fy), (+fx, -fy), (-fx, -fy).
                    for (std::size_t a = 0; a < g.kx_end; ++a) {
                        const cplx v = radial[a];
                        const std::size_t am = a == 0 ? 0 : g.P - a;
                        plus[a] += v * sx[a] * cy;
                        if (a > 0) plus[am] += v * std::conj(sx[a]) * cy;
                        if (b > 0) {
                            minus[a] += v * sx[a] * std::conj(cy);
                            if (a > 0) minus[am] += v * std::conj(sx[a] * cy);
                        }
                    }
                }
            }
        },
        8);
}

}  // namespace

void draw_discs(std::size_t n, std::size_t M, std::size_t N, const double rangeZ[2],
                const double rangeR[2], std::mt19937_64& rng, double* particles) {
    const auto uniform = [&](double lo, double hi) {
        return lo + (hi - lo) * std::generate_canonical<double, 53>(rng);
    };
    for (std::size_t k = 0; k < n; ++k) {
        particles[k] = uniform(-0.5 * static_cast<double>(M), 0.5 * static_cast<double>(M));
        particles[k + n] = uniform(-0.5 * static_cast<double>(N), 0.5 * static_cast<double>(N));
        particles[k + 2 * n] = uniform(rangeZ[0], rangeZ[1]);
        particles[k + 3 * n] = uniform(rangeR[0], rangeR[1]);
    }
}

void disc_plate(const DiscPlateInput& in, const DiscPlateOptions& o, std::mt19937_64& rng,
                double* hologram, double* noise) {
    check_plate_setup(in, o);
    check_discs(in);
    const std::size_t M = in.M, N = in.N;
    if (M == 0 || N == 0) return;
    double geometric_x, geometric_y;
    const double extent_x = o.oversampling * padded_extent(M, in.particles, in, geometric_x),
                 extent_y = o.oversampling * padded_extent(N, in.particles + in.n, in, geometric_y);
    // A disc whose pattern needs more than three sensors (and 96 pixels)
    // of padding lies far outside the sensor or is far larger than its
    // pixels: its grid would take memory out of all proportion to the plate.
    const auto too_wide = [&](double extent, std::size_t count) {
        return !(extent <= 3.0 * static_cast<double>(count) + 96.0);
    };
    if (too_wide(geometric_x, M) || too_wide(geometric_y, N) ||
        !(o.oversampling * o.oversampling * geometric_x * geometric_y <= 2000000000.0))
        throw Error("Error: a disc lies too far outside the sensor, or is too large for its "
                    "pixels: its pattern would need a padded grid over three times the sensor's "
                    "size");
    // The Fresnel zones' reach grows with sqrt(z) alone: a disc far from a
    // sensor of fine pixels can still need a grid past FFTW's 32-bit sizes.
    if (!(extent_x * extent_y <= 2000000000.0))
        throw Error("Error: a disc is too far from the sensor for its pixels: the Fresnel zones "
                    "of its pattern would need a padded grid of over 2^31 points");
    const FineGrid g(in, o.oversampling, extent_x, extent_y);
    fftw::ComplexBuffer buffer = fftw::complex_buffer(g.P * g.Q);
    cplx* u = fftw::as_complex(buffer);
    std::fill(u, u + g.P * g.Q, cplx(0.0));
    const fftw::Plan backward = fftw::plan_2d(buffer, g.P, g.Q, FFTW_BACKWARD, FFTW_ESTIMATE);
    disc_spectra(in, g, u);
    fftw_execute(backward.get());
    // The intensity |1 - D|^2 at every fine node.
    for (std::size_t k = 0; k < g.P * g.Q; ++k) u[k] = std::norm(1.0 - u[k]);
    if (o.area_pixels) {
        // The mean over a pixel of the band-limited intensity: its spectrum
        // times sinc(fx pix) sinc(fy pix), exactly.
        const fftw::Plan forward = fftw::plan_2d(buffer, g.P, g.Q, FFTW_FORWARD, FFTW_ESTIMATE);
        fftw_execute(forward.get());
        const double scale = 1.0 / static_cast<double>(g.P * g.Q);
        const auto sinc_of = [&](std::size_t k, std::size_t n, double df) {
            const double t = kPi * frequency(k, n, df) * in.pix;
            return t == 0.0 ? 1.0 : std::sin(t) / t;
        };
        std::vector<double> sx(g.P), sy(g.Q);
        for (std::size_t a = 0; a < g.P; ++a) sx[a] = sinc_of(a, g.P, g.dfx);
        for (std::size_t b = 0; b < g.Q; ++b) sy[b] = scale * sinc_of(b, g.Q, g.dfy);
        for (std::size_t b = 0; b < g.Q; ++b)
            for (std::size_t a = 0; a < g.P; ++a) u[a + b * g.P] *= sx[a] * sy[b];
        fftw_execute(backward.get());
    }
    const std::size_t h = M / 2, w = N / 2;
    for (std::size_t j = 0; j < N; ++j) {
        const std::size_t b = g.node(j, w, g.Q);
        for (std::size_t i = 0; i < M; ++i)
            hologram[i + j * M] = o.I0 * u[g.node(i, h, g.P) + b * g.P].real();
    }
    buffer.reset();

    // Noise, pixel by pixel in index order.
    double sigma = o.sigma;
    if (o.snr > 0.0) {
        // synthplate's definition: the strongest, nearest particle's
        // far-field signal I0 pi rmax^2/(lambda zmin) over the noise.
        double zmin = 1.0, rmax = 0.0;
        for (std::size_t k = 0; k < in.n; ++k) {
            zmin = std::min(zmin, in.particles[k + 2 * in.n]);
            rmax = std::max(rmax, in.particles[k + 3 * in.n]);
        }
        sigma = o.I0 * kPi * rmax * rmax / (in.lambda * zmin) / o.snr;
    }
    add_plate_noise(sigma, o.photons, o.I0, M * N, rng, hologram, noise);
}

}  // namespace partiscope
