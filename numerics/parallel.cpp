#include "parallel.h"

namespace partiscope {

unsigned thread_count() {
    const unsigned chosen = compute_context().threads;
    if (chosen > 0) return chosen > 256 ? 256u : chosen;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? cores : 1;
}

}  // namespace partiscope
