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
#include <memory>
#include <vector>

#include "model/particle_pattern.h"

namespace partiscope {

// The table's nodes times the quadrature's order at the farthest one come
// to about 15 (rho r/(lambda z))^2: a few hundred thousand (tens of
// milliseconds) for windows of 1024x1024 sensors at Fresnel numbers up to
// 1. Patterns beyond this many oscillations are refused (Error): 100 holds
// a disc of 100 um at 2 cm in green light over a 1024x1024 sensor of
// 3.45 um pixels (56 there), and bounds the cost of any one pattern.
constexpr double kMostOscillations = 100.0;
// The disc's own phase across it, pi r^2/(lambda z), sets the quadrature's
// order too: Fresnel numbers beyond this are refused (Error).
constexpr double kMostFresnelNumber = 10.0;

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

    // The same at n distances, into out[4 i .. 4 i + 3] (D, then its
    // derivatives along rho, z and r, or D alone at out[4 i] when not
    // derivatives): the spherical phase's sines and cosines as one array.
    void at(const double* rho, std::size_t n, bool derivatives, std::complex<double>* out,
            PatternScratch& scratch) const;

private:
    double lambda_, z_, step_;
    // Per table node: I0, I1 = integral e^(i alpha t^2) J1(2 alpha rho t) t^2 dt,
    // I2 = integral e^(i alpha t^2) J0(2 alpha rho t) t^3 dt, and
    // e^(i alpha r^2) J0(2 alpha rho r) r (the edge's term, dI0/dr).
    std::vector<std::complex<double>> table_;
};

// The disc of p (x, y, z, r in metres, pixel width p.K) over window w: the
// term s = D P, P the pixel factor sinc(K pi pix dx/(lambda z))
// sinc(K pi pix dy/(lambda z)) of the node's offsets dx, dy when K > 0
// (else 1), and its derivatives.
std::unique_ptr<WindowPattern> disc_window_pattern(const ModelParams& p, const NodeWindow& w);

}  // namespace partiscope
