// The derivatives of one particle's complex term with respect to its
// position, depth and radius, at one node: the one description of the
// model's Jacobian, used by the precision bound and by the fit.
//
// With c = 1/(lambda z), k = 2 pi r c, u = k rho, A0 = pi r^2 c, J = J1(u)/u,
// A = A0 J and phi = pi c rho^2, the term without pixel factor is
//     s0 = A e,   e = -i e^(i phi) = sin(phi) - i cos(phi),
// and, with J'(u) = (J0(u) - 2J)/u and de/dphi = i e = cos(phi) + i sin(phi),
//     ds0/dx = -dx (A0 k^2 g e + 2 pi c A i e),   g = (J0 - 2J)/u^2,
//     ds0/dy = -dy (the same bracket),
//     ds0/dz = -(A0 (J0 - J) e + A phi i e) / z,
//     ds0/dr = (A0 J0 / r) e,
// where dx = X - x, dy = Y - y are the node's offsets from the particle.
// g tends to -1/8 on the axis. Where it multiplies sin(phi) it is written
// (J0 - 2J) sin(phi)/(phi) pi c / k^2, as the precision bound's sums take it;
// where it multiplies cos(phi) it is taken from its series below u = 0.5,
// where J0 - 2J cancels.
#pragma once

#include "numerics/constants.h"

namespace partiscope {

// The particle's constants shared by every node.
struct JacobianConstants {
    double c;   // 1/(lambda z)
    double k;   // 2 pi r c
    double A0;  // pi r^2 c
    double z, r;
};

inline JacobianConstants jacobian_constants(double z, double r, double lambda) {
    JacobianConstants t;
    t.c = 1.0 / lambda / z;
    t.k = 2.0 * kPi * r * t.c;
    t.A0 = kPi * r * r * t.c;
    t.z = z;
    t.r = r;
    return t;
}

// (J0(u) - 2 J1(u)/u) / u^2: J'(u)/u, finite on the axis.
// Both forms are computed and one selected, so that loops over nodes stay
// vector code.
inline double bessel_slope_ratio(double u, double J, double J0) {
    const double u2 = u * u;
    const double series = -0.125 + u2 * (1.0 / 96.0 + u2 * (-1.0 / 3072.0 + u2 * (1.0 / 184320.0)));
    const double ratio = (J0 - J - J) / (u2 < 0.25 ? 1.0 : u2);
    return u2 < 0.25 ? series : ratio;
}

// A complex value as its two real parts.
struct Pair {
    double re, im;
};

// The term s0 and its four derivatives (x, y, z, r in metres) at a node with
// offsets (dx, dy), Bessel argument u (in double), the model's Bessel factor
// J, J0(u), the phase phi and its sine and cosine.
struct NodeJacobian {
    Pair s, d[4];
};

inline NodeJacobian node_jacobian(const JacobianConstants& t, double dx, double dy, double u,
                                  double J, double J0, double phi, double sinphi, double cosphi) {
    const double A = t.A0 * J;
    const Pair e{sinphi, -cosphi}, ie{cosphi, sinphi};
    // The lateral bracket A0 k^2 g e + 2 pi c A ie. In its real part
    // A0 k^2 g sin(phi) = pi c A0 (J0 - 2J) sin(phi)/phi, finite on the axis
    // without the series; the imaginary part needs g itself.
    const double sinc_phi = phi != 0.0 ? sinphi / (phi != 0.0 ? phi : 1.0) : 1.0;
    const double radial_re = kPi * t.c * t.A0 * (J0 - J - J) * sinc_phi;
    const double radial_im = -t.A0 * t.k * t.k * bessel_slope_ratio(u, J, J0) * cosphi;
    const double chirp = kTwoPi * t.c * A;
    const Pair lateral{radial_re + chirp * ie.re, radial_im + chirp * ie.im};
    const double amplitude_z = t.A0 * (J0 - J), phase_z = A * phi;
    NodeJacobian n;
    n.s = {A * e.re, A * e.im};
    n.d[0] = {-dx * lateral.re, -dx * lateral.im};
    n.d[1] = {-dy * lateral.re, -dy * lateral.im};
    n.d[2] = {-(amplitude_z * e.re + phase_z * ie.re) / t.z,
              -(amplitude_z * e.im + phase_z * ie.im) / t.z};
    const double amplitude_r = t.A0 * J0 / t.r;
    n.d[3] = {amplitude_r * e.re, amplitude_r * e.im};
    return n;
}

}  // namespace partiscope
