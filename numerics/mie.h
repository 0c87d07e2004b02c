// Lorenz-Mie scattering of a plane wave by a homogeneous sphere: the
// coefficients a_n and b_n of the scattered field's expansion, and the
// quantities that follow from them alone (efficiencies, the amplitude
// scattering matrix). Conventions: time factor e^(-i omega t), so an
// absorbing sphere has a relative index m with a positive imaginary part;
// x = k a is the size parameter in the medium.
#pragma once

#include <complex>
#include <cstddef>
#include <vector>

namespace partiscope {

// The terms a sum needs, from Wiscombe's criterion x + 4.05 x^(1/3) + 2:
// the series has converged to double precision beyond them.
std::size_t mie_terms(double x);

struct MieCoefficients {
    // Entry n - 1 holds the coefficient of order n, n = 1 .. mie_terms(x).
    std::vector<std::complex<double>> a, b;
    // With derivatives: da/dx, db/dx, da/dm, db/dm (m as a complex variable,
    // the coefficients being analytic in it). Empty otherwise.
    std::vector<std::complex<double>> a_x, b_x, a_m, b_m;
};

// The coefficients of a sphere of relative index m (not 0) and size
// parameter x > 0. The logarithmic derivative D_n(mx) comes from a downward
// recurrence (stable for any m), the Riccati-Bessel functions of x from
// upward ones (stable up to the criterion's order); derivatives are exact,
// from D_n' = n(n+1)/y^2 - 1 - D_n^2 and the functions' own recurrences.
MieCoefficients mie_coefficients(std::complex<double> m, double x, bool derivatives);

struct MieEfficiencies {
    double ext, sca, back, g;  // Q_ext, Q_sca, Q_back and the asymmetry parameter
};
MieEfficiencies mie_efficiencies(const MieCoefficients& c, double x);

// The amplitude scattering matrix's elements S1 and S2 at mu = cos(theta).
void mie_amplitudes(const MieCoefficients& c, double mu, std::complex<double>& S1,
                    std::complex<double>& S2);

}  // namespace partiscope
