// The hologram of a homogeneous sphere under a microscope: Lorenz-Mie
// scattering of a linearly polarized plane wave, in the full near-field
// form (spherical Hankel functions h_n(kR), no far-field approximation).
//
// The sphere (radius a, index n_p) sits in a medium of index n_m at height
// z above the focal plane, upstream; the wave (wavelength lambda in the
// medium, k = 2 pi/lambda) travels from the sphere to the plane, polarized
// along e = (cos psi, sin psi, 0). At a point of the plane at offsets
// (dx, dy) from the sphere's axis the scattered field, relative to the
// illumination there, is E = E_s(dx, dy, z) e^(-ikz); the recorded intensity
// is |e + alpha E|^2 = |1 + alpha E_par|^2 + |alpha E_perp|^2 + |alpha E_z|^2,
// E_par along e, E_perp across it, E_z along the axis.
//
// With the sphere's own angle phi' from e, the components are
//   E_par = A(rho) + cos(2 phi') B(rho),  E_perp = sin(2 phi') B(rho),
//   E_z = cos(phi') Z(rho),
// A, B and Z radial functions of the distance rho from the axis at depth z:
// the pattern needs them once per sphere, on a table, and interpolates.
#pragma once

#include <complex>
#include <cstddef>
#include <memory>
#include <vector>

#include "model/particle_pattern.h"
#include "numerics/mie.h"

namespace partiscope {

// The largest size parameter k a a pattern is made for: 500 (a 20 um bead
// in green light) bounds the series at about 540 terms.
constexpr double kMostSizeParameter = 500.0;

// Relative indices of matter in a medium are of order 1; beyond this the
// value is a mistake (a unit, a swapped argument), refused (Error).
constexpr double kMostRelativeIndex = 20.0;

// The sphere of p: radius p.r, index p.index, in a medium of index p.medium.
struct SphereOptics {
    double k;                        // 2 pi/lambda, lambda in the medium
    std::complex<double> m;          // n_p/n_m
    double x;                        // k a
    MieCoefficients c;
};
// Checks the sphere (Error: lengths, indices, a below z, the size parameter)
// and computes its coefficients, with their derivatives when asked.
SphereOptics sphere_optics(const ModelParams& p, bool derivatives);

// The scattered field's three components at offsets (dx, dy) and depth z
// (metres), by the series summed at that point: the plain evaluation the
// simulator uses and the pattern's table is checked against.
struct SphereField {
    std::complex<double> par, perp, axial;
};
SphereField sphere_field_at(const SphereOptics& s, double dx, double dy, double z, double psi);

// The sphere of p over window w, point samples at the nodes: the fit's three
// terms, s = -alpha-free E_par (so that 1 - s is the field along e) and the
// cross components E_perp, E_z, with their derivatives along x, y, z, the
// radius and the index (derivatives false: values alone, from a table of
// the values alone).
std::unique_ptr<WindowPattern> sphere_window_pattern(const ModelParams& p, const NodeWindow& w,
                                                     bool derivatives = true);

}  // namespace partiscope
