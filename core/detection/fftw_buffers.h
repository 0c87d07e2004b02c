// FFTW's arrays and plans owned by the call that made them, so that an
// error thrown anywhere releases every one of them.
#pragma once

#include <fftw3.h>

#include <complex>
#include <cstddef>
#include <memory>
#include <mutex>
#include <new>
#include <type_traits>

#include "numerics/error.h"

namespace partiscope {
namespace fftw {

struct Free {
    void operator()(void* p) const { fftw_free(p); }
};
using ComplexBuffer = std::unique_ptr<fftw_complex[], Free>;
using RealBuffer = std::unique_ptr<double[], Free>;

// fftw_malloc'd arrays share the alignment every plan is made for, so a
// plan made on one serves them all through the new-array execute calls.
inline ComplexBuffer complex_buffer(std::size_t n) {
    fftw_complex* p = fftw_alloc_complex(n);
    if (!p) throw std::bad_alloc();
    return ComplexBuffer(p);
}

inline RealBuffer real_buffer(std::size_t n) {
    double* p = fftw_alloc_real(n);
    if (!p) throw std::bad_alloc();
    return RealBuffer(p);
}

inline std::complex<double>* as_complex(const ComplexBuffer& b) {
    return reinterpret_cast<std::complex<double>*>(b.get());
}

// FFTW's planner is shared state and not thread-safe: making and
// destroying plans (and the planner's time limit) go through one lock, so
// that calls from several threads of one process (a host's workers, a
// Python program's threads) cannot corrupt it. Executing plans needs none.
inline std::mutex& planner_lock() {
    static std::mutex m;
    return m;
}

// What FFTW's planner keeps between calls (it makes later calls of a size
// plan at once) is released when the module is unloaded, so `clear` of a
// module leaves nothing behind. One per module: every file that makes plans
// includes this header.
struct PlannerRelease {
    ~PlannerRelease() { fftw_cleanup(); }
};
inline PlannerRelease planner_release;

struct PlanDestroy {
    void operator()(fftw_plan p) const {
        const std::lock_guard<std::mutex> hold(planner_lock());
        fftw_destroy_plan(p);
    }
};
using Plan = std::unique_ptr<std::remove_pointer_t<fftw_plan>, PlanDestroy>;

// The default effort's planning time is bounded: the first call of a size
// should take seconds, not a minute. A stronger effort asked for by name
// plans without a bound.
inline void bound_planning(unsigned flags) {
    fftw_set_timelimit(flags == FFTW_MEASURE ? 0.9 : FFTW_NO_TIMELIMIT);
}

// A plan made by make() under the planner's lock, with the effort's bound.
template <class Make>
Plan make_plan(unsigned flags, Make make) {
    const std::lock_guard<std::mutex> hold(planner_lock());
    bound_planning(flags);
    fftw_plan p = make();
    if (!p) throw Error("Error: FFTW could not make a transform plan");
    return Plan(p);
}

// A 2-D in-place transform over the column-major M-by-N grid: the row
// index is the contiguous dimension, which is FFTW's last (row-major) one.
// Planning with a measuring effort overwrites the array, so such a plan is
// made before the array is filled.
inline Plan plan_2d(const ComplexBuffer& on, std::size_t M, std::size_t N, int sign,
                    unsigned flags) {
    return make_plan(flags, [&] {
        return fftw_plan_dft_2d(static_cast<int>(N), static_cast<int>(M), on.get(), on.get(), sign,
                                flags);
    });
}

// A real grid of M rows by N columns stored for in-place real-to-complex
// transforms: columns padded to 2 (M/2 + 1) doubles, so the same buffer
// holds the M/2 + 1 complex rows of each column's half spectrum.
struct HalfSpectrum {
    std::size_t stride;
    ComplexBuffer buffer;
    HalfSpectrum(std::size_t M, std::size_t N)
        : stride(2 * (M / 2 + 1)), buffer(complex_buffer((M / 2 + 1) * N)) {}
    double* real() const { return reinterpret_cast<double*>(buffer.get()); }
    fftw_complex* spectrum() const { return buffer.get(); }
    std::complex<double>* values() const { return as_complex(buffer); }
};

}  // namespace fftw
}  // namespace partiscope
