// Cramér-Rao bounds: reference values, scaling laws, the derivatives against
// finite differences of the model, and the sampling of the sensor.
#include <gtest/gtest.h>

#include "platform.h"

#include <cmath>

#include "core/bound/precision_bound.h"
#include "numerics/error.h"

using namespace partiscope;

namespace {

// x = y = 0, z = 10 cm, r = 50 um, 10 um pixels, 500 nm, 64 x 64, sigm = 1.
BoundParams setup(double n = 0) {
    BoundParams p;
    p.z = 0.1;
    p.r = 5e-5;
    p.pix = 1e-5;
    p.lambda = 5e-7;
    p.M = 64;
    p.N = 64;
    p.sigm = 1;
    p.n = n;
    return p;
}

void expect_relative(double value, double expected, double rel) {
    EXPECT_NEAR(value, expected, std::fabs(expected) * rel) << expected;
}

void expect_same(const Bounds& a, const Bounds& b, double rel) {
    expect_relative(a.deltax, b.deltax, rel);
    expect_relative(a.deltay, b.deltay, rel);
    expect_relative(a.deltaz, b.deltaz, rel);
    expect_relative(a.deltar, b.deltar, rel);
}

}  // namespace

TEST(PrecisionBound, ReferenceValues) {
    const struct {
        double n, dxy, dz, dr;
    } cases[] = {{0, 1.9313e-05, 0.0097153, 1.3140e-05},
                 {1, 1.9416e-05, 0.0097751, 1.3169e-05},
                 {2, 3.9591e-05, 0.020007, 2.6511e-05}};
    for (const auto& c : cases) {
        const Bounds b = precision_bounds(setup(c.n));
        expect_relative(b.deltax, c.dxy, 5e-5);
        expect_relative(b.deltay, b.deltax, 1e-12);
        expect_relative(b.deltaz, c.dz, 5e-5);
        expect_relative(b.deltar, c.dr, 5e-5);
    }
}

TEST(PrecisionBound, ScalesWithNoiseAndAmplitude) {
    BoundParams p = setup(1);
    p.x = 3e-6;
    p.y = -7e-6;
    const Bounds base = precision_bounds(p);
    p.sigm = 2;
    const Bounds noisier = precision_bounds(p);
    expect_same(noisier, {2 * base.deltax, 2 * base.deltay, 2 * base.deltaz, 2 * base.deltar}, 1e-12);
    // The model's own central amplitude pi r^2/(2 lambda z) is what A = 0 means.
    p.sigm = 1;
    p.A = 3.141592653589793 * p.r * p.r / (2 * p.lambda * p.z);
    expect_same(precision_bounds(p), base, 1e-12);
    const Bounds at_a = precision_bounds(p);
    p.A *= 2;
    expect_same(precision_bounds(p),
                {at_a.deltax / 2, at_a.deltay / 2, at_a.deltaz / 2, at_a.deltar / 2}, 1e-12);
}

// For n = 0 the derivatives are those of m = (pi r^2/L) J1(v)/v sin(q) with
// respect to the particle's x, y, z and r. Central differences of that model
// in double precision agree to 1e-5 of the largest derivative: the analytic
// form carries J1(v)/v in single precision.
TEST(PrecisionBound, DerivativesMatchFiniteDifferences) {
    const auto model = [](double x, double y, double z, double r, double xi, double yi) {
        const double L = 5e-7 * z, dx = x - xi, dy = y - yi;
        const double rho = std::sqrt(dx * dx + dy * dy);
        const double v = 2 * test::kPi * r * rho / L, q = test::kPi * rho * rho / L;
        const double jinc = v < 1e-8 ? 0.5 : test::library_j1(v) / v;
        return test::kPi * r * r / L * jinc * std::sin(q);
    };
    BoundParams p = setup(0);
    p.x = 1.7e-5;
    p.y = -2.3e-5;
    const BoundConstants k = bound_constants(p);
    for (auto [xi, yi] : {std::pair{1e-4, 2e-5}, {-3e-4, 1.5e-4}, {5e-5, -5e-5}, {0.0, 0.0}}) {
        const Derivatives d = pixel_derivatives(p, k, xi, yi);
        const double hx = 1e-9, hz = 1e-7, hr = 1e-10;
        const double fx = (model(p.x + hx, p.y, p.z, p.r, xi, yi) - model(p.x - hx, p.y, p.z, p.r, xi, yi)) / (2 * hx);
        const double fy = (model(p.x, p.y + hx, p.z, p.r, xi, yi) - model(p.x, p.y - hx, p.z, p.r, xi, yi)) / (2 * hx);
        const double fz = (model(p.x, p.y, p.z + hz, p.r, xi, yi) - model(p.x, p.y, p.z - hz, p.r, xi, yi)) / (2 * hz);
        const double fr = (model(p.x, p.y, p.z, p.r + hr, xi, yi) - model(p.x, p.y, p.z, p.r - hr, xi, yi)) / (2 * hr);
        const double scale = std::max({std::fabs(fx), std::fabs(fy), std::fabs(fz) * 1e3, std::fabs(fr)});
        EXPECT_NEAR(d.dX, fx, 1e-5 * scale) << xi << "," << yi;
        EXPECT_NEAR(d.dY, fy, 1e-5 * scale) << xi << "," << yi;
        EXPECT_NEAR(d.dZ, fz, 1e-5 * scale) << xi << "," << yi;
        EXPECT_NEAR(d.dR, fr, 1e-5 * scale) << xi << "," << yi;
    }
}

TEST(PrecisionBound, SensorSamplingAndDegenerateSizes) {
    // Below two pixels no pixel is used: F = 0 and every bound is NaN.
    for (auto [W, H] : {std::pair{1.0, 64.0}, {64.0, 1.9}, {0.0, 0.0}}) {
        BoundParams p = setup();
        p.M = W;
        p.N = H;
        const Bounds b = precision_bounds(p);
        EXPECT_TRUE(std::isnan(b.deltax) && std::isnan(b.deltay) && std::isnan(b.deltaz) &&
                    std::isnan(b.deltar));
    }
    // An odd size leaves its last column out; n below 2 uses every pixel.
    BoundParams p = setup(1);
    p.x = 4e-6;
    p.M = 5;
    p.N = 6;
    const Bounds five = precision_bounds(p);
    p.M = 4;
    expect_same(precision_bounds(p), five, 0);
    // n = 1.5 samples every pixel (slightly wider ones): close to n = 1; n = 2
    // samples a quarter of them: about twice the bounds.
    p.M = 64;
    p.N = 64;
    const Bounds one = precision_bounds(p);
    p.n = 1.5;
    EXPECT_LT(precision_bounds(p).deltaz / one.deltaz, 1.1);
    p.n = 2;
    EXPECT_GT(precision_bounds(p).deltaz / one.deltaz, 1.8);
}

TEST(PrecisionBound, RejectsUndefinedIntegrationWidth) {
    for (double n : {-1.0, -1e-9, std::nan("")}) {
        BoundParams p = setup();
        p.n = n;
        EXPECT_THROW(precision_bounds(p), Error) << n;
    }
}

// The threaded, vectorised sum against the pixel-by-pixel reference, for
// every sampling mode, and independent of the thread count.
TEST(PrecisionBound, FastSumAgreesWithTheReference) {
    for (double n : {0.0, 1.0, 2.0, 3.5}) {
        BoundParams p = setup(n);
        p.M = 200;
        p.N = 157;
        p.x = 1.3e-5;
        p.y = -4.1e-5;
        const Bounds ref = reference::precision_bounds(p);
        const auto on = [&](unsigned threads) {
            const UseContext use(test::on_threads(threads));
            return precision_bounds(p);
        };
        const Bounds one = on(1), three = on(3);
        expect_same(one, ref, 1e-12);
        expect_same(three, one, 0);
    }
}
