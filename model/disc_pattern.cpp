#include "model/disc_pattern.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>

#include "numerics/error.h"
#include "numerics/precise_bessel.h"

namespace partiscope {

namespace {

constexpr double kPi = 3.141592653589793;
using cplx = std::complex<double>;

// Gauss-Legendre nodes and weights of order n on [-1, 1], by Newton's
// method on the Legendre polynomial from the zeros' asymptotic first guesses.
struct Rule {
    std::vector<double> x, w;
};

Rule gauss_legendre(std::size_t n) {
    Rule g{std::vector<double>(n), std::vector<double>(n)};
    for (std::size_t i = 0; i < (n + 1) / 2; ++i) {
        double x = std::cos(kPi * (static_cast<double>(i) + 0.75) / (static_cast<double>(n) + 0.5));
        double dp = 1.0;
        for (int iter = 0; iter < 100; ++iter) {
            double p0 = 1.0, p1 = x;
            for (std::size_t k = 2; k <= n; ++k) {
                const double pk = ((2.0 * k - 1.0) * x * p1 - (k - 1.0) * p0) / static_cast<double>(k);
                p0 = p1;
                p1 = pk;
            }
            dp = static_cast<double>(n) * (x * p1 - p0) / (x * x - 1.0);
            const double dx = p1 / dp;
            x -= dx;
            if (std::fabs(dx) < 1e-16) break;
        }
        g.x[i] = -x;
        g.x[n - 1 - i] = x;
        g.w[i] = g.w[n - 1 - i] = 2.0 / ((1.0 - x * x) * dp * dp);
    }
    return g;
}

// The rules of the orders in use, made once for the process.
const Rule& rule(std::size_t n) {
    static std::mutex lock;
    static std::map<std::size_t, Rule> rules;
    const std::lock_guard<std::mutex> hold(lock);
    Rule& g = rules[n];
    if (g.x.empty()) g = gauss_legendre(n);
    return g;
}

// Nodes enough for the integrand's phase across [0, r]: the Bessel factor's
// 2 alpha rho r radians and the disc's own alpha r^2. Gauss-Legendre
// converges faster than exponentially once the order passes about half the
// phase; orders come in steps of 8 so that neighbouring distances share them.
std::size_t order_for(double phase) { return 8 * static_cast<std::size_t>((0.4 * phase + 24.0) / 8.0); }

}  // namespace

DiscPattern::DiscPattern(double lambda, double z, double r, double rho_max)
    : lambda_(lambda), z_(z) {
    if (!(z > 0.0) || !(r > 0.0) || !std::isfinite(z) || !std::isfinite(r))
        throw Error("Error: a disc needs z > 0 and r > 0");
    // The integrals oscillate in rho like J0(2 alpha r rho), period
    // lambda z / r: 24 nodes a period keep the cubic interpolation's error
    // near 1e-6 of the pattern.
    step_ = lambda * z / r / 24.0;
    rho_max = std::max(rho_max, 0.0);
    if (!(r * r / (lambda * z) <= kMostFresnelNumber))
        throw Error("Error: a disc's Fresnel number r^2/(lambda*z) must be at most 100: check "
                    "lambda, z and r");
    if (!(rho_max * r / (lambda * z) <= kMostOscillations))
        throw Error("Error: a disc's pattern oscillates too fast over its window (rho*r/(lambda*z) "
                    "above 150): check lambda, pix, z and r");
    const std::size_t count = static_cast<std::size_t>(rho_max / step_) + 5;
    table_.resize(4 * count);
    for (std::size_t i = 0; i < count; ++i) {
        const double rho = (static_cast<double>(i) - 1.0) * step_;  // node 0 at -step
        // Seen from a point at rho, the disc lies at distance R0 =
        // sqrt(z^2 + rho^2): its quadratic phase and its Bessel factor's
        // frequency are those of R0, not z.
        const double R0 = std::hypot(z, rho);
        const double a = kPi / (lambda * R0), b = 2.0 * a * rho;
        const std::size_t n = order_for(std::fabs(b) * r + a * r * r);
        const Rule& g = rule(n);
        cplx i0 = 0.0, i1 = 0.0, i2 = 0.0;
        for (std::size_t m = 0; m < n; ++m) {
            const double t = 0.5 * r * (g.x[m] + 1.0), bt = b * t;
            const cplx c = 0.5 * r * g.w[m] * t * std::polar(1.0, a * t * t);
            const double j0 = precise_j0(bt), j1 = precise_j1(bt);
            i0 += c * j0;
            i1 += c * (j1 * t);
            i2 += c * (j0 * t * t);
        }
        cplx* row = &table_[4 * i];
        row[0] = i0;
        row[1] = i1;
        row[2] = i2;
        row[3] = std::polar(r, a * r * r) * precise_j0(b * r);
    }
}

DiscPattern::Value DiscPattern::at(double rho) const {
    // Cubic Lagrange interpolation on the four nodes around rho.
    const double u = rho / step_ + 1.0;
    std::size_t k0 = static_cast<std::size_t>(u);
    const std::size_t last = table_.size() / 4 - 3;
    if (k0 < 1) k0 = 1;
    if (k0 > last) k0 = last;
    const double s = u - static_cast<double>(k0);
    const double w[4] = {-s * (s - 1.0) * (s - 2.0) / 6.0, (s + 1.0) * (s - 1.0) * (s - 2.0) / 2.0,
                         -(s + 1.0) * s * (s - 2.0) / 2.0, (s + 1.0) * s * (s - 1.0) / 6.0};
    cplx v[4] = {};
    for (int k = 0; k < 4; ++k) {
        const cplx* row = &table_[4 * (k0 - 1 + static_cast<std::size_t>(k))];
        for (int q = 0; q < 4; ++q) v[q] += w[k] * row[q];
    }
    const cplx I0 = v[0], I1 = v[1], I2 = v[2], E = v[3];
    // D = A I0(a, b), A = (z/R0) (2a/i) e^(ik(R0 - z)), a = pi/(lambda R0),
    // b = 2 a rho; dI0/da = i I2, dI0/db = -I1, dI0/dr = E.
    const double z = z_, R0 = std::hypot(z, rho), R2 = R0 * R0;
    const double a = kPi / (lambda_ * R0), b = 2.0 * a * rho, k = 2.0 * kPi / lambda_;
    const cplx i(0.0, 1.0);
    // k (R0 - z) without the cancellation of two nearly equal lengths.
    const cplx A = -2.0 * i * a * (z / R0) * std::polar(1.0, k * rho * rho / (R0 + z));
    Value out;
    out.D = A * I0;
    out.dD_dr = A * E;
    const cplx dlnA_drho = -2.0 * rho / R2 + i * k * rho / R0;
    const cplx dlnA_dz = 1.0 / z - 2.0 * z / R2 + i * k * (z / R0 - 1.0);
    out.dD_drho = out.D * dlnA_drho + A * (i * I2 * (-a * rho / R2) - I1 * (2.0 * a - b * rho / R2));
    out.dD_dz = out.D * dlnA_dz + A * (i * I2 * (-a * z / R2) - I1 * (-b * z / R2));
    return out;
}

namespace {

// The pixel factor along one axis, S(t) = sin(t)/t with t = c d, and its
// slope dS/dd.
struct Factor {
    double S, slope;
};

Factor pixel_factor(double c, double d) {
    const double t = c * d;
    if (std::fabs(t) < 1e-4) return {1.0 - t * t / 6.0, -c * t / 3.0};
    const double S = std::sin(t) / t;
    return {S, (std::cos(t) - S) / d};
}

}  // namespace

double farthest_node(const ModelParams& p, const NodeWindow& w) {
    const double h = std::floor(p.M * 0.5), g = std::floor(p.N * 0.5);
    const double x0 = (static_cast<double>(w.row0) - h) * p.pix - p.x,
                 x1 = (static_cast<double>(w.row0 + w.rows) - h) * p.pix - p.x;
    const double y0 = (static_cast<double>(w.col0) - g) * p.pix - p.y,
                 y1 = (static_cast<double>(w.col0 + w.cols) - g) * p.pix - p.y;
    return std::hypot(std::max(std::fabs(x0), std::fabs(x1)), std::max(std::fabs(y0), std::fabs(y1)));
}

void disc_jacobian_column(const DiscPattern& pattern, const ModelParams& p, const NodeWindow& w,
                          std::size_t col, const JacobianColumn& out) {
    const double h = std::floor(p.M * 0.5), g = std::floor(p.N * 0.5);
    const double dy = (static_cast<double>(w.col0 + col) - g) * p.pix - p.y;
    const bool factor = p.K > 0.0;
    const double c = p.K * kPi * p.pix / (p.lambda * p.z);
    const Factor fy = factor ? pixel_factor(c, dy) : Factor{1.0, 0.0};
    for (std::size_t i = 0; i < w.rows; ++i) {
        const double dx = (static_cast<double>(w.row0 + i) - h) * p.pix - p.x;
        const double rho = std::hypot(dx, dy);
        const DiscPattern::Value v = pattern.at(rho);
        const Factor fx = factor ? pixel_factor(c, dx) : Factor{1.0, 0.0};
        const double P = fx.S * fy.S;
        const cplx s = v.D * P;
        if (out.re) {
            out.re[i] = s.real();
            out.im[i] = s.imag();
        }
        if (!out.d_re[0]) continue;
        // The offsets fall as the particle moves: d rho/dx = -dx/rho.
        const double ux = rho > 0.0 ? -dx / rho : 0.0, uy = rho > 0.0 ? -dy / rho : 0.0;
        const cplx d[4] = {
            v.dD_drho * (ux * P) - v.D * (fx.slope * fy.S),
            v.dD_drho * (uy * P) - v.D * (fx.S * fy.slope),
            // P depends on z through c = K pi pix/(lambda z): dP/dz = -(dx dP/ddx + dy dP/ddy)/z.
            v.dD_dz * P - v.D * ((dx * fx.slope * fy.S + dy * fx.S * fy.slope) / p.z),
            v.dD_dr * P};
        for (int q = 0; q < 4; ++q) {
            out.d_re[q][i] = d[q].real();
            out.d_im[q][i] = d[q].imag();
        }
    }
}

void add_disc_field(const DiscPattern& pattern, const ModelParams& p, double amplitude,
                    double* re, double* im) {
    const std::size_t M = static_cast<std::size_t>(p.M), N = static_cast<std::size_t>(p.N);
    NodeWindow all;
    all.rows = M;
    all.cols = 1;
    std::vector<double> col_re(M), col_im(M);
    JacobianColumn out;
    out.re = col_re.data();
    out.im = col_im.data();
    for (std::size_t j = 0; j < N; ++j) {
        all.col0 = j;
        disc_jacobian_column(pattern, p, all, 0, out);
        for (std::size_t i = 0; i < M; ++i) {
            re[i + j * M] += amplitude * col_re[i];
            im[i + j * M] += amplitude * col_im[i];
        }
    }
}

}  // namespace partiscope
