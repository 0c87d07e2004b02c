// out = propagate(field,lambda,pix,z): a sampled complex field propagated
// over z by the angular spectrum; propagate(hol - 1,lambda,pix,-z) brings
// the particles at depth z of a hologram into focus.
#include "frame/frame.h"
#include "core/optics/free_space.h"

namespace {

using namespace partiscope;

int flag_info = 0;

const frame::ModuleInfo kInfo = {
    4,
    1,
    "Usage: out=propagate(field,lambda,pix,z)",
    "too many outputs for propagate",
    nullptr,  // the field may be complex: the types are checked below
    frame::LicenceShown::console,
};

void propagate(frame::Results& results, const mxArray* prhs[]) {
    const mxArray* field = prhs[0];
    if (!mxIsDouble(field))
        throw Error("Error: field must be a real or complex double matrix");
    const char* names[] = {"lambda", "pix", "z"};
    for (int k = 1; k <= 3; ++k) {
        if (mxIsComplex(prhs[k]))
            throw Error(std::string("Error: ") + names[k - 1] + " must be a real double");
    }
    const double lambda = frame::read_scalar(prhs[1], "lambda");
    const double pix = frame::read_scalar(prhs[2], "pix");
    const double z = frame::read_scalar(prhs[3], "z");
    const std::size_t M = mxGetM(field), N = mxGetN(field);
    mxArray* out = results.create(0, M, N, mxCOMPLEX);
    propagate_field(mxGetPr(field), mxIsComplex(field) ? mxGetPi(field) : nullptr, M, N, lambda,
                    pix, z, mxGetPr(out), mxGetPi(out));
}

}  // namespace

PARTISCOPE_MEX_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    frame::run_gateway(kInfo, flag_info, nlhs, plhs, nrhs, prhs, propagate);
}
