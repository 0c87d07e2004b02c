// cylzero and cylone loaded into our own host, the way MATLAB loads them.
#include <gtest/gtest.h>

#include <string>

#include "testhost.h"

namespace {

using testhost::Class;
using testhost::Module;

struct ModuleCase {
    const char* path;
    const char* name;
};

class CylinderGateway : public ::testing::TestWithParam<ModuleCase> {
protected:
    Module module{GetParam().path};
    std::string usage() const { return std::string("Usage: J=") + GetParam().name + "(X)\n"; }
};

const std::string kTooMany = "Too many outputs!\n";
const std::string kWrongType =
    "Error: Wrong input type!\n Input should be areal scala or a real valued matrix\n";

// The notice is shown once per load, by the first call even when it fails,
// and again after the module is unloaded and loaded.
TEST_P(CylinderGateway, NoticeOncePerLoad) {
    auto x = testhost::scalar(1.0);
    const auto first = module.call(1, {});
    EXPECT_TRUE(first.failed);
    EXPECT_NE(first.printed.find("Partiscope"), std::string::npos);
    EXPECT_NE(first.printed.find("BSD 3-Clause"), std::string::npos);
    EXPECT_EQ(first.printed.find("About_us"), std::string::npos);
    EXPECT_EQ(module.call(1, {x.get()}).printed, "");

    module.reload();
    const auto again = module.call(1, {x.get()});
    EXPECT_FALSE(again.failed);
    EXPECT_EQ(again.printed, first.printed);
}

// Counts before types, usage before too-many: each message verbatim.
TEST_P(CylinderGateway, CheckOrderAndMessages) {
    auto x = testhost::scalar(1.0);
    auto single = testhost::of_class(Class::single, 1, 1);
    EXPECT_EQ(module.call(1, {}).error, usage());
    EXPECT_EQ(module.call(2, {x.get(), x.get()}).error, usage());
    EXPECT_EQ(module.call(2, {single.get()}).error, kTooMany);
    EXPECT_EQ(module.call(1, {single.get()}).error, kWrongType);
}

TEST_P(CylinderGateway, RejectsEveryNonRealDoubleClass) {
    for (Class c : {Class::single, Class::int32, Class::logical, Class::char_}) {
        auto a = testhost::of_class(c, 2, 3);
        const auto r = module.call(1, {a.get()});
        EXPECT_EQ(r.error, kWrongType) << static_cast<int>(c);
        EXPECT_EQ(r.arrays_reclaimed, 0u);  // failed before creating anything
    }
    // Complex is rejected whatever its imaginary parts hold.
    auto z = testhost::complex(1, 2, {1.0, 2.0}, {0.0, 0.0});
    EXPECT_EQ(module.call(1, {z.get()}).error, kWrongType);
}

// The result has the input's rows and columns, for every shape.
TEST_P(CylinderGateway, ResultShapeFollowsInput) {
    auto one = testhost::scalar(2.5);
    const double expected = testhost::values(module.call(1, {one.get()}).results[0].get())[0];
    const std::pair<std::size_t, std::size_t> shapes[] = {{0, 0}, {0, 3}, {1, 1}, {1, 4}, {4, 1},
                                                          {3, 5}};
    for (auto [m, n] : shapes) {
        auto x = testhost::real(m, n, std::vector<double>(m * n, 2.5));
        const auto r = module.call(1, {x.get()});
        ASSERT_FALSE(r.failed) << r.error;
        ASSERT_EQ(r.results.size(), 1u);
        EXPECT_EQ(mxGetM(r.results[0].get()), m);
        EXPECT_EQ(mxGetN(r.results[0].get()), n);
        for (double v : testhost::values(r.results[0].get())) EXPECT_EQ(v, expected);
    }
}

// A call without an assignment (nlhs = 0) still computes into the one slot
// the host provides, and writes nowhere past it.
TEST_P(CylinderGateway, ResultStaysWithinTheHostsSlots) {
    auto x = testhost::row({0.0, 1.0, -1.0});
    for (int nlhs : {0, 1}) {
        const auto r = module.call(nlhs, {x.get()});
        ASSERT_FALSE(r.failed) << r.error;
        EXPECT_FALSE(r.wrote_past_slots);
        ASSERT_TRUE(r.results[0]);
        EXPECT_EQ(r.arrays_reclaimed, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Modules, CylinderGateway,
                         ::testing::Values(ModuleCase{CYLZERO_MODULE, "cylzero"},
                                           ModuleCase{CYLONE_MODULE, "cylone"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
