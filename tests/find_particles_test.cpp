// Finding particles on small simulated plates: all found and measured
// within their errors, no ghost of the wrap-around, nothing on noise.
#include <gtest/gtest.h>

#include "platform.h"

#include <fftw3.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "core/find/find_particles.h"
#include "core/optics/disc_plate.h"
#include "core/synthesis/plate_synthesis.h"
#include "numerics/error.h"

using namespace partiscope;

namespace {

// synthplate's plates are of the toolbox's model: fitted with it.
FindOptions toolbox_find() {
    FindOptions o;
    o.particle = ParticleKind::toolbox;
    return o;
}

constexpr double kLambda = 6.328e-7, kPix = 6.7e-6;
constexpr std::size_t kSide = 192;

// A plate as recorded: level kept, noise of standard deviation 1/SNR.
std::vector<double> plate(const std::vector<double>& table, std::size_t side = kSide,
                          double snr = 20, std::uint32_t seed = 5) {
    SynthParams s;
    s.n = static_cast<int>(table.size() / 4);
    s.lambda = kLambda;
    s.pix = kPix;
    s.sX = s.sY = side;
    s.I0 = 1;
    s.SNR = snr;
    s.coordinates = table.data();
    s.meanh = 1;
    std::vector<double> hol(side * side), noise(hol.size()), particles(table.size());
    double mean = 0;
    synthesize_plate(s, seed, {hol.data(), particles.data(), &mean, noise.data()});
    return hol;
}

struct Search {
    std::vector<double> depths = {0.03, 0.04, 0.05, 0.06, 0.07}, radii = {2e-5, 4e-5};
    FindInput input(const std::vector<double>& hol) const {
        FindInput in;
        in.hol = hol.data();
        in.M = in.N = kSide;
        in.lambda = kLambda;
        in.pix = kPix;
        in.depths = depths.data();
        in.nz = depths.size();
        in.radii = radii.data();
        in.nr = radii.size();
        return in;
    }
};

}  // namespace

// Every particle of the table found once, each coordinate within four
// standard errors of the truth.
static void expect_measured(const std::vector<double>& table, const FindResult& r) {
    const std::size_t n = table.size() / 4;
    ASSERT_EQ(r.n, n) << r.message;
    for (std::size_t k = 0; k < n; ++k) {
        // The found particle nearest to the true one.
        std::size_t j = 0;
        double best = 1e300;
        for (std::size_t i = 0; i < r.n; ++i) {
            const double d = std::hypot(r.p[i] - table[k], r.p[i + r.n] - table[k + n]);
            if (d < best) {
                best = d;
                j = i;
            }
        }
        for (std::size_t q = 0; q < 4; ++q)
            EXPECT_LE(std::fabs(r.p[j + q * r.n] - table[k + q * n]), 4 * r.se[j + q * r.n])
                << "particle " << k << " coordinate " << q;
        EXPECT_TRUE(r.converged[j]);
        EXPECT_GT(r.score[j], toolbox_find().threshold);
    }
}

// Two particles, one near an edge (its pattern wraps around in the scan's
// circular correlation), a dead pixel: both found, no ghost at the opposite
// edge.
TEST(FindParticles, FindsAndMeasuresEveryParticle) {
    const std::vector<double> table = {-30.4, 88.6, 25.2, -40.3, 0.045, 0.055, 3e-5, 2.5e-5};
    std::vector<double> hol = plate(table);
    hol[1234] = std::nan("");
    const Search s;
    const FindResult r = find_particles(s.input(hol), toolbox_find(), FFTW_ESTIMATE);
    expect_measured(table, r);
    EXPECT_EQ(r.pixels_ignored, 1u);
    EXPECT_NEAR(r.sigma, 1.0 / 20, 0.005);
}

// A weaker particle among the central Fresnel zones of a stronger one is
// not a split of the stronger pattern: the search keeps both.
TEST(FindParticles, KeepsAParticleAmongAStrongerOnesZones) {
    const std::vector<double> table = {-10.3, 21.2, 4.6, 19.7, 0.05, 0.062, 4e-5, 2.2e-5};
    const Search s;
    expect_measured(table, find_particles(s.input(plate(table)), toolbox_find(), FFTW_ESTIMATE));
}

// A particle 30 pixels beyond the sensor's edge, found and measured by the
// part of its pattern on the sensor; a search of the sensor alone misses it.
TEST(FindParticles, FindsAParticleBeyondTheEdge) {
    const std::vector<double> table = {-126.3, 20.2, -10.5, 30.8, 0.05, 0.06, 4e-5, 3e-5};
    const std::vector<double> hol = plate(table);
    const Search s;
    expect_measured(table, find_particles(s.input(hol), toolbox_find(), FFTW_ESTIMATE));
    FindOptions sensor_only = toolbox_find();
    sensor_only.margin = 0;
    const FindResult r = find_particles(s.input(hol), sensor_only, FFTW_ESTIMATE);
    ASSERT_EQ(r.n, 1u);
    EXPECT_NEAR(r.p[0], 20.2, 1.0);
}

// Three particles beyond the edges of a 512-pixel plate and one inside: the
// outer ones wait for the pass after the inner one, and a peak on the sensor
// that a pass dropped (the misfit of an outer pattern) does not keep them
// waiting: all four are measured.
TEST(FindParticles, FindsParticlesBeyondTheEdgeOnceThoseInsideAreFitted) {
    const std::vector<double> table = {-203.18, -314.32, -283.66, -105.80, 129.21, -38.63, -252.10,
                                       -307.23, 0.06352, 0.07984, 0.11249, 0.11234, 47.2e-6,
                                       51.0e-6, 54.9e-6, 27.2e-6};
    Search s;
    s.depths = {0.04, 0.05, 0.06, 0.07, 0.08, 0.09, 0.1, 0.11, 0.12, 0.13, 0.14, 0.15, 0.16};
    s.radii = {2e-5, 4e-5, 6e-5};
    const std::vector<double> hol = plate(table, 512, 5, 58);
    FindInput in = s.input(hol);
    in.M = in.N = 512;
    expect_measured(table, find_particles(in, toolbox_find(), FFTW_ESTIMATE));
}

// Further out the visible fringes lie many zones from the centre, where
// the fit's basin is a pixel and a percent of depth wide: from the stack's
// coarse depths alone this one ended 129 standard errors off in depth.
TEST(FindParticles, MeasuresAPatternCutToItsOuterFringes) {
    const std::vector<double> table = {-132.0, -18.0, 0.044, 47e-6};
    expect_measured(table, find_particles(Search().input(plate(table)), toolbox_find(), FFTW_ESTIMATE));
}

// Two discs whose patterns span a small sensor (3.45 um pixels, Fresnel
// zones 80 pixels wide): templates centred beyond the edge see a few broad
// fringes of them and score two thirds as high. Taken in the same pass they
// drew the joint fit away; both discs were lost to nine rows outside.
TEST(FindParticles, BroadPatternsAreNotTakenForParticlesBeyondTheEdge) {
    const std::size_t side = 160;
    const std::vector<double> table = {-5.78, 31.01, -16.87, 38.49, 0.1456, 0.1565, 83.2e-6, 78e-6};
    DiscPlateInput plate_in;
    plate_in.lambda = 532e-9;
    plate_in.pix = 3.45e-6;
    plate_in.M = plate_in.N = side;
    plate_in.particles = table.data();
    plate_in.n = 2;
    DiscPlateOptions po;
    po.snr = 5;
    std::mt19937_64 rng(18);
    std::vector<double> hol(side * side), noise(side * side);
    disc_plate(plate_in, po, rng, hol.data(), noise.data());
    std::vector<double> depths, radii = {2e-5, 4e-5, 6e-5, 8e-5, 1e-4};
    for (int k = 0; k <= 18; ++k) depths.push_back(0.02 + 0.01 * k);
    FindInput in;
    in.hol = hol.data();
    in.M = in.N = side;
    in.lambda = plate_in.lambda;
    in.pix = plate_in.pix;
    in.depths = depths.data();
    in.nz = depths.size();
    in.radii = radii.data();
    in.nr = radii.size();
    expect_measured(table, find_particles(in, FindOptions(), FFTW_ESTIMATE));
}

TEST(FindParticles, NoiseAloneGivesAnEmptyTable) {
    std::mt19937 g(2);
    std::normal_distribution<double> noise(1.3, 0.1);
    std::vector<double> hol(kSide * kSide);
    for (double& v : hol) v = noise(g);
    const FindResult r = find_particles(Search().input(hol), toolbox_find(), FFTW_ESTIMATE);
    EXPECT_EQ(r.n, 0u);
    EXPECT_TRUE(r.p.empty());
    EXPECT_NEAR(r.background, 1.3, 0.01);
    EXPECT_EQ(r.message, "no candidate reaches the threshold");
}

TEST(FindParticles, RefusesBadOptions) {
    const std::vector<double> hol(kSide * kSide, 1.0);
    const auto message = [&](FindOptions o) {
        try {
            find_particles(Search().input(hol), o, FFTW_ESTIMATE);
        } catch (const Error& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    FindOptions o = toolbox_find();
    o.max_count = 201;
    EXPECT_EQ(message(o), "Error: MaxCount must be a whole number from 0 to 200");
    o = toolbox_find();
    o.tolerance = 0;
    EXPECT_EQ(message(o), "Error: Tolerance must be a positive finite number");
    o = toolbox_find();
    std::vector<double> w(kSide * kSide, 0.0);
    o.weights = w.data();
    EXPECT_EQ(message(o), "Error: hol has no pixel with a finite value and non-zero weight");
    w[3] = -1;
    EXPECT_EQ(message(o), "Error: Weights must be finite and non-negative");
    for (const double margin : {97.0, -1.0, 2.5}) {
        o = toolbox_find();
        o.margin = margin;
        EXPECT_EQ(message(o), "Error: Margin must be a whole number of pixels from 0 to half the "
                              "hologram's smaller side (96)");
    }
}

// Rows A (strongest), a split B beside it at its depth, C straight behind
// A, D beside A but clear of it: B alone describes A's particle again.
TEST(FindParticles, DropsRowsWhoseSpheresWouldOverlapAStrongerOne) {
    const double pix = 6.7e-6;
    // Columns x y z r of A B C D (x, y in pixels).
    const std::vector<double> p = {0, 5, 0, 20, 0, 0, 0, 0, 0.1, 0.1002, 0.12, 0.1,
                                   50e-6, 40e-6, 50e-6, 50e-6};
    std::vector<double> se(16, 0.01);
    for (int k = 8; k < 12; ++k) se[k] = 1e-4;
    std::vector<char> keep(4, 1);
    drop_overlaps(p, se, {10, 5, 3, 4}, pix, keep);
    EXPECT_EQ(keep, std::vector<char>({1, 0, 1, 1}));
    // The stronger of the two stays, whichever comes first.
    keep.assign(4, 1);
    drop_overlaps(p, se, {5, 10, 3, 4}, pix, keep);
    EXPECT_EQ(keep, std::vector<char>({0, 1, 1, 1}));
}

// The fitted rows that are no particle: off the sensor, beyond the volume,
// below the radius floor, undetermined, or (free contrasts) without a
// significant contrast; a held row stays wherever it is.
TEST(FindParticles, KeepsOnlyRowsThatAreParticles) {
    // Rows: fine, off the sensor, too deep, too small, undetermined, held off the sensor.
    const std::size_t n = 6;
    FitResult fit;
    fit.p = {0, 90, 0, 0, 10, 90, 0, 0, -10, 20, 0, 0,
             0.05, 0.05, 0.5, 0.05, 0.05, 0.05, 4e-5, 4e-5, 4e-5, 5e-6, 4e-5, 4e-5};
    fit.se.assign(4 * n, 0.01);
    fit.se[4] = NAN;
    fit.contrast.assign(n, 1.0);
    fit.contrast_se.assign(n, 0.1);
    RowRules rules;
    rules.half_rows = rules.half_cols = 64;
    rules.least_z = 0.015;
    rules.most_z = 0.2;
    rules.least_r = 1e-5;
    rules.threshold = 6.5;
    rules.pix = 6.7e-6;
    const std::vector<double> score = {9, 8, 7, 6, 5, 4};
    const std::vector<char> held = {0, 0, 0, 0, 0, 1};
    EXPECT_EQ(kept_rows(fit, held, score, rules), std::vector<char>({1, 0, 0, 0, 0, 1}));
    // Free contrasts: a contrast within 3.25 standard errors of none is no
    // particle, unless a row strayed (the errors then mean nothing).
    rules.contrast_free = true;
    fit.contrast[0] = 0.3;
    EXPECT_EQ(kept_rows(fit, held, score, rules)[0], 1);
    fit.p[1] = 30;
    fit.p[2 * n + 2] = 0.05;
    const std::vector<char> keep = kept_rows(fit, held, score, rules);
    EXPECT_EQ(keep[0], 0);
    EXPECT_EQ(keep[1], 1);
}
