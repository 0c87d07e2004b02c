#include "precision_bound.h"

#include <cmath>

#include "numerics/bessel.h"
#include "numerics/error.h"

namespace partiscope {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kPi2 = 9.869604401089358;
constexpr double kTwoPi = 6.283185307179586;

// The ten distinct entries of the symmetric Fisher matrix over (x, y, z, r).
struct Fisher {
    double xx = 0, xy = 0, xz = 0, xr = 0, yy = 0, yz = 0, yr = 0, zz = 0, zr = 0, rr = 0;

    void add(const Derivatives& d, double w) {
        xx += d.dX * d.dX * w;
        xy += d.dX * d.dY * w;
        xz += d.dX * d.dZ * w;
        xr += d.dX * d.dR * w;
        yy += d.dY * d.dY * w;
        yz += d.dY * d.dZ * w;
        yr += d.dY * d.dR * w;
        zz += d.dZ * d.dZ * w;
        zr += d.dZ * d.dR * w;
        rr += d.dR * d.dR * w;
    }
};

// Square roots of the diagonal of the inverse, by cofactors. No pivoting and
// no test: a singular matrix gives NaN or infinite bounds.
Bounds invert(const Fisher& F) {
    const double Fxx = F.xx, Fxy = F.xy, Fxz = F.xz, Fxr = F.xr, Fyy = F.yy, Fyz = F.yz,
                 Fyr = F.yr, Fzz = F.zz, Fzr = F.zr, Frr = F.rr;
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

Derivatives pixel_derivatives(const BoundParams& p, const BoundConstants& k, double xi, double yi) {
    const double L = k.L;
    const double dx = p.x - xi, dy = p.y - yi;
    const double rho2 = dx * dx + dy * dy;
    const double rho = std::sqrt(rho2);
    const double q = rho2 * kPi / L;           // Fresnel phase
    const double v = rho * kTwoPi * p.r / L;   // Bessel argument
    const double s = q != 0.0 ? std::sin(q) / q : 1.0;
    const double Jq = besscylone(static_cast<float>(v), kCylThresholdFine, Quotient::double_precision);
    const double J0 = j0(v);
    const double cq = std::cos(q);

    Derivatives d;
    d.dR = k.k1 * s * q * J0;
    d.dZ = k.kz * rho2 * (Jq * cq + (J0 - Jq) * s);
    const double D = (J0 - 2 * Jq) * s + 2 * Jq * cq;
    if (p.n == 0.0) {
        d.dX = k.kxy * dx * D;
        d.dY = k.kxy * dy * D;
        return d;
    }
    // Integration over the pixel's width: sinc factors of the pixel's own
    // coordinates and their derivative terms.
    const double Sx = aperture(k.a, xi), Sy = aperture(k.a, yi);
    const double cx = std::cos(kPi * k.a * xi), cy = std::cos(kPi * k.a * yi);
    const double I = p.r * (kPi * p.r) / (2 * L) * 2 * Jq * s * q;  // the model value
    d.dZ = d.dZ * Sx * Sy + ((Sx - cx) * Sy + (Sy - cy) * Sx) * (I / p.z);
    d.dR = d.dR * Sx * Sy;
    d.dX = ((cx - Sx) * I / xi + (p.x - xi) * k.kxy * D * Sx) * Sy;
    d.dY = ((cy - Sy) * I / yi + (p.y - yi) * k.kxy * D * Sy) * Sx;
    return d;
}

Bounds precision_bounds(const BoundParams& p) {
    if (!(p.n >= 0.0)) throw Error("Error: n must be a non-negative number");
    const BoundConstants k = bound_constants(p);
    // Above one pixel of integration width, every t-th row and, within it,
    // every t-th column is sampled, starting with the first of each.
    const double t = p.n > 1.0 ? std::trunc(p.n) : 1.0;
    const double hH = std::floor(0.5 * p.H), hW = std::floor(0.5 * p.W);
    Fisher F;
    double row = 0;
    for (double kk = -hH; kk < hH; kk += 1.0, row += 1.0) {
        if (std::fmod(row, t) != 0.0) continue;
        double col = 0;
        for (double c = -hW; c < hW; c += 1.0, col += 1.0) {
            if (std::fmod(col, t) != 0.0) continue;
            F.add(pixel_derivatives(p, k, c * p.pix, kk * p.pix), k.w);
        }
    }
    return invert(F);
}

}  // namespace partiscope
