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

namespace partiscope {

// The count chosen for this thread's calls (ThreadCount), else
// PARTISCOPE_NUM_THREADS when set to a positive count, else every core.
unsigned thread_count();

// Chooses the thread count of the core's calls made on this thread while it
// lives (0: the default above), and of every part they run on other
// threads: how a caller that is not a MEX host (the Python package) passes
// its count without touching the process's environment.
class ThreadCount {
public:
    explicit ThreadCount(unsigned count);
    ~ThreadCount();
    ThreadCount(const ThreadCount&) = delete;
    ThreadCount& operator=(const ThreadCount&) = delete;

private:
    unsigned previous_;
};

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
    // Parts on other threads run with this thread's count, for the calls
    // they make in turn.
    const unsigned chosen = thread_count();
    const auto run = [&](std::size_t p) {
        try {
            const ThreadCount same(chosen);
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
