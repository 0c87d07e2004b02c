// The benchmarks are hosts of their own: as the MEX frame does for a call,
// they take the compute context from the environment, once, for the whole
// run on the main thread (PARTISCOPE_NUM_THREADS, PARTISCOPE_REPRODUCIBLE;
// bench/compare sets the thread count).
#include <cstdlib>
#include <cstring>

#include "numerics/compute_context.h"

namespace {

partiscope::ComputeContext from_environment() {
    partiscope::ComputeContext c;
    if (const char* v = std::getenv("PARTISCOPE_NUM_THREADS")) c.threads = static_cast<unsigned>(std::atoi(v));
    const char* r = std::getenv("PARTISCOPE_REPRODUCIBLE");
    c.reproducible = r && *r != '\0' && std::strcmp(r, "0") != 0;
    return c;
}

const partiscope::UseContext chosen(from_environment());

}  // namespace
