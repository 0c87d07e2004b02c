// What the unit tests need of the platform, on Linux and on Windows.
#pragma once

#include "numerics/compute_context.h"

#include <cmath>
#include <cstdlib>

#ifdef _WIN32
// The Windows C runtime's Bessel functions; its header declares them only
// outside strict standard mode.
extern "C" double _j0(double);
extern "C" double _j1(double);
#endif

namespace test {

// The C library's double-precision J0 and J1.
inline double library_j0(double x) {
#ifdef _WIN32
    return _j0(x);
#else
    return j0(x);
#endif
}

inline double library_j1(double x) {
#ifdef _WIN32
    return _j1(x);
#else
    return j1(x);
#endif
}

// Sets or (null value) removes an environment variable the code reads.
inline void set_environment(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value ? value : "");
#else
    if (value) setenv(name, value, 1);
    else unsetenv(name);
#endif
}

constexpr double kPi = 3.141592653589793;

// A compute context of n threads, the rest default.
inline partiscope::ComputeContext on_threads(unsigned n) {
    partiscope::ComputeContext c;
    c.threads = n;
    return c;
}

}  // namespace test
