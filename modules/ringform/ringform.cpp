// [real_p complex_p jinc] = ringform(x,y,z,r,pix,lambda,sizeH,flag,K):
// the hologram model of one particle on a sensor grid, or the bare Fresnel
// kernel for a radius of 0.
#include "frame/frame.h"
#include "model/particle_model.h"

namespace {

using namespace partiscope;

int flag_info = 0;

const frame::ModuleInfo kInfo = {
    9,
    3,
    "Usage: [real_p complex_p jinc]=ringform(x,y,z,r,pix,lambda,sizeH,flag,K)",
    "too many outputs for ringform",
    "Error: one or more inputs are not double or real",
    frame::LicenceShown::msg_box,
};

// A 1-by-1 result holding 0 where the model puts no grid.
mxArray* placeholder(frame::Results& results, int slot, mxComplexity complexity) {
    mxArray* a = results.create(slot, 1, 1, complexity);
    mxGetPr(a)[0] = 0.0;
    if (complexity == mxCOMPLEX) mxGetPi(a)[0] = 0.0;
    return a;
}

void ringform(frame::Results& results, const mxArray* prhs[]) {
    // The depth and the radius are checked before the other arguments are
    // read: a bad one is the error whatever else is wrong.
    const double z = frame::read_scalar(prhs[2], "z");
    check_depth_radius(z, frame::read_scalar(prhs[3], "r"));
    ModelParams p;
    frame::read_particle_on_sensor(prhs, p);
    // flag is truncated toward zero: only values strictly between -1 and 1
    // select the real model; NaN and values beyond any integer the complex one.
    const double flag = frame::read_scalar(prhs[7], "flag");
    const bool complex_model = !(flag > -1.0 && flag < 1.0);
    p.K = frame::read_scalar(prhs[8], "K");

    const auto rows = static_cast<std::size_t>(p.M);
    const auto cols = static_cast<std::size_t>(p.N);
    GridOutputs out;
    if (complex_model) {
        placeholder(results, 0, mxREAL);
        mxArray* c = results.create(1, rows, cols, mxCOMPLEX);
        out.complex_re = mxGetPr(c);
        out.complex_im = mxGetPi(c);
    } else {
        out.real_p = mxGetPr(results.create(0, rows, cols, mxREAL));
        placeholder(results, 1, mxCOMPLEX);
    }
    if (p.r > 0.0) out.jinc = mxGetPr(results.create(2, rows, cols, mxREAL));
    else placeholder(results, 2, mxREAL);

    model_grid(p, complex_model, out);
}

}  // namespace

PARTISCOPE_MEX_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    frame::run_gateway(kInfo, flag_info, nlhs, plhs, nrhs, prhs, ringform);
}
