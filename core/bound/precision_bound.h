// Cramér-Rao lower bounds on the standard deviations of x, y, z and r of one
// particle estimated from one in-line hologram with white Gaussian noise:
// the 4-by-4 Fisher information of the model's analytic derivatives summed
// over the sensor pixels, inverted in closed form.
#pragma once

#include "model/particle_model.h"

namespace partiscope {

// The particle on its sensor (x, y from the sensor's centre), and:
struct BoundParams : ParticleOnSensor {
    double sigm = 0;    // noise standard deviation, in the data's units
    double n = 0;       // pixel-integration width in pixels (0: point samples) and,
                        // above 1, the sampling step; must be >= 0
    double A = 0;       // amplitude of the pattern in the data; 0: the model's own
};

struct Bounds {
    double deltax, deltay, deltaz, deltar;
};

// Derivatives of the model at one pixel with respect to x, y, z, r.
struct Derivatives {
    double dX, dY, dZ, dR;
};

// Constants of one call, shared by every pixel.
struct BoundConstants {
    double L;    // lambda z
    double k1;   // pi r / L
    double kz;   // -pi^2 r^2 / (L^2 z)
    double kxy;  // pi^2 r^2 / L^2
    double a;    // n pix / L: the pixel's width in the sinc argument
    double w;    // Fisher weight of one pixel: amplitude^2 / sigm^2
};

BoundConstants bound_constants(const BoundParams& p);

// The model's derivatives at the pixel with coordinates (xi, yi).
Derivatives pixel_derivatives(const BoundParams& p, const BoundConstants& k, double xi, double yi);

// The bounds, the pixel rows split over the processor's cores and the
// sines, cosines and J0 taken on vector units; within 1e-12 (relative) of
// the reference. Throws Error for a negative or NaN n, for which no model is
// defined.
Bounds precision_bounds(const BoundParams& p);

// Pixel by pixel in the defining order, with the C library's sin and cos.
namespace reference {
Bounds precision_bounds(const BoundParams& p);
}

}  // namespace partiscope
