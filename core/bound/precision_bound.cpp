#include "precision_bound.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "model/particle_jacobian.h"
#include "numerics/bessel.h"
#include "numerics/error.h"
#include "numerics/j0.h"
#include "numerics/parallel.h"
#include "numerics/vecmath.h"
#include "numerics/constants.h"

#ifdef _WIN32
// The Windows C runtime's J0; its header declares it only outside strict
// standard mode.
extern "C" double _j0(double);
#endif

namespace partiscope {
namespace {

// The C library's double-precision J0 (_j0 in the Windows runtime).
double library_j0(double v) {
#ifdef _WIN32
    return _j0(v);
#else
    return j0(v);
#endif
}

constexpr double kPi2 = 9.869604401089358;

// The ten distinct entries of the symmetric Fisher matrix over (x, y, z, r).
// Row by row of the upper triangle: xx, xy, xz, xr, yy, yz, yr, zz, zr, rr.
struct Fisher {
    std::array<double, 10> e{};

    void add(const Derivatives& d, double w) {
        const double g[4] = {d.dX, d.dY, d.dZ, d.dR};
        std::size_t k = 0;
        for (int i = 0; i < 4; ++i)
            for (int j = i; j < 4; ++j) e[k++] += g[i] * g[j] * w;
    }

    void merge(const Fisher& o) {
        for (std::size_t k = 0; k < e.size(); ++k) e[k] += o.e[k];
    }
};

// Square roots of the diagonal of the inverse, by cofactors. No pivoting and
// no test: a singular matrix gives NaN or infinite bounds.
Bounds invert(const Fisher& F) {
    const double Fxx = F.e[0], Fxy = F.e[1], Fxz = F.e[2], Fxr = F.e[3], Fyy = F.e[4],
                 Fyz = F.e[5], Fyr = F.e[6], Fzz = F.e[7], Fzr = F.e[8], Frr = F.e[9];
    const double det = Fxy * Fxy * Fzr * Fzr - Frr * Fzz * Fxy * Fxy + 2 * Frr * Fxy * Fxz * Fyz -
                       2 * Fxy * Fxz * Fyr * Fzr - 2 * Fxy * Fxr * Fyz * Fzr +
                       2 * Fzz * Fxy * Fxr * Fyr + Fxz * Fxz * Fyr * Fyr - Frr * Fyy * Fxz * Fxz -
                       2 * Fxz * Fxr * Fyz * Fyr + 2 * Fyy * Fxz * Fxr * Fzr +
                       Fxr * Fxr * Fyz * Fyz - Fzz * Fyy * Fxr * Fxr - Frr * Fxx * Fyz * Fyz +
                       2 * Fxx * Fyz * Fyr * Fzr - Fzz * Fxx * Fyr * Fyr - Fyy * Fxx * Fzr * Fzr +
                       Fxx * Fyy * Fzz * Frr;
    Bounds b;
    b.deltax = std::sqrt((Fyy * Fzz * Frr + 2 * Fyz * Fyr * Fzr - Frr * Fyz * Fyz -
                          Fzz * Fyr * Fyr - Fyy * Fzr * Fzr) / det);
    b.deltay = std::sqrt((Fxx * Fzz * Frr + 2 * Fxz * Fxr * Fzr - Frr * Fxz * Fxz -
                          Fzz * Fxr * Fxr - Fxx * Fzr * Fzr) / det);
    b.deltaz = std::sqrt((Fxx * Fyy * Frr + 2 * Fxy * Fxr * Fyr - Frr * Fxy * Fxy -
                          Fyy * Fxr * Fxr - Fxx * Fyr * Fyr) / det);
    b.deltar = std::sqrt((Fxx * Fyy * Fzz + 2 * Fxy * Fxz * Fyz - Fzz * Fxy * Fxy -
                          Fyy * Fxz * Fxz - Fxx * Fyz * Fyz) / det);
    return b;
}

// sin(pi a c)/(pi a c) of a pixel's aperture at coordinate c; a zero
// coordinate gives 1 and is replaced by 1e-20 in the terms that divide by it.
double aperture(double a, double& c) {
    if (c == 0.0) {
        c = 1e-20;
        return 1.0;
    }
    return std::sin(kPi * a * c) / a / c / kPi;
}

}  // namespace

BoundConstants bound_constants(const BoundParams& p) {
    BoundConstants k;
    k.L = p.lambda * p.z;
    const double L = k.L;
    k.k1 = kPi * p.r / L;
    k.kz = p.r * p.r * (-kPi2) / (L * L) / p.z;
    k.kxy = p.r * kPi2 * p.r / (L * L);
    k.a = p.n * p.pix / L;
    const double a0 = p.r * (kPi * p.r) * 0.5 / L;  // central amplitude pi r^2/(2L)
    k.w = p.A != 0.0 ? (1 / (a0 * a0)) * p.A * p.A / p.sigm / p.sigm : 1 / p.sigm / p.sigm;
    return k;
}

namespace {

// A pixel's aperture along one axis when the samples are integrated:
// sin(pi a c)/(pi a c), the cosine term of its derivative, and the
// coordinate the derivative terms divide by (1e-20 in place of 0).
struct Aperture {
    double S = 1, cosine = 1, coordinate = 0;
};

Aperture aperture_terms(double a, double c) {
    Aperture t;
    t.S = aperture(a, c);
    t.coordinate = c;
    t.cosine = std::cos(kPi * a * c);
    return t;
}

// The pixel's geometry: offsets from the particle, the Fresnel phase q and
// the Bessel argument v.
struct Geometry {
    double dx, dy, rho2, q, v;
};

Geometry geometry(const BoundParams& p, const BoundConstants& k, double xi, double yi) {
    Geometry g;
    g.dx = p.x - xi;
    g.dy = p.y - yi;
    g.rho2 = g.dx * g.dx + g.dy * g.dy;
    const double rho = std::sqrt(g.rho2);
    g.q = g.rho2 * kPi / k.L;
    g.v = rho * kTwoPi * p.r / k.L;
    return g;
}

// The derivatives from the pixel's terms: sin q, cos q, J1(v)/v and J0(v),
// and, for integrated samples, the two apertures.
Derivatives derivatives(const BoundParams& p, const BoundConstants& k, const Geometry& g,
                        double sinq, double cq, double Jq, double J0, const Aperture& ax,
                        const Aperture& ay) {
    const double q = g.q;
    const double s = q != 0.0 ? sinq / q : 1.0;
    Derivatives d;
    d.dR = k.k1 * s * q * J0;
    d.dZ = k.kz * g.rho2 * (Jq * cq + (J0 - Jq) * s);
    const double D = (J0 - 2 * Jq) * s + 2 * Jq * cq;
    if (p.n == 0.0) {
        d.dX = k.kxy * g.dx * D;
        d.dY = k.kxy * g.dy * D;
        return d;
    }
    // Integration over the pixel's width: sinc factors of the pixel's own
    // coordinates and their derivative terms.
    const double Sx = ax.S, Sy = ay.S, cx = ax.cosine, cy = ay.cosine;
    const double xi = ax.coordinate, yi = ay.coordinate;
    const double I = p.r * (kPi * p.r) / (2 * k.L) * 2 * Jq * s * q;  // the model value
    d.dZ = d.dZ * Sx * Sy + ((Sx - cx) * Sy + (Sy - cy) * Sx) * (I / p.z);
    d.dR = d.dR * Sx * Sy;
    d.dX = ((cx - Sx) * I / xi + (p.x - xi) * k.kxy * D * Sx) * Sy;
    d.dY = ((cy - Sy) * I / yi + (p.y - yi) * k.kxy * D * Sy) * Sx;
    return d;
}

// The same derivatives from the model's shared Jacobian: those of the real
// model's point samples, then the sum's own pixel apertures (of the pixel
// coordinates) with their terms.
Derivatives shared_derivatives(const BoundParams& p, const JacobianConstants& t, const Geometry& g, double sinq,
                               double cq, double Jq, double J0, const Aperture& ax,
                               const Aperture& ay) {
    const NodeJacobian nj = node_jacobian(t, -g.dx, -g.dy, g.v, Jq, J0, g.q, sinq, cq);
    Derivatives d{nj.d[0].re, nj.d[1].re, nj.d[2].re, nj.d[3].re};
    if (p.n == 0.0) return d;
    const double Sx = ax.S, Sy = ay.S, cx = ax.cosine, cy = ay.cosine;
    const double I = nj.s.re;  // the model value
    d.dZ = d.dZ * Sx * Sy + ((Sx - cx) * Sy + (Sy - cy) * Sx) * (I / p.z);
    d.dR = d.dR * Sx * Sy;
    d.dX = ((cx - Sx) * I / ax.coordinate + d.dX * Sx) * Sy;
    d.dY = ((cy - Sy) * I / ay.coordinate + d.dY * Sy) * Sx;
    return d;
}

// Rows of the sensor (or columns) the sum uses: every t-th visited one,
// starting with the first, as pixel coordinates.
std::vector<double> used_coordinates(double size, double t, double pix) {
    std::vector<double> used;
    const double half = std::floor(0.5 * size);
    double count = 0;
    for (double k = -half; k < half; k += 1.0, count += 1.0) {
        if (std::fmod(count, t) == 0.0) used.push_back(k * pix);
    }
    return used;
}

// What a sum over the sensor starts from: the constants of the call and
// the used rows' and columns' coordinates.
struct UsedGrid {
    BoundConstants k;
    std::vector<double> ys, xs;
};

UsedGrid used_grid(const BoundParams& p) {
    if (!(p.n >= 0.0)) throw Error("Error: n must be a non-negative number");
    // Above one pixel of integration width, every t-th row and, within it,
    // every t-th column is sampled, starting with the first of each.
    const double t = p.n > 1.0 ? std::trunc(p.n) : 1.0;
    return {bound_constants(p), used_coordinates(p.N, t, p.pix), used_coordinates(p.M, t, p.pix)};
}

}  // namespace

Derivatives pixel_derivatives(const BoundParams& p, const BoundConstants& k, double xi, double yi) {
    const Geometry g = geometry(p, k, xi, yi);
    const double Jq = besscylone(static_cast<float>(g.v), kCylThresholdFine, Quotient::double_precision);
    const Aperture ax = p.n == 0.0 ? Aperture{} : aperture_terms(k.a, xi);
    const Aperture ay = p.n == 0.0 ? Aperture{} : aperture_terms(k.a, yi);
    return derivatives(p, k, g, std::sin(g.q), std::cos(g.q), Jq, library_j0(g.v), ax, ay);
}

namespace reference {

Bounds precision_bounds(const BoundParams& p) {
    const UsedGrid s = used_grid(p);
    Fisher F;
    for (double yi : s.ys) {
        for (double xi : s.xs) F.add(pixel_derivatives(p, s.k, xi, yi), s.k.w);
    }
    return invert(F);
}

}  // namespace reference

// Rows are summed in fixed blocks, and the blocks' sums added in row order:
// the result does not depend on how many threads share the blocks. J0 comes
// from our vector form (within a few ulp of the C library's), row by row.
Bounds precision_bounds(const BoundParams& p) {
    const UsedGrid s = used_grid(p);
    const BoundConstants& k = s.k;
    const JacobianConstants t = jacobian_constants(p.z, p.r, p.lambda);
    const std::vector<double>& ys = s.ys;
    const std::vector<double>& xs = s.xs;
    const std::size_t nx = xs.size();
    std::vector<Aperture> ax(nx), ay(ys.size());
    if (p.n != 0.0) {
        for (std::size_t j = 0; j < nx; ++j) ax[j] = aperture_terms(k.a, xs[j]);
        for (std::size_t i = 0; i < ys.size(); ++i) ay[i] = aperture_terms(k.a, ys[i]);
    }
    constexpr std::size_t kRowsPerBlock = 8;
    const std::size_t blocks = (ys.size() + kRowsPerBlock - 1) / kRowsPerBlock;
    std::vector<Fisher> sums(blocks);
    parallel_for(blocks, [&](std::size_t first, std::size_t last) {
        std::vector<Geometry> g(nx);
        std::vector<double> q(nx), sq(nx), cq(nx), v0(nx), J0(nx), scratch(besscylone_scratch(nx));
        std::vector<float> v(nx), Jq(nx);
        for (std::size_t b = first; b < last; ++b) {
            const std::size_t row_end = std::min(ys.size(), (b + 1) * kRowsPerBlock);
            for (std::size_t i = b * kRowsPerBlock; i < row_end; ++i) {
                for (std::size_t j = 0; j < nx; ++j) {
                    g[j] = geometry(p, k, xs[j], ys[i]);
                    q[j] = g[j].q;
                    v[j] = static_cast<float>(g[j].v);
                    v0[j] = g[j].v;
                }
                sincos_array(q.data(), sq.data(), cq.data(), nx);
                j0_array(v0.data(), J0.data(), nx);
                besscylone_array(v.data(), Jq.data(), nx, kCylThresholdFine,
                                 Quotient::double_precision, scratch.data());
                for (std::size_t j = 0; j < nx; ++j) {
                    sums[b].add(shared_derivatives(p, t, g[j], sq[j], cq[j], Jq[j], J0[j], ax[j], ay[i]),
                                k.w);
                }
            }
        }
    });
    Fisher F;
    for (const Fisher& s : sums) F.merge(s);
    return invert(F);
}

}  // namespace partiscope
