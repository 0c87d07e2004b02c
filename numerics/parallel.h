// Splitting pixel work over the processor's cores with plain std::threads
// started for the call (no OpenMP: hosts ship their own runtimes, and two
// in one process do not mix; no threads outlive a call, so a module can be
// unloaded at any time).
#pragma once

#include <cstddef>
#include <algorithm>
#include <atomic>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

#include "numerics/compute_context.h"

namespace partiscope {

// The thread count of this thread's calls: the compute context's, else
// every core.
unsigned thread_count();

// Runs work(begin, end) over [0, count) in contiguous parts, one per thread,
// on the calling thread too, each part at least `grain` items long (a
// thread costs tens of microseconds to start). The first exception thrown
// by a part is rethrown here once every part has finished.
template <class Work>
void parallel_for(std::size_t count, Work work, std::size_t grain = 1) {
    const std::size_t parts =
        std::min<std::size_t>(thread_count(), (count + grain - 1) / (grain > 0 ? grain : 1));
    if (parts <= 1) {
        if (count > 0) work(std::size_t{0}, count);
        return;
    }
    std::vector<std::exception_ptr> failures(parts);
    std::vector<std::thread> threads;
    threads.reserve(parts - 1);
    // Parts on other threads run in this thread's context, for the calls
    // they make in turn.
    const ComputeContext chosen = compute_context();
    const auto run = [&](std::size_t p) {
        try {
            const UseContext same(chosen);
            work(count * p / parts, count * (p + 1) / parts);
        } catch (...) {
            failures[p] = std::current_exception();
        }
    };
    for (std::size_t p = 1; p < parts; ++p) {
        try {
            threads.emplace_back(run, p);
        } catch (const std::system_error&) {
            run(p);  // no thread to be had: this part runs here
        }
    }
    run(0);
    for (std::thread& t : threads) t.join();
    for (const std::exception_ptr& f : failures) {
        if (f) std::rethrow_exception(f);
    }
}

// Runs work(item) for every item of [0, count), the threads taking the next
// item as they finish the last: for items of equal cost on cores that are
// not equally fast (a shared or throttled machine), where a fixed split
// waits for the slowest part. Which thread computes an item must not
// change its result.
template <class Work>
void parallel_items(std::size_t count, Work work) {
    std::atomic<std::size_t> next{0};
    parallel_for(std::min<std::size_t>(thread_count(), count), [&](std::size_t, std::size_t) {
        for (std::size_t i = next++; i < count; i = next++) work(i);
    });
}

}  // namespace partiscope
