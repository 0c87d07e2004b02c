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

#if defined(_WIN32)
inline double precise_j0(double x) { return _j0(x); }
inline double precise_j1(double x) { return _j1(x); }
#else
inline double precise_j0(double x) { return ::j0(x); }
inline double precise_j1(double x) { return ::j1(x); }
#endif

}  // namespace partiscope
