// The field diffracted by an opaque disc, without the far-field
// approximation of the aperture: under a unit plane wave of wavelength
// lambda, the field behind a disc of radius r at distance z is 1 - D, with
// the Fresnel form
//   D(rho) = (2 alpha/i) e^(i alpha rho^2) I0(rho),  alpha = pi/(lambda z),
//   I0(rho) = integral_0^r e^(i alpha t^2) J0(2 alpha rho t) t dt.
// Far from the disc (r^2/(lambda z) << 1) D tends to
// -i (pi r^2/(lambda z)) 2 J1(u)/u e^(i alpha rho^2), twice the toolbox's
// term; at Fresnel numbers near 1 the phase across the disc changes the
// whole pattern.
//
// A pattern is made for one depth and radius: I0 and the integrals its
// derivatives need are tabulated once over the radial distances wanted
// (Gauss-Legendre quadrature with enough nodes for the Bessel factor's
// oscillations) and interpolated (cubic, to about 1e-7 of the pattern)
// at each pixel.
#pragma once

#include <complex>
#include <cstddef>
#include <vector>

namespace partiscope {

class DiscPattern {
public:
    // The pattern of a disc of radius r at depth z for distances from its
    // axis up to rho_max (metres).
    DiscPattern(double lambda, double z, double r, double rho_max);

    // D at distance rho from the axis, and its derivatives along rho, z and
    // r (metres): the field and the columns of the fit's Jacobian.
    struct Value {
        std::complex<double> D, dD_drho, dD_dz, dD_dr;
    };
    Value at(double rho) const;

private:
    double lambda_, z_, r_, alpha_, step_;
    // Per table node: I0, I1 = integral e^(i alpha t^2) J1(2 alpha rho t) t^2 dt,
    // I2 = integral e^(i alpha t^2) J0(2 alpha rho t) t^3 dt, and
    // e^(i alpha r^2) J0(2 alpha rho r) r (the edge's term, dI0/dr).
    std::vector<std::complex<double>> table_;
};

}  // namespace partiscope
