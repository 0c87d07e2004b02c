#include "parallel.h"

#include <cstdlib>

namespace partiscope {

unsigned thread_count() {
    if (const char* v = std::getenv("PARTISCOPE_NUM_THREADS")) {
        char* end = nullptr;
        const long n = std::strtol(v, &end, 10);
        if (end != v && *end == '\0' && n > 0) return n > 256 ? 256u : static_cast<unsigned>(n);
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? cores : 1;
}

}  // namespace partiscope
