// synthplate loaded into our own host.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "testhost.h"

namespace {

using testhost::Array;
using testhost::Module;

const std::string kUsage =
    "Usage: [hologram,particles,Mean,noise]=synthplate(n,lambda,pix,sX,sY,I0,SNR,rangeZ,rangeR,"
    "random_coordinates,coordinates,meanh,K)";

// Three random particles on a 24-by-20 plate with noise.
struct Args {
    Array n = testhost::scalar(3), lambda = testhost::scalar(6.328e-7),
          pix = testhost::scalar(6.7e-6), sX = testhost::scalar(24), sY = testhost::scalar(20),
          I0 = testhost::scalar(1), SNR = testhost::scalar(10), rangeZ = testhost::row({0.05, 0.1}),
          rangeR = testhost::row({2e-5, 4e-5}), random = testhost::scalar(1),
          coordinates = testhost::real(0, 0), meanh = testhost::scalar(0), K = testhost::scalar(0);
    std::vector<const mxArray*> list() const {
        return {n.get(), lambda.get(), pix.get(), sX.get(), sY.get(), I0.get(), SNR.get(),
                rangeZ.get(), rangeR.get(), random.get(), coordinates.get(), meanh.get(), K.get()};
    }
};

class Synthplate : public ::testing::Test {
protected:
    Module module{SYNTHPLATE_MODULE};
    testhost::CallResult call(const Args& a, int nlhs = 4) { return module.call(nlhs, a.list()); }
};

TEST_F(Synthplate, MessagesAndRejectedArguments) {
    Args a;
    auto twelve = a.list();
    twelve.pop_back();
    EXPECT_EQ(module.call(5, twelve).error, kUsage);
    EXPECT_EQ(call(a, 5).error, "too many outputs for synthplate");
    const std::string sizes = "Error: sX and sY must be non-negative finite sizes within the array limits";
    const std::pair<void (*)(Args&), std::string> cases[] = {
        {[](Args& a) { a.n = testhost::scalar(-1); },
         "Error: n must be a non-negative whole number of particles"},
        {[](Args& a) { a.n = testhost::scalar(NAN); },
         "Error: n must be a non-negative whole number of particles"},
        {[](Args& a) { a.sX = testhost::scalar(-24); }, sizes},
        {[](Args& a) { a.sY = testhost::scalar(INFINITY); }, sizes},
        {[](Args& a) { a.sX = testhost::scalar(2e9); a.sY = testhost::scalar(2e9); }, sizes},
        {[](Args& a) { a.rangeR = testhost::scalar(2e-5); }, "Error: rangeR must have two elements"},
        {[](Args& a) { a.random = testhost::scalar(0); a.coordinates = testhost::real(3, 3); },
         "Error: coordinates must hold at least 4*n doubles (x, y, z, r of each particle)"},
        // A transposed table (4-by-n) holds enough values, in the wrong places.
        {[](Args& a) { a.random = testhost::scalar(0); a.coordinates = testhost::real(4, 3); },
         "Error: coordinates must be an n-by-4 table [x y z r]"},
        {[](Args& a) { a.random = testhost::scalar(0); a.coordinates = testhost::real(6, 3); },
         "Error: coordinates must be an n-by-4 table [x y z r]"},
        {[](Args& a) { a.I0 = testhost::real(0, 0); }, "Error: I0 must not be empty"},
        {[](Args& a) { a.pix = testhost::of_class(testhost::Class::int32, 1, 1); },
         "Error: pix must be a double array"},
    };
    for (const auto& [change, message] : cases) {
        Args b;
        change(b);
        const auto r = call(b);
        EXPECT_EQ(r.error, message);
        EXPECT_EQ(r.arrays_reclaimed, 0u) << message;
    }
    // A drawn radius of 0 ends the call with the model's message.
    Args zero;
    zero.rangeR = testhost::row({0, 0});
    EXPECT_EQ(call(zero).error,
              "Error: one of values of R is not positive - please recheck the inputs");
}

// A table with more rows than particles gives its first n rows; a vector is
// read in storage order (all x, then all y, z and r).
TEST_F(Synthplate, ParticleTableShapes) {
    Args a;
    a.n = testhost::scalar(2);
    a.random = testhost::scalar(0);
    a.SNR = testhost::scalar(0);
    // Rows [1 -2 0.05 1e-5], [3 4 0.1 5e-5], [5 6 0.2 3e-5], column-major.
    a.coordinates = testhost::real(3, 4, {1, 3, 5, -2, 4, 6, 0.05, 0.1, 0.2, 1e-5, 5e-5, 3e-5});
    const auto table = call(a);
    ASSERT_FALSE(table.failed) << table.error;
    const std::vector<double> expected = {1, 3, -2, 4, 0.05, 0.1, 1e-5, 5e-5};
    EXPECT_EQ(testhost::values(table.results[1].get()), expected);

    a.coordinates = testhost::real(1, 8, expected);
    const auto vector = call(a);
    ASSERT_FALSE(vector.failed) << vector.error;
    EXPECT_EQ(testhost::values(vector.results[1].get()), expected);
    EXPECT_EQ(testhost::values(vector.results[0].get()), testhost::values(table.results[0].get()));
}

TEST_F(Synthplate, ShapesSlotsAndFreshNoise) {
    Args a;
    a.n = testhost::scalar(3.7);
    a.sX = testhost::scalar(24.9);
    const auto r = call(a);
    ASSERT_FALSE(r.failed) << r.error;
    EXPECT_EQ(mxGetM(r.results[0].get()), 24u);
    EXPECT_EQ(mxGetN(r.results[0].get()), 20u);
    EXPECT_EQ(mxGetM(r.results[1].get()), 3u);
    EXPECT_EQ(mxGetN(r.results[1].get()), 4u);
    EXPECT_EQ(mxGetM(r.results[3].get()), 24u);
    // Two calls in a row never repeat each other.
    const auto again = call(a);
    EXPECT_NE(testhost::values(again.results[3].get()), testhost::values(r.results[3].get()));
    EXPECT_NE(testhost::values(again.results[1].get()), testhost::values(r.results[1].get()));
    for (int nlhs : {0, 1, 2}) {
        const auto s = call(a, nlhs);
        EXPECT_FALSE(s.wrote_past_slots);
        EXPECT_EQ(s.arrays_reclaimed, 0u);
    }
}

}  // namespace
