#include "model/disc_pattern.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>

#include "numerics/error.h"
#include "numerics/precise_bessel.h"
#include "numerics/vecmath.h"
#include "numerics/constants.h"

namespace partiscope {

namespace {

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
    // A disc so small that a period is longer than the reach (or than any
    // length, r a denormal number) needs a few nodes only.
    if (!(step_ <= rho_max + lambda)) step_ = (rho_max + lambda) / 4.0;
    if (!(r * r / (lambda * z) <= kMostFresnelNumber))
        throw Error("Error: a disc's Fresnel number r^2/(lambda*z) must be at most 10: check "
                    "lambda, z and r");
    if (!(rho_max * r / (lambda * z) <= kMostOscillations))
        throw Error("Error: a disc's pattern oscillates too fast over its window (rho*r/(lambda*z) "
                    "above 100): check lambda, pix, z and r");
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
    PatternScratch scratch;
    cplx v[4];
    at(&rho, 1, true, v, scratch);
    return {v[0], v[1], v[2], v[3]};
}

void DiscPattern::at(const double* rho, std::size_t n, bool derivatives, cplx* out,
                     PatternScratch& scratch) const {
    // D = A I0(a, b), A = (z/R0) (2a/i) e^(ik(R0 - z)), a = pi/(lambda R0),
    // b = 2 a rho; dI0/da = i I2, dI0/db = -I1, dI0/dr = E. The phase
    // k (R0 - z) is taken as k rho^2/(R0 + z), without the cancellation of
    // two nearly equal lengths.
    const double z = z_, k = 2.0 * kPi / lambda_;
    std::vector<double>& R0 = scratch.R0;
    std::vector<double>& phase = scratch.phase;
    R0.resize(n);
    phase.resize(n);
    scratch.sin_phase.resize(n);
    scratch.cos_phase.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double rho2 = rho[i] * rho[i];
        R0[i] = std::sqrt(z * z + rho2);
        phase[i] = k * rho2 / (R0[i] + z);
    }
    sincos_array(phase.data(), scratch.sin_phase.data(), scratch.cos_phase.data(), n);
    const std::size_t last = table_.size() / 4 - 3;
    const cplx i(0.0, 1.0);
    for (std::size_t e = 0; e < n; ++e) {
        // Cubic Lagrange interpolation on the four nodes around rho.
        const double u = rho[e] / step_ + 1.0;
        std::size_t k0 = static_cast<std::size_t>(u);
        if (k0 < 1) k0 = 1;
        if (k0 > last) k0 = last;
        const double s = u - static_cast<double>(k0);
        const double w[4] = {-s * (s - 1.0) * (s - 2.0) / 6.0, (s + 1.0) * (s - 1.0) * (s - 2.0) / 2.0,
                             -(s + 1.0) * s * (s - 2.0) / 2.0, (s + 1.0) * s * (s - 1.0) / 6.0};
        const cplx* row = &table_[4 * (k0 - 1)];
        const double r0 = R0[e], a = kPi / (lambda_ * r0);
        const cplx A = -2.0 * i * a * (z / r0) * cplx(scratch.cos_phase[e], scratch.sin_phase[e]);
        cplx* o = out + 4 * e;
        if (!derivatives) {
            o[0] = A * (w[0] * row[0] + w[1] * row[4] + w[2] * row[8] + w[3] * row[12]);
            continue;
        }
        cplx v[4] = {};
        for (int m = 0; m < 4; ++m)
            for (int q = 0; q < 4; ++q) v[q] += w[m] * row[4 * m + q];
        const cplx I0 = v[0], I1 = v[1], I2 = v[2], E = v[3];
        const double r = rho[e], R2 = r0 * r0, b = 2.0 * a * r;
        const cplx D = A * I0;
        const cplx dlnA_drho = -2.0 * r / R2 + i * k * r / r0;
        const cplx dlnA_dz = 1.0 / z - 2.0 * z / R2 + i * k * (z / r0 - 1.0);
        o[0] = D;
        o[1] = D * dlnA_drho + A * (i * I2 * (-a * r / R2) - I1 * (2.0 * a - b * r / R2));
        o[2] = D * dlnA_dz + A * (i * I2 * (-a * z / R2) - I1 * (-b * z / R2));
        o[3] = A * E;
    }
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

class DiscWindow final : public WindowPattern {
public:
    DiscWindow(const ModelParams& p, const NodeWindow& w)
        : p_(p), w_(w), pattern_(p.lambda, p.z, p.r, farthest_node(p, w)),
          c_(p.K * kPi * p.pix / (p.lambda * p.z)) {
        // The offsets along the rows, and their pixel factors, are those of
        // every column.
        const double h = std::floor(p.M * 0.5);
        dx_.resize(w.rows);
        fx_.resize(w.rows, Factor{1.0, 0.0});
        for (std::size_t i = 0; i < w.rows; ++i) {
            dx_[i] = (static_cast<double>(w.row0 + i) - h) * p.pix - p.x;
            if (p.K > 0.0) fx_[i] = pixel_factor(c_, dx_[i]);
        }
    }

    void column(std::size_t col, const JacobianColumn* outs, PatternScratch& scratch) const override {
        const JacobianColumn& out = outs[0];
        const std::size_t R = w_.rows;
        const double g = std::floor(p_.N * 0.5);
        const double dy = (static_cast<double>(w_.col0 + col) - g) * p_.pix - p_.y;
        const Factor fy = p_.K > 0.0 ? pixel_factor(c_, dy) : Factor{1.0, 0.0};
        std::vector<double>& rho = scratch.rho;
        rho.resize(R);
        for (std::size_t i = 0; i < R; ++i) rho[i] = std::sqrt(dx_[i] * dx_[i] + dy * dy);
        const bool derivatives = out.d_re[0] != nullptr;
        scratch.values.resize(4 * R);
        pattern_.at(rho.data(), R, derivatives, scratch.values.data(), scratch);
        for (std::size_t i = 0; i < R; ++i) {
            const cplx* v = &scratch.values[4 * i];
            const Factor& fx = fx_[i];
            const double P = fx.S * fy.S;
            const cplx s = v[0] * P;
            if (out.re) {
                out.re[i] = s.real();
                out.im[i] = s.imag();
            }
            if (!derivatives) continue;
            // The offsets fall as the particle moves: d rho/dx = -dx/rho.
            const double dx = dx_[i];
            const double ux = rho[i] > 0.0 ? -dx / rho[i] : 0.0, uy = rho[i] > 0.0 ? -dy / rho[i] : 0.0;
            const cplx d[4] = {
                v[1] * (ux * P) - v[0] * (fx.slope * fy.S), v[1] * (uy * P) - v[0] * (fx.S * fy.slope),
                // P depends on z through c = K pi pix/(lambda z): dP/dz = -(dx dP/ddx + dy dP/ddy)/z.
                v[2] * P - v[0] * ((dx * fx.slope * fy.S + dy * fx.S * fy.slope) / p_.z), v[3] * P};
            for (int q = 0; q < 4; ++q) {
                out.d_re[q][i] = d[q].real();
                out.d_im[q][i] = d[q].imag();
            }
        }
    }

private:
    ModelParams p_;
    NodeWindow w_;
    DiscPattern pattern_;
    double c_;
    std::vector<double> dx_;
    std::vector<Factor> fx_;
};

}  // namespace

// The farthest distance from the particle of p to a node of the window.
double farthest_node(const ModelParams& p, const NodeWindow& w) {
    const double h = std::floor(p.M * 0.5), g = std::floor(p.N * 0.5);
    const double x0 = (static_cast<double>(w.row0) - h) * p.pix - p.x,
                 x1 = (static_cast<double>(w.row0 + w.rows) - h) * p.pix - p.x;
    const double y0 = (static_cast<double>(w.col0) - g) * p.pix - p.y,
                 y1 = (static_cast<double>(w.col0 + w.cols) - g) * p.pix - p.y;
    return std::hypot(std::max(std::fabs(x0), std::fabs(x1)), std::max(std::fabs(y0), std::fabs(y1)));
}

std::unique_ptr<WindowPattern> disc_window_pattern(const ModelParams& p, const NodeWindow& w) {
    return std::make_unique<DiscWindow>(p, w);
}

}  // namespace partiscope
