// findparticles loaded into our own host: its results and their slots.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "testhost.h"

namespace {

using testhost::Array;

// A plate of noise on a level of 1: no particle, every result still there.
TEST(Findparticles, EmptyTableAndInfoOnNoise) {
    testhost::Module module(FINDPARTICLES_MODULE);
    std::vector<double> h(64 * 48);
    unsigned s = 7;
    for (double& v : h) {
        s = s * 1103515245u + 12345u;
        v = 1 + 0.01 * ((s >> 16) % 100 / 50.0 - 1);
    }
    h[100] = std::nan("");
    const Array hol = testhost::real(64, 48, h), lambda = testhost::scalar(6.328e-7),
                pix = testhost::scalar(6.7e-6), depths = testhost::row({0.02, 0.04}),
                radii = testhost::row({3e-5}), name = testhost::text("threshold"),
                value = testhost::scalar(8);
    const auto r = module.call(
        3, {hol.get(), lambda.get(), pix.get(), depths.get(), radii.get(), name.get(), value.get()});
    ASSERT_EQ(r.error, "");
    ASSERT_EQ(r.results.size(), 3u);
    EXPECT_EQ(mxGetM(r.results[0].get()), 0u);
    EXPECT_EQ(mxGetN(r.results[0].get()), 4u);
    EXPECT_EQ(mxGetN(r.results[1].get()), 4u);
    const mxArray* info = r.results[2].get();
    EXPECT_EQ(mxGetPr(testhost::field(info, "pixels_ignored"))[0], 1.0);
    EXPECT_NEAR(mxGetPr(testhost::field(info, "background"))[0], 1.0, 0.01);
    EXPECT_EQ(testhost::text_of(testhost::field(info, "message")), "no candidate reaches the threshold");
    EXPECT_EQ(mxGetM(testhost::field(info, "score")), 0u);
    // One slot asked for: the table alone, nothing written past it.
    const auto one = module.call(
        0, {hol.get(), lambda.get(), pix.get(), depths.get(), radii.get()});
    EXPECT_EQ(one.error, "");
    EXPECT_EQ(one.results.size(), 1u);
}

TEST(Findparticles, RefusesBadOptions) {
    testhost::Module module(FINDPARTICLES_MODULE);
    const Array hol = testhost::real(16, 16, std::vector<double>(256, 1.0)),
                lambda = testhost::scalar(6.328e-7), pix = testhost::scalar(6.7e-6),
                depths = testhost::row({0.02, 0.04}), radii = testhost::row({3e-5});
    struct Case {
        const char* name;
        Array value;
        std::string message;
    };
    Case cases[] = {
        {"MaxPasses", testhost::scalar(0), "Error: MaxPasses must be a whole number from 1 to 100"},
        {"Model", testhost::text("phase"), "Error: Model must be 'intensity' or 'linear'"},
        {"Particle", testhost::text("ball"), "Error: Particle must be 'disc', 'toolbox' or 'sphere'"},
        // A sphere's optics are its own: none can be guessed.
        {"Particle", testhost::text("sphere"),
         "Error: 'sphere' needs MediumIndex, the refractive index of the medium (a positive number)"},
        {"Sigma", testhost::scalar(-1), "Error: Sigma must be a positive finite number"},
        {"MinSeparation", testhost::scalar(NAN),
         "Error: MinSeparation must be a non-negative finite number of pixels"},
    };
    for (Case& c : cases) {
        const Array name = testhost::text(c.name);
        const auto r = module.call(1, {hol.get(), lambda.get(), pix.get(), depths.get(),
                                       radii.get(), name.get(), c.value.get()});
        EXPECT_EQ(r.error, c.message) << c.name;
        EXPECT_EQ(r.arrays_reclaimed, 0u);
    }
}

}  // namespace
