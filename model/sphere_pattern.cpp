#include "model/sphere_pattern.h"

#include <array>
#include <cassert>
#include <cmath>

#include "numerics/constants.h"
#include "numerics/error.h"
#include "numerics/parallel.h"

namespace partiscope {

namespace {

using cplx = std::complex<double>;
constexpr cplx kI(0.0, 1.0);

// The three series of the scattered field at distance R and mu = cos(theta)
// from the sphere's centre, each with its derivatives: slot 0 the value,
// then along R, along mu, along the size parameter x and along the relative
// index m.
//   St = sum E_n (i a_n tau_n X_n - b_n pi_n H_n)       (E_theta / cos phi)
//   Sp = sum E_n (b_n tau_n H_n - i a_n pi_n X_n)       (E_phi / sin phi)
//   Sr = sum E_n i a_n n(n+1) pi_n H_n / (kR)           (E_r / (cos phi sin theta))
// E_n = i^n (2n+1)/(n(n+1)), H_n = xi_n(kR)/(kR), X_n = xi_n'(kR)/(kR), xi_n
// the Riccati-Bessel function kR h_n^(1)(kR) (upward recurrence: stable,
// the second kind dominates).
struct Series {
    std::array<cplx, 5> t{}, p{}, r{};
};

// slots: how many of the five to sum (1: the value; 3: with R and mu; 5: all).
Series series(const SphereOptics& s, double R, double mu, int slots) {
    Series out;
    const double kr = s.k * R;
    const cplx e = std::polar(1.0, kr);
    cplx xi_prev = e, xi = -kI * e, in = 1.0;
    double pi_prev = 0.0, pi = 1.0, dpi_prev = 0.0, dpi = 0.0;
    const std::size_t terms = s.c.a.size();
    for (std::size_t k = 0; k < terms; ++k) {
        const double n = static_cast<double>(k + 1), nn1 = n * (n + 1.0);
        const cplx xi_next = (2.0 * n - 1.0) / kr * xi - xi_prev;
        xi_prev = xi;
        xi = xi_next;
        in *= kI;
        const cplx dxi = xi_prev - n * xi / kr;
        const double tau = n * mu * pi - (n + 1.0) * pi_prev;
        const cplx E = in * ((2.0 * n + 1.0) / nn1);
        const cplx H = xi / kr, X = dxi / kr, W = H / kr;
        // One term of the three series into slot q, from coefficients
        // (i a, b), angular functions (tau, pi) and radial ones (X, H, W):
        // the value and every derivative share this form.
        const auto add = [&](int q, cplx ia, cplx b, double t, double p, cplx x, cplx h, cplx w) {
            out.t[q] += E * (ia * t * x - b * p * h);
            out.p[q] += E * (b * t * h - ia * p * x);
            out.r[q] += E * ia * (nn1 * p) * w;
        };
        const cplx ia = kI * s.c.a[k], b = s.c.b[k];
        add(0, ia, b, tau, pi, X, H, W);
        if (slots > 1) {
            const double dtau = n * pi + n * mu * dpi - (n + 1.0) * dpi_prev;
            const cplx dH = s.k * (X - W);
            const cplx dX = s.k * (-(1.0 - nn1 / (kr * kr)) * H - X / kr);
            const cplx dW = s.k * (X - 2.0 * W) / kr;
            add(1, ia, b, tau, pi, dX, dH, dW);
            add(2, ia, b, dtau, dpi, X, H, W);
            if (slots > 3) {
                add(3, kI * s.c.a_x[k], s.c.b_x[k], tau, pi, X, H, W);
                add(4, kI * s.c.a_m[k], s.c.b_m[k], tau, pi, X, H, W);
            }
            const double dpi_next = ((2.0 * n + 1.0) * (pi + mu * dpi) - (n + 1.0) * dpi_prev) / n;
            dpi_prev = dpi;
            dpi = dpi_next;
        }
        const double pi_next = ((2.0 * n + 1.0) * mu * pi - (n + 1.0) * pi_prev) / n;
        pi_prev = pi;
        pi = pi_next;
    }
    return out;
}

}  // namespace

SphereOptics sphere_optics(const ModelParams& p, bool derivatives) {
    if (!(p.medium > 0.0) || !std::isfinite(p.medium))
        throw Error("Error: MediumIndex must be a positive finite number");
    if (!(p.index > 0.0) || !std::isfinite(p.index))
        throw Error("Error: a sphere's index must be a positive finite number");
    if (!(p.r > 0.0) || !(p.z > p.r) || !std::isfinite(p.z))
        throw Error("Error: a sphere needs a radius a > 0 and a height z > a above the focal plane");
    // A microscope's pixels in the sample plane are a fraction of a
    // wavelength; pixels far coarser see nothing of a bead's fringes but
    // aliases, and its table would have to follow every fringe between them.
    if (p.pix > 4.0 * p.lambda)
        throw Error("Error: 'sphere' needs pixels at most four wavelengths wide: pix is the pitch "
                    "in the sample plane (the camera's over the magnification), lambda the "
                    "wavelength in the medium");
    if (!(p.index <= kMostRelativeIndex * p.medium))
        throw Error("Error: a sphere's index over the medium's must be at most 20");
    SphereOptics s;
    s.k = kTwoPi / p.lambda;
    s.m = p.index / p.medium;
    s.x = s.k * p.r;
    if (!(s.x <= kMostSizeParameter))
        throw Error("Error: a sphere's size parameter 2*pi*a/lambda must be at most 500");
    s.c = mie_coefficients(s.m, s.x, derivatives);
    return s;
}

SphereField sphere_field_at(const SphereOptics& s, double dx, double dy, double z, double psi) {
    // The sphere's own frame: x' along the polarization.
    const double cp = std::cos(psi), sp = std::sin(psi);
    const double xr = dx * cp + dy * sp, yr = -dx * sp + dy * cp;
    const double rho = std::hypot(xr, yr), R = std::hypot(rho, z);
    const double mu = z / R, st = rho / R;
    const double cphi = rho > 0.0 ? xr / rho : 1.0, sphi = rho > 0.0 ? yr / rho : 0.0;
    const Series f = series(s, R, mu, 1);
    const cplx Er = cphi * st * f.r[0], Et = cphi * f.t[0], Ep = sphi * f.p[0];
    const cplx phase = std::polar(1.0, -s.k * z);
    SphereField out;
    out.par = (Er * st * cphi + Et * mu * cphi - Ep * sphi) * phase;
    out.perp = (Er * st * sphi + Et * mu * sphi + Ep * cphi) * phase;
    out.axial = (Er * mu - Et * st) * phase;
    return out;
}

namespace {

// A value and its derivatives along rho, z, the radius and the index.
struct Dual {
    std::array<cplx, 5> v{};
};
Dual operator+(const Dual& a, const Dual& b) {
    Dual o;
    for (int i = 0; i < 5; ++i) o.v[i] = a.v[i] + b.v[i];
    return o;
}
Dual operator-(const Dual& a, const Dual& b) {
    Dual o;
    for (int i = 0; i < 5; ++i) o.v[i] = a.v[i] - b.v[i];
    return o;
}
Dual operator*(const Dual& a, const Dual& b) {
    Dual o;
    o.v[0] = a.v[0] * b.v[0];
    for (int i = 1; i < 5; ++i) o.v[i] = a.v[0] * b.v[i] + a.v[i] * b.v[0];
    return o;
}

// Nodes a radian of the fastest oscillation: the field's phase kR turns
// at up to k sin(theta) along rho and the series' angular factors at up to
// (terms)/z. The values, with their rho slopes, are interpolated as cubic
// Hermite polynomials: at 5 nodes a radian the error is about 1e-6 of the
// field. Their rho derivative is the interpolant's own, so that the
// Jacobian is the derivative of the pattern the fit evaluates.
// The derivatives along z, the radius and the index are tabulated at the
// same nodes and interpolated from four (about 4e-5). At 3 nodes a radian
// (3e-4) a bead frame's search took another path in the radius-index
// valley and ran five times as long: the steps are sensitive there.
constexpr double kNodesPerRadian = 5.0;
// A table of more nodes (a sphere seen through pixels far coarser than its
// fringes, or a sensor far larger than its pattern) would take gigabytes:
// 2^22 nodes hold a sensor of 2000 wavelengths' radius at any angle.
constexpr double kMostNodes = 4194304.0;

// The radial functions A, B/rho^2 and Z/rho (each times e^(-ikz)) with their
// derivatives, at nodes (j + 1/2) h: all three are even in rho, so the
// nodes mirror about the axis and no node sits on it.
class SphereTable {
public:
    SphereTable(const SphereOptics& s, double z, double medium, double rho_max, bool derivatives) {
        const double s_max = rho_max / std::hypot(rho_max, z);
        const double rate = s.k * s_max + static_cast<double>(s.c.a.size()) / z;
        h_ = 1.0 / (kNodesPerRadian * rate);
        if (!(rho_max / h_ <= kMostNodes))
            throw Error("Error: a sphere's pattern over this sensor oscillates too fast to tabulate: "
                        "check lambda and pix (the pixel pitch in the sample plane), or fit a "
                        "smaller region");
        // Two nodes past the farthest pixel for the Hermite pair, three for
        // the four-point stencil.
        const std::size_t reach = static_cast<std::size_t>(rho_max / h_ + 0.5);
        values_.resize(reach + 3);
        if (derivatives) slopes_.resize(reach + 4);
        const std::size_t nv = values_.size(), total = nv + slopes_.size();
        const cplx e = std::polar(1.0, -s.k * z);
        parallel_for(
            total,
            [&](std::size_t first, std::size_t last) {
                for (std::size_t j = first; j < last; ++j) {
                    if (j < nv) {
                        const Node n = node((static_cast<double>(j) + 0.5) * h_, z, s, medium, e, 3);
                        for (int d = 0; d < 2; ++d) {
                            for (int q = 0; q < 3; ++q) {
                                values_[j].f[6 * d + 2 * q] = n[q].v[d].real();
                                values_[j].f[6 * d + 2 * q + 1] = n[q].v[d].imag();
                            }
                        }
                    } else {
                        const std::size_t i = j - nv;
                        const Node n = node((static_cast<double>(i) + 0.5) * h_, z, s, medium, e, 5);
                        for (int d = 0; d < 3; ++d) {
                            for (int q = 0; q < 3; ++q) {
                                slopes_[i].f[6 * d + 2 * q] = n[q].v[2 + d].real();
                                slopes_[i].f[6 * d + 2 * q + 1] = n[q].v[2 + d].imag();
                            }
                        }
                    }
                }
            },
            512);  // a node costs microseconds: small tables are not worth a thread
    }

    // The three functions at rho, each as (re, im) in f[2q], f[2q + 1]:
    // f[0..5] the values and f[6..11] their rho derivatives, from the
    // Hermite cubic; f[12..29] the derivatives along z, the radius and the
    // index by four-point Lagrange interpolation. Plain arithmetic on
    // doubles: these loops run for every pixel of every window.
    void at(double rho, bool derivatives, double* f) const {
        const double t = rho / h_ - 0.5;
        const double jf = std::floor(t);
        const double u = t - jf;
        // rho >= 0, so only the left node can lie across the axis, where the
        // rho slope of an even function changes sign.
        const long j = static_cast<long>(jf);
        const double* a = values_[static_cast<std::size_t>(j < 0 ? 0 : j)].f.data();
        const double* b = values_[static_cast<std::size_t>(j + 1)].f.data();
        const double sa = j < 0 ? -1.0 : 1.0;
        const double u2 = u * u, u3 = u2 * u;
        const double h00 = 2 * u3 - 3 * u2 + 1, h10 = (u3 - 2 * u2 + u) * h_ * sa, h01 = -2 * u3 + 3 * u2,
                     h11 = (u3 - u2) * h_;
        for (int m = 0; m < 6; ++m) f[m] = h00 * a[m] + h10 * a[m + 6] + h01 * b[m] + h11 * b[m + 6];
        if (!derivatives) return;
        const double g00 = (6 * u2 - 6 * u) / h_, g10 = (3 * u2 - 4 * u + 1) * sa, g11 = 3 * u2 - 2 * u;
        for (int m = 0; m < 6; ++m) f[m + 6] = g00 * (a[m] - b[m]) + g10 * a[m + 6] + g11 * b[m + 6];
        // The other derivatives from nodes j - 1 .. j + 2 (all even in rho).
        const double* n[4];
        for (int i = 0; i < 4; ++i) {
            const long idx = j - 1 + i;
            n[i] = slopes_[static_cast<std::size_t>(idx < 0 ? -1 - idx : idx)].f.data();
        }
        const double L0 = -u * (u - 1) * (u - 2) / 6, L1 = (u + 1) * (u - 1) * (u - 2) / 2,
                     L2 = -(u + 1) * u * (u - 2) / 2, L3 = (u + 1) * u * (u - 1) / 6;
        for (int m = 0; m < 18; ++m) f[m + 12] = L0 * n[0][m] + L1 * n[1][m] + L2 * n[2][m] + L3 * n[3][m];
    }

private:
    // Per node, (re, im) of the three functions: their values then their
    // rho slopes (values_); their derivatives along z, the radius, the
    // index (slopes_).
    struct ValueNode {
        std::array<double, 12> f;
    };
    struct SlopeNode {
        std::array<double, 18> f;
    };
    using Node = std::array<Dual, 3>;

    // The three functions at rho with their derivatives; slots 3 leaves
    // those along the radius and the index out.
    static Node node(double rho, double z, const SphereOptics& s, double medium, cplx e, int slots) {
        const double R = std::hypot(rho, z), mu = z / R, st = rho / R;
        const Series f = series(s, R, mu, slots);
        // From (R, mu) to (rho, z): dR/drho = sin, dR/dz = mu,
        // dmu/drho = -mu sin/R, dmu/dz = sin^2/R; x = k a, m = n_p/n_m.
        const auto lift = [&](const std::array<cplx, 5>& g) {
            Dual d;
            d.v[0] = g[0];
            d.v[1] = g[1] * st - g[2] * (mu * st / R);
            d.v[2] = g[1] * mu + g[2] * (st * st / R);
            d.v[3] = g[3] * s.k;
            d.v[4] = g[4] / medium;
            return d;
        };
        const auto real = [](double v, double d_rho, double d_z) {
            Dual d;
            d.v[0] = v;
            d.v[1] = d_rho;
            d.v[2] = d_z;
            return d;
        };
        const Dual St = lift(f.t), Sp = lift(f.p), Sr = lift(f.r);
        const Dual Mu = real(mu, -mu * st / R, st * st / R);
        const Dual Sin2 = real(st * st, 2 * mu * mu * st / R, -2 * mu * st * st / R);
        const Dual InvR = real(1 / R, -st / (R * R), -mu / (R * R));
        const Dual InvRho2 = real(1 / (rho * rho), -2 / (rho * rho * rho), 0.0);
        Dual Phase, Half;
        Phase.v[0] = e;
        Phase.v[2] = -kI * s.k * e;
        Half.v[0] = 0.5;
        // E_par = P cos^2 - Q sin^2 = (P - Q)/2 + cos(2 phi)(P + Q)/2 with
        // P = sin theta E_r' + cos theta St, Q = Sp; E_z = cos phi (cos theta E_r' - sin theta St).
        const Dual P = Sin2 * Sr + Mu * St;
        return {(P - Sp) * Half * Phase, (P + Sp) * Half * InvRho2 * Phase,
                (Mu * Sr - St) * InvR * Phase};
    }

    double h_ = 0;
    std::vector<ValueNode> values_;
    std::vector<SlopeNode> slopes_;
};

class SphereWindow final : public WindowPattern {
public:
    SphereWindow(const ModelParams& p, const NodeWindow& w, bool derivatives)
        : p_(p), w_(w), optics_(sphere_optics(p, derivatives)),
          table_(optics_, p.z, p.medium, farthest_node(p, w), derivatives), derivatives_(derivatives),
          cos_(std::cos(p.polarization)), sin_(std::sin(p.polarization)) {}

    std::size_t components() const override { return 3; }

    void column(std::size_t col, const JacobianColumn* out, PatternScratch&) const override {
        const double h = std::floor(p_.M * 0.5), g = std::floor(p_.N * 0.5);
        const double dy = (static_cast<double>(w_.col0 + col) - g) * p_.pix - p_.y;
        const bool derivatives = out[0].d_re[0] != nullptr;
        assert(derivatives_ || !derivatives);
        double f[30];
        for (std::size_t i = 0; i < w_.rows; ++i) {
            const double dx = (static_cast<double>(w_.row0 + i) - h) * p_.pix - p_.x;
            const double xr = dx * cos_ + dy * sin_, yr = -dx * sin_ + dy * cos_;
            const double rho = std::sqrt(xr * xr + yr * yr);
            table_.at(rho, derivatives, f);
            const double c2 = xr * xr - yr * yr, s2 = 2 * xr * yr;
            // The fit's terms from radial functions F = (A, B, Z) as (re,
            // im) pairs, each times its angular factor (1 - s is the field
            // along the polarization); so too their derivatives along z,
            // the radius and the index.
            const auto terms = [&](const double* F, double* v) {
                v[0] = -(F[0] + c2 * F[2]);
                v[1] = -(F[1] + c2 * F[3]);
                v[2] = s2 * F[2];
                v[3] = s2 * F[3];
                v[4] = xr * F[4];
                v[5] = xr * F[5];
            };
            double v[5 * 6 + 6];  // the terms, then along x, y, z, radius, index
            terms(f, v);
            for (int c = 0; c < 3; ++c) {
                out[c].re[i] = v[2 * c];
                out[c].im[i] = v[2 * c + 1];
            }
            if (!derivatives) continue;
            // Along the particle's x and y the offsets fall: d/dx = -d/d(dx);
            // rho's own derivative is (dx, dy)/rho.
            const double ux = rho > 0.0 ? dx / rho : 0.0, uy = rho > 0.0 ? dy / rho : 0.0;
            const double* G = f + 6;  // d/drho of A, B, Z
            const double ax = 2 * (xr * cos_ + yr * sin_), ay = 2 * (xr * sin_ - yr * cos_);
            const double bx = 2 * (cos_ * yr - sin_ * xr), by = 2 * (sin_ * yr + cos_ * xr);
            for (int part = 0; part < 2; ++part) {
                const double along = G[part] + c2 * G[2 + part], B = f[2 + part], Z = f[4 + part];
                v[6 + part] = along * ux + B * ax;
                v[8 + part] = -(s2 * G[2 + part] * ux + B * bx);
                v[10 + part] = -(xr * G[4 + part] * ux + cos_ * Z);
                v[12 + part] = along * uy + B * ay;
                v[14 + part] = -(s2 * G[2 + part] * uy + B * by);
                v[16 + part] = -(xr * G[4 + part] * uy + sin_ * Z);
            }
            for (int q = 2; q < 5; ++q) terms(f + 6 * q, v + 6 + 6 * q);
            for (int c = 0; c < 3; ++c) {
                for (int q = 0; q < 5; ++q) {
                    if (!out[c].d_re[q]) continue;
                    out[c].d_re[q][i] = v[6 + 6 * q + 2 * c];
                    out[c].d_im[q][i] = v[7 + 6 * q + 2 * c];
                }
            }
        }
    }

private:
    ModelParams p_;
    NodeWindow w_;
    SphereOptics optics_;
    SphereTable table_;
    bool derivatives_;
    double cos_, sin_;
};

}  // namespace

std::unique_ptr<WindowPattern> sphere_window_pattern(const ModelParams& p, const NodeWindow& w,
                                                     bool derivatives) {
    return std::make_unique<SphereWindow>(p, w, derivatives);
}

}  // namespace partiscope
