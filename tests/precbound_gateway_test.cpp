// precbound loaded into our own host.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "testhost.h"

namespace {

using testhost::Array;
using testhost::Module;

const std::string kUsage =
    " Usage :[deltax,deltay,deltaz,deltar]=precbound(x,y,z,r,pix,lambda,sizeH,sigm,n,A) ,  All in meters";

struct Args {
    Array x = testhost::scalar(0), y = testhost::scalar(0), z = testhost::scalar(0.1),
          r = testhost::scalar(5e-5), pix = testhost::scalar(1e-5), lambda = testhost::scalar(5e-7),
          sizeH = testhost::row({64, 64}), sigm = testhost::scalar(1), n = testhost::scalar(0),
          A = testhost::scalar(0);
    std::vector<const mxArray*> list() const {
        return {x.get(), y.get(), z.get(), r.get(), pix.get(), lambda.get(), sizeH.get(),
                sigm.get(), n.get(), A.get()};
    }
};

class Precbound : public ::testing::Test {
protected:
    Module module{PRECBOUND_MODULE};
    testhost::CallResult call(const Args& a, int nlhs = 4) { return module.call(nlhs, a.list()); }
};

TEST_F(Precbound, MessagesAndRejectedArguments) {
    Args a;
    auto nine = a.list();
    nine.pop_back();
    EXPECT_EQ(module.call(5, nine).error, kUsage);
    EXPECT_EQ(call(a, 5).error, "too many outputs for precbound");
    const std::pair<void (*)(Args&), std::string> cases[] = {
        {[](Args& a) { a.n = testhost::scalar(-1); }, "Error: n must be a non-negative number"},
        {[](Args& a) { a.n = testhost::scalar(NAN); }, "Error: n must be a non-negative number"},
        {[](Args& a) { a.sizeH = testhost::scalar(64); }, "Error: sizeH must have two elements"},
        {[](Args& a) { a.sizeH = testhost::row({64, INFINITY}); },
         "Error: sizeH must hold two non-negative finite sizes within the array limits"},
        {[](Args& a) { a.sigm = testhost::real(0, 0); }, "Error: sigm must not be empty"},
        // Read as doubles, a 4-byte single would be read past its end.
        {[](Args& a) { a.x = testhost::of_class(testhost::Class::single, 1, 1); },
         "Error: x must be a double array"},
    };
    for (const auto& [change, message] : cases) {
        Args b;
        change(b);
        const auto r = call(b);
        EXPECT_EQ(r.error, message);
        EXPECT_EQ(r.arrays_reclaimed, 0u);
    }
    // No type test: a complex argument is read by its real part.
    Args c;
    c.z = testhost::complex(1, 1, {0.1}, {5});
    EXPECT_FALSE(call(c).failed);
}

TEST_F(Precbound, ValuesAndSlots) {
    const auto all = call(Args());
    ASSERT_FALSE(all.failed) << all.error;
    EXPECT_NEAR(testhost::values(all.results[0].get())[0], 1.9313e-05, 1e-9);
    EXPECT_NEAR(testhost::values(all.results[2].get())[0], 0.0097153, 1e-7);
    EXPECT_NEAR(testhost::values(all.results[3].get())[0], 1.3140e-05, 1e-9);
    for (int nlhs : {0, 2}) {
        const auto r = call(Args(), nlhs);
        EXPECT_FALSE(r.wrote_past_slots);
        EXPECT_EQ(r.arrays_reclaimed, 0u);
        EXPECT_EQ(testhost::values(r.results[0].get()), testhost::values(all.results[0].get()));
    }
}

}  // namespace
