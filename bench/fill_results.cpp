// A module that only creates a complex result of the size it is given and
// fills it: the cost of handing a result to the host, against which the
// model module's own time is measured.
#include "mex.h"

#include <cstddef>

extern "C" __attribute__((visibility("default"))) void mexFunction(int, mxArray* plhs[], int nrhs,
                                                                   const mxArray* prhs[]) {
    if (nrhs != 1) mexErrMsgTxt("Usage: fill_results([M N])");
    const double* size = mxGetPr(prhs[0]);
    const std::size_t m = static_cast<std::size_t>(size[0]), n = static_cast<std::size_t>(size[1]);
    mxArray* a = mxCreateDoubleMatrix(m, n, mxCOMPLEX);
    double* re = mxGetPr(a);
    double* im = mxGetPi(a);
    for (std::size_t k = 0; k < m * n; ++k) {
        re[k] = 1.0;
        im[k] = -1.0;
    }
    plhs[0] = a;
}
