#include "numerics/mie.h"

#include <cmath>

#include "numerics/error.h"

namespace partiscope {

using cplx = std::complex<double>;

std::size_t mie_terms(double x) {
    return static_cast<std::size_t>(std::ceil(x + 4.05 * std::cbrt(x) + 2.0));
}

namespace {

// D_n(y) = psi_n'(y)/psi_n(y) for n = 0 .. terms, downward from an order
// beyond both the terms and the criterion's order for |y|: an error in the
// start value decays only once the order exceeds |y| by a few |y|^(1/3),
// and starting at |y| itself costs digits near n = |y| (1e-6 of Q at x = 100,
// 3e-3 at x = 10000 for water).
std::vector<cplx> log_derivative(cplx y, std::size_t terms) {
    const std::size_t start = std::max(terms, mie_terms(std::abs(y))) + 16;
    std::vector<cplx> D(terms + 1);
    cplx d = 0.0;
    for (std::size_t n = start; n > 0; --n) {
        const cplx nu = static_cast<double>(n) / y;
        d = nu - 1.0 / (d + nu);
        if (n - 1 <= terms) D[n - 1] = d;
    }
    return D;
}

}  // namespace

MieCoefficients mie_coefficients(cplx m, double x, bool derivatives) {
    if (!(x > 0.0) || !std::isfinite(x)) throw Error("Error: a sphere's size parameter must be positive");
    if (m == 0.0 || !std::isfinite(m.real()) || !std::isfinite(m.imag()))
        throw Error("Error: a sphere's relative index must be finite and not 0");
    // The downward recurrence starts beyond |m x|: a bound on its length.
    if (!(std::abs(m) * x <= 1e6))
        throw Error("Error: a sphere's |m| x must be at most 1e6 (index times size parameter)");
    const std::size_t terms = mie_terms(x);
    const cplx y = m * x;
    const std::vector<cplx> D = log_derivative(y, terms);
    MieCoefficients c;
    c.a.resize(terms);
    c.b.resize(terms);
    if (derivatives) {
        c.a_x.resize(terms);
        c.b_x.resize(terms);
        c.a_m.resize(terms);
        c.b_m.resize(terms);
    }
    // psi_{n-1}, psi_n and xi_{n-1}, xi_n of x, xi = psi - i chi.
    double psi_prev = std::cos(x), psi = std::sin(x);
    cplx xi_prev(std::cos(x), std::sin(x)), xi(std::sin(x), -std::cos(x));
    for (std::size_t n = 1; n <= terms; ++n) {
        const double nd = static_cast<double>(n);
        const double psi_next = (2.0 * nd - 1.0) / x * psi - psi_prev;
        const cplx xi_next = (2.0 * nd - 1.0) / x * xi - xi_prev;
        psi_prev = psi;
        psi = psi_next;
        xi_prev = xi;
        xi = xi_next;
        const cplx Dn = D[n];
        const cplx ga = Dn / m + nd / x, gb = m * Dn + nd / x;
        const cplx den_a = ga * xi - xi_prev, den_b = gb * xi - xi_prev;
        c.a[n - 1] = (ga * psi - psi_prev) / den_a;
        c.b[n - 1] = (gb * psi - psi_prev) / den_b;
        if (!derivatives) continue;
        // Along x: psi_n' = psi_{n-1} - n psi_n/x, psi_{n-1}' = n psi_{n-1}/x - psi_n,
        // the same for xi; along m, only D_n(mx) moves.
        const cplx dD = nd * (nd + 1.0) / (y * y) - 1.0 - Dn * Dn;  // D_n'(y)
        const double psi_x = psi_prev - nd * psi / x, psi_prev_x = nd * psi_prev / x - psi;
        const cplx xi_x = xi_prev - nd * xi / x, xi_prev_x = nd * xi_prev / x - xi;
        const cplx ga_x = dD - nd / (x * x), gb_x = m * m * dD - nd / (x * x);
        const cplx ga_m = dD * x / m - Dn / (m * m), gb_m = Dn + m * x * dD;
        const cplx a = c.a[n - 1], b = c.b[n - 1];
        c.a_x[n - 1] = (ga_x * psi + ga * psi_x - psi_prev_x - a * (ga_x * xi + ga * xi_x - xi_prev_x)) / den_a;
        c.b_x[n - 1] = (gb_x * psi + gb * psi_x - psi_prev_x - b * (gb_x * xi + gb * xi_x - xi_prev_x)) / den_b;
        c.a_m[n - 1] = ga_m * (psi - a * xi) / den_a;
        c.b_m[n - 1] = gb_m * (psi - b * xi) / den_b;
    }
    return c;
}

MieEfficiencies mie_efficiencies(const MieCoefficients& c, double x) {
    double ext = 0, sca = 0, g = 0;
    cplx back = 0;
    const std::size_t terms = c.a.size();
    for (std::size_t k = 0; k < terms; ++k) {
        const double n = static_cast<double>(k + 1);
        ext += (2 * n + 1) * (c.a[k] + c.b[k]).real();
        sca += (2 * n + 1) * (std::norm(c.a[k]) + std::norm(c.b[k]));
        back += (2 * n + 1) * (k % 2 == 0 ? -1.0 : 1.0) * (c.a[k] - c.b[k]);
        g += (2 * n + 1) / (n * (n + 1)) * (c.a[k] * std::conj(c.b[k])).real();
        if (k + 1 < terms)
            g += n * (n + 2) / (n + 1) *
                 (c.a[k] * std::conj(c.a[k + 1]) + c.b[k] * std::conj(c.b[k + 1])).real();
    }
    const double x2 = x * x;
    return {2 * ext / x2, 2 * sca / x2, std::norm(back) / x2, 4 * g / (x2 * (2 * sca / x2))};
}

void mie_amplitudes(const MieCoefficients& c, double mu, cplx& S1, cplx& S2) {
    S1 = S2 = 0.0;
    double pi_prev = 0.0, pi = 1.0;
    for (std::size_t k = 0; k < c.a.size(); ++k) {
        const double n = static_cast<double>(k + 1);
        const double tau = n * mu * pi - (n + 1) * pi_prev;
        const double f = (2 * n + 1) / (n * (n + 1));
        S1 += f * (c.a[k] * pi + c.b[k] * tau);
        S2 += f * (c.a[k] * tau + c.b[k] * pi);
        const double pi_next = ((2 * n + 1) * mu * pi - (n + 1) * pi_prev) / n;
        pi_prev = pi;
        pi = pi_next;
    }
}

}  // namespace partiscope
