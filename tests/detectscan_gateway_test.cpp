// detectscan loaded into our own host.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "platform.h"
#include "testhost.h"

namespace {

using testhost::Array;
using testhost::Module;

const std::string kUsage =
    "Usage: [row,col,maxim,q0]=detectscan(hol,lambda,pix,w,r,z,w_prim,MapFOVx,MapFOVy,K)";

// A 12-by-10 hologram with a little structure, uniform weights.
struct Args {
    Array hol, lambda = testhost::scalar(6.328e-7), pix = testhost::scalar(6.7e-6), w,
               r = testhost::scalar(3e-5), z = testhost::scalar(0.02), w_prim,
               fovx = testhost::row({1, 12}), fovy = testhost::row({1, 10}),
               K = testhost::scalar(0);
    Args() {
        std::vector<double> h(120);
        for (std::size_t k = 0; k < 120; ++k) h[k] = std::sin(0.37 * static_cast<double>(k));
        hol = testhost::real(12, 10, h);
        w = testhost::real(12, 10, std::vector<double>(120, 1.0));
        w_prim = testhost::real(12, 10, std::vector<double>(120, 1.0));
    }
    std::vector<const mxArray*> list() const {
        return {hol.get(), lambda.get(), pix.get(), w.get(), r.get(), z.get(), w_prim.get(),
                fovx.get(), fovy.get(), K.get()};
    }
};

class Detectscan : public ::testing::Test {
protected:
    void SetUp() override { test::set_environment("PARTISCOPE_FFTW_PLANNER", "estimate"); }
    void TearDown() override { test::set_environment("PARTISCOPE_FFTW_PLANNER", nullptr); }
    Module module{DETECTSCAN_MODULE};
    testhost::CallResult call(const Args& a, int nlhs = 4) { return module.call(nlhs, a.list()); }
};

TEST_F(Detectscan, ChecksInOrder) {
    Args a;
    auto nine = a.list();
    nine.pop_back();
    EXPECT_EQ(module.call(5, nine).error, kUsage);
    EXPECT_EQ(call(a, 5).error, "too many outputs for detectscan");
    a.hol = testhost::complex(1, 1, {1}, {0});
    a.z = testhost::scalar(-1);
    EXPECT_EQ(call(a).error, "Error: one or more inputs are not double or real");
    a = Args();
    a.z = testhost::scalar(-1);
    a.r = testhost::scalar(-1);
    EXPECT_EQ(call(a).error, "Error: Z should be positive");
    a.z = testhost::scalar(0.02);
    EXPECT_EQ(call(a).error, "Error: R should be positive");
}

// Every argument that would make the computation read or write out of
// bounds is refused before anything is created.
TEST_F(Detectscan, RejectsUnsafeArguments) {
    const std::pair<void (*)(Args&), std::string> cases[] = {
        {[](Args& a) { a.w = testhost::real(12, 9); }, "Error: w must be the size of hol"},
        {[](Args& a) { a.w_prim = testhost::real(1, 1); }, "Error: w_prim must be the size of hol"},
        // Enough elements, but a transposed grid: the weights would land on
        // the wrong pixels.
        {[](Args& a) { a.w = testhost::real(10, 12, std::vector<double>(120, 1.0)); },
         "Error: w must be the size of hol"},
        {[](Args& a) { a.w_prim = testhost::real(120, 1, std::vector<double>(120, 1.0)); },
         "Error: w_prim must be the size of hol"},
        {[](Args& a) { a.fovx = testhost::row({0, 5}); },
         "Error: MapFOVx must be a whole-number range within the hologram rows"},
        {[](Args& a) { a.fovx = testhost::row({3, 13}); },
         "Error: MapFOVx must be a whole-number range within the hologram rows"},
        {[](Args& a) { a.fovy = testhost::row({2.5, 4}); },
         "Error: MapFOVy must be a whole-number range within the hologram columns"},
        {[](Args& a) { a.fovy = testhost::row({5, 4}); },
         "Error: MapFOVy must be a whole-number range within the hologram columns"},
        {[](Args& a) { a.fovy = testhost::scalar(3); }, "Error: MapFOVy must have two elements"},
        {[](Args& a) { a.hol = testhost::real(0, 0); }, "Error: w must be the size of hol"},
        {[](Args& a) { a.K = testhost::real(0, 1); }, "Error: K must not be empty"},
    };
    for (const auto& [change, message] : cases) {
        Args a;
        change(a);
        const auto r = call(a);
        EXPECT_EQ(r.error, message);
        EXPECT_EQ(r.arrays_reclaimed, 0u) << message;
    }
    test::set_environment("PARTISCOPE_FFTW_PLANNER", "fast");
    EXPECT_EQ(call(Args()).error,
              "Error: PARTISCOPE_FFTW_PLANNER must be estimate, measure, patient or exhaustive");
}

TEST_F(Detectscan, ResultsAndTheirSlots) {
    Args a;
    a.fovx = testhost::row({3, 5});
    a.fovy = testhost::row({2, 2});
    const auto all = call(a);
    ASSERT_FALSE(all.failed) << all.error;
    const mxArray* q0 = all.results[3].get();
    EXPECT_EQ(mxGetM(q0), 3u);
    EXPECT_EQ(mxGetN(q0), 1u);
    const double row = testhost::values(all.results[0].get())[0];
    const double col = testhost::values(all.results[1].get())[0];
    const double maxim = testhost::values(all.results[2].get())[0];
    EXPECT_EQ(col, 1.0);
    EXPECT_EQ(testhost::values(q0)[static_cast<std::size_t>(row - 1)], maxim);
    for (int nlhs : {0, 1, 3}) {
        const auto r = call(a, nlhs);
        EXPECT_FALSE(r.wrote_past_slots);
        EXPECT_EQ(r.arrays_reclaimed, 0u);
        EXPECT_EQ(testhost::values(r.results[0].get())[0], row);
    }
}

// A dead pixel masked by weight 0 does not enter, whatever it holds; unmasked
// it is refused, with the count of such pixels, instead of a map of NaN.
TEST_F(Detectscan, NonFiniteDataOnlyWhereMasked) {
    Args zeroed;
    std::vector<double> h = testhost::values(zeroed.hol.get()), w(120, 1.0);
    h[17] = 0.0;
    h[64] = 0.0;
    w[17] = w[64] = 0.0;
    zeroed.hol = testhost::real(12, 10, h);
    zeroed.w = testhost::real(12, 10, w);
    Args dead;
    h[17] = NAN;
    h[64] = -INFINITY;
    dead.hol = testhost::real(12, 10, h);
    dead.w = testhost::real(12, 10, w);
    const auto expected = call(zeroed), got = call(dead);
    ASSERT_FALSE(got.failed) << got.error;
    for (std::size_t k = 0; k < 4; ++k)
        EXPECT_EQ(testhost::values(got.results[k].get()), testhost::values(expected.results[k].get()));

    dead.w = testhost::real(12, 10, std::vector<double>(120, 1.0));
    EXPECT_EQ(call(dead).error,
              "Error: hol has 2 non-finite pixels with non-zero weight; set w to 0 there to mask them");
    w[3] = NAN;
    dead.w = testhost::real(12, 10, w);
    EXPECT_EQ(call(dead).error,
              "Error: w has 1 non-finite values; weights must be finite (0 masks a pixel)");
}

// Zero radius: the template is zero, every score NaN, no maximum.
TEST_F(Detectscan, ZeroRadiusHasNoPositiveScore) {
    Args a;
    a.r = testhost::scalar(0);
    const auto r = call(a);
    ASSERT_FALSE(r.failed) << r.error;
    EXPECT_EQ(testhost::values(r.results[0].get())[0], 1.0);
    EXPECT_EQ(testhost::values(r.results[1].get())[0], 1.0);
    EXPECT_EQ(testhost::values(r.results[2].get())[0], 0.0);
    for (double q : testhost::values(r.results[3].get())) EXPECT_TRUE(std::isnan(q));
}

}  // namespace
