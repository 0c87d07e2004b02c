#include "reference_model.h"

#include <cmath>
#include <cstdint>

#include "numerics/bessel.h"
#include "numerics/error.h"
#include "numerics/constants.h"

namespace partiscope {
namespace {

// Visits every node column by column, rows fastest: the order of the
// column-major layout, and the order in which the values are defined.
template <class Visit>
void for_each_node(const ModelParams& p, Visit visit) {
    const std::int64_t h = static_cast<std::int64_t>(std::floor(p.M * 0.5));
    const std::int64_t g = static_cast<std::int64_t>(std::floor(p.N * 0.5));
    const std::size_t rows = static_cast<std::size_t>(p.M);
    for (std::int64_t a = -g; a < g; ++a) {
        const std::size_t column = static_cast<std::size_t>(a + g) * rows;
        for (std::int64_t b = -h; b < h; ++b) {
            visit(b, a, column + static_cast<std::size_t>(b + h));
        }
    }
}

// The particle's terms at one node, shared by every form of the model.
struct Node {
    double dx, dy;
    double rho;
    float J;     // Bessel factor J1(u)/u, single precision
    double A;    // amplitude J pi r^2 c
    double phi;  // Fresnel phase pi rho^2 c
};

Node particle_node(double X, double Y, double x, double y, double r, double c, double threshold,
                   Quotient quotient) {
    Node n;
    n.dx = X - x;
    n.dy = Y - y;
    n.rho = std::sqrt(n.dx * n.dx + n.dy * n.dy);
    const float u = static_cast<float>((n.rho + n.rho) * kPi * r * c);
    n.J = besscylone(u, threshold, quotient);
    n.A = static_cast<double>(n.J) * kPi * r * r * c;
    n.phi = kPi * n.rho * n.rho * c;
    return n;
}

void particle_grid(const ModelParams& p, double c, bool complex_model, const GridOutputs& out) {
    const bool pixel_factor = p.K != 0.0;  // true for a NaN K as well
    for_each_node(p, [&](std::int64_t b, std::int64_t a, std::size_t i) {
        const Node n = particle_node(static_cast<double>(b) * p.pix, static_cast<double>(a) * p.pix,
                                     p.x, p.y, p.r, c, kCylThresholdCoarse,
                                     Quotient::single_precision);
        out.jinc[i] = n.J;
        const double P = pixel_factor ? pixel_aperture(p.K, p.pix, n.dx, c) * pixel_aperture(p.K, p.pix, n.dy, c)
                                      : 1.0;
        if (complex_model) {
            out.complex_re[i] = P * n.A * std::sin(n.phi);
            out.complex_im[i] = -P * n.A * std::cos(n.phi);
        } else {
            out.real_p[i] = std::sin(n.phi) * (P * n.A);
        }
    });
}

// The Fresnel impulse response (1/(i lambda z)) e^(i phi) of the grid origin.
void fresnel_kernel(const ModelParams& p, double c, bool complex_model, const GridOutputs& out) {
    const bool pixel_factor = p.K != 0.0;
    for_each_node(p, [&](std::int64_t b, std::int64_t a, std::size_t i) {
        double rho;
        double P = 1.0;
        if (pixel_factor) {
            // The squared index distance is rounded to single precision here,
            // as the kernel has always been defined with the pixel factor.
            const float q = static_cast<float>(b * b + a * a);
#ifdef _WIN32
            // The Windows build takes this root in single precision.
            rho = p.pix * static_cast<double>(std::sqrt(q));
#else
            rho = p.pix * std::sqrt(static_cast<double>(q));
#endif
            P = pixel_aperture(p.K, p.pix, static_cast<double>(b) * p.pix, c) *
                pixel_aperture(p.K, p.pix, static_cast<double>(a) * p.pix, c);
        } else {
            const double bd = static_cast<double>(b), ad = static_cast<double>(a);
            rho = p.pix * std::sqrt(bd * bd + ad * ad);
        }
        const double phi = kPi * rho * rho * c;
        if (complex_model) {
            out.complex_re[i] = P * c * std::sin(phi);
            out.complex_im[i] = -P * c * std::cos(phi);
        } else {
            out.real_p[i] = P * c * std::sin(phi);
        }
    });
}

}  // namespace

namespace reference {

void model_grid(const ModelParams& p, bool complex_model, const GridOutputs& out) {
    const double c = 1.0 / p.lambda / p.z;
    if (p.r > 0.0) particle_grid(p, c, complex_model, out);
    else fresnel_kernel(p, c, complex_model, out);
}

void detection_template(double* out, const ModelParams& p) {
    const double c = 1.0 / p.lambda / p.z;
    const bool pixel_factor = p.K != 0.0;
    for_each_node(p, [&](std::int64_t b, std::int64_t a, std::size_t i) {
        const Node n = particle_node(static_cast<double>(b) * p.pix, static_cast<double>(a) * p.pix,
                                     0.0, 0.0, p.r, c, kCylThresholdCoarse,
                                     Quotient::double_precision);
        const double P =
            pixel_factor ? pixel_aperture(1.0, p.pix, n.dx, c) * pixel_aperture(1.0, p.pix, n.dy, c) : 1.0;
        out[i] = std::sin(n.phi) * (P * n.A);
    });
}

void add_particle_field(double* field_re, double* field_im, const ModelParams& p) {
    if (!(p.r > 0.0)) throw Error("Error: one of values of R is not positive - please recheck the inputs");
    const double c = 1.0 / p.lambda / p.z;
    const bool pixel_factor = p.K > 0.0;
    for_each_node(p, [&](std::int64_t b, std::int64_t a, std::size_t i) {
        const Node n = particle_node(static_cast<double>(b) * p.pix, static_cast<double>(a) * p.pix,
                                     p.x, p.y, p.r, c, kCylThresholdFine,
                                     Quotient::double_precision);
        const double sx = pixel_factor ? pixel_aperture(p.K, p.pix, n.dx, c) : 1.0;
        const double sy = pixel_factor ? pixel_aperture(p.K, p.pix, n.dy, c) : 1.0;
        const double P = sx * sy;
        field_re[i] += P * n.A * std::sin(n.phi);
        field_im[i] += -P * n.A * std::cos(n.phi);
    });
}

}  // namespace reference

}  // namespace partiscope
