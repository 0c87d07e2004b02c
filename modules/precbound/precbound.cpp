// [deltax,deltay,deltaz,deltar] = precbound(x,y,z,r,pix,lambda,sizeH,sigm,n,A):
// Cramér-Rao lower bounds on the standard deviations of a particle's
// position, depth and radius estimated from one hologram.
#include "frame/frame.h"
#include "core/bound/precision_bound.h"

namespace {

using namespace partiscope;

int flag_info = 0;

const frame::ModuleInfo kInfo = {
    10,
    4,
    " Usage :[deltax,deltay,deltaz,deltar]=precbound(x,y,z,r,pix,lambda,sizeH,sigm,n,A) ,  All in meters",
    "too many outputs for precbound",
    nullptr,
    frame::LicenceShown::console,
};

void precbound(frame::Results& results, const mxArray* prhs[]) {
    BoundParams p;
    frame::read_particle_on_sensor(prhs, p);
    p.sigm = frame::read_scalar(prhs[7], "sigm");
    p.n = frame::read_scalar(prhs[8], "n");
    p.A = frame::read_scalar(prhs[9], "A");

    // Computed before any result exists, so a rejected n leaves nothing behind.
    const Bounds b = precision_bounds(p);
    const double values[4] = {b.deltax, b.deltay, b.deltaz, b.deltar};
    for (int k = 0; k < 4; ++k) mxGetPr(results.create(k, 1, 1, mxREAL))[0] = values[k];
}

}  // namespace

PARTISCOPE_MEX_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    frame::run_gateway(kInfo, flag_info, nlhs, plhs, nrhs, prhs, precbound);
}
