// J0 and J1 in double precision (to a few ulp), from the C library: the
// physical simulations and the disc's exact pattern need them far more
// exactly than the single-precision approximations the toolbox's own model
// is defined by.
#pragma once

#if defined(_WIN32)
extern "C" double _j0(double);  // the Microsoft runtime's
extern "C" double _j1(double);
#else
#include <cmath>  // POSIX j1 from the C library
#endif

namespace partiscope {

inline double precise_j0(double x) {
#if defined(_WIN32)
    return _j0(x);
#else
    return ::j0(x);
#endif
}

inline double precise_j1(double x) {
#if defined(_WIN32)
    return _j1(x);
#else
    return ::j1(x);
#endif
}

}  // namespace partiscope
