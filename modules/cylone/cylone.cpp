// J = cylone(X): J1(x)/x of every element of a real matrix.
#include "frame/elementwise.h"
#include "numerics/cylinder.h"

namespace {

int flag_info = 0;

const partiscope::frame::ModuleInfo kInfo = {
    1,
    1,
    "Usage: J=cylone(X)\n",
    "Too many outputs!\n",
    partiscope::kElementwiseTypeMessage,
    partiscope::frame::LicenceShown::console,
};

}  // namespace

PARTISCOPE_MEX_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    partiscope::elementwise_gateway(kInfo, flag_info, nlhs, plhs, nrhs, prhs,
                                    partiscope::cylone_elements);
}
