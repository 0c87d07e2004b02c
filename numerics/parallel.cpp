#include "parallel.h"

#include <cstdlib>

namespace partiscope {

namespace {

// The count a caller chose for the calls made on this thread (0: none).
thread_local unsigned chosen_threads = 0;

}  // namespace

ThreadCount::ThreadCount(unsigned count) : previous_(chosen_threads) {
    chosen_threads = count > 256 ? 256u : count;
}

ThreadCount::~ThreadCount() { chosen_threads = previous_; }

unsigned thread_count() {
    if (chosen_threads > 0) return chosen_threads;
    if (const char* v = std::getenv("PARTISCOPE_NUM_THREADS")) {
        char* end = nullptr;
        const long n = std::strtol(v, &end, 10);
        if (end != v && *end == '\0' && n > 0) return n > 256 ? 256u : static_cast<unsigned>(n);
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? cores : 1;
}

}  // namespace partiscope
