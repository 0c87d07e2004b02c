// ringform loaded into our own host.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "licence_box.h"
#include "testhost.h"

namespace {


using testhost::Array;
using testhost::Module;

const std::string kUsage = "Usage: [real_p complex_p jinc]=ringform(x,y,z,r,pix,lambda,sizeH,flag,K)";
const std::string kSizeError =
    "Error: sizeH must hold two non-negative finite sizes within the array limits";
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The arguments of one call, a particle 50 um in radius 10 cm from a sensor
// of 10 um pixels, changed one at a time by the tests.
struct Args {
    Array x = testhost::scalar(0), y = testhost::scalar(0), z = testhost::scalar(0.1),
          r = testhost::scalar(5e-5), pix = testhost::scalar(1e-5), lambda = testhost::scalar(5e-7),
          sizeH = testhost::row({64, 64}), flag = testhost::scalar(0), K = testhost::scalar(0);
    std::vector<const mxArray*> list() const {
        return {x.get(), y.get(), z.get(), r.get(), pix.get(), lambda.get(), sizeH.get(),
                flag.get(), K.get()};
    }
};

class Ringform : public ::testing::Test {
protected:
#ifdef _WIN32
    test::LicenceBoxCloser closer;  // for the first call of each load
#endif
    Module module{RINGFORM_MODULE};
    testhost::CallResult call(const Args& a, int nlhs = 3) { return module.call(nlhs, a.list()); }
};

#ifdef _WIN32
// The licence comes in a message box; pressing Cancel still lets the first
// call compute.
TEST_F(Ringform, NoticeShowsTheLicenceInAMessageBox) {
    const auto first = call(Args{});
    EXPECT_TRUE(closer.closed());
    EXPECT_FALSE(first.failed) << first.error;
    EXPECT_EQ(first.printed.rfind("Partiscope", 0), 0u);
    EXPECT_EQ(first.printed.find("Copyright"), std::string::npos);
    EXPECT_EQ(testhost::values(first.results[2].get())[32 + 32 * 64], 0.5);
    EXPECT_EQ(call(Args{}).printed, "");
}
#else
TEST_F(Ringform, NoticeShowsTheLicenceThroughMsgBox) {
    const auto first = module.call(0, {});
    EXPECT_EQ(first.error, kUsage);
    EXPECT_EQ(first.printed.rfind("Partiscope", 0), 0u);
    EXPECT_NE(first.printed.find("About_us Copyright"), std::string::npos);
    EXPECT_EQ(call(Args{}).printed, "");
}
#endif

TEST_F(Ringform, ChecksInOrder) {
    Args a;
    auto ten = a.list();
    ten.push_back(a.K.get());
    EXPECT_EQ(module.call(4, ten).error, kUsage);
    EXPECT_EQ(call(a, 4).error, "too many outputs for ringform");
    a.K = testhost::of_class(testhost::Class::int32, 1, 1);
    a.z = testhost::scalar(-1);
    EXPECT_EQ(call(a).error, "Error: one or more inputs are not double or real");
    a.K = testhost::scalar(0);
    a.r = testhost::scalar(-1);
    EXPECT_EQ(call(a).error, "Error: Z should be positive");  // z is tested before r
    a.z = testhost::scalar(0.1);
    EXPECT_EQ(call(a).error, "Error: R should be positive");
    a.r = testhost::complex(1, 1, {5e-5}, {0});
    EXPECT_EQ(call(a).error, "Error: one or more inputs are not double or real");
}

// Empty scalars and short or impossible sizes are refused before anything
// is read out of bounds or allocated.
TEST_F(Ringform, RejectsArgumentsItCannotRead) {
    {
        Args a;
        a.pix = testhost::real(0, 0);
        EXPECT_EQ(call(a).error, "Error: pix must not be empty");
    }
    {
        Args a;
        a.z = testhost::real(1, 0);
        EXPECT_EQ(call(a).error, "Error: z must not be empty");
    }
    {
        Args a;
        a.sizeH = testhost::scalar(64);
        EXPECT_EQ(call(a).error, "Error: sizeH must have two elements");
    }
    for (auto [m, n] : {std::pair{-1.0, 4.0}, std::pair{4.0, kNaN},
                        std::pair{std::numeric_limits<double>::infinity(), 4.0},
                        std::pair{3e9, 1.0}, std::pair{2e9, 2e9}}) {
        Args a;
        a.sizeH = testhost::row({m, n});
        const auto r = call(a);
        EXPECT_EQ(r.error, kSizeError) << m << " " << n;
        EXPECT_EQ(r.arrays_reclaimed, 0u);
    }
}

// Which result holds the grid, which the placeholder, for flag and r.
TEST_F(Ringform, ResultShapesAndPlaceholders) {
    Args a;
    a.sizeH = testhost::row({5.7, 4.2});
    for (double flag : {0.0, 0.9, -0.9}) {
        a.flag = testhost::scalar(flag);
        const auto r = call(a);
        ASSERT_FALSE(r.failed) << r.error;
        EXPECT_EQ(mxGetM(r.results[0].get()), 5u);
        EXPECT_EQ(mxGetN(r.results[0].get()), 4u);
        EXPECT_FALSE(mxIsComplex(r.results[0].get()));
        EXPECT_TRUE(mxIsComplex(r.results[1].get()));
        EXPECT_EQ(mxGetM(r.results[1].get()) * mxGetN(r.results[1].get()), 1u);
        EXPECT_EQ(testhost::values(r.results[1].get())[0], 0.0);
        EXPECT_EQ(testhost::imag_values(r.results[1].get())[0], 0.0);
        EXPECT_EQ(mxGetM(r.results[2].get()), 5u);
        // Row 4 is not a node of a 5-row grid.
        for (std::size_t j = 0; j < 4; ++j) EXPECT_EQ(testhost::values(r.results[0].get())[4 + 5 * j], 0.0);
    }
    for (double flag : {1.0, -1.0, 2.0, kNaN, 1e12}) {
        a.flag = testhost::scalar(flag);
        const auto r = call(a);
        EXPECT_EQ(mxGetM(r.results[0].get()) * mxGetN(r.results[0].get()), 1u) << flag;
        EXPECT_EQ(testhost::values(r.results[0].get())[0], 0.0);
        EXPECT_TRUE(mxIsComplex(r.results[1].get()));
        EXPECT_EQ(mxGetM(r.results[1].get()), 5u);
    }
    a.r = testhost::scalar(0);
    const auto kernel = call(a);
    EXPECT_EQ(mxGetM(kernel.results[2].get()) * mxGetN(kernel.results[2].get()), 1u);
    EXPECT_EQ(testhost::values(kernel.results[2].get())[0], 0.0);
}

// Every result is computed whatever nlhs is, but only the host's
// max(nlhs, 1) slots are filled and nothing else is left behind.
TEST_F(Ringform, ResultsStayWithinTheHostsSlots) {
    Args a;
    const auto all = call(a, 3);
    for (int nlhs : {0, 1, 2}) {
        const auto r = call(a, nlhs);
        ASSERT_FALSE(r.failed) << r.error;
        EXPECT_FALSE(r.wrote_past_slots) << nlhs;
        EXPECT_EQ(r.arrays_reclaimed, 0u) << nlhs;
        ASSERT_EQ(r.results.size(), static_cast<std::size_t>(std::max(nlhs, 1)));
        EXPECT_EQ(testhost::values(r.results[0].get()), testhost::values(all.results[0].get()));
    }
}

}  // namespace
