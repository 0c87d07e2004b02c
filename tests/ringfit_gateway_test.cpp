// ringfit loaded into our own host: its arguments, options and results.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "testhost.h"

namespace {

using testhost::Array;
using testhost::Module;

const std::string kUsage = "Usage: [p,se,info]=ringfit(hol,lambda,pix,p0,Name,Value,...)";

// A 40-by-36 hologram of one particle's linear pattern on a level of 2.
struct Args {
    Array hol, lambda = testhost::scalar(6.328e-7), pix = testhost::scalar(6.7e-6),
               p0 = testhost::real(1, 4, {0.5, -0.5, 0.05, 3e-5});
    std::vector<Array> options;
    Args() {
        std::vector<double> h(40 * 36);
        for (std::size_t j = 0; j < 36; ++j) {
            for (std::size_t i = 0; i < 40; ++i) {
                const double x = (static_cast<double>(i) - 20) * 6.7e-6,
                             y = (static_cast<double>(j) - 18) * 6.7e-6;
                h[i + 40 * j] = 2 + 0.3 * std::cos((x * x + y * y) * 1e8);
            }
        }
        hol = testhost::real(40, 36, h);
    }
    std::vector<const mxArray*> list() const {
        std::vector<const mxArray*> l = {hol.get(), lambda.get(), pix.get(), p0.get()};
        for (const Array& a : options) l.push_back(a.get());
        return l;
    }
};

class Ringfit : public ::testing::Test {
   protected:
    Module module{RINGFIT_MODULE};
    testhost::CallResult call(const Args& a, int nlhs = 3) { return module.call(nlhs, a.list()); }
};

TEST_F(Ringfit, CountsArgumentsAndOptions) {
    Args a;
    auto three = a.list();
    three.pop_back();
    EXPECT_EQ(module.call(1, three).error, kUsage);
    EXPECT_EQ(call(a, 4).error, "too many outputs for ringfit");
    const std::string options =
        "Model, Particle, Contrast, Background, Offset, Weights, Free, Sigma, K, MaxIter, Tolerance, "
        "MediumIndex, Index, Polarization";
    struct Case {
        std::vector<Array> (*options)();
        std::string message;
    };
    const Case cases[] = {
        {[] {
             std::vector<Array> o;
             o.push_back(testhost::text("Colour"));
             o.push_back(testhost::scalar(1));
             return o;
         },
         "Error: unknown option 'Colour'; the options are " + options},
        {[] {
             std::vector<Array> o;
             o.push_back(testhost::text("model"));
             return o;
         },
         "Error: option 'Model' needs a value"},
        {[] {
             std::vector<Array> o;
             o.push_back(testhost::scalar(3));
             o.push_back(testhost::scalar(1));
             return o;
         },
         "Error: option names must be text, such as 'Model'"},
        {[] {
             std::vector<Array> o;
             o.push_back(testhost::text("K"));
             o.push_back(testhost::scalar(1));
             o.push_back(testhost::text("k"));
             o.push_back(testhost::scalar(0));
             return o;
         },
         "Error: option 'K' is given twice"},
        {[] {
             std::vector<Array> o;
             o.push_back(testhost::text("Model"));
             o.push_back(testhost::text("quadratic"));
             return o;
         },
         "Error: Model must be 'intensity' or 'linear'"},
        {[] {
             std::vector<Array> o;
             o.push_back(testhost::text("Contrast"));
             o.push_back(testhost::text("loose"));
             return o;
         },
         "Error: Contrast must be a finite non-zero number or 'free'"},
        {[] {
             std::vector<Array> o;
             o.push_back(testhost::text("Background"));
             o.push_back(testhost::row({1, 2}));
             return o;
         },
         "Error: Background must be a real number"},
        {[] {
             std::vector<Array> o;
             o.push_back(testhost::text("Weights"));
             o.push_back(testhost::real(36, 40));
             return o;
         },
         "Error: Weights must be a real array of the size of hol"},
        {[] {
             std::vector<Array> o;
             o.push_back(testhost::text("Weights"));
             o.push_back(testhost::real(40, 36));
             return o;
         },
         "Error: Weights must not all be zero"},
        {[] {
             std::vector<Array> o;
             o.push_back(testhost::text("Free"));
             o.push_back(testhost::row({1, 1, 1}));
             return o;
         },
         "Error: Free must have four elements (x, y, z, r) or five (x, y, z, r, index), true "
         "where fitted"},
        {[] {
             std::vector<Array> o;
             o.push_back(testhost::text("Sigma"));
             o.push_back(testhost::scalar(-1));
             return o;
         },
         "Error: Sigma must be a positive finite number"},
        {[] {
             std::vector<Array> o;
             o.push_back(testhost::text("MaxIter"));
             o.push_back(testhost::scalar(2.5));
             return o;
         },
         "Error: MaxIter must be a whole number from 0 to 10000"},
        {[] {
             std::vector<Array> o;
             o.push_back(testhost::text("Tolerance"));
             o.push_back(testhost::scalar(0));
             return o;
         },
         "Error: Tolerance must be a positive finite number"},
        {[] {
             std::vector<Array> o;
             o.push_back(testhost::text("Weights"));
             o.push_back(testhost::sparse(40, 36, {1.0}));
             return o;
         },
         "Error: argument 6 must be a full (not sparse) double array (convert it with "
         "full(argument 6))"},
    };
    for (const Case& c : cases) {
        Args b;
        b.options = c.options();
        const auto r = call(b);
        EXPECT_EQ(r.error, c.message);
        EXPECT_EQ(r.arrays_reclaimed, 0u) << c.message;
    }
}

TEST_F(Ringfit, RejectsUnusableArguments) {
    const std::pair<void (*)(Args&), std::string> cases[] = {
        {[](Args& a) { a.hol = testhost::real(0, 0); },
         "Error: hol must be a non-empty real double matrix"},
        {[](Args& a) { a.hol = testhost::of_class(testhost::Class::single, 4, 4); },
         "Error: hol must be a non-empty real double matrix"},
        {[](Args& a) {
             a.p0 = testhost::real(4, 1, {0.5, -0.5, 0.05, 3e-5});
         },
         "Error: p0 must be an n-by-4 table [x y z r] with at least one row"},
        {[](Args& a) { a.p0 = testhost::real(0, 4); },
         "Error: p0 must be an n-by-4 table [x y z r] with at least one row"},
        {[](Args& a) {
             a.p0 = testhost::real(1, 4, {0.5, NAN, 0.05, 3e-5});
         },
         "Error: p0 must hold finite values"},
        {[](Args& a) {
             a.p0 = testhost::real(1, 4, {0.5, 0.5, 0.05, 0});
         },
         "Error: p0 must have z > 0 and r > 0 in every row"},
        // Lengths in other units than metres (nm, um) are refused, not fitted.
        {[](Args& a) { a.lambda = testhost::scalar(447); },
         "Error: lambda must be a wavelength in metres (1e-8 to 1e-5), got 447"},
        {[](Args& a) { a.pix = testhost::scalar(0.048); },
         "Error: pix must be a pixel pitch in metres (1e-8 to 1e-3), got 0.048"},
        {[](Args& a) { a.lambda = testhost::scalar(NAN); },
         "Error: lambda must be a wavelength in metres (1e-8 to 1e-5), got nan"},
        {[](Args& a) { a.pix = testhost::real(0, 0); }, "Error: pix must not be empty"},
    };
    for (const auto& [change, message] : cases) {
        Args a;
        change(a);
        const auto r = call(a);
        EXPECT_EQ(r.error, message);
        EXPECT_EQ(r.arrays_reclaimed, 0u) << message;
    }
}

// The three results fill only the slots the host gives; info holds every
// field, converged as logicals and the message as text.
TEST_F(Ringfit, ResultsAndTheirSlots) {
    Args a;
    a.options.push_back(testhost::text("Model"));
    a.options.push_back(testhost::text("LINEAR"));
    a.options.push_back(testhost::text("maxiter"));
    a.options.push_back(testhost::scalar(3));
    const auto r = call(a);
    ASSERT_FALSE(r.failed) << r.error;
    ASSERT_EQ(r.results.size(), 3u);
    EXPECT_EQ(mxGetM(r.results[0].get()), 1u);
    EXPECT_EQ(mxGetN(r.results[0].get()), 4u);
    EXPECT_EQ(mxGetN(r.results[1].get()), 4u);
    const mxArray* info = r.results[2].get();
    for (const char* f :
         {"background", "background_se", "offset", "offset_se", "sigma", "chi2", "iterations",
          "zr_correlation", "contrast", "contrast_se", "pixels_ignored"}) {
        ASSERT_NE(testhost::field(info, f), nullptr) << f;
    }
    EXPECT_LE(testhost::values(testhost::field(info, "iterations"))[0], 3.0);
    EXPECT_EQ(testhost::logical_values(testhost::field(info, "converged")).size(), 1u);
    EXPECT_FALSE(testhost::text_of(testhost::field(info, "message")).empty());
    for (int nlhs : {0, 1, 2}) {
        const auto s = call(a, nlhs);
        ASSERT_FALSE(s.failed) << s.error;
        EXPECT_FALSE(s.wrote_past_slots);
        EXPECT_EQ(s.arrays_reclaimed, 0u);
    }
}

}  // namespace
