// What the frame does for every module alike, checked on every module
// loaded into our own host.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "licence_box.h"
#include "testhost.h"

namespace {

struct ModuleCase {
    const char* path;
    std::vector<std::string> arguments;  // as the usage text names them
};

// A sparse matrix holds only its nonzero values; read as full storage it
// would be read far past its end. Whichever argument is sparse, the call
// fails naming it, before anything is read or created.
TEST(Frame, RefusesSparseStorageInEveryArgument) {
    const ModuleCase modules[] = {
        {CYLZERO_MODULE, {"X"}},
        {CYLONE_MODULE, {"X"}},
        {RINGFORM_MODULE, {"x", "y", "z", "r", "pix", "lambda", "sizeH", "flag", "K"}},
        {DETECTSCAN_MODULE,
         {"hol", "lambda", "pix", "w", "r", "z", "w_prim", "MapFOVx", "MapFOVy", "K"}},
        {PRECBOUND_MODULE, {"x", "y", "z", "r", "pix", "lambda", "sizeH", "sigm", "n", "A"}},
        {SYNTHPLATE_MODULE,
         {"n", "lambda", "pix", "sX", "sY", "I0", "SNR", "rangeZ", "rangeR", "random_coordinates",
          "coordinates", "meanh", "K"}},
        {RINGFIT_MODULE, {"hol", "lambda", "pix", "p0"}},
        {DETECTSTACK_MODULE, {"hol", "lambda", "pix", "depths", "radii"}},
        {FINDPARTICLES_MODULE, {"hol", "lambda", "pix", "depths", "radii"}},
        {PROPAGATE_MODULE, {"field", "lambda", "pix", "z"}},
        {DISCPLATE_MODULE, {"n", "lambda", "pix", "sX", "sY", "I0", "SNR", "rangeZ", "rangeR"}},
    };
    for (const ModuleCase& m : modules) {
#ifdef _WIN32
        test::LicenceBoxCloser closer;  // ringform's first call shows its licence box
#endif
        testhost::Module module(m.path);
        for (std::size_t k = 0; k < m.arguments.size(); ++k) {
            std::vector<testhost::Array> owned;
            std::vector<const mxArray*> args;
            for (std::size_t i = 0; i < m.arguments.size(); ++i) {
                // A large sparse matrix with two nonzeros: its storage is
                // two doubles, not nine million.
                owned.push_back(i == k ? testhost::sparse(3000, 3000, {3.0, 4.0})
                                       : testhost::scalar(1.0));
                args.push_back(owned.back().get());
            }
            const auto r = module.call(1, args);
            const std::string& name = m.arguments[k];
            EXPECT_EQ(r.error,
                      "Error: " + name +
                          " must be a full (not sparse) double array (convert it with full(" +
                          name + "))")
                << m.path;
            EXPECT_EQ(r.arrays_reclaimed, 0u);
        }
    }
}

}  // namespace
