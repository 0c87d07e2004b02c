// detectstack loaded into our own host: arguments, options and what the
// results mean together.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "testhost.h"

namespace {

using testhost::Array;
using testhost::Module;

const std::string kUsage =
    "Usage: [cand,best,zidx,ridx]=detectstack(hol,lambda,pix,depths,radii,Name,Value,...)";

// A 48-by-40 plate: a Fresnel zone pattern centred on row 30, column 15
// (1-based) on a little deterministic noise.
struct Args {
    Array hol, lambda = testhost::scalar(6.328e-7), pix = testhost::scalar(6.7e-6),
               depths = testhost::row({0.02, 0.03, 0.04}), radii = testhost::row({2e-5, 4e-5});
    std::vector<Array> options;
    Args() {
        std::vector<double> h(48 * 40);
        unsigned s = 1;
        for (std::size_t j = 0; j < 40; ++j) {
            for (std::size_t i = 0; i < 48; ++i) {
                const double x = (static_cast<double>(i) - 29) * 6.7e-6,
                             y = (static_cast<double>(j) - 14) * 6.7e-6;
                s = s * 1103515245u + 12345u;
                h[i + 48 * j] = std::sin(3.14159 * (x * x + y * y) / (6.328e-7 * 0.03)) /
                                    (1 + (x * x + y * y) * 1e8) +
                                0.02 * ((s >> 16) % 100 / 50.0 - 1);
            }
        }
        hol = testhost::real(48, 40, h);
    }
    std::vector<const mxArray*> list() const {
        std::vector<const mxArray*> l = {hol.get(), lambda.get(), pix.get(), depths.get(),
                                         radii.get()};
        for (const Array& a : options) l.push_back(a.get());
        return l;
    }
};

class Detectstack : public ::testing::Test {
   protected:
    Module module{DETECTSTACK_MODULE};
    testhost::CallResult call(const Args& a, int nlhs = 4) { return module.call(nlhs, a.list()); }
};

TEST_F(Detectstack, RefusesBadArgumentsAndOptions) {
    Args a;
    auto four = a.list();
    four.pop_back();
    EXPECT_EQ(module.call(1, four).error, kUsage);
    EXPECT_EQ(call(a, 5).error, "too many outputs for detectstack");
    struct Case {
        std::vector<Array> options;
        std::string message;
    };
    std::vector<Case> cases;
    const auto add = [&](std::string message, auto... option) {
        Case c;
        (c.options.push_back(std::move(option)), ...);
        c.message = std::move(message);
        cases.push_back(std::move(c));
    };
    add("Error: unknown option 'Colour'; the options are Weights, PositionWeights, MapFOVx, "
        "MapFOVy, K, Threshold, MinSeparation, MaxCount, Sigma",
        testhost::text("Colour"), testhost::scalar(1));
    add("Error: Weights must be a real array of the size of hol", testhost::text("weights"),
        testhost::real(40, 48));
    add("Error: MaxCount must be a whole number from 0 to 100000", testhost::text("MaxCount"),
        testhost::scalar(2.5));
    add("Error: Threshold must be a real number", testhost::text("Threshold"),
        testhost::text("high"));
    add("Error: MapFOVx must be a whole-number range within the hologram rows",
        testhost::text("MapFOVx"), testhost::row({0, 10}));
    for (Case& c : cases) {
        Args b;
        b.options = std::move(c.options);
        const auto r = call(b);
        EXPECT_EQ(r.error, c.message);
        EXPECT_EQ(r.arrays_reclaimed, 0u);
    }
    Args d;
    d.depths = testhost::row({0.03, 0.02});
    EXPECT_EQ(call(d).error, "Error: depths must be increasing");
    Args e;
    e.radii = testhost::row({0.0, 2e-5});
    EXPECT_EQ(call(e).error, "Error: radii must be positive finite lengths (metres)");
    Args f;
    f.hol = testhost::real(3, 40, std::vector<double>(120, 0.0));
    EXPECT_EQ(call(f).error, "Error: hol must be at least 4 by 4 pixels");
}

// The candidate's row of the table points at its entry in the maps: x and y
// from the grid centre, the winning pair's indices, score sqrt(best)/Sigma.
TEST_F(Detectstack, CandidatesPointIntoTheMaps) {
    Args a;
    a.options.push_back(testhost::text("sigma"));
    a.options.push_back(testhost::scalar(0.02));
    a.options.push_back(testhost::text("Weights"));
    std::vector<bool> mask(48 * 40, true);
    mask[5] = false;
    a.options.push_back(testhost::logical(48, 40, mask));
    const auto r = call(a);
    ASSERT_EQ(r.error, "");
    ASSERT_EQ(r.results.size(), 4u);
    const mxArray* cand = r.results[0].get();
    const mxArray* best = r.results[1].get();
    ASSERT_EQ(mxGetN(cand), 5u);
    ASSERT_GE(mxGetM(cand), 1u);
    ASSERT_EQ(mxGetM(best), 48u);
    ASSERT_EQ(mxGetN(best), 40u);
    const std::size_t n = mxGetM(cand);
    const double* c = mxGetPr(cand);
    // Row 30 (1-based) is x = 30 - 24 - 1; the zone pattern is not quite the
    // particle's, so its peak may lie a pixel off.
    EXPECT_NEAR(c[0], 29 - 24, 1.0);
    EXPECT_NEAR(c[n], 14 - 20, 1.0);
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t row = static_cast<std::size_t>(c[k] + 24),
                          col = static_cast<std::size_t>(c[k + n] + 20);
        const std::size_t t = row + 48 * col;
        EXPECT_NEAR(c[k + 4 * n], std::sqrt(mxGetPr(best)[t]) / 0.02, 1e-12 * c[k + 4 * n]);
        const double depths[] = {0.02, 0.03, 0.04}, radii[] = {2e-5, 4e-5};
        EXPECT_EQ(c[k + 2 * n], depths[static_cast<int>(mxGetPr(r.results[2].get())[t]) - 1]);
        EXPECT_EQ(c[k + 3 * n], radii[static_cast<int>(mxGetPr(r.results[3].get())[t]) - 1]);
    }
}

// A field of view shapes the maps; a plate with no particle gives an empty
// 0-by-5 table.
TEST_F(Detectstack, FieldOfViewAndEmptyTable) {
    Args a;
    a.options.push_back(testhost::text("MapFOVx"));
    a.options.push_back(testhost::row({3, 12}));
    a.options.push_back(testhost::text("MAPFOVY"));
    a.options.push_back(testhost::row({2, 2}));
    a.options.push_back(testhost::text("Threshold"));
    a.options.push_back(testhost::scalar(1e6));
    const auto r = call(a);
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(mxGetM(r.results[0].get()), 0u);
    EXPECT_EQ(mxGetN(r.results[0].get()), 5u);
    for (std::size_t k = 1; k < 4; ++k) {
        EXPECT_EQ(mxGetM(r.results[k].get()), 10u);
        EXPECT_EQ(mxGetN(r.results[k].get()), 1u);
    }
}

}  // namespace
